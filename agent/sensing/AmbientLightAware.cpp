#include "AmbientLightAware.h"

#include <propidl.h>

#include <utility>
#include <vector>

#include "../MainThread.h"
#include "GlimLog.h"
#include "GlimNames.h"
#include "SettingsFile.h"

using namespace glim;

namespace glim {
const CLSID kCLSID_SensorManager = {0x77a1c827, 0xfcd2, 0x4689, {0x89, 0x15, 0x9d, 0x61, 0x3c, 0xc5, 0xfa, 0x3e}};
const IID kIID_ISensorManager = {0xbd77db67, 0x45a8, 0x42dc, {0x8d, 0x00, 0x6d, 0xcf, 0x15, 0xf8, 0x37, 0x7a}};
const GUID kSENSOR_TYPE_AMBIENT_LIGHT = {0x97f115c8, 0x599a, 0x4153, {0x88, 0x94, 0xd2, 0xd1, 0x28, 0x99, 0x91, 0x8a}};
const PROPERTYKEY kSENSOR_DATA_TYPE_LIGHT_LEVEL_LUX = {
    {0xe4c77ce2, 0xdcb7, 0x46e9, {0x84, 0x39, 0x4f, 0xec, 0x54, 0x88, 0x33, 0xa6}}, 2};
const PROPERTYKEY kSENSOR_PROPERTY_CURRENT_REPORT_INTERVAL = {
    {0x7f8383ec, 0xd3ec, 0x495c, {0xa8, 0xcf, 0xb8, 0xbb, 0xe8, 0x5c, 0x29, 0x20}}, 13};
const CLSID kCLSID_PortableDeviceValues = {
    0x0c15d503, 0xd017, 0x47ce, {0x90, 0x16, 0x7b, 0x3f, 0x97, 0x87, 0x21, 0xcc}};
const IID kIID_IPortableDeviceValues = {0x6848f6f2, 0x3155, 0x4f86, {0xb6, 0xf5, 0x26, 0x3e, 0xee, 0xab, 0x31, 0x43}};
const IID kIID_ISensorEvents = {0x5d8dcc91, 0x4641, 0x47e7, {0xb7, 0xc3, 0xb7, 0x4f, 0x48, 0xa6, 0xc3, 0x91}};
const IID kIID_ISensorManagerEvents = {0x9b3b0b86, 0x266a, 0x4aad, {0xb2, 0x1f, 0xfd, 0xe5, 0x50, 0x10, 0x01, 0xb7}};

size_t GuidHash::operator()(const GUID& guid) const
{
    const unsigned long long* p = reinterpret_cast<const unsigned long long*>(&guid);
    return static_cast<size_t>(p[0] ^ (p[1] * 0x9E3779B97F4A7C15ull));
}

void AverageLux(const std::unordered_map<GUID, float, GuidHash, GuidEqual>& mapLux, float* pfAverage, int* pnCount)
{
    float fSum = 0.0f;
    float fCount = 0.0f;
    for (const auto& entry : mapLux) {
        if (entry.second >= 0.0f) {
            fCount += 1.0f;
            fSum += entry.second;
        }
    }
    *pfAverage = fCount > 0.0f ? fSum / fCount : 0.0f;
    *pnCount = static_cast<int>(fCount);
}
}  // namespace glim

namespace {

constexpr float kNoReading = -1.0f;

std::atomic<CambientLightAware*> g_pAmbientLightAware{nullptr};
CStaticCriticalSection g_csAmbientLightAware;

// The platform calls the sinks on threads of its own while the main thread attaches and
// detaches sensors: both maps and the sinks' back pointer are reached only through a hold on
// this lock (CGuarded). It is never held across a call into the platform or the lux
// callback, so neither side can block the other through it.
CStaticCriticalSection g_csSensorMaps;

}  // namespace

// ---------------------------------------------------------------------------------------
// CAmbientLightAwareSensorEvents

CAmbientLightAwareSensorEvents::CAmbientLightAwareSensorEvents(PFN_LUX_CALLBACK pfnLuxCallback,
                                                               CAmbientLightAwareSensorManagerEvents* pManagerEvents)
    : m_pfnLuxCallback(pfnLuxCallback)
    , m_pManagerEvents(&g_csSensorMaps)
    , m_mapLux(&g_csSensorMaps)
{
    *m_pManagerEvents.Hold() = pManagerEvents;
}

