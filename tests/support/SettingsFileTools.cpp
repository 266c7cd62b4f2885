#include "SettingsFileTools.h"

#include <vector>

#include "GlimNames.h"
#include "ScopedHandle.h"

namespace glimtest {

namespace {

std::wstring GetEnv(const wchar_t* pszName, bool* pbFound)
{
    SetLastError(0);
    const DWORD cch = GetEnvironmentVariableW(pszName, nullptr, 0);
    *pbFound = cch != 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND;
    if (cch == 0)
        return std::wstring();
    std::vector<wchar_t> vecValue(cch);
    const DWORD cchCopied = GetEnvironmentVariableW(pszName, vecValue.data(), cch);
    return std::wstring(vecValue.data(), cchCopied < cch ? cchCopied : 0);
}

std::wstring Parent(const std::wstring& strPath)
{
    const size_t pos = strPath.find_last_of(L'\\');
    return pos == std::wstring::npos ? std::wstring() : strPath.substr(0, pos);
}

}  // namespace

std::wstring FilePath()
{
    bool bFound = false;
    return GetEnv(glim::kSettingsEnvVar, &bFound) + L"\\" + glim::kSettingsRelativePath;
}

std::wstring FolderPath()
{
    return Parent(FilePath());
}

DWORD EnsureFolder()
{
    // Create each missing level, from the outermost one inwards.
    const std::wstring strFolder = FolderPath();
    for (size_t pos = strFolder.find(L'\\', 3);; pos = strFolder.find(L'\\', pos + 1)) {
        const std::wstring strLevel = strFolder.substr(0, pos);
        if (!CreateDirectoryW(strLevel.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            return GetLastError();
        if (pos == std::wstring::npos)
            return ERROR_SUCCESS;
    }
}

DWORD RemoveFile()
{
    if (::DeleteFileW(FilePath().c_str()))
        return ERROR_SUCCESS;
    const DWORD dwError = GetLastError();
    return dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND ? ERROR_SUCCESS : dwError;
}

bool WriteKey(const std::wstring& strKey, const std::wstring& strValue)
{
    return WritePrivateProfileStringW(glim::kSettingsSection, strKey.c_str(), strValue.c_str(), FilePath().c_str()) !=
        FALSE;
}

bool WriteKey(const std::wstring& strKey, int nValue)
{
    return WriteKey(strKey, std::to_wstring(nValue));
}

bool RemoveKey(const std::wstring& strKey)
{
    return WritePrivateProfileStringW(glim::kSettingsSection, strKey.c_str(), nullptr, FilePath().c_str()) != FALSE;
}

DWORD ReadNumber(const std::wstring& strKey, DWORD dwDefault)
{
    return GetPrivateProfileIntW(glim::kSettingsSection, strKey.c_str(), static_cast<INT>(dwDefault),
                                 FilePath().c_str());
}

std::wstring ReadKey(const std::wstring& strKey, const std::wstring& strDefault)
{
    wchar_t szValue[4096] = {};
    GetPrivateProfileStringW(glim::kSettingsSection, strKey.c_str(), strDefault.c_str(), szValue, 4096,
                             FilePath().c_str());
    return szValue;
}

std::string ReadRawFile(bool* pbExists)
{
    if (pbExists)
        *pbExists = false;
    const glim::CScopedFile hFile(CreateFileW(FilePath().c_str(), GENERIC_READ,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hFile)
        return std::string();
    if (pbExists)
        *pbExists = true;
    std::string strBytes;
    char buffer[4096];
    DWORD cbRead = 0;
    while (ReadFile(hFile.Get(), buffer, sizeof(buffer), &cbRead, nullptr) && cbRead)
        strBytes.append(buffer, cbRead);
    return strBytes;
}

DWORD CreateUnicodeFile()
{
    const glim::CScopedFile hFile(CreateFileW(FilePath().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hFile)
        return GetLastError();
    std::wstring strText = L"\xFEFF[";
    strText += glim::kSettingsSection;
    strText += L"]\r\n";
    DWORD cbWritten = 0;
    const DWORD cb = static_cast<DWORD>(strText.size() * sizeof(wchar_t));
    const BOOL bOk = WriteFile(hFile.Get(), strText.data(), cb, &cbWritten, nullptr);
    return bOk && cbWritten == cb ? ERROR_SUCCESS : GetLastError();
}

CSettingsReset::CSettingsReset() : m_strFolder(FolderPath()), m_strFile(FilePath())
{
    m_bCreatedFolder = GetFileAttributesW(m_strFolder.c_str()) == INVALID_FILE_ATTRIBUTES;
    m_dwError = EnsureFolder();
    if (!m_dwError)
        m_dwError = RemoveFile();
}

CSettingsReset::~CSettingsReset()
{
    // The stored paths, not the current ones: the test may have redirected ALLUSERSPROFILE.
    ::DeleteFileW(m_strFile.c_str());
    if (m_bCreatedFolder)
        RemoveDirectoryW(m_strFolder.c_str());
}

CScopedEnvVar::CScopedEnvVar(const wchar_t* pszName, const wchar_t* pszValue) : m_strName(pszName)
{
    m_strOldValue = GetEnv(pszName, &m_bHadValue);
    SetEnvironmentVariableW(pszName, pszValue);
}

CScopedEnvVar::~CScopedEnvVar()
{
    SetEnvironmentVariableW(m_strName.c_str(), m_bHadValue ? m_strOldValue.c_str() : nullptr);
}

}  // namespace glimtest
