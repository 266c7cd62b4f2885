// The process-wide registry of log files by module name. Lookups hand out counted
// references, so a log call that races the removal of its file at shutdown keeps the
// object alive until its line is done; the last reference deletes it.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>

#include "LogFile.h"
#include "Lock.h"

namespace logfilesync {

class CLogFileMap;

// A counted reference to a registered CLogFile. Empty when the lookup found nothing.
class CLogFileRef {
public:
    CLogFileRef() : m_pEntry(nullptr) {}
    ~CLogFileRef() { Reset(); }
    CLogFileRef(CLogFileRef&& other) noexcept : m_pEntry(other.m_pEntry) { other.m_pEntry = nullptr; }
    CLogFileRef& operator=(CLogFileRef&& other) noexcept;
    CLogFileRef(const CLogFileRef&) = delete;
    CLogFileRef& operator=(const CLogFileRef&) = delete;

    CLogFile* Get() const;
    CLogFile* operator->() const { return Get(); }
    explicit operator bool() const { return m_pEntry != nullptr; }
    void Reset();

private:
    friend class CLogFileMap;
    struct CEntry;
    explicit CLogFileRef(CEntry* pEntry) : m_pEntry(pEntry) {}  // takes a reference already counted

    CEntry* m_pEntry;
};

class CLogFileMap {
public:
    CLogFileMap();
    virtual ~CLogFileMap();  // drops every registration; files in use close with their last reference
    CLogFileMap(const CLogFileMap&) = delete;
    CLogFileMap& operator=(const CLogFileMap&) = delete;

    // The file registered under pszName, registering a new, disabled one when there is
    // none (*pbCreated tells which). Empty only when memory runs out.
    CLogFileRef GetLogFile(const wchar_t* pszName, bool* pbCreated);
    // The registered file, or an empty reference: one map lookup under the lock.
    CLogFileRef FindLogFile(const wchar_t* pszName);
    // Unregisters the file. It is deleted (file and mutex closed) now, or when the last
    // reference still in use is released.
    void RemoveLogFile(const wchar_t* pszName);

private:
    // Transparent comparison: a lookup by a plain name allocates nothing.
    std::map<std::wstring, CLogFileRef::CEntry*, std::less<>> m_map;
    glim::CCriticalSection m_cs;
};

// A program's start-up of its log: registers the file under pszName and reads its
// configuration; a new file that does not open is unregistered again, so a registered
// file is always an open one. True when logging is on.
bool StartModuleLog(CLogFileMap& map, const wchar_t* pszName);

// A program's shutdown of its log: closes the file and unregisters it. Log calls still
// under way end first or find the file closed.
void StopModuleLog(CLogFileMap& map, const wchar_t* pszName);

}  // namespace logfilesync
