// The service's definition of the shared log call: the formatted message goes to the
// service log; the level, label and line are dropped.
#include <cstdarg>

#include "GlimLog.h"
#include "GlimNames.h"
#include "ServiceLog.h"

namespace {
glim::CServiceLog g_ServiceLog(glim::kServiceLogPath);
}  // namespace

void GlimLog(char /*chLevel*/, const wchar_t* /*pszFunction*/, int /*nLine*/, const wchar_t* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    g_ServiceLog.WriteV(pszFormat, args);
    va_end(args);
}
