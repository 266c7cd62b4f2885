#include "KBBackLight.h"

#include "DeviceProtocol.h"
#include "GlimLog.h"
#include "GlimNames.h"
#include "KBRules.h"
#include "ScopedHandle.h"
#include "SettingsFile.h"
#include "Singleton.h"

using namespace glim;

namespace {
std::atomic<CKBBackLight*> g_pKBBackLight{nullptr};
CStaticCriticalSection g_csKBBackLight;
#if defined(GLIMKIT_SERVICE)
DWORD g_dwLastF12Tick = 0;  // only the service's read thread uses it
#endif
}  // namespace

DWORD glim::KBDeviceRequest(DWORD dwCode, INT32 nIn, INT32* pnOut)
{
    const CScopedFile hDevice(CreateFileW(kDevicePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          nullptr, OPEN_EXISTING, 0, nullptr));
    if (!hDevice)
        return 0;
    INT32 nOut = 0;
    DWORD dwReturned = 0;
    // Success is judged by the byte count alone, as the driver reports it.
    DeviceIoControl(hDevice.Get(), dwCode, &nIn, sizeof(nIn), &nOut, sizeof(nOut), &dwReturned, nullptr);
    if (pnOut)
        *pnOut = nOut;
    return dwReturned;
}

CKBBackLight::CKBBackLight()
{
#if defined(GLIMKIT_SERVICE)
    // The service reads settings only through this class, so the path is set here.
    CSettingsFile::GetInstance()->BuildPath();
#endif
}

CKBBackLight::~CKBBackLight() = default;

CKBBackLight* CKBBackLight::GetInstance()
{
    return GetOrCreateInstance(g_pKBBackLight, g_csKBBackLight);
}

bool CKBBackLight::SetKBBackLightBrightness(INT32 nLevel)
{
    const bool bOk = KBDeviceRequest(IOCTL_KBBL_SET_BRIGHTNESS, nLevel, nullptr) > 0;
#if defined(GLIMKIT_AGENT)
    if (bOk)
        CSettingsFile::GetInstance()->WriteInt(kKeyCurrentKBBrightness, nLevel);
#endif
    return bOk;
}

DWORD CKBBackLight::GetKBStatus()
{
    return CSettingsFile::GetInstance()->ReadInt(kKeyKBStatus, kDefKBStatus);
}

DWORD CKBBackLight::GetKBBrightness()
{
    return CSettingsFile::GetInstance()->ReadInt(kKeyKBBrightness, kDefKBBrightness);
}

#if defined(GLIMKIT_AGENT)

INT32 CKBBackLight::GetKBBackLightBrightness()
{
    INT32 nLevel = 0;
    if (KBDeviceRequest(IOCTL_KBBL_GET_BRIGHTNESS, 0, &nLevel) == 0)
        return 0;
    GLIM_LOG('D', L"CKBBackLight::GetKBBackLightBrightness", L"Brightness is %d", nLevel);
    return nLevel;
}

bool CKBBackLight::RecoverySlValueBrightness()
{
    const INT32 nBrightness = static_cast<INT32>(GetKBBrightness());
    GLIM_LOG('D', L"CKBBackLight::RecoverySlValueBrightness", L"iBrightness is %d", nBrightness);
    return SetKBBackLightBrightness(nBrightness);
}

void CKBBackLight::SetNextKBBackLightStatus()
{
    const DWORD dwNext = NextKBStatus(GetKBStatus());
    GLIM_LOG('D', L"CKBBackLight::SetNextKBBackLightStatus", L"nextstatus is %d", static_cast<int>(dwNext));
    CSettingsFile::GetInstance()->WriteInt(kKeyKBStatus, static_cast<int>(dwNext));
}

#endif  // GLIMKIT_AGENT

#if defined(GLIMKIT_SERVICE)

void CKBBackLight::SetKBStatus(DWORD dwStatus)
{
    CSettingsFile::GetInstance()->WriteInt(kKeyKBStatus, static_cast<int>(dwStatus));
}

INT32 glim::RestoreRecordedLevel(const SLevelPort& port)
{
    static const wchar_t kLabel[] = L"CKBBackLight::RecoveryCurrentBrightness";
    INT32 nSet = port.pfnReadRecorded(port.pvContext);
    GLIM_LOG('D', kLabel, L"iBrightness is %d", nSet);
    port.pfnSetDevice(port.pvContext, nSet);
    for (int i = 0; i < kRestoreFollowLimit; ++i) {
        const INT32 nRecorded = port.pfnReadRecorded(port.pvContext);
        if (nRecorded == nSet)
            break;
        GLIM_LOG('D', kLabel, L"recorded level changed to %d while restoring %d, set again", nRecorded, nSet);
        nSet = nRecorded;
        port.pfnSetDevice(port.pvContext, nSet);
    }
    return nSet;
}

void CKBBackLight::RecoveryCurrentBrightness()
{
    const SLevelPort port = {
        [](void*) {
            return static_cast<INT32>(
                CSettingsFile::GetInstance()->ReadInt(kKeyCurrentKBBrightness, kDefCurrentKBBrightness));
        },
        [](void* pv, INT32 nLevel) { return static_cast<CKBBackLight*>(pv)->SetKBBackLightBrightness(nLevel); },
        this,
    };
    RestoreRecordedLevel(port);
}

bool CKBBackLight::IsF12IntervaltimeMeetsRequirement()
{
    const DWORD dwNow = GetTickCount();
    const bool bAccepted = AcceptF12Press(dwNow, &g_dwLastF12Tick);
    GLIM_LOG('D', L"CKBBackLight::IsF12IntervaltimeMeetsRequirement", L"f12 span is %d",
             static_cast<int>(dwNow - g_dwLastF12Tick));
    return bAccepted;
}

#endif  // GLIMKIT_SERVICE
