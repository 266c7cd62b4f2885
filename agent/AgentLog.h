// Temporary: the agent's log set-up, until the log file library is merged.
#pragma once

namespace logfilesync {

bool StartAgentLog();
void StopAgentLog();

}  // namespace logfilesync
