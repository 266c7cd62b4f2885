// The tests' one way to the shared settings file, independent of the code under test: where it is, a reset to "no
// settings file", raw writes and reads, and a UTF-16 file for values outside the ANSI code page.
//
// Paths follow this process's ALLUSERSPROFILE, as the programs' own path does, so a test
// that redirects the variable (CScopedEnvVar) redirects these helpers too.
#pragma once

#include <windows.h>

#include <string>

#include "TempFolder.h"

namespace glimtest {

// ALLUSERSPROFILE\Vessik\Glimkit and ALLUSERSPROFILE\Vessik\Glimkit\Glimkit.ini.
std::wstring FolderPath();
std::wstring FilePath();

// Creates the folder (and its parents) when missing. Returns 0 or a Win32 error.
DWORD EnsureFolder();

// Deletes the settings file; a missing file is success. Returns 0 or a Win32 error.
DWORD RemoveFile();

// Writes KEY=VALUE in section [Glimkit] with a bare private-profile call (no lock).
bool WriteKey(const std::wstring& strKey, const std::wstring& strValue);
bool WriteKey(const std::wstring& strKey, int nValue);
// Deletes the key from the section (bare private-profile call).
bool RemoveKey(const std::wstring& strKey);
// Reads a key with a bare private-profile call; strDefault when missing.
std::wstring ReadKey(const std::wstring& strKey, const std::wstring& strDefault = L"");
// Reads an integer key as the private-profile calls parse it; dwDefault when missing.
DWORD ReadNumber(const std::wstring& strKey, DWORD dwDefault);

// The file's bytes; empty when it cannot be read. *pbExists tells a missing file apart.
std::string ReadRawFile(bool* pbExists = nullptr);

// Replaces the settings file with an empty UTF-16LE file (byte-order mark and the
// "[Glimkit]" section line). Private-profile writes then keep non-ANSI values such as
// "2秒"; into an ANSI file they would be stored as "2?". Returns 0 or a Win32 error.
DWORD CreateUnicodeFile();

// Puts the settings folder into the state of a machine whose installer made the folder
// but no program has run yet: the folder exists, the file does not. The destructor deletes
// the file again and removes the folder when this object created it (and it is empty).
class CSettingsReset {
public:
    CSettingsReset();
    virtual ~CSettingsReset();
    CSettingsReset(const CSettingsReset&) = delete;
    CSettingsReset& operator=(const CSettingsReset&) = delete;

    // 0 when the folder exists and the file is gone after construction.
    DWORD Error() const { return m_dwError; }

private:
    std::wstring m_strFolder;
    std::wstring m_strFile;
    bool m_bCreatedFolder = false;
    DWORD m_dwError = 0;
};

// Sets (or, with pszValue NULL, removes) an environment variable of this process for the
// object's lifetime; children started meanwhile inherit it. The destructor restores it.
class CScopedEnvVar {
public:
    CScopedEnvVar(const wchar_t* pszName, const wchar_t* pszValue);
    virtual ~CScopedEnvVar();
    CScopedEnvVar(const CScopedEnvVar&) = delete;
    CScopedEnvVar& operator=(const CScopedEnvVar&) = delete;

private:
    std::wstring m_strName;
    std::wstring m_strOldValue;
    bool m_bHadValue = false;
};

}  // namespace glimtest
