// The settings file as glimctl reaches it, the way the settings application does: keys
// written under the configuration lock "mut_conf", then the notice kind and argument, then
// "event_uwp". Unlike the programs' own accesses, which go
// ahead after 3 s without the lock, glimctl gives up and changes nothing when it is held.
#pragma once

#include <windows.h>

#include <string>

#include "CtlRules.h"
#include "Lock.h"
#include "ScopedHandle.h"

namespace glimctl {

constexpr DWORD kLockWaitMs = 3000;

// ALLUSERSPROFILE\Vessik\Glimkit\Glimkit.ini and its folder; empty when it does not fit.
std::wstring SettingsFilePath();
std::wstring SettingsFolderPath();

// Reads a whole file; false with the error in *pdwError.
bool ReadFileBytes(const std::wstring& strPath, std::string* pstrBytes, DWORD* pdwError);

// "mut_conf" of this session, held for the object's life when Held().
class CConfLock {
public:
    explicit CConfLock(DWORD dwTimeoutMs = kLockWaitMs);
    virtual ~CConfLock();
    CConfLock(const CConfLock&) = delete;
    CConfLock& operator=(const CConfLock&) = delete;
    bool Held() const { return m_hold.Held(); }

private:
    glim::CScopedHandle m_hMutex;
    glim::CMutexHold m_hold;
};

// Reads of the keys while the lock is held (the private-profile functions, as the programs
// read them).
DWORD ReadSettingInt(const wchar_t* pszKey, DWORD dwDefault);
std::wstring ReadSettingString(const wchar_t* pszKey);

// Writes one setting and its notice values under the lock. Returns 0, or an error with a
// one-line reason: the lock held, the folder missing, a file the value cannot be kept in,
// no right to write.
DWORD WriteSetting(const SSetting& setting, std::wstring* pstrError);

// Signals "event_uwp". ERROR_FILE_NOT_FOUND when no main instance listens in this session.
DWORD AnnounceChange();

// The one-line text of a Windows error ("error 5: Access is denied.").
std::wstring ErrorText(DWORD dwError);

}  // namespace glimctl