CAmbientLightAwareSensorEvents::~CAmbientLightAwareSensorEvents()
{
    m_mapLux.Hold()->clear();
}

void CAmbientLightAwareSensorEvents::DetachManagerEvents()
{
    *m_pManagerEvents.Hold() = nullptr;
}

STDMETHODIMP CAmbientLightAwareSensorEvents::OnStateChanged(ISensor* pSensor, SensorState state)
{
    static const wchar_t kLabel[] = L"CAmbientLightAwareSensorEvents::OnStateChanged";
    if (!pSensor)
        return E_POINTER;
    SENSOR_ID id = GUID_NULL;
    HRESULT hr = pSensor->GetID(&id);
    if (FAILED(hr))
        return hr;
    if (state == SENSOR_STATE_READY) {
        GLIM_LOG('D', kLabel, L"sensor is ready");
        return ReadSensorData(pSensor);
    }
    GLIM_LOG('D', kLabel, L"sensor is not ready");
    return StoreLuxAndPublish(id, kNoReading);
}

HRESULT CAmbientLightAwareSensorEvents::ReadSensorData(ISensor* pSensor)
{
    if (!pSensor)
        return E_POINTER;
    CComRef<ISensorDataReport> report;
    HRESULT hr = pSensor->GetData(report.Put());
    if (SUCCEEDED(hr))
        return UpdateLuxFromReport(pSensor, report.Get());
    SENSOR_ID id = GUID_NULL;
    hr = pSensor->GetID(&id);
    if (FAILED(hr))
        return hr;
    return StoreLuxAndPublish(id, kNoReading);
}

STDMETHODIMP CAmbientLightAwareSensorEvents::OnDataUpdated(ISensor* pSensor, ISensorDataReport* pNewData)
{
    if (!pSensor || !pNewData)
        return E_UNEXPECTED;
    return UpdateLuxFromReport(pSensor, pNewData);
}

HRESULT CAmbientLightAwareSensorEvents::UpdateLuxFromReport(ISensor* pSensor, ISensorDataReport* pReport)
{
    if (!pSensor || !pReport)
        return E_INVALIDARG;
    SENSOR_ID id = GUID_NULL;
    HRESULT hr = pSensor->GetID(&id);
    if (FAILED(hr))
        return hr;
    float fLux = 0.0f;
    {
        CScopedPropVariant pv;
        hr = pReport->GetSensorValue(kSENSOR_DATA_TYPE_LIGHT_LEVEL_LUX, pv.Put());
        if (FAILED(hr))
            return hr;
        // The platform reports this key as VT_R4; the float member is taken as it is.
        fLux = pv->fltVal;
    }
    return StoreLuxAndPublish(id, fLux);
}

STDMETHODIMP CAmbientLightAwareSensorEvents::OnEvent(ISensor*, REFGUID, IPortableDeviceValues*)
{
    return E_NOTIMPL;
}

STDMETHODIMP CAmbientLightAwareSensorEvents::OnLeave(REFSENSOR_ID sensorID)
{
    CComRef<ISensor> sensor;
    bool bHadLux = false;
    float fAverage = 0.0f;
    int nCount = 0;
    {
        const auto pManagerEvents = m_pManagerEvents.Hold();
        if (*pManagerEvents)
            sensor = (*pManagerEvents)->TakeSensor(sensorID);
        if (!sensor)
            return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
        const auto mapLux = m_mapLux.Hold();
        bHadLux = mapLux->erase(sensorID) > 0;
        if (bHadLux)
            AverageLux(*mapLux, &fAverage, &nCount);
    }
    sensor.Reset();  // outside the lock, before the callback
    if (!bHadLux)
        return S_OK;
    return m_pfnLuxCallback ? m_pfnLuxCallback(fAverage, nCount) : S_OK;
}

HRESULT CAmbientLightAwareSensorEvents::StoreLuxAndPublish(const SENSOR_ID& id, float fLux)
{
    (*m_mapLux.Hold())[id] = fLux;
    return PublishAverageLux();
}

HRESULT CAmbientLightAwareSensorEvents::PublishAverageLux()
{
    float fAverage = 0.0f;
    int nCount = 0;
    AverageLux(*m_mapLux.Hold(), &fAverage, &nCount);
    // Outside the lock: the callback posts to the main window and must not hold up the platform.
    return m_pfnLuxCallback ? m_pfnLuxCallback(fAverage, nCount) : S_OK;
}

