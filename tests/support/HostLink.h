// Links that a local user could plant where the programs or the installer read and write:
// under Wine a symbolic link of the host file system (Wine shows it as a plain file or folder
// and follows it, as Windows follows a junction), on Windows a symbolic link.
#pragma once

#include <string>

namespace glimtest {

// True when the process runs under Wine.
bool UnderWine();

// Makes `link` a symbolic link to `target` (a file or a folder). False when it cannot.
bool Make(const std::wstring& link, const std::wstring& target);

// Makes `link` a second name (hard link) of the file `target`. False when it cannot.
bool MakeHardLink(const std::wstring& link, const std::wstring& target);

// The links a user could plant in place of a file: a symbolic link and a hard link.
struct SLinkKind {
    const char* pszKind;
    bool (*pfnMake)(const std::wstring& link, const std::wstring& target);
};
constexpr SLinkKind kLinkKinds[] = {{"symbolic link", &Make}, {"hard link", &MakeHardLink}};

// Removes the link itself, never what it points to. True when nothing is left at `link`.
bool Remove(const std::wstring& link);

}  // namespace glimtest
