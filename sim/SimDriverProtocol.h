// The simulated keyboard-controller filter driver: besides the two backlight requests of
// DeviceProtocol.h, its device answers a few control requests of its own that let tests
// and the demo press the hotkey, inject failures and read back what the programs asked.
// Shared by the driver (kernel mode, DDK headers included first) and user-mode code.
#pragma once

#include "DeviceProtocol.h"

namespace simkb {

// The driver file and the kernel-driver service that loads it.
constexpr const wchar_t* kDriverFileName = L"GlimSimKb.sys";
constexpr const wchar_t* kServiceName = L"GlimSimKb";
// Kernel names of the device; user mode opens glim::kDevicePath.
constexpr const wchar_t* kNtDeviceName = L"\\Device\\ZAREDIZURIZAZA";
constexpr const wchar_t* kDosDeviceName = L"\\DosDevices\\ZAREDIZURIZAZA";

// Simulation requests use function codes far from the backlight's 0x832/0x833, on the same
// device type. All are METHOD_BUFFERED.
constexpr unsigned long SimCode(unsigned long ulFunction)
{
    return CTL_CODE(glim::kDeviceType, ulFunction, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);
}

// Signal the hotkey event once, as the real driver does for a key press.
// In: nothing. Out: SimPressResult.
constexpr unsigned long IOCTL_SIMKB_PRESS = SimCode(0xA00);
// Make the next Count backlight requests fail. In: SimFailNext. Out: nothing.
constexpr unsigned long IOCTL_SIMKB_FAIL_NEXT = SimCode(0xA01);
// Read the request history. In: nothing. Out: SimHistoryHeader followed by as many
// SimRecord entries (oldest first, the newest that fit) as the buffer holds.
constexpr unsigned long IOCTL_SIMKB_GET_HISTORY = SimCode(0xA02);
// Forget state. In: ULONG mask of SimReset* bits. Out: nothing.
constexpr unsigned long IOCTL_SIMKB_RESET = SimCode(0xA03);

// How an injected failure answers a backlight request. Neither mode changes the level.
enum SimFailMode : unsigned long {
    SimFailError = 1,  // completed with STATUS_DEVICE_NOT_READY, 0 bytes
    SimFailZero = 2,   // completed with STATUS_SUCCESS but 0 bytes returned
};

enum SimResetBits : unsigned long {
    SimResetHistory = 0x1,
    SimResetFailures = 0x2,
    SimResetLevel = 0x4,  // the level goes back to 0
    SimResetAll = 0x7,
};

// Ring buffer size of the history: older records are dropped.
constexpr unsigned long kHistoryCapacity = 64;

#pragma pack(push, 8)

struct SimPressResult {
    long lStatus;          // NTSTATUS of opening and setting the event
    unsigned long ulPath;  // index into kHotkeyEventDirs of the directory that held it, or ~0
};

struct SimFailNext {
    unsigned long ulCount;
    unsigned long ulMode;  // SimFailMode
};

// One backlight request as the driver answered it.
struct SimRecord {
    unsigned long ulSequence;  // 1 for the first request after a history reset
    unsigned long ulCode;      // the control code
    long lLevel;               // set: the level asked for; get: the level answered
    long lStatus;              // NTSTATUS the request was completed with
    unsigned long ulBytes;     // bytes returned (IoStatus.Information)
    unsigned long ulReserved;
    long long llTime;  // KeQueryPerformanceCounter: the same clock as QueryPerformanceCounter
};

struct SimHistoryHeader {
    unsigned long ulCount;     // records that follow
    unsigned long ulTotal;     // requests recorded since the last history reset
    long lLevel;               // the current level
    unsigned long ulFailLeft;  // injected failures still pending
    long long llFrequency;     // counts per second of llTime
};

#pragma pack(pop)

// The driver and user mode may come from different compilers: the layouts are fixed.
static_assert(sizeof(SimPressResult) == 8, "press reply layout");
static_assert(sizeof(SimFailNext) == 8, "fail-next request layout");
static_assert(sizeof(SimRecord) == 32, "history record layout");
static_assert(sizeof(SimHistoryHeader) == 24, "history header layout");

// The hotkey event's name (glim::kEventHotkey; GlimNames.h is user-mode only, so user-mode
// code checks the two agree) and the object directories where the driver looks for it: the
// service creates it with an unprefixed name, so it lives in a session-0 service's
// namespace on Windows, and in session 1 under Wine, where every process runs.
constexpr const wchar_t* kHotkeyEventName = L"event_hwap";
constexpr const wchar_t* kHotkeyEventDirs[] = {
    L"\\BaseNamedObjects\\",
    L"\\Sessions\\1\\BaseNamedObjects\\",
};
constexpr unsigned long kHotkeyEventDirCount = sizeof(kHotkeyEventDirs) / sizeof(kHotkeyEventDirs[0]);

}  // namespace simkb