// ---------------------------------------------------------------------------------------
// CAmbientLightAwareSensorManagerEvents

CAmbientLightAwareSensorManagerEvents::CAmbientLightAwareSensorManagerEvents() : m_mapSensors(&g_csSensorMaps)
{
}

CAmbientLightAwareSensorManagerEvents::~CAmbientLightAwareSensorManagerEvents()
{
    std::unordered_map<GUID, CComRef<ISensor>, GuidHash, GuidEqual> mapLeft;
    {
        const auto mapSensors = m_mapSensors.Hold();
        if (m_pSensorEvents)
            m_pSensorEvents->DetachManagerEvents();
        mapLeft.swap(*mapSensors);
    }
    // Sensors that arrived after ReleaseAllSensors detached the others.
    for (auto& entry : mapLeft)
        RemoveSensor(entry.second);
    // The sensor sink may still be referenced by a platform thread inside a callback: it
    // goes when the last reference does.
    m_pSensorEvents.Reset();
    m_pSensorManager.Reset();
}

STDMETHODIMP CAmbientLightAwareSensorManagerEvents::OnSensorEnter(ISensor* pSensor, SensorState state)
{
    if (!pSensor)
        return E_POINTER;
    SENSOR_TYPE_ID type = GUID_NULL;
    HRESULT hr = pSensor->GetType(&type);
    if (FAILED(hr))
        return hr;
    if (!IsEqualGUID(type, kSENSOR_TYPE_AMBIENT_LIGHT))
        return S_OK;
    hr = AttachSensor(pSensor);
    if (FAILED(hr))
        return hr;
    if (state == SENSOR_STATE_READY && m_pSensorEvents)
        return m_pSensorEvents->ReadSensorData(pSensor);
    return S_OK;
}

HRESULT CAmbientLightAwareSensorManagerEvents::AttachSensor(ISensor* pSensor)
{
    if (!pSensor)
        return E_POINTER;
    HRESULT hr = pSensor->SetEventSink(m_pSensorEvents.Get());
    if (FAILED(hr))
        return hr;
    SENSOR_ID id = GUID_NULL;
    hr = pSensor->GetID(&id);
    if (FAILED(hr))
        return hr;
    CComRef<ISensor> sensor = CComRef<ISensor>::Share(pSensor);
    std::swap((*m_mapSensors.Hold())[id], sensor);
    return S_OK;  // a sensor it replaced is released here, outside the lock
}

CComRef<ISensor> CAmbientLightAwareSensorManagerEvents::TakeSensor(const SENSOR_ID& id)
{
    const auto mapSensors = m_mapSensors.Hold();
    CComRef<ISensor> sensor;
    auto it = mapSensors->find(id);
    if (it != mapSensors->end()) {
        sensor = std::move(it->second);
        mapSensors->erase(it);
    }
    return sensor;
}

void CAmbientLightAwareSensorManagerEvents::RemoveSensor(CComRef<ISensor>& sensor)
{
    if (!sensor)
        return;
    GLIM_LOG('D', L"CAmbientLightAwareSensorManagerEvents::RemoveSensor", L"following take long time 10s");
    sensor->SetEventSink(nullptr);
    sensor.Reset();
}

HRESULT CAmbientLightAwareSensorManagerEvents::ReleaseAllSensors()
{
    // The entries leave the map under the lock; the platform is called outside it, since
    // detaching a sink may wait for that sensor's callbacks in flight.
    std::unordered_map<GUID, CComRef<ISensor>, GuidHash, GuidEqual> mapTaken;
    m_mapSensors.Hold()->swap(mapTaken);
    for (auto& entry : mapTaken)
        RemoveSensor(entry.second);
    if (!m_pSensorManager)
        return S_OK;
    return m_pSensorManager->SetEventSink(nullptr);
}

