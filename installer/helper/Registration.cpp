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
    return RegGetValueW(place.hRoot, place.strRunKey.c_str(), place.strRunValue.c_str(), RRF_RT_ANY, nullptr, nullptr,
                        nullptr) == ERROR_SUCCESS;
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
    const std::wstring strUninstaller = L"\"" + strDir + L"\\" + glim::kUninstallerFile + L"\"";
    const struct {
        const wchar_t* pszName;
        std::wstring strValue;
    } strings[] = {
        {L"DisplayName", glim::kProductName},
        {L"DisplayVersion", place.strVersion},
        {L"Publisher", glim::kPublisher},
        {L"DisplayIcon", AgentRunCommand(strDir)},
        {L"InstallLocation", strDir},
        // In place ("_?=" last): otherwise the uninstaller copies itself into the temporary
        // folder, where every user may write, and runs from there.
        {L"UninstallString", strUninstaller + L" _?=" + strDir},
        {L"QuietUninstallString", strUninstaller + L" /S _?=" + strDir},
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
    return L"\"" + strProgramDir + L"\\" + glim::kAgentProgramFile + L"\"";
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

bool DropPendingDeletion(std::vector<std::wstring>* pOperations, const std::wstring& strPath)
{
    const std::wstring strNtPath = L"\\??\\" + strPath;
    std::vector<std::wstring> kept;
    for (size_t i = 0; i + 1 < pOperations->size(); i += 2) {
        const std::wstring& strSource = (*pOperations)[i];
        const std::wstring& strTarget = (*pOperations)[i + 1];
        if (strTarget.empty() && strSource.size() == strNtPath.size() &&
            CompareStringOrdinal(strSource.c_str(), -1, strNtPath.c_str(), -1, TRUE) == CSTR_EQUAL)
            continue;
        kept.push_back(strSource);
        kept.push_back(strTarget);
    }
    const bool bDropped = kept.size() != pOperations->size();
    pOperations->swap(kept);
    return bDropped;
}

namespace {

constexpr wchar_t kPendingValue[] = L"PendingFileRenameOperations";

// The restart's operations, one string each; empty when there are none or they cannot be read.
std::vector<std::wstring> ReadPendingOperations(HKEY hKey)
{
    std::vector<std::wstring> operations;
    DWORD cb = 0;
    if (RegQueryValueExW(hKey, kPendingValue, nullptr, nullptr, nullptr, &cb) != ERROR_SUCCESS || cb == 0)
        return operations;
    // Two more characters: a value written without its final terminators still ends.
    std::vector<wchar_t> data(cb / sizeof(wchar_t) + 2, L'\0');
    if (RegQueryValueExW(hKey, kPendingValue, nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()), &cb) !=
        ERROR_SUCCESS)
        return operations;
    const wchar_t* const pEnd = data.data() + cb / sizeof(wchar_t);
    for (const wchar_t* p = data.data(); p < pEnd; p += operations.back().size() + 1)
        operations.emplace_back(p);
    // The list's closing empty string is no operation.
    if (operations.size() % 2 != 0 && operations.back().empty())
        operations.pop_back();
    return operations;
}

LSTATUS WritePendingOperations(HKEY hKey, const std::vector<std::wstring>& operations)
{
    if (operations.empty()) {
        const LSTATUS status = RegDeleteValueW(hKey, kPendingValue);
        return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
    }
    std::wstring strData;
    for (const std::wstring& strOperation : operations)
        strData += strOperation + L'\0';
    strData += L'\0';
    return RegSetValueExW(hKey, kPendingValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(strData.data()),
                          static_cast<DWORD>(strData.size() * sizeof(wchar_t)));
}

// Cancels the deletion at the next restart of the program folder's Uninstall.exe, which an
// uninstaller run in place leaves for its own file; the entry names the new one at that path.
void KeepUninstaller(const SRegistrationPlace& place, CVerb* pVerb)
{
    glim::CScopedKey hKey;
    if (RegOpenKeyExW(place.hRoot, place.strPendingKey.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY,
                      hKey.Put()) != ERROR_SUCCESS)
        return;
    std::vector<std::wstring> operations = ReadPendingOperations(hKey.Get());
    const std::wstring strUninstaller = place.strProgramDir + L"\\Uninstall.exe";
    if (!DropPendingDeletion(&operations, strUninstaller))
        return;
    const LSTATUS status = WritePendingOperations(hKey.Get(), operations);
    if (status != ERROR_SUCCESS) {
        pVerb->Fail(L"The deletion at the next restart of " + strUninstaller + L" could not be cancelled (" +
                    ErrorText(status) + L").");
        return;
    }
    pVerb->Say(L"The deletion at the next restart of " + strUninstaller + L" (left by an uninstall) is cancelled");
}

}  // namespace

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
    if (status != ERROR_SUCCESS) {
        verb.Fail(L"The Apps & features entry could not be written (" + ErrorText(status) + L").");
        return verb.Take();
    }
    KeepUninstaller(place, &verb);
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
