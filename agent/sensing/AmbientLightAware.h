// The ambient light input of the Auto status: every ambient light sensor of the Windows
// Sensor API, their latest lux readings, and the mean of the valid ones handed to the
// manager after every report, state change or departure.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <portabledevicetypes.h>
#include <sensorsapi.h>
#include <sensors.h>

#include <atomic>
#include <unordered_map>

#include "ComObject.h"
#include "Lock.h"
#include "ScopedHandle.h"
#include "Singleton.h"

namespace glim {

// Sensor API identifiers the agent uses (their values are fixed by the platform).
extern const CLSID kCLSID_SensorManager;
extern const IID kIID_ISensorManager;
extern const GUID kSENSOR_TYPE_AMBIENT_LIGHT;
extern const PROPERTYKEY kSENSOR_DATA_TYPE_LIGHT_LEVEL_LUX;
extern const PROPERTYKEY kSENSOR_PROPERTY_CURRENT_REPORT_INTERVAL;
extern const CLSID kCLSID_PortableDeviceValues;
extern const IID kIID_IPortableDeviceValues;
extern const IID kIID_ISensorEvents;
extern const IID kIID_ISensorManagerEvents;

struct GuidHash {
    size_t operator()(const GUID& guid) const;
};
struct GuidEqual {
    bool operator()(const GUID& a, const GUID& b) const { return IsEqualGUID(a, b) != 0; }
};

// The mean of the valid readings (>= 0; NaN is not valid) and their number; 0 and 0 when
// none is left.
void AverageLux(const std::unordered_map<GUID, float, GuidHash, GuidEqual>& mapLux, float* pfAverage, int* pnCount);

}  // namespace glim

// The manager-side delivery of the mean lux (sends WM_LUX to the manager's window).
// Defined with the manager; returns 0.
int DeliverLux(float fLux, int nCount);

typedef int (*PFN_LUX_CALLBACK)(float fLux, int nCount);

class CAmbientLightAwareSensorManagerEvents;

// The sink of the sensors' own events, shared by all sensors.
class CAmbientLightAwareSensorEvents
    : public glim::CComObject<CAmbientLightAwareSensorEvents, ISensorEvents, glim::kIID_ISensorEvents> {
public:
    CAmbientLightAwareSensorEvents(PFN_LUX_CALLBACK pfnLuxCallback,
                                   CAmbientLightAwareSensorManagerEvents* pManagerEvents);

    STDMETHODIMP OnStateChanged(ISensor* pSensor, SensorState state) override;
    STDMETHODIMP OnDataUpdated(ISensor* pSensor, ISensorDataReport* pNewData) override;
    STDMETHODIMP OnEvent(ISensor* pSensor, REFGUID eventID, IPortableDeviceValues* pEventData) override;
    STDMETHODIMP OnLeave(REFSENSOR_ID sensorID) override;

    virtual ~CAmbientLightAwareSensorEvents();

    HRESULT ReadSensorData(ISensor* pSensor);
    HRESULT UpdateLuxFromReport(ISensor* pSensor, ISensorDataReport* pReport);
    HRESULT PublishAverageLux();

    // The manager-event sink is going away: OnLeave no longer reaches its sensor map.
    void DetachManagerEvents();

private:
    HRESULT StoreLuxAndPublish(const SENSOR_ID& id, float fLux);

    PFN_LUX_CALLBACK m_pfnLuxCallback;
    // Both under the sensor maps' lock, shared with the manager sink's map.
    glim::CGuarded<CAmbientLightAwareSensorManagerEvents*> m_pManagerEvents;
    glim::CGuarded<std::unordered_map<GUID, float, glim::GuidHash, glim::GuidEqual>> m_mapLux;
};

// The sink of sensor arrival; holds the sensor manager and the subscribed sensors.
class CAmbientLightAwareSensorManagerEvents
    : public glim::CComObject<CAmbientLightAwareSensorManagerEvents, ISensorManagerEvents,
                              glim::kIID_ISensorManagerEvents> {
public:
    CAmbientLightAwareSensorManagerEvents();

    STDMETHODIMP OnSensorEnter(ISensor* pSensor, SensorState state) override;

    virtual ~CAmbientLightAwareSensorManagerEvents();

    HRESULT AttachSensor(ISensor* pSensor);
    HRESULT ReleaseAllSensors();
    HRESULT SetCurrentReportInterval(ISensor* pSensor, ULONG ulMilliseconds);

    // Takes the sensor stored under id out of the map; empty when absent.
    glim::CComRef<ISensor> TakeSensor(const SENSOR_ID& id);

    glim::CComRef<CAmbientLightAwareSensorEvents> m_pSensorEvents;
    glim::CComRef<ISensorManager> m_pSensorManager;
    // One reference per subscribed sensor, under the sensor maps' lock.
    glim::CGuarded<std::unordered_map<GUID, glim::CComRef<ISensor>, glim::GuidHash, glim::GuidEqual>> m_mapSensors;

private:
    void RemoveSensor(glim::CComRef<ISensor>& sensor);
};

class CambientLightAware {
public:
    static CambientLightAware* GetInstance();
    virtual ~CambientLightAware();

    HRESULT InitAmbientLightAware();
    HRESULT UninitAmbientLightAware();
    bool IsRunning() const { return static_cast<bool>(m_pSensorManagerEvents); }

    glim::CComRef<CAmbientLightAwareSensorManagerEvents> m_pSensorManagerEvents;
    int m_nAmbientStatus;
    int m_nDimIndoorsLux;
    int m_nDarknessLux;
    int m_nReportInterval;

private:
    CambientLightAware();
    template <typename T>
    friend T* glim::GetOrCreateInstance(std::atomic<T*>&, glim::CStaticCriticalSection&);
    HRESULT FindAndAttachSensors(CAmbientLightAwareSensorManagerEvents* pSink);
};
