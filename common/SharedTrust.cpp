#include "SharedTrust.h"

#include <aclapi.h>
#include <sddl.h>

#include <cwchar>
#include <vector>

#include "ScopedHandle.h"

namespace glim {

FileTrust JudgeFile(DWORD dwAttributes, DWORD dwLinks, const wchar_t* pszFinalPath, const wchar_t* pszExpectedPath)
{
    if ((dwAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0)
        return FileTrust::ReparsePoint;
    if (dwLinks != 1)
        return FileTrust::OtherNames;
    if (!pszFinalPath || !pszExpectedPath || !*pszFinalPath || !*pszExpectedPath)
        return FileTrust::Elsewhere;
    return CompareStringOrdinal(pszFinalPath, -1, pszExpectedPath, -1, TRUE) == CSTR_EQUAL ? FileTrust::Plain
                                                                                           : FileTrust::Elsewhere;
}

const wchar_t* FileTrustText(FileTrust trust)
{
    switch (trust) {
    case FileTrust::Plain: return L"the plain file at its path";
    case FileTrust::Missing: return L"missing";
    case FileTrust::ReparsePoint: return L"a link (reparse point) or a folder";
    case FileTrust::OtherNames: return L"a file with more than one name (hard link)";
    case FileTrust::Elsewhere: return L"a file whose final path is elsewhere (a link above it)";
    case FileTrust::Unreadable: return L"a file that cannot be examined";
    }
    return L"unknown";
}

std::wstring FinalPathOf(HANDLE hFile)
{
    wchar_t szPath[kFinalPathChars] = {};
    const DWORD cch = GetFinalPathNameByHandleW(hFile, szPath, kFinalPathChars, FILE_NAME_NORMALIZED);
    return cch > 0 && cch < kFinalPathChars ? std::wstring(szPath, cch) : std::wstring();
}

std::wstring ExpectedFinalPath(const wchar_t* pszPath)
{
    const wchar_t* pszName = pszPath ? wcsrchr(pszPath, L'\\') : nullptr;
    if (!pszName)
        return std::wstring();
    const std::wstring folder(pszPath, static_cast<size_t>(pszName - pszPath));
    constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    CScopedFile hFolder(CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!hFolder || !GetFileInformationByHandle(hFolder.Get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return std::wstring();
    const std::wstring final = FinalPathOf(hFolder.Get());
    return final.empty() ? final : final + pszName;
}

FileTrust JudgeOpenFile(HANDLE hFile, const wchar_t* pszPath)
{
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(hFile, &info))
        return FileTrust::Unreadable;
    return JudgeFile(info.dwFileAttributes, info.nNumberOfLinks, FinalPathOf(hFile).c_str(),
                     ExpectedFinalPath(pszPath).c_str());
}

FileTrust OpenAndJudgeFile(const wchar_t* pszPath, HANDLE* phFile)
{
    if (phFile)
        *phFile = INVALID_HANDLE_VALUE;
    CScopedFile hFile(CreateFileW(pszPath, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!hFile) {
        const DWORD dwErr = GetLastError();
        return dwErr == ERROR_FILE_NOT_FOUND || dwErr == ERROR_PATH_NOT_FOUND ? FileTrust::Missing
                                                                              : FileTrust::Unreadable;
    }
    const FileTrust trust = JudgeOpenFile(hFile.Get(), pszPath);
    if (phFile)
        *phFile = hFile.Release();
    return trust;
}

namespace {

// The owner this process's token gives what it creates, as a TOKEN_OWNER buffer whose data()
// points at the SID; empty when it cannot be read.
struct SOwnOwner {
    std::vector<BYTE> buffer;
    PSID data() const { return buffer.empty() ? nullptr : reinterpret_cast<const TOKEN_OWNER*>(buffer.data())->Owner; }
};

SOwnOwner ProcessTokenOwner()
{
    SOwnOwner owner;
    CScopedHandle hToken;
    DWORD cb = 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, hToken.Put()))
        return owner;
    GetTokenInformation(hToken.Get(), TokenOwner, nullptr, 0, &cb);
    owner.buffer.resize(cb);
    if (cb == 0 || !GetTokenInformation(hToken.Get(), TokenOwner, owner.buffer.data(), cb, &cb))
        owner.buffer.clear();
    return owner;
}

}  // namespace

bool IsSystemAndAdministratorsOnly(PSID pOwner, const ACL* pDacl, PSID pOwnOwner)
{
    auto isSystemOrAdministrators = [](PSID pSid) {
        return IsWellKnownSid(pSid, WinLocalSystemSid) || IsWellKnownSid(pSid, WinBuiltinAdministratorsSid);
    };
    if (!pDacl || pDacl->AceCount == 0)
        return false;  // no DACL lets everyone in; an empty one keeps the service out too
    if (pOwner && !isSystemOrAdministrators(pOwner) && !(pOwnOwner && EqualSid(pOwner, pOwnOwner)))
        return false;
    for (DWORD i = 0; i < pDacl->AceCount; ++i) {
        void* pAce = nullptr;
        if (!GetAce(const_cast<ACL*>(pDacl), i, &pAce))
            return false;
        const auto* pAllowed = static_cast<const ACCESS_ALLOWED_ACE*>(pAce);
        if (pAllowed->Header.AceType != ACCESS_ALLOWED_ACE_TYPE ||
            !isSystemOrAdministrators(const_cast<DWORD*>(&pAllowed->SidStart)))
            return false;
    }
    return true;
}

bool IsObjectSystemAndAdministratorsOnly(HANDLE hObject, std::wstring* pstrOwner)
{
    PSID pOwner = nullptr;
    PACL pDacl = nullptr;
    CScopedLocalMemory pSd;
    const bool bRead =
        GetSecurityInfo(hObject, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &pOwner,
                        nullptr, &pDacl, nullptr, pSd.Put()) == ERROR_SUCCESS;
    if (pstrOwner) {
        wchar_t* pszOwner = nullptr;
        if (!bRead || !pOwner || !ConvertSidToStringSidW(pOwner, &pszOwner))
            pszOwner = nullptr;
        const CScopedLocalMemory ownerText(pszOwner);
        *pstrOwner = pszOwner ? pszOwner : L"unknown";
    }
    return bRead && IsSystemAndAdministratorsOnly(pOwner, pDacl, ProcessTokenOwner().data());
}

}  // namespace glim
