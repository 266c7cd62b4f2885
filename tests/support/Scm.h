// Small helpers over the service control manager for tests and tools: install a service
// (a kernel driver or an own-process service), start it and wait until it runs, stop it,
// delete it and wait until it is gone. Every call returns a Windows error code (0 for
// success) and waits with a deadline, never forever.
//
// Typical use:
//   glimtest::CServiceInstall svc;
//   DWORD dwErr = svc.Install({L"MyDrv", L"C:\\x\\MyDrv.sys", SERVICE_KERNEL_DRIVER});
//   if (!dwErr) dwErr = svc.Start();
//   ...                                    // destruction stops and deletes the service
#pragma once

#include <windows.h>

#include <string>

#include "ScopedHandle.h"

namespace glimtest {

constexpr DWORD kScmTimeoutMs = 15000;

// Owner of one SC_HANDLE (a manager or a service handle).
using CScHandle = glim::CScopedScHandle;

struct SServiceConfig {
    std::wstring name;
    std::wstring binaryPath;                   // the command line: quote it yourself when it has arguments
    DWORD dwType = SERVICE_WIN32_OWN_PROCESS;  // or SERVICE_KERNEL_DRIVER, | SERVICE_INTERACTIVE_PROCESS
    DWORD dwStartType = SERVICE_DEMAND_START;
    std::wstring displayName;  // empty: the name
};

// Opens the local service control manager. Fails (check GetLastError) without rights.
CScHandle OpenManager(DWORD dwAccess = SC_MANAGER_ALL_ACCESS);
// Opens a service of the local manager; empty handle and GetLastError on failure.
CScHandle OpenServiceHandle(const wchar_t* pszName, DWORD dwAccess = SERVICE_ALL_ACCESS);

// The service's current state (SERVICE_RUNNING, ...), or 0 with *pdwErr set when it cannot
// be queried (ERROR_SERVICE_DOES_NOT_EXIST when it is not installed).
DWORD ScmQueryState(const wchar_t* pszName, DWORD* pdwErr = nullptr);

// Waits until the service reaches dwState. ERROR_TIMEOUT when the deadline passes;
// while waiting for SERVICE_RUNNING, a service that stops ends the wait with its exit code
// (or ERROR_SERVICE_NEVER_STARTED when it gave none).
DWORD ScmWaitForState(const wchar_t* pszName, DWORD dwState, DWORD dwTimeoutMs = kScmTimeoutMs);

// Creates the service. A leftover service of the same name is removed first, so the call
// is idempotent. Returns ERROR_SUCCESS or the failing call's error.
DWORD ScmInstall(const SServiceConfig& config, DWORD dwTimeoutMs = kScmTimeoutMs);
// Starts the service and waits until it runs. A service that already runs counts as
// started. Errors 1053/1055, which Wine gives while it is still settling, are retried
// until the deadline.
DWORD ScmStart(const wchar_t* pszName, DWORD dwTimeoutMs = kScmTimeoutMs);
// Changes an installed service's type. Other settings stay as they are.
DWORD ScmChangeType(const wchar_t* pszName, DWORD dwType);
// Stops the service and waits until it has stopped. A stopped or missing service is fine.
DWORD ScmStop(const wchar_t* pszName, DWORD dwTimeoutMs = kScmTimeoutMs);
// Stops the service, deletes it and waits until the manager has forgotten it. A missing
// service is fine.
DWORD ScmRemove(const wchar_t* pszName, DWORD dwTimeoutMs = kScmTimeoutMs);

// RAII ownership of one installed service: whatever this object installed is stopped and
// deleted when it is destroyed, on every path out of a test.
class CServiceInstall {
public:
    CServiceInstall() = default;
    virtual ~CServiceInstall();
    CServiceInstall(const CServiceInstall&) = delete;
    CServiceInstall& operator=(const CServiceInstall&) = delete;

    DWORD Install(const SServiceConfig& config, DWORD dwTimeoutMs = kScmTimeoutMs);
    DWORD Start(DWORD dwTimeoutMs = kScmTimeoutMs) const;
    DWORD Stop(DWORD dwTimeoutMs = kScmTimeoutMs) const;
    // Removes the service now; the destructor then has nothing left to do.
    DWORD Remove(DWORD dwTimeoutMs = kScmTimeoutMs);
    // Keeps the service installed after this object is gone (tools that install for later).
    void Release() { m_name.clear(); }

    const std::wstring& Name() const { return m_name; }
    bool Owns() const { return !m_name.empty(); }

private:
    std::wstring m_name;  // empty: owns nothing
};

}  // namespace glimtest
