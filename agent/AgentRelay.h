// The relay role: a short-lived agent started by the service hands its command word to the
// main instance of the session through a named event, after telling the settings
// application.
#pragma once

#include <windows.h>

#include "AgentRules.h"

namespace agent {

// How long a relay waits for the settings application to handle its notice. A window
// that does not answer within this time (or is hung) is given up on, so that the press
// still reaches the main instance.
constexpr UINT kNotifyTimeoutMs = 2000;

// Notifies "Zentia" (when it exists), then opens or creates the role's event and signals
// it. Returns false when the event could not be opened or created.
bool RunRelay(AgentRole role);

}  // namespace agent
