#include "TestLog.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "GlimLog.h"

namespace {
std::mutex g_mutex;
std::vector<glimtest::Line> g_lines;
}  // namespace

void GlimLog(char chLevel, const wchar_t* pszFunction, int /*nLine*/, const wchar_t* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    wchar_t szMessage[2048] = {};
    _vsnwprintf(szMessage, 2047, pszFormat, args);
    va_end(args);
    std::lock_guard<std::mutex> lock(g_mutex);
    g_lines.push_back({chLevel, pszFunction ? pszFunction : L"", szMessage});
}

namespace glimtest {

std::vector<Line> Lines()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_lines;
}

void Clear()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_lines.clear();
}

bool Contains(const std::wstring& message, const std::wstring& function)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    for (const Line& line : g_lines) {
        if (line.message == message && (function.empty() || line.function == function))
            return true;
    }
    return false;
}

}  // namespace glimtest
