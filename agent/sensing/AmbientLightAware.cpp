#include "AmbientLightAware.h"

#include "GlimNames.h"
#include "KBBackLight.h"

using namespace glim;

namespace {
std::atomic<CambientLightAware*> g_pAmbient{nullptr};
CStaticCriticalSection g_csAmbient;
}  // namespace

CambientLightAware::CambientLightAware()
    : m_nAmbientStatus(0),
      m_nDarknessLux(static_cast<INT32>(kDefDarknessLux)),
      m_nDimIndoorsLux(static_cast<INT32>(kDefDimIndoorsLux)),
      m_nReportInterval(static_cast<INT32>(kDefAmbientChangeTime)),
      m_bRunning(false)
{
}

CambientLightAware::~CambientLightAware() = default;

CambientLightAware* CambientLightAware::GetInstance()
{
    return GetOrCreateInstance(g_pAmbient, g_csAmbient);
}

HRESULT CambientLightAware::InitAmbientLightAware()
{
    if (CKBBackLight::GetInstance()->GetKBStatus() != kStatusAuto)
        return S_OK;
    m_nAmbientStatus = 0;
    m_bRunning = true;
    return S_OK;
}

HRESULT CambientLightAware::UninitAmbientLightAware()
{
    m_bRunning = false;
    return S_OK;
}
