// The types the pure rules use. On Windows they come from <windows.h>; elsewhere they are
// defined here with the Windows sizes, so the rules also build alone with a host compiler.
// One difference stays: wchar_t is 32 bits there, and each element of a wide string then
// stands for one UTF-16 code unit.
#pragma once

#ifdef _WIN32

#include <windows.h>

#else

#include <cstdint>

typedef std::uint32_t DWORD;
typedef int BOOL;
typedef std::int32_t INT32;
typedef std::uint32_t UINT32;
typedef std::uint64_t UINT64;
typedef unsigned int UINT;
typedef std::int32_t LONG;
typedef std::uintptr_t UINT_PTR;
typedef std::intptr_t INT_PTR;
typedef UINT_PTR WPARAM;
typedef INT_PTR LPARAM;
typedef wchar_t WCHAR;
typedef wchar_t* LPWSTR;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif
#define MAX_PATH 260
#define WM_USER 0x0400
#define WM_APP 0x8000
#define SERVICE_STOPPED 0x00000001
#define SERVICE_START_PENDING 0x00000002

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};

#endif
