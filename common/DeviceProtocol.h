// The keyboard controller filter driver's device and its two control requests.
#pragma once

// The simulated filter driver shares these codes; kernel-mode code gets CTL_CODE and the
// access constants from the DDK headers it already included.
#if !defined(_WDMDDK_)
#include <windows.h>
#include <winioctl.h>
#endif

namespace glim {

constexpr const wchar_t* kDevicePath = L"\\\\.\\ZAREDIZURIZAZA";
constexpr unsigned long kDeviceType = 0x9C40;  // 40000

}  // namespace glim

// Both: METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS.
// Set: 4-byte level in, 4 bytes out (zeroed, ignored). Get: 4 zero bytes in, level out.
#define IOCTL_KBBL_SET_BRIGHTNESS CTL_CODE(0x9C40, 0x832, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS)
#define IOCTL_KBBL_GET_BRIGHTNESS CTL_CODE(0x9C40, 0x833, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS)

static_assert(static_cast<unsigned long>(IOCTL_KBBL_SET_BRIGHTNESS) == 0x9C40E0C8ul, "set-level control code");
static_assert(static_cast<unsigned long>(IOCTL_KBBL_GET_BRIGHTNESS) == 0x9C40E0CCul, "get-level control code");
