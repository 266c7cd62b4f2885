#include "DataFolders.h"

#include <aclapi.h>
#include <sddl.h>

#include <vector>

#include "GlimLog.h"
#include "InstallLayout.h"
#include "ScopedHandle.h"
#include "SettingsValues.h"
#include "SharedTrust.h"

namespace glimsetup {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Opens a link itself instead of what it leads to, and opens folders.
constexpr DWORD kOpenNoFollow = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
constexpr DWORD kInspectAccess = READ_CONTROL | FILE_READ_ATTRIBUTES;
constexpr DWORD kRightsAccess = READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES;

bool SamePath(const std::wstring& strA, const std::wstring& strB)
{
    return !strA.empty() && CompareStringOrdinal(strA.c_str(), -1, strB.c_str(), -1, TRUE) == CSTR_EQUAL;
}

std::wstring ParentOf(const std::wstring& strPath)
{
    const size_t pos = strPath.find_last_of(L'\\');
    return pos == std::wstring::npos ? std::wstring() : strPath.substr(0, pos);
}

bool Exists(const std::wstring& strPath)
{
    return GetFileAttributesW(strPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsOwnerOfHandleTrusted(HANDLE hFile)
{
    PSID pOwner = nullptr;
    glim::CScopedLocalMemory pSd;
    if (GetSecurityInfo(hFile, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &pOwner, nullptr, nullptr, nullptr,
                        pSd.Put()) != ERROR_SUCCESS)
        return false;
    return pOwner && IsTrustedOwner(pOwner);
}

// Reads what the handle shows about the object it was opened on by the path.
void ReadHandleFacts(HANDLE hFile, const std::wstring& strPath, SPathFacts* pFacts)
{
    pFacts->bOpened = true;
    pFacts->bFinalPathMatches = SamePath(glim::FinalPathOf(hFile), glim::ExpectedFinalPath(strPath.c_str()));
    BY_HANDLE_FILE_INFORMATION info = {};
    pFacts->bInfoRead = GetFileInformationByHandle(hFile, &info) != FALSE;
    pFacts->dwAttributes = info.dwFileAttributes;
    pFacts->dwLinks = info.nNumberOfLinks;
    pFacts->bOwnerTrusted = IsOwnerOfHandleTrusted(hFile);
}

std::wstring LeadsElsewhere(const std::wstring& strPath)
{
    return strPath + L" leads to another place; remove it and run the setup again.";
}

// Sets the owner (Administrators) and the protected access list in the SDDL on what stands at
// the path, through a handle that does not follow a link and that must still show the object
// inspected before (neither a link nor a followed one).
bool SetRights(CVerb* pVerb, const std::wstring& strPath, const wchar_t* pszSddl)
{
    const std::wstring strSddl = std::wstring(L"O:BA") + pszSddl;
    pVerb->Say(L"Rights of " + strPath + L": " + strSddl);
    glim::CScopedLocalMemory pSd;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            strSddl.c_str(), SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(pSd.Put()), nullptr)) {
        GLIM_LOG_LAST_ERROR('E', L"SetRights", L"ConvertStringSecurityDescriptorToSecurityDescriptorW");
        return pVerb->Fail(L"The rights for " + strPath + L" could not be built.");
    }
    PSID pOwner = nullptr;
    PACL pDacl = nullptr;
    BOOL bDefaulted = FALSE;
    BOOL bPresent = FALSE;
    GetSecurityDescriptorOwner(pSd.Get(), &pOwner, &bDefaulted);
    GetSecurityDescriptorDacl(pSd.Get(), &bPresent, &pDacl, &bDefaulted);
    HANDLE hRaw = INVALID_HANDLE_VALUE;
    const PathState state = InspectPath(strPath, WRITE_DAC | WRITE_OWNER, &hRaw);
    glim::CScopedFile hFile(hRaw);
    if (!hFile) {
        const DWORD dwErr = GLIM_LOG_LAST_ERROR('E', L"SetRights", L"CreateFileW");
        return pVerb->Fail(strPath + L" could not be opened to set its rights (error " + std::to_wstring(dwErr) +
                           L").");
    }
    if (state == PathState::Link || state == PathState::Redirected)
        return pVerb->Fail(LeadsElsewhere(strPath));
    const DWORD dwErr =
        SetSecurityInfo(hFile.Get(), SE_FILE_OBJECT,
                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                        pOwner, nullptr, pDacl, nullptr);
    if (dwErr != ERROR_SUCCESS)
        return pVerb->Fail(L"The rights of " + strPath + L" could not be set (error " + std::to_wstring(dwErr) + L").");
    return true;
}

// Makes the path a folder of this setup's own: a link, or a folder that an untrusted owner
// made, is removed without following it (such a folder that holds something is moved aside; a
// link that cannot be removed fails) and the folder is made afresh; then it gets the data
// folder's rights, so that no user can create anything in it.
bool PrepareFolder(CVerb* pVerb, const std::wstring& strPath)
{
    const PathState state = InspectPath(strPath);
    if (state == PathState::Redirected)
        return pVerb->Fail(LeadsElsewhere(strPath));
    if (state == PathState::Link || state == PathState::Foreign) {
        pVerb->Say(strPath + L" is a " + PathStateText(state) + L" folder: removing it without following it");
        if (!RemoveItself(strPath)) {
            if (state == PathState::Link)
                return pVerb->Fail(L"The link " + strPath + L" could not be removed.");
            const std::wstring strAside = strPath + L".untrusted-" + std::to_wstring(GetTickCount());
            pVerb->Say(L"Moving " + strPath + L" aside to " + strAside);
            if (!MoveFileW(strPath.c_str(), strAside.c_str()))
                GLIM_LOG_LAST_ERROR('E', L"PrepareFolder", L"MoveFileW");
        }
    }
    if (!CreateDirectoryW(strPath.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        GLIM_LOG_LAST_ERROR('E', L"PrepareFolder", L"CreateDirectoryW");
    const PathState made = InspectPath(strPath);
    if (made != PathState::Ok)
        return pVerb->Fail(L"The data folder " + strPath + L" could not be made safe (" + PathStateText(made) + L").");
    return SetRights(pVerb, strPath, glim::kDataFolderSddl);
}

// A known file of the data folder that is a link (or a second name of another file) is
// removed itself, never followed; the caller then writes a fresh one.
bool RemoveLinkedFile(CVerb* pVerb, const std::wstring& strPath)
{
    const PathState state = InspectPath(strPath);
    if (state == PathState::Redirected)
        return pVerb->Fail(LeadsElsewhere(strPath));
    if (state == PathState::Link) {
        pVerb->Say(strPath + L" is a link: removing it without following it");
        if (!RemoveItself(strPath))
            return pVerb->Fail(L"The link " + strPath + L" could not be removed.");
    }
    return true;
}

// Creates the settings file UTF-16LE with its byte-order mark: the private-profile functions
// create a missing file in the ANSI code page, which loses the settings application's "5分"
// and "30秒", and keep a file that starts with the mark UTF-16. Never opens what is already
// there (a link planted meanwhile included).
bool CreateSettingsFile(const std::wstring& strPath)
{
    glim::CScopedFile hFile(CreateFileW(strPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!hFile) {
        GLIM_LOG_LAST_ERROR('E', L"CreateSettingsFile", L"CreateFileW");
        return false;
    }
    static const wchar_t kContent[] = L"\xFEFF[Glimkit]\r\n";
    const DWORD cb = static_cast<DWORD>(sizeof(kContent) - sizeof(wchar_t));
    DWORD cbWritten = 0;
    if (!WriteFile(hFile.Get(), kContent, cb, &cbWritten, nullptr) || cbWritten != cb) {
        GLIM_LOG_LAST_ERROR('E', L"CreateSettingsFile", L"WriteFile");
        return false;
    }
    return true;
}

// Removes the link at the path alone, saying when it stays. A path that leads elsewhere
// without showing as a link is left alone: removing it would follow it.
void RemoveLinkAlone(CVerb* pVerb, const std::wstring& strPath, PathState state)
{
    if (state == PathState::Redirected) {
        pVerb->Say(strPath + L" leads to another place: left alone");
        return;
    }
    pVerb->Say(strPath + L" is a link: removing the link alone");
    if (!RemoveItself(strPath))
        pVerb->Say(strPath + L" stays");
}

// Deletes a known file of the data folder: a link there goes itself, never what it leads to;
// one that leads elsewhere without showing as a link stays.
void PurgeKnownFile(const std::wstring& strPath)
{
    const PathState state = InspectPath(strPath);
    if (state == PathState::Redirected)
        return;
    if (state == PathState::Link) {
        RemoveItself(strPath);
    } else if (state != PathState::Missing && !DeleteFileW(strPath.c_str())) {
        GLIM_LOG_LAST_ERROR('W', L"PurgeKnownFile", L"DeleteFileW");
    }
}

struct SFindHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { FindClose(h); }
};

void ListKept(CVerb* pVerb, const std::wstring& strDataDir)
{
    pVerb->Say(L"The data folder " + strDataDir + L" stays, holding what the product did not make:");
    WIN32_FIND_DATAW found = {};
    const glim::CScoped<SFindHandleTraits> hFind(FindFirstFileW((strDataDir + L"\\*").c_str(), &found));
    if (!hFind)
        return;
    do {
        const std::wstring strName = found.cFileName;
        if (strName != L"." && strName != L"..")
            pVerb->Say(L"  kept: " + strName);
    } while (FindNextFileW(hFind.Get(), &found));
}

}  // namespace

const wchar_t* PathStateText(PathState state)
{
    switch (state) {
    case PathState::Ok: return L"ok";
    case PathState::Missing: return L"missing";
    case PathState::Link: return L"link";
    case PathState::Redirected: return L"redirected";
    case PathState::Foreign: return L"foreign";
    }
    return L"foreign";
}

PathState JudgePath(const SPathFacts& facts)
{
    if (!facts.bExists)
        return PathState::Missing;
    if (!facts.bOpened)
        return PathState::Foreign;
    if (!facts.bFinalPathMatches)
        return PathState::Redirected;
    if (!facts.bInfoRead)
        return PathState::Foreign;
    if ((facts.dwPathAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        (facts.dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return PathState::Link;
    if (facts.dwLinks > 1 && (facts.dwAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return PathState::Link;
    return facts.bOwnerTrusted ? PathState::Ok : PathState::Foreign;
}

bool IsTrustedOwner(PSID pSid)
{
    if (IsWellKnownSid(pSid, WinLocalSystemSid) || IsWellKnownSid(pSid, WinBuiltinAdministratorsSid))
        return true;
    glim::CScopedHandle hToken;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, hToken.Put())) {
        GLIM_LOG_LAST_ERROR('E', L"IsTrustedOwner", L"OpenProcessToken");
        return false;
    }
    DWORD cb = 0;
    GetTokenInformation(hToken.Get(), TokenUser, nullptr, 0, &cb);
    std::vector<BYTE> buffer(cb);
    if (cb == 0 || !GetTokenInformation(hToken.Get(), TokenUser, buffer.data(), cb, &cb)) {
        GLIM_LOG_LAST_ERROR('E', L"IsTrustedOwner", L"GetTokenInformation");
        return false;
    }
    return EqualSid(pSid, reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid) != FALSE;
}

PathState InspectPath(const std::wstring& strPath, DWORD dwExtraAccess, HANDLE* phFile)
{
    if (phFile)
        *phFile = INVALID_HANDLE_VALUE;
    SPathFacts facts;
    facts.dwPathAttributes = GetFileAttributesW(strPath.c_str());
    facts.bExists = facts.dwPathAttributes != INVALID_FILE_ATTRIBUTES;
    if (!facts.bExists)
        return JudgePath(facts);
    glim::CScopedFile hFile(CreateFileW(strPath.c_str(), kInspectAccess | dwExtraAccess, kShareAll, nullptr,
                                        OPEN_EXISTING, kOpenNoFollow, nullptr));
    if (!hFile) {
        // The caller may report the open's error: it stays the last one.
        const DWORD dwErr = GLIM_LOG_LAST_ERROR('W', L"InspectPath", L"CreateFileW");
        SetLastError(dwErr);
        return JudgePath(facts);
    }
    ReadHandleFacts(hFile.Get(), strPath, &facts);
    const PathState state = JudgePath(facts);
    if (phFile)
        *phFile = hFile.Release();
    return state;
}

bool RemoveItself(const std::wstring& strPath)
{
    // RemoveDirectoryW removes a folder link (and an empty folder) itself; DeleteFileW a file
    // and a file's link. Neither follows a link.
    RemoveDirectoryW(strPath.c_str());
    if (Exists(strPath))
        DeleteFileW(strPath.c_str());
    return !Exists(strPath);
}

std::wstring FindDataDir()
{
    wchar_t szAllUsers[MAX_PATH] = {};
    const DWORD cch = GetEnvironmentVariableW(glim::kSettingsEnvVar, szAllUsers, MAX_PATH);
    if (cch == 0 || cch >= MAX_PATH)
        return std::wstring();
    return std::wstring(szAllUsers) + L"\\" + glim::kDataFolderRelative;
}

SVerbResult PrepareData(const std::wstring& strDataDir)
{
    CVerb verb;
    const std::wstring strSettings = strDataDir + L"\\" + glim::kSettingsFileName;
    if (!PrepareFolder(&verb, ParentOf(strDataDir)) || !PrepareFolder(&verb, strDataDir) ||
        !RemoveLinkedFile(&verb, strSettings))
        return verb.Take();
    if (Exists(strSettings)) {
        verb.Say(L"Keeping the existing settings file " + strSettings);
    } else {
        verb.Say(L"Creating the settings file " + strSettings + L" (UTF-16LE)");
        if (!CreateSettingsFile(strSettings)) {
            verb.Fail(L"The settings file " + strSettings + L" could not be created.");
            return verb.Take();
        }
    }
    if (SetRights(&verb, strSettings, glim::kSettingsFileSddl))
        RemoveLinkedFile(&verb, strDataDir + L"\\" + glim::kServiceLogFileName);
    return verb.Take();
}

SVerbResult PurgeData(const std::wstring& strDataDir)
{
    CVerb verb;
    const std::wstring strParent = ParentOf(strDataDir);
    const PathState parent = InspectPath(strParent);
    if (parent == PathState::Link || parent == PathState::Redirected) {
        RemoveLinkAlone(&verb, strParent, parent);
        return verb.Take();
    }
    const PathState folder = InspectPath(strDataDir);
    if (folder == PathState::Link || folder == PathState::Redirected) {
        RemoveLinkAlone(&verb, strDataDir, folder);
        return verb.Take();
    }
    if (folder == PathState::Missing)
        return verb.Take();
    PurgeKnownFile(strDataDir + L"\\" + glim::kSettingsFileName);
    PurgeKnownFile(strDataDir + L"\\" + glim::kServiceLogFileName);
    if (!RemoveDirectoryW(strDataDir.c_str()) && Exists(strDataDir))
        ListKept(&verb, strDataDir);
    return verb.Take();
}

}  // namespace glimsetup
