// The service's registration around a setup: made or replaced through the service program's
// own verbs (Glimward.exe x -I / -U), its recovery set on a registration that is kept, started
// and checked to run; and removed on an uninstall.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "Programs.h"
#include "Verb.h"

namespace glimsetup {

// Runs one verb of the service program ("-I", "-U") and waits, bounded, for it to end; the
// program ends with 0 whatever the verb's result, so callers check the service afterwards.
// False (with the failure recorded) when it cannot run or does not end in time.
using ServiceVerbRunner = std::function<bool(CVerb* pVerb, const wchar_t* pszVerb)>;

// The runner of <program folder>\Glimward.exe x VERB.
ServiceVerbRunner ServiceProgramRunner(const std::wstring& strProgramDir);

// What an install does with the registration it finds.
enum class ServicePlan {
    Install,            // none: make one
    ReplaceAndInstall,  // one that starts another image: remove it, make one
    KeepAndRecover,     // one of this image: keep it, set its recovery
};
ServicePlan PlanServiceInstall(bool bRegistered, bool bSameImage);

// True when the registered command line starts the service program of this folder: the
// quoted path, with or without ".exe" (the install verb writes it without), any case.
bool IsImageOf(const std::wstring& strBinaryPath, const std::wstring& strProgramDir);

// Sets the recovery on the registered service; a manager that refuses the failure-actions
// flag is logged, not a failure.
SVerbResult SetServiceRecovery(const SSetupPlace& place);

// Makes, replaces or keeps the registration (see ServicePlan), then starts the service and
// fails unless it runs.
SVerbResult InstallService(const SSetupPlace& place, const ServiceVerbRunner& runVerb);

// Stops and removes the service and waits, bounded, for it to go; a registration the manager
// marked for deletion is logged as going once its last handle closes. Fails when the service
// is registered but its program is missing, or when it stays.
SVerbResult RemoveService(const SSetupPlace& place, const ServiceVerbRunner& runVerb);

}  // namespace glimsetup
