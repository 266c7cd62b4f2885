// The ambient light side of the agent: the band thresholds loaded at start-up, the current
// band, and the start/stop entry points the manager calls. The sensor connection itself
// (Sensor API sinks, lux averaging, WM_LUX reports) is not built yet: starting only records
// that the sensor side runs and resets the band.
#pragma once

#include <windows.h>

#include <atomic>

#include "Singleton.h"

class CambientLightAware {
public:
    static CambientLightAware* GetInstance();
    virtual ~CambientLightAware();

    // In Auto: resets the band to 0 (none yet) and starts the sensor side when it is
    // stopped. In any other status: S_OK and nothing changes.
    HRESULT InitAmbientLightAware();
    // Stops the sensor side when it runs. S_OK when it was stopped already.
    HRESULT UninitAmbientLightAware();

    bool IsRunning() const { return m_bRunning; }

    INT32 m_nAmbientStatus;
    INT32 m_nDarknessLux;
    INT32 m_nDimIndoorsLux;
    INT32 m_nReportInterval;

private:
    CambientLightAware();
    template <typename T> friend T* glim::GetOrCreateInstance(std::atomic<T*>&, glim::CStaticCriticalSection&);

    bool m_bRunning;
};
