// The one scratch folder of the tests: a fresh empty folder under the temporary folder,
// removed with its contents on destruction.
#pragma once

#include <windows.h>

#include <string>

namespace glimtest {

// Removes a folder tree (files and subfolders); a missing folder is fine.
void RemoveTree(const std::wstring& strPath);

class CTempFolder {
public:
    CTempFolder();
    virtual ~CTempFolder();
    CTempFolder(const CTempFolder&) = delete;
    CTempFolder& operator=(const CTempFolder&) = delete;

    const std::wstring& Path() const { return m_strPath; }  // no trailing backslash; empty on failure
    std::wstring File(const std::wstring& strName) const { return m_strPath + L"\\" + strName; }

private:
    std::wstring m_strPath;
};

}  // namespace glimtest
