#include "LogTestUtil.h"

#include <regex>

#include "GlimNames.h"

namespace glimtest {

CAgentLogConfig::CAgentLogConfig()
{
    Remove();
}

CAgentLogConfig::~CAgentLogConfig()
{
    m_hKey.Reset();
    Remove();
}

void CAgentLogConfig::Remove()
{
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, glim::kAgentLogRegKey, KEY_WOW64_64KEY, 0);
    // The parents only when nothing else lives under them.
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Vessik\\Glimagent", KEY_WOW64_64KEY, 0);
}

bool CAgentLogConfig::Create()
{
    if (m_hKey)
        return true;
    return RegCreateKeyExW(HKEY_LOCAL_MACHINE, glim::kAgentLogRegKey, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY,
                           nullptr, m_hKey.Put(), nullptr) == ERROR_SUCCESS;
}

bool CAgentLogConfig::SetDword(const wchar_t* pszName, DWORD dwValue)
{
    return Create() &&
        RegSetValueExW(m_hKey.Get(), pszName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwValue), sizeof(dwValue)) ==
        ERROR_SUCCESS;
}

bool CAgentLogConfig::SetString(const wchar_t* pszName, const std::wstring& value)
{
    return Create() &&
        RegSetValueExW(m_hKey.Get(), pszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool CAgentLogConfig::Write(const std::wstring& path, DWORD dwAppend, DWORD dwLevel)
{
    return SetDword(L"enabled", 1) && SetString(L"logpath", path) && SetDword(L"append", dwAppend) &&
        SetDword(L"loglevel", dwLevel);
}

bool FileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadBytes(const std::wstring& path)
{
    std::string bytes;
    glim::CScopedFile hFile(CreateFileW(path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        0, nullptr));
    if (!hFile)
        return bytes;
    char buffer[65536];
    DWORD cbRead = 0;
    while (ReadFile(hFile.Get(), buffer, sizeof(buffer), &cbRead, nullptr) && cbRead > 0)
        bytes.append(buffer, cbRead);
    return bytes;
}

bool WriteBytes(const std::wstring& path, const std::string& bytes)
{
    glim::CScopedFile hFile(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!hFile)
        return false;
    DWORD cbWritten = 0;
    return WriteFile(hFile.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &cbWritten, nullptr) &&
        cbWritten == bytes.size();
}

std::vector<std::wstring> ReadLines(const std::wstring& path)
{
    std::string bytes = ReadBytes(path);
    std::vector<std::wstring> lines;
    if (bytes.size() < 2)
        return lines;
    std::wstring text((bytes.size() - 2) / 2, L'\0');
    memcpy(&text[0], bytes.data() + 2, text.size() * 2);
    size_t start = 0;
    for (;;) {
        size_t end = text.find(L"\r\n", start);
        if (end == std::wstring::npos) {
            if (start < text.size())
                lines.push_back(text.substr(start));  // a piece without its line end
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

bool ParseLine(const std::wstring& text, ParsedLine* pOut)
{
    // The regex covers the prefix only (std::regex recurses per character; messages run
    // to thousands). The prefix ends at the first "): " after the fixed fields.
    static const std::wregex kPrefix(
        L"^(\\d{4})/(\\d{2})/(\\d{2}) (\\d{2}):(\\d{2}):(\\d{2})\\.(\\d{3})\\|(.)\\|(\\d{6,})\\|(\\d{6,})\\|"
        L"(.*)\\(L(-?\\d+)\\): $");
    size_t end = text.find(L"): ");
    if (end == std::wstring::npos)
        return false;
    std::wstring prefix = text.substr(0, end + 3);
    std::wsmatch m;
    if (!std::regex_match(prefix, m, kPrefix))
        return false;
    pOut->year = std::stoi(m[1]);
    pOut->month = std::stoi(m[2]);
    pOut->day = std::stoi(m[3]);
    pOut->hour = std::stoi(m[4]);
    pOut->minute = std::stoi(m[5]);
    pOut->second = std::stoi(m[6]);
    pOut->milli = std::stoi(m[7]);
    pOut->level = m[8].str()[0];
    pOut->processId = m[9];
    pOut->threadId = m[10];
    pOut->function = m[11];
    pOut->line = std::stoi(m[12]);
    pOut->message = text.substr(end + 3);
    return pOut->message.find_first_of(L"\r\n") == std::wstring::npos;
}

std::vector<std::wstring> ReadMessages(const std::wstring& path)
{
    std::vector<std::wstring> messages;
    for (const std::wstring& text : ReadLines(path)) {
        ParsedLine line;
        messages.push_back(ParseLine(text, &line) ? line.message : L"<unparsed> " + text);
    }
    return messages;
}

size_t CountLines(const std::wstring& path, const std::wstring& message, const std::wstring& function)
{
    size_t n = 0;
    for (const std::wstring& text : ReadLines(path)) {
        ParsedLine line;
        if (ParseLine(text, &line) && line.message == message && (function.empty() || line.function == function))
            ++n;
    }
    return n;
}

}  // namespace glimtest