HRESULT CAmbientLightAwareSensorManagerEvents::SetCurrentReportInterval(ISensor* pSensor, ULONG ulMilliseconds)
{
    if (!pSensor)
        return E_POINTER;
    CComRef<IPortableDeviceValues> values;
    CComRef<IPortableDeviceValues> results;
    HRESULT hr = CoCreateInstance(kCLSID_PortableDeviceValues, nullptr, CLSCTX_INPROC_SERVER,
                                  kIID_IPortableDeviceValues, values.PutVoid());
    if (SUCCEEDED(hr))
        hr = values->SetUnsignedIntegerValue(kSENSOR_PROPERTY_CURRENT_REPORT_INTERVAL, ulMilliseconds);
    if (SUCCEEDED(hr))
        hr = pSensor->SetProperties(values.Get(), results.Put());
    if (hr == S_FALSE && results) {
        HRESULT hrError = S_OK;
        if (SUCCEEDED(results->GetErrorValue(kSENSOR_PROPERTY_CURRENT_REPORT_INTERVAL, &hrError))) {
            GLIM_LOG('D', L"CAmbientLightAwareSensorManagerEvents::SetCurrentReportInterval", L"failed with error 0x%X",
                     static_cast<unsigned>(hrError));
            hr = hrError;
        }
    }
    return hr;
}

// ---------------------------------------------------------------------------------------
// CambientLightAware

CambientLightAware::CambientLightAware()
    : m_nAmbientStatus(0)
    , m_nDimIndoorsLux(0)
    , m_nDarknessLux(0)
    , m_nReportInterval(0)
{
}

CambientLightAware::~CambientLightAware() = default;

CambientLightAware* CambientLightAware::GetInstance()
{
    return GetOrCreateInstance(g_pAmbientLightAware, g_csAmbientLightAware);
}

HRESULT CambientLightAware::InitAmbientLightAware()
{
    static const wchar_t kLabel[] = L"CambientLightAware::InitAmbientLightAware";
    GLIM_ASSERT_MAIN_THREAD(kLabel);
    if (CSettingsFile::GetInstance()->ReadInt(kKeyKBStatus, kDefKBStatus) != kStatusAuto)
        return S_OK;
    m_nAmbientStatus = 0;
    if (m_pSensorManagerEvents)
        return S_OK;

    CAmbientLightAwareSensorManagerEvents* pSink = new CAmbientLightAwareSensorManagerEvents();
    pSink->m_pSensorEvents.Attach(new CAmbientLightAwareSensorEvents(DeliverLux, pSink));
    m_pSensorManagerEvents.Attach(pSink);

    HRESULT hr = CoCreateInstance(kCLSID_SensorManager, nullptr, CLSCTX_ALL, kIID_ISensorManager,
                                  pSink->m_pSensorManager.PutVoid());
    if (SUCCEEDED(hr))
        hr = pSink->m_pSensorManager->SetEventSink(pSink);
    if (SUCCEEDED(hr))
        hr = FindAndAttachSensors(pSink);
    if (hr != S_OK)
        GLIM_LOG('E', kLabel, L"InitAmbientLightAware Failed");
    return hr;
}

HRESULT CambientLightAware::FindAndAttachSensors(CAmbientLightAwareSensorManagerEvents* pSink)
{
    CComRef<ISensorCollection> sensors;
    HRESULT hr = pSink->m_pSensorManager->GetSensorsByType(kSENSOR_TYPE_AMBIENT_LIGHT, sensors.Put());
    if (FAILED(hr))
        return hr;
    if (!sensors)
        return S_OK;
    ULONG ulCount = 0;
    hr = sensors->GetCount(&ulCount);
    for (ULONG i = 0; SUCCEEDED(hr) && i < ulCount; ++i) {
        // Each sensor is tried; the last one's result is the loop's.
        HRESULT hrSensor = S_OK;
        CComRef<ISensor> sensor;
        hrSensor = sensors->GetAt(i, sensor.Put());
        if (SUCCEEDED(hrSensor)) {
            if (m_nReportInterval > 0)
                pSink->SetCurrentReportInterval(sensor.Get(), static_cast<ULONG>(m_nReportInterval));
            hrSensor = pSink->AttachSensor(sensor.Get());
        }
        if (i + 1 == ulCount)
            hr = hrSensor;
    }
    return hr;
}

HRESULT CambientLightAware::UninitAmbientLightAware()
{
    GLIM_ASSERT_MAIN_THREAD(L"CambientLightAware::UninitAmbientLightAware");
    CComRef<CAmbientLightAwareSensorManagerEvents> sink(std::move(m_pSensorManagerEvents));
    if (!sink)
        return S_OK;
    // Detached from every sensor and from the sensor manager; a callback still running on
    // a platform thread keeps the sink alive until it returns.
    return sink->ReleaseAllSensors();
}
