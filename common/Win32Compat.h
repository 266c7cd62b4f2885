// Platform declarations that the mingw-w64 headers (version 10 and earlier) lack. A build
// against the Windows SDK (MSVC) uses the SDK's own declarations.
#pragma once

#include <windows.h>
#include <wtsapi32.h>

#if !defined(_MSC_VER) && defined(__MINGW64_VERSION_MAJOR) && __MINGW64_VERSION_MAJOR <= 10

// WTS_INFO_CLASS value for WTSQuerySessionInformationW: an extended session record.
constexpr WTS_INFO_CLASS WTSSessionInfoEx = static_cast<WTS_INFO_CLASS>(25);

#define WTS_SESSIONSTATE_UNKNOWN 0xFFFFFFFF
#define WTS_SESSIONSTATE_LOCK 0x00000000
#define WTS_SESSIONSTATE_UNLOCK 0x00000001

typedef struct _WTSINFOEX_LEVEL1_W {
    ULONG SessionId;
    WTS_CONNECTSTATE_CLASS SessionState;
    LONG SessionFlags;
    WCHAR WinStationName[WINSTATIONNAME_LENGTH + 1];
    WCHAR UserName[USERNAME_LENGTH + 1];
    WCHAR DomainName[DOMAIN_LENGTH + 1];
    LARGE_INTEGER LogonTime;
    LARGE_INTEGER ConnectTime;
    LARGE_INTEGER DisconnectTime;
    LARGE_INTEGER LastInputTime;
    LARGE_INTEGER CurrentTime;
    DWORD IncomingBytes;
    DWORD OutgoingBytes;
    DWORD IncomingFrames;
    DWORD OutgoingFrames;
    DWORD IncomingCompressedBytes;
    DWORD OutgoingCompressedBytes;
} WTSINFOEX_LEVEL1_W, *PWTSINFOEX_LEVEL1_W;

typedef union _WTSINFOEX_LEVEL_W {
    WTSINFOEX_LEVEL1_W WTSInfoExLevel1;
} WTSINFOEX_LEVEL_W, *PWTSINFOEX_LEVEL_W;

typedef struct _WTSINFOEXW {
    DWORD Level;
    WTSINFOEX_LEVEL_W Data;
} WTSINFOEXW, *PWTSINFOEXW;

// SYSTEM_POWER_CAPABILITIES::AoAc sits in what these headers still call spare2[2].
inline BOOLEAN PowerCapabilitiesAoAc(const SYSTEM_POWER_CAPABILITIES& caps)
{
    return caps.spare2[2];
}

#else

inline BOOLEAN PowerCapabilitiesAoAc(const SYSTEM_POWER_CAPABILITIES& caps)
{
    return caps.AoAc;
}

#endif
