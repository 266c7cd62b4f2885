// Registers a stand-in in-process COM server of the build (a DLL beside the test program)
// in the prefix for as long as the object lives: the InprocServer32 key of the class under
// HKLM\Software\Classes\CLSID in the 64-bit view, with a ThreadingModel, which is where a
// 64-bit program looks.
#pragma once

#include <windows.h>

#include <string>

namespace glimtest {

// The full path of a file in the test program's own folder.
std::wstring BesideProgram(const wchar_t* pszFileName);

class CSimComRegistration {
public:
    CSimComRegistration(const CLSID& clsid, const wchar_t* pszDllName);
    virtual ~CSimComRegistration();
    CSimComRegistration(const CSimComRegistration&) = delete;
    CSimComRegistration& operator=(const CSimComRegistration&) = delete;

    bool Ok() const { return m_lError == ERROR_SUCCESS; }
    LONG Error() const { return m_lError; }

private:
    std::wstring m_strKey;
    LONG m_lError;
};

}  // namespace glimtest
