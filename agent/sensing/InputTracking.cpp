#include "InputTracking.h"

using namespace glim;

PFN_INACTIVE_HANDLER g_pfnInActiveHandler = nullptr;
std::atomic<DWORD> g_dwLastActiveTick{0};

namespace {
std::atomic<CInputTracking*> g_pInputTracking{nullptr};
CStaticCriticalSection g_csInputTracking;
}  // namespace

CInputTracking::CInputTracking() : m_bTracking(false) {}

CInputTracking::~CInputTracking() = default;

CInputTracking* CInputTracking::GetInstance()
{
    return GetOrCreateInstance(g_pInputTracking, g_csInputTracking);
}

void CInputTracking::UpdateLastActiveTime()
{
    g_dwLastActiveTick = GetTickCount();
}

void CInputTracking::StartTracking()
{
    m_bTracking = true;
}

void CInputTracking::StopTracking()
{
    m_bTracking = false;
}
