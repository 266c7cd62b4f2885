#include "Registration.h"

#include "GlimLog.h"
#include "ScopedHandle.h"

namespace glimsetup {

namespace {

struct SFindHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { FindClose(h); }
};

LSTATUS SetString(HKEY hKey, const wchar_t* pszName, const std::wstring& strValue)
{
    return RegSetValueExW(hKey, pszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(strValue.c_str()),
                          static_cast<DWORD>((strValue.size() + 1) * sizeof(wchar_t)));
}

LSTATUS SetDword(HKEY hKey, const wchar_t* pszName, DWORD dwValue)
{
    return RegSetValueExW(hKey, pszName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwValue), sizeof(dwValue));
}

glim::CScopedKey CreateKey(HKEY hRoot, const std::wstring& strKey, LSTATUS* pStatus)
{
    glim::CScopedKey hKey;
    *pStatus = RegCreateKeyExW(hRoot, strKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr,
                               hKey.Put(), nullptr);
    return hKey;
}

bool RunValueExists(const SRegistrationPlace& place)
{
    return RegGetValueW(place.hRoot, place.strRunKey.c_str(), place.strRunValue.c_str(), RRF_RT_ANY, nullptr,
                        nullptr, nullptr) == ERROR_SUCCESS;
}

bool KeyExists(HKEY hRoot, const std::wstring& strKey)
{
    glim::CScopedKey hKey;
    return RegOpenKeyExW(hRoot, strKey.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, hKey.Put()) == ERROR_SUCCESS;
}

// The entry's values, in the order Apps & features documents them.
LSTATUS WriteUninstallEntry(HKEY hKey, const SRegistrationPlace& place)
{
    const std::wstring& strDir = place.strProgramDir;
    const std::wstring strUninstaller = L"\"" + strDir + L"\\Uninstall.exe\"";
    const struct {
        const wchar_t* pszName;
        std::wstring strValue;
    } strings[] = {
        {L"DisplayName", L"Glimkit"},
        {L"DisplayVersion", place.strVersion},
        {L"Publisher", L"Vessik"},
        {L"DisplayIcon", AgentRunCommand(strDir)},
        {L"InstallLocation", strDir},
        {L"UninstallString", strUninstaller},
        {L"QuietUninstallString", strUninstaller + L" /S"},
    };
    for (const auto& value : strings) {
        const LSTATUS status = SetString(hKey, value.pszName, value.strValue);
        if (status != ERROR_SUCCESS)
            return status;
    }
    LSTATUS status = SetDword(hKey, L"NoModify", 1);
    if (status == ERROR_SUCCESS)
        status = SetDword(hKey, L"NoRepair", 1);
    if (status == ERROR_SUCCESS)
        status = SetDword(hKey, L"EstimatedSize", FolderSizeKb(strDir));
    return status;
}

std::wstring ErrorText(LSTATUS status)
{
    return L"error " + std::to_wstring(static_cast<DWORD>(status));
}

}  // namespace

std::wstring AgentRunCommand(const std::wstring& strProgramDir)
{
    return L"\"" + strProgramDir + L"\\Glimagent.exe\"";
}

DWORD FolderSizeKb(const std::wstring& strFolder)
{
    ULONGLONG ullBytes = 0;
    WIN32_FIND_DATAW found = {};
    const glim::CScoped<SFindHandleTraits> hFind(FindFirstFileW((strFolder + L"\\*").c_str(), &found));
    if (!hFind)
        return 0;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            ullBytes += (static_cast<ULONGLONG>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    } while (FindNextFileW(hFind.Get(), &found));
    return static_cast<DWORD>((ullBytes + 1023) / 1024);
}

SVerbResult RegisterProduct(const SRegistrationPlace& place, bool bRunOnly)
{
    CVerb verb;
    verb.Say(bRunOnly ? L"Registering the agent's start at logon"
                      : L"Registering the agent's start at logon and the Apps & features entry");
    LSTATUS status = ERROR_SUCCESS;
    glim::CScopedKey hRun(CreateKey(place.hRoot, place.strRunKey, &status));
    if (status == ERROR_SUCCESS)
        status = SetString(hRun.Get(), place.strRunValue.c_str(), AgentRunCommand(place.strProgramDir));
    if (status != ERROR_SUCCESS) {
        verb.Fail(L"The logon start of Glimagent could not be written (" + ErrorText(status) + L").");
        return verb.Take();
    }
    if (bRunOnly)
        return verb.Take();
    glim::CScopedKey hEntry(CreateKey(place.hRoot, place.strUninstallKey, &status));
    if (status == ERROR_SUCCESS)
        status = WriteUninstallEntry(hEntry.Get(), place);
    if (status != ERROR_SUCCESS)
        verb.Fail(L"The Apps & features entry could not be written (" + ErrorText(status) + L").");
    return verb.Take();
}

SVerbResult UnregisterProduct(const SRegistrationPlace& place)
{
    CVerb verb;
    verb.Say(L"Removing the agent's start at logon and the Apps & features entry");
    glim::CScopedKey hRun;
    if (RegOpenKeyExW(place.hRoot, place.strRunKey.c_str(), 0, KEY_SET_VALUE | KEY_WOW64_64KEY, hRun.Put()) ==
        ERROR_SUCCESS)
        RegDeleteValueW(hRun.Get(), place.strRunValue.c_str());
    RegDeleteKeyExW(place.hRoot, place.strUninstallKey.c_str(), KEY_WOW64_64KEY, 0);
    if (RunValueExists(place))
        verb.Fail(L"The logon start of Glimagent could not be removed.");
    else if (KeyExists(place.hRoot, place.strUninstallKey))
        verb.Fail(L"The Apps & features entry could not be removed.");
    return verb.Take();
}

}  // namespace glimsetup
