// Temporary: the log file library is not merged yet.
#include "AgentLog.h"
#include "GlimLog.h"

void GlimLog(char, const wchar_t*, int, const wchar_t*, ...) {}
namespace logfilesync {
bool StartAgentLog() { return false; }
void StopAgentLog() {}
}  // namespace logfilesync
