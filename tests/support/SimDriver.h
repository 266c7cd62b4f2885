// User-mode side of the simulated filter driver: installing it as a kernel-driver service
// and its simulation requests (press the hotkey, inject failures, read the history).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "Scm.h"
#include "SimDriverProtocol.h"

namespace glimtest {

// NTSTATUS values user mode compares press results with.
constexpr LONG kStatusSuccess = 0;
constexpr LONG kStatusObjectNameNotFound = static_cast<LONG>(0xC0000034);
// Press() when the device itself could not be reached (GetLastError tells why).
constexpr LONG kStatusNoDevice = static_cast<LONG>(0xC000000E);  // STATUS_NO_SUCH_DEVICE

// GlimSimKb.sys in the running program's own folder (where the build puts it).
std::wstring DriverPathBesideProgram();

// One request on a freshly opened device handle, as the programs make them. Returns
// ERROR_SUCCESS or the open's or the request's error; *pdwBytes gets the bytes returned.
DWORD DeviceRequest(DWORD dwCode, const void* pIn, DWORD dwIn, void* pOut, DWORD dwOut, DWORD* pdwBytes);
// True when the device opens.
bool DeviceOpens();

// Signals the hotkey event once. Returns the driver's status: kStatusSuccess when the event
// was set, kStatusObjectNameNotFound when nobody created it, kStatusNoDevice when the
// driver is not there. *pulDir, when given, gets the index into kHotkeyEventDirs of the
// object directory that held the event (~0 when none did).
LONG Press(unsigned long* pulDir = nullptr);
// Makes the next n backlight requests fail the given way.
DWORD FailNext(ULONG ulCount, simkb::SimFailMode mode);

struct SHistory {
    simkb::SimHistoryHeader header = {};
    std::vector<simkb::SimRecord> records;  // oldest first
};
// Reads the history and the driver's current state. False when the device is not there.
bool History(SHistory* pHistory);
DWORD ClearHistory();
// The set-level requests of the history, oldest first (empty when the device is not there).
std::vector<simkb::SimRecord> SetRequests();
// Clears the history and pending failures and sets the level back to 0.
DWORD Reset();
// The level the driver holds, read without a backlight request (nothing is recorded).
// False when the device is not there.
bool Level(LONG* plLevel);

// Microseconds between two QueryPerformanceCounter readings (the driver's time stamps
// use the same counter).
double CounterToMicroseconds(long long llFrom, long long llTo);

// Installs GlimSimKb.sys as a kernel-driver service, starts it and waits for its device.
// Destruction stops and deletes the service. One instance at a time per machine: the
// service and device names are fixed.
class CSimDriverInstall {
public:
    CSimDriverInstall() = default;
    virtual ~CSimDriverInstall() = default;
    CSimDriverInstall(const CSimDriverInstall&) = delete;
    CSimDriverInstall& operator=(const CSimDriverInstall&) = delete;

    // Empty path: DriverPathBesideProgram(). Returns a Windows error code.
    DWORD Install(const std::wstring& driverPath = std::wstring(), DWORD dwTimeoutMs = glimtest::kScmTimeoutMs);
    // Stops the driver (its device goes away) and starts it again.
    DWORD Stop(DWORD dwTimeoutMs = glimtest::kScmTimeoutMs);
    DWORD Start(DWORD dwTimeoutMs = glimtest::kScmTimeoutMs);
    DWORD Remove() { return m_service.Remove(); }
    // Leaves the driver installed and running after this object is gone.
    void Release() { m_service.Release(); }

private:
    glimtest::CServiceInstall m_service;
};

// Stops and deletes an installed simulated driver, if any.
DWORD RemoveInstalledDriver(DWORD dwTimeoutMs = glimtest::kScmTimeoutMs);

}  // namespace glimtest
