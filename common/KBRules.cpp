#include "KBRules.h"

#include "GlimNames.h"

namespace glim {

DWORD NextKBStatus(DWORD dwStatus)
{
    switch (dwStatus) {
    case kStatusOff: return kStatusOn;
    case kStatusOn: return kStatusAuto;
    case kStatusAuto: return kStatusOff;
    default: return kStatusOff;
    }
}

DWORD NextLockedKBStatus(DWORD dwStatus)
{
    return dwStatus != kStatusOff ? kStatusOff : kStatusOn;
}

bool AcceptF12Press(DWORD dwNow, DWORD* pdwLast)
{
    const DWORD dwSpan = dwNow - *pdwLast;
    if (dwSpan <= kF12MinIntervalMs)
        return false;
    *pdwLast = dwNow;
    return true;
}

}  // namespace glim
