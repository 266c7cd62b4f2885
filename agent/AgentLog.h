// The agent's diagnostics log under the module name "Glimagent": registered and opened when
// the main instance starts, closed and removed when its main window is destroyed.
#pragma once

namespace agent {

void StartAgentLog();
void StopAgentLog();

}  // namespace agent
