// The agent's definition of the shared log call (GlimLog.h): it writes through the log
// file registered under "Glimagent", and does nothing when none is registered.
#include "AgentLog.h"

#include <cstdarg>

#include "GlimLog.h"

namespace logfilesync {

CLogFileMap g_logFileMap;

bool StartAgentLog()
{
    return StartModuleLog(g_logFileMap, kAgentModuleName);
}

void StopAgentLog()
{
    StopModuleLog(g_logFileMap, kAgentModuleName);
}

}  // namespace logfilesync

void GlimLog(char chLevel, const wchar_t* pszFunction, int nLine, const wchar_t* pszFormat, ...)
{
    logfilesync::CLogFileRef logFile = logfilesync::g_logFileMap.FindLogFile(logfilesync::kAgentModuleName);
    if (!logFile)
        return;
    va_list args;
    va_start(args, pszFormat);
    logFile->LogV(chLevel, pszFunction, nLine, pszFormat, args);
    va_end(args);
}
