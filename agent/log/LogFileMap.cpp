#include "LogFileMap.h"

#include <new>

namespace logfilesync {

// One registered file and its reference count: one reference for the registration and
// one for every CLogFileRef. The count is changed without the map's lock, so a reference
// may outlive the map itself.
struct CLogFileRef::CEntry {
    CLogFile m_file;
    volatile LONG m_nRefs = 1;

    void AddRef() { InterlockedIncrement(&m_nRefs); }
    void Release()
    {
        if (InterlockedDecrement(&m_nRefs) == 0)
            delete this;
    }
};

CLogFileRef& CLogFileRef::operator=(CLogFileRef&& other) noexcept
{
    if (this != &other) {
        Reset();
        m_pEntry = other.m_pEntry;
        other.m_pEntry = nullptr;
    }
    return *this;
}

CLogFile* CLogFileRef::Get() const
{
    return m_pEntry ? &m_pEntry->m_file : nullptr;
}

void CLogFileRef::Reset()
{
    if (m_pEntry)
        m_pEntry->Release();
    m_pEntry = nullptr;
}

CLogFileMap::CLogFileMap() = default;

CLogFileMap::~CLogFileMap()
{
    glim::CCritSecLock lock(&m_cs);
    for (auto& item : m_map)
        item.second->Release();
    m_map.clear();
}

CLogFileRef CLogFileMap::GetLogFile(const wchar_t* pszName, bool* pbCreated)
{
    *pbCreated = false;
    glim::CCritSecLock lock(&m_cs);
    CLogFileRef::CEntry* pEntry = nullptr;
    auto it = m_map.find(pszName);
    if (it != m_map.end()) {
        pEntry = it->second;
    } else {
        pEntry = new (std::nothrow) CLogFileRef::CEntry();
        if (pEntry) {
            m_map.emplace(pszName, pEntry);
            *pbCreated = true;
        }
    }
    if (pEntry)
        pEntry->AddRef();
    return CLogFileRef(pEntry);
}

CLogFileRef CLogFileMap::FindLogFile(const wchar_t* pszName)
{
    glim::CCritSecLock lock(&m_cs);
    CLogFileRef::CEntry* pEntry = nullptr;
    auto it = m_map.find(pszName);
    if (it != m_map.end()) {
        pEntry = it->second;
        pEntry->AddRef();
    }
    return CLogFileRef(pEntry);
}

void CLogFileMap::RemoveLogFile(const wchar_t* pszName)
{
    CLogFileRef::CEntry* pEntry = nullptr;
    {
        glim::CCritSecLock lock(&m_cs);
        auto it = m_map.find(pszName);
        if (it != m_map.end()) {
            pEntry = it->second;
            m_map.erase(it);
        }
    }
    // Outside the lock: deleting closes the file, which must not hold up other lookups.
    if (pEntry)
        pEntry->Release();
}

bool StartModuleLog(CLogFileMap& map, const wchar_t* pszName)
{
    bool bCreated = false;
    CLogFileRef logFile = map.GetLogFile(pszName, &bCreated);
    if (!logFile)
        return false;
    if (!bCreated)
        return logFile->IsOpen();
    if (logFile->LoadConfig())
        return true;
    logFile.Reset();
    map.RemoveLogFile(pszName);
    return false;
}

void StopModuleLog(CLogFileMap& map, const wchar_t* pszName)
{
    CLogFileRef logFile = map.FindLogFile(pszName);
    if (!logFile)
        return;
    logFile->Close();
    logFile.Reset();
    map.RemoveLogFile(pszName);
}

}  // namespace logfilesync
