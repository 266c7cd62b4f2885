// Helpers of the log tests: the agent's log configuration in HKLM (removed again on
// destruction) and a reader/parser for the UTF-16 log file.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "ScopedHandle.h"
#include "TempFolder.h"

namespace glimtest {

// Owns HKLM\Software\Vessik\Glimagent\DbgLog (64-bit view) for one test: removes any
// leftover at construction and the key at destruction.
class CAgentLogConfig {
public:
    CAgentLogConfig();
    ~CAgentLogConfig();
    CAgentLogConfig(const CAgentLogConfig&) = delete;
    CAgentLogConfig& operator=(const CAgentLogConfig&) = delete;

    bool Create();  // creates the key (empty)
    bool SetDword(const wchar_t* pszName, DWORD dwValue);
    bool SetString(const wchar_t* pszName, const std::wstring& value);
    // enabled 1, logpath, append, loglevel in one go.
    bool Write(const std::wstring& path, DWORD dwAppend, DWORD dwLevel);
    static void Remove();

private:
    glim::CScopedKey m_hKey;
};

// The kernel-handle owner under the name the benchmarks use.
using CHandle = glim::CScopedHandle;

bool FileExists(const std::wstring& path);
std::string ReadBytes(const std::wstring& path);
bool WriteBytes(const std::wstring& path, const std::string& bytes);
// The file's text after its byte-order mark, split at CR LF (the last, empty piece dropped).
std::vector<std::wstring> ReadLines(const std::wstring& path);

struct ParsedLine {
    int year, month, day, hour, minute, second, milli;
    wchar_t level;
    std::wstring processId, threadId, function;
    int line;
    std::wstring message;
};
// Parses one line of the log format; false when it does not match.
bool ParseLine(const std::wstring& text, ParsedLine* pOut);
// The messages of the file's lines, oldest first; a line that does not parse gives
// "<unparsed> " and its text.
std::vector<std::wstring> ReadMessages(const std::wstring& path);
// The file's lines with this message (and, unless empty, this function label).
size_t CountLines(const std::wstring& path, const std::wstring& message, const std::wstring& function = L"");

}  // namespace glimtest
