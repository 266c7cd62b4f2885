// Keeps the calling thread's last error across a clean-up. Closing a handle, releasing a
// reference or giving back a lock may set it, and a caller that reads it after its failed
// call (once the owners of that scope are gone) must still see that call's error.
#pragma once

#include <windows.h>

namespace glim {

class CKeepLastError {
public:
    CKeepLastError() : m_dwErr(GetLastError()) {}
    ~CKeepLastError() { SetLastError(m_dwErr); }
    CKeepLastError(const CKeepLastError&) = delete;
    CKeepLastError& operator=(const CKeepLastError&) = delete;

private:
    DWORD m_dwErr;
};

}  // namespace glim
