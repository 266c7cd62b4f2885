#include "CtlSettings.h"

#include "GlimNames.h"
#include "SettingsFile.h"

namespace glimctl {

std::wstring SettingsFilePath()
{
    wchar_t szPrefix[glim::kNameChars] = {};
    if (GetEnvironmentVariableW(glim::kSettingsEnvVar, szPrefix, glim::kNameChars) >=
        static_cast<DWORD>(glim::kNameChars))
        return std::wstring();
    wchar_t szPath[CSettingsFile::kPathChars] = {};
    // A relative path would resolve against the Windows folder: no settings file of the product.
    if (!szPrefix[0] || !CSettingsFile::CombineSettingsPath(szPrefix, szPath))
        return std::wstring();
    return szPath;
}

std::wstring SettingsFolderPath()
{
    const std::wstring strFile = SettingsFilePath();
    const size_t nSlash = strFile.find_last_of(L'\\');
    return nSlash == std::wstring::npos ? std::wstring() : strFile.substr(0, nSlash);
}

bool ReadFileBytes(const std::wstring& strPath, std::string* pstrBytes, DWORD* pdwError)
{
    pstrBytes->clear();
    const glim::CScopedFile hFile(CreateFileW(strPath.c_str(), GENERIC_READ,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, 0, nullptr));
    if (!hFile) {
        *pdwError = GetLastError();
        return false;
    }
    char buffer[65536];
    DWORD cbRead = 0;
    while (ReadFile(hFile.Get(), buffer, sizeof(buffer), &cbRead, nullptr) && cbRead > 0)
        pstrBytes->append(buffer, cbRead);
    *pdwError = ERROR_SUCCESS;
    return true;
}

CConfLock::CConfLock(DWORD dwTimeoutMs)
    : m_hMutex(CreateMutexW(nullptr, FALSE, glim::kMutexConf))
    // An abandoned lock is ours now: its holder died, nothing else writes.
    , m_hold(m_hMutex.Get(), dwTimeoutMs)
{
}

CConfLock::~CConfLock() = default;

DWORD ReadSettingInt(const wchar_t* pszKey, DWORD dwDefault)
{
    return GetPrivateProfileIntW(glim::kSettingsSection, pszKey, static_cast<INT>(dwDefault),
                                 SettingsFilePath().c_str());
}

std::wstring ReadSettingString(const wchar_t* pszKey)
{
    wchar_t szValue[glim::kSettingStringChars] = {};
    GetPrivateProfileStringW(glim::kSettingsSection, pszKey, L"", szValue, glim::kSettingStringChars,
                             SettingsFilePath().c_str());
    return szValue;
}

std::wstring ErrorText(DWORD dwError)
{
    wchar_t szText[256] = {};
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, dwError, 0, szText, 256,
                   nullptr);
    std::wstring strText = szText;
    while (!strText.empty() && (strText.back() == L'\n' || strText.back() == L'\r' || strText.back() == L' '))
        strText.pop_back();
    return L"error " + std::to_wstring(dwError) + (strText.empty() ? L"" : L": " + strText);
}

namespace {

bool IsAscii(const std::wstring& strText)
{
    for (wchar_t ch : strText) {
        if (ch > 0x7F)
            return false;
    }
    return true;
}

// A missing settings file is created as the installer creates it: UTF-16LE with its
// byte-order mark and the section line, so values such as "5分" keep their characters.
DWORD CreateUnicodeSettingsFile(const std::wstring& strPath)
{
    const glim::CScopedFile hFile(
        CreateFileW(strPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hFile)
        return GetLastError();
    const std::wstring strText = std::wstring(L"\xFEFF[") + glim::kSettingsSection + L"]\r\n";
    DWORD cbWritten = 0;
    const DWORD cb = static_cast<DWORD>(strText.size() * sizeof(wchar_t));
    return WriteFile(hFile.Get(), strText.data(), cb, &cbWritten, nullptr) && cbWritten == cb ? ERROR_SUCCESS
                                                                                              : GetLastError();
}

DWORD WriteKey(const std::wstring& strPath, const wchar_t* pszKey, const std::wstring& strText)
{
    SetLastError(ERROR_SUCCESS);
    if (WritePrivateProfileStringW(glim::kSettingsSection, pszKey, strText.c_str(), strPath.c_str()))
        return ERROR_SUCCESS;
    const DWORD dwError = GetLastError();
    return dwError == ERROR_SUCCESS ? ERROR_WRITE_FAULT : dwError;
}

std::wstring WriteErrorText(DWORD dwError, const std::wstring& strPath)
{
    if (dwError == ERROR_ACCESS_DENIED)
        return L"no right to write " + strPath +
            L": run glimctl from an administrator console, or repair the install (it lets Users write the settings)";
    return L"cannot write " + strPath + L" (" + ErrorText(dwError) + L")";
}

}  // namespace

DWORD WriteSetting(const SSetting& setting, std::wstring* pstrError)
{
    const std::wstring strPath = SettingsFilePath();
    const std::wstring strFolder = SettingsFolderPath();
    if (strPath.empty() || GetFileAttributesW(strFolder.c_str()) == INVALID_FILE_ATTRIBUTES) {
        *pstrError = L"the settings folder " + strFolder + L" is missing: reinstall Glimkit";
        return ERROR_PATH_NOT_FOUND;
    }
    const CConfLock lock;
    if (!lock.Held()) {
        *pstrError = L"the settings are locked by another program (\"mut_conf\" held for more than 3 s): nothing was "
                     L"changed, try again";
        return ERROR_TIMEOUT;
    }
    std::string strBytes;
    DWORD dwError = ERROR_SUCCESS;
    if (!ReadFileBytes(strPath, &strBytes, &dwError)) {
        if (dwError != ERROR_FILE_NOT_FOUND) {
            *pstrError = L"cannot read " + strPath + L" (" + ErrorText(dwError) + L")";
            return dwError;
        }
        dwError = CreateUnicodeSettingsFile(strPath);
        if (dwError != ERROR_SUCCESS) {
            *pstrError = WriteErrorText(dwError, strPath);
            return dwError;
        }
        strBytes = "\xFF\xFE";
    }
    // The private-profile functions convert a value to the ANSI code page in a file without
    // the byte-order mark: "5分" would be stored as "5?".
    if (!ClassifySettingsBytes(strBytes).bUtf16Bom && !IsAscii(setting.strText)) {
        *pstrError = strPath + L" is not UTF-16, so \"" + setting.strText +
            L"\" would lose its characters: nothing was changed (glimctl doctor tells more)";
        return ERROR_UNSUPPORTED_TYPE;
    }
    dwError = WriteKey(strPath, setting.pszKey, setting.strText);
    if (dwError == ERROR_SUCCESS && setting.nKind != kNoNotice) {
        dwError = WriteKey(strPath, glim::kKeyUwpwParam, std::to_wstring(setting.nKind));
        if (dwError == ERROR_SUCCESS)
            dwError = WriteKey(strPath, glim::kKeyUwplParam, std::to_wstring(setting.nArgument));
    }
    if (dwError != ERROR_SUCCESS)
        *pstrError = WriteErrorText(dwError, strPath);
    return dwError;
}

DWORD AnnounceChange()
{
    const glim::CScopedHandle hEvent(OpenEventW(EVENT_MODIFY_STATE, FALSE, glim::kEventUwp));
    if (!hEvent)
        return GetLastError();
    return SetEvent(hEvent.Get()) ? ERROR_SUCCESS : GetLastError();
}

}  // namespace glimctl
