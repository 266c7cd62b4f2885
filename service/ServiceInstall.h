// The service control manager's side of the verbs: register, remove, start and stop a
// service by its name, and ask for its state. It knows no service of its own: the caller
// passes what the control manager is to record.
#pragma once

#include <windows.h>

namespace glim {

// Starting and stopping give up waiting for the wanted state after this long (ERROR_TIMEOUT).
constexpr DWORD kStateWaitLimitMs = 30000;

// What the control manager records for a service.
struct SServiceRegistration {
    const wchar_t* pszName;
    const wchar_t* pszDisplayName;
    const wchar_t* pszDescription;
    const wchar_t* pszDependencies;  // list ended by an empty string
    BOOL bAutoStart;
};

// Registers the service in its own process, with its description and the recovery of the
// install layout (InstallLayout.h), starting
// automatically (delayed when bDelayedStart) or on demand. Returns the last error met.
DWORD InstallService(const SServiceRegistration& service, const wchar_t* pszImagePath, BOOL bDelayedStart);
// Marks the named service for deletion; failures are logged under the caller's label.
DWORD RemoveService(const wchar_t* pszName, const wchar_t* pszLabel);
// Starts the named service, or stops it when it runs, and waits for it to get there.
DWORD StartNamedService(const wchar_t* pszName);
DWORD StopNamedService(const wchar_t* pszName);

// The state of the named service as its control manager reports it; 0 when it cannot be
// asked (not registered, no access).
DWORD QueryServiceState(const wchar_t* pszName);

}  // namespace glim
