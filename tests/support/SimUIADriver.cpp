#include "SimUIADriver.h"

using namespace simuia;

namespace glimtest {

CSimUIADriver::CSimUIADriver()
    : m_hMapping(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(Shared), kMappingName))
    , m_pShared(nullptr)
{
    if (m_hMapping)
        m_pShared = static_cast<Shared*>(MapViewOfFile(m_hMapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, sizeof(Shared)));
    if (m_pShared)
        Reset();
}

CSimUIADriver::~CSimUIADriver()
{
    if (m_pShared) {
        Reset();
        UnmapViewOfFile(m_pShared);
    }
}

void CSimUIADriver::Reset()
{
    const LONG nLive = m_pShared->nLiveObjects;
    ZeroMemory(m_pShared, sizeof(Shared));
    m_pShared->nLiveObjects = nLive;  // objects still held by a client stay counted
    m_pShared->nLastTag = -1;
    m_pShared->nLastSlot = -1;
}

void CSimUIADriver::SetMovie(const RECT& rc)
{
    m_pShared->rcMovie = rc;
    m_pShared->bHasMovie = 1;
}

}  // namespace glimtest
