// What a process running as SYSTEM trusts in places other users share: a file that users
// may write (the settings file, the service log) only when it is the plain file at its own
// path, and a named kernel object only when its security is the one the service gives it.
#pragma once

#include <windows.h>

#include <string>

namespace glim {

// A path buffer for final paths ("\\?\" and a long path fit).
constexpr DWORD kFinalPathChars = 1024;

// How a file at a path stands. Plain is the only state in which SYSTEM reads or writes it.
enum class FileTrust {
    Plain,         // one name, no reparse point, its final path is the expected one
    Missing,       // nothing at the path (or its folder is missing)
    ReparsePoint,  // a link of any kind, or a folder
    OtherNames,    // a hard link: the file has more than one name
    Elsewhere,     // its final path is not the path's own (a link above it, or unknown)
    Unreadable,    // it exists but cannot be opened or examined
};

// The pure rule: a plain file (not a reparse point or folder) with one name whose final path
// equals the expected one, compared without regard to case.
FileTrust JudgeFile(DWORD dwAttributes, DWORD dwLinks, const wchar_t* pszFinalPath, const wchar_t* pszExpectedPath);
inline bool IsPlainFileAtOwnPath(DWORD dwAttributes, DWORD dwLinks, const wchar_t* pszFinalPath,
                                 const wchar_t* pszExpectedPath)
{
    return JudgeFile(dwAttributes, dwLinks, pszFinalPath, pszExpectedPath) == FileTrust::Plain;
}

// Words for logs and glimctl: "a link (reparse point)", "a file with more than one name"...
const wchar_t* FileTrustText(FileTrust trust);

// The normalised path of an open file or folder; empty when it cannot be had.
std::wstring FinalPathOf(HANDLE hFile);

// Where a file must be: the final path of its folder (itself no reparse point), joined with
// the file's name; empty when the folder cannot be opened.
std::wstring ExpectedFinalPath(const wchar_t* pszPath);

// Judges a handle opened with FILE_FLAG_OPEN_REPARSE_POINT against the path it was opened by.
FileTrust JudgeOpenFile(HANDLE hFile, const wchar_t* pszPath);

// Opens the path for its attributes without following a link at its last element and judges
// it. The handle shares reading and writing but not deletion, so while the caller holds it
// (*phFile, when not null and the file exists) the file can be neither renamed nor deleted,
// nor another put in its place.
FileTrust OpenAndJudgeFile(const wchar_t* pszPath, HANDLE* phFile);

// The service's named objects give access to SYSTEM and Administrators only. True when a
// descriptor is of that kind: a DACL whose every entry allows SYSTEM or Administrators, and
// an owner that is one of the two or pOwnOwner, the owner this process gives what it creates
// (for the service SYSTEM's; a missing owner passes: Windows always records one).
bool IsSystemAndAdministratorsOnly(PSID pOwner, const ACL* pDacl, PSID pOwnOwner);

// Reads a kernel object's owner and DACL through its handle and applies that rule, with this
// process's token owner as its own. On
// return *pstrOwner holds the owner as text ("unknown" when none), for the log.
bool IsObjectSystemAndAdministratorsOnly(HANDLE hObject, std::wstring* pstrOwner);

}  // namespace glim
