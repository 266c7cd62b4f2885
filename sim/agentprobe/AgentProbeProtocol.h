// What GlimAgentProbe.exe records of its token, one line per start in AgentProbeToken.log
// beside it: "elevated=E type=T privileges=NAME,NAME" (TokenElevation, TokenElevationType,
// the enabled privileges in the token's order). Tests describe another token (explorer's)
// with the same function to compare the two.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace agentprobe {

constexpr const wchar_t* kTokenLogName = L"AgentProbeToken.log";

inline std::wstring DescribeToken(HANDLE hToken)
{
    TOKEN_ELEVATION elevation = {};
    TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
    DWORD cb = 0;
    if (!GetTokenInformation(hToken, TokenElevation, &elevation, sizeof(elevation), &cb) ||
        !GetTokenInformation(hToken, TokenElevationType, &type, sizeof(type), &cb))
        return L"unreadable";
    std::wstring line = L"elevated=" + std::to_wstring(elevation.TokenIsElevated) + L" type=" +
        std::to_wstring(static_cast<int>(type)) + L" privileges=";
    GetTokenInformation(hToken, TokenPrivileges, nullptr, 0, &cb);
    std::vector<BYTE> buffer(cb ? cb : 1);
    if (!GetTokenInformation(hToken, TokenPrivileges, buffer.data(), static_cast<DWORD>(buffer.size()), &cb))
        return L"unreadable";
    const auto* pPrivileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
    bool bFirst = true;
    for (DWORD i = 0; i < pPrivileges->PrivilegeCount; ++i) {
        if (!(pPrivileges->Privileges[i].Attributes & SE_PRIVILEGE_ENABLED))
            continue;
        wchar_t szName[64] = {};
        DWORD cchName = 64;
        LUID luid = pPrivileges->Privileges[i].Luid;
        if (!LookupPrivilegeNameW(nullptr, &luid, szName, &cchName))
            continue;
        line += (bFirst ? L"" : L",") + std::wstring(szName);
        bFirst = false;
    }
    return line;
}

}  // namespace agentprobe
