// GlimSimSensor.dll: an in-process COM server registered under CLSID_SensorManager and
// CLSID_PortableDeviceValues. It shows the client the ambient light sensors that a test
// describes in the shared state (SimSensorProtocol.h) and calls the client's sinks on its
// own threads, as the platform does.
#include <windows.h>
#include <initguid.h>
#include <objbase.h>
#include <portabledevicetypes.h>
#include <propidl.h>
#include <sensorsapi.h>
#include <sensors.h>

#include <new>
#include <vector>

#include "RawVtable.h"
#include "StaticFactory.h"
#include "SimSensorProtocol.h"

using namespace simsensor;

namespace {

HMODULE g_hModule = nullptr;
CRITICAL_SECTION g_cs;
CONDITION_VARIABLE g_cvCallbackEnded = CONDITION_VARIABLE_INIT;  // with g_cs
HANDLE g_hMapping = nullptr;
Shared* g_pShared = nullptr;
HANDLE g_hCommand = nullptr;
HANDLE g_hDone = nullptr;
bool g_bServerStarted = false;

class CLock {
public:
    CLock() { EnterCriticalSection(&g_cs); }
    virtual ~CLock() { LeaveCriticalSection(&g_cs); }
};

bool OpenShared()
{
    CLock lock;
    if (g_pShared)
        return true;
    g_hMapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(Shared), kMappingName);
    if (!g_hMapping)
        return false;
    g_pShared = static_cast<Shared*>(MapViewOfFile(g_hMapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(Shared)));
    g_hCommand = CreateEventW(nullptr, FALSE, FALSE, kCommandEvent);
    g_hDone = CreateEventW(nullptr, FALSE, FALSE, kDoneEvent);
    return g_pShared != nullptr;
}

Slot& SlotOf(int nSlot)
{
    return g_pShared->slots[nSlot];
}

template <typename T>
void SinkRefChange(T* pOld, T* pNew)
{
    if (pNew)
        InterlockedIncrement(&g_pShared->nSinkRefs);
    if (pOld)
        InterlockedDecrement(&g_pShared->nSinkRefs);
}

// ---------------------------------------------------------------------------------------
// IPortableDeviceValues, hand-built: 43 slots, the few a sensor client uses are served.

constexpr int kValuesTag = 1;
constexpr int kValuesSlots = 43;

struct CSimValues : simcom::CRawObject {
    std::vector<std::pair<PROPERTYKEY, PROPVARIANT>> m_values;
};

PROPVARIANT* FindValue(CSimValues* p, REFPROPERTYKEY key)
{
    for (auto& entry : p->m_values) {
        if (IsEqualGUID(entry.first.fmtid, key.fmtid) && entry.first.pid == key.pid)
            return &entry.second;
    }
    return nullptr;
}

HRESULT STDMETHODCALLTYPE Values_SetValue(CSimValues* p, REFPROPERTYKEY key, const PROPVARIANT* pValue)
{
    if (!pValue)
        return E_POINTER;
    PROPVARIANT* pSlot = FindValue(p, key);
    if (!pSlot) {
        p->m_values.push_back({key, PROPVARIANT{}});
        pSlot = &p->m_values.back().second;
        PropVariantInit(pSlot);
    }
    PropVariantClear(pSlot);
    return PropVariantCopy(pSlot, pValue);
}

HRESULT STDMETHODCALLTYPE Values_GetValue(CSimValues* p, REFPROPERTYKEY key, PROPVARIANT* pValue)
{
    PROPVARIANT* pSlot = FindValue(p, key);
    if (!pValue)
        return E_POINTER;
    if (!pSlot)
        return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    return PropVariantCopy(pValue, pSlot);
}

HRESULT STDMETHODCALLTYPE Values_QueryInterface(CSimValues* p, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPortableDeviceValues)) {
        InterlockedIncrement(&p->m_cRef);
        *ppv = p;
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE Values_AddRef(CSimValues* p)
{
    return InterlockedIncrement(&p->m_cRef);
}

HRESULT STDMETHODCALLTYPE Values_Clear(CSimValues* p)
{
    for (auto& entry : p->m_values)
        PropVariantClear(&entry.second);
    p->m_values.clear();
    return S_OK;
}

ULONG STDMETHODCALLTYPE Values_Release(CSimValues* p)
{
    const LONG cRef = InterlockedDecrement(&p->m_cRef);
    if (cRef == 0) {
        Values_Clear(p);
        delete p;
    }
    return cRef;
}

HRESULT STDMETHODCALLTYPE Values_GetCount(CSimValues* p, DWORD* pcValues)
{
    if (!pcValues)
        return E_POINTER;
    *pcValues = static_cast<DWORD>(p->m_values.size());
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Values_SetUnsigned(CSimValues* p, REFPROPERTYKEY key, ULONG ulValue)
{
    PROPVARIANT pv;
    PropVariantInit(&pv);
    pv.vt = VT_UI4;
    pv.ulVal = ulValue;
    return Values_SetValue(p, key, &pv);
}

HRESULT STDMETHODCALLTYPE Values_GetUnsigned(CSimValues* p, REFPROPERTYKEY key, ULONG* pulValue)
{
    PROPVARIANT* pSlot = FindValue(p, key);
    if (!pulValue)
        return E_POINTER;
    if (!pSlot)
        return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    if (pSlot->vt != VT_UI4)
        return DISP_E_TYPEMISMATCH;
    *pulValue = pSlot->ulVal;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Values_SetError(CSimValues* p, REFPROPERTYKEY key, HRESULT hrValue)
{
    PROPVARIANT pv;
    PropVariantInit(&pv);
    pv.vt = VT_ERROR;
    pv.scode = hrValue;
    return Values_SetValue(p, key, &pv);
}

HRESULT STDMETHODCALLTYPE Values_GetError(CSimValues* p, REFPROPERTYKEY key, HRESULT* phrValue)
{
    PROPVARIANT* pSlot = FindValue(p, key);
    if (!phrValue)
        return E_POINTER;
    if (!pSlot)
        return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    if (pSlot->vt != VT_ERROR)
        return DISP_E_TYPEMISMATCH;
    *phrValue = pSlot->scode;
    return S_OK;
}

struct CValuesVtable : simcom::CRawVtable<kValuesTag, kValuesSlots> {
    CValuesVtable()
    {
        Set(0, &Values_QueryInterface);
        Set(1, &Values_AddRef);
        Set(2, &Values_Release);
        Set(3, &Values_GetCount);
        Set(5, &Values_SetValue);
        Set(6, &Values_GetValue);
        Set(9, &Values_SetUnsigned);
        Set(10, &Values_GetUnsigned);
        Set(19, &Values_SetError);
        Set(20, &Values_GetError);
        Set(42, &Values_Clear);
    }
};
CValuesVtable g_valuesVtable;

IPortableDeviceValues* NewValues()
{
    CSimValues* p = new (std::nothrow) CSimValues();
    if (!p)
        return nullptr;
    p->m_pVtbl = g_valuesVtable.m_apSlots;
    p->m_cRef = 1;
    return reinterpret_cast<IPortableDeviceValues*>(p);
}

// ---------------------------------------------------------------------------------------
// Data report

class CSimReport : public ISensorDataReport {
public:
    explicit CSimReport(float fLux) : m_cRef(1), m_fLux(fLux) {}
    virtual ~CSimReport() = default;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ISensorDataReport)) {
            AddRef();
            *ppv = static_cast<ISensorDataReport*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_cRef); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const LONG cRef = InterlockedDecrement(&m_cRef);
        if (cRef == 0)
            delete this;
        return cRef;
    }
    STDMETHODIMP GetTimestamp(SYSTEMTIME* pTime) override
    {
        if (!pTime)
            return E_POINTER;
        GetSystemTime(pTime);
        return S_OK;
    }
    STDMETHODIMP GetSensorValue(REFPROPERTYKEY key, PROPVARIANT* pValue) override
    {
        if (!pValue)
            return E_POINTER;
        if (!IsEqualGUID(key.fmtid, SENSOR_DATA_TYPE_LIGHT_LEVEL_LUX.fmtid) ||
            key.pid != SENSOR_DATA_TYPE_LIGHT_LEVEL_LUX.pid)
            return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
        PropVariantInit(pValue);
        pValue->vt = VT_R4;
        pValue->fltVal = m_fLux;
        return S_OK;
    }
    STDMETHODIMP GetSensorValues(IPortableDeviceKeyCollection*, IPortableDeviceValues**) override { return E_NOTIMPL; }

private:
    volatile LONG m_cRef;
    float m_fLux;
};

// ---------------------------------------------------------------------------------------
// Sensor: one object per slot and process, kept for the process's life.

class CSimSensor : public ISensor {
public:
    explicit CSimSensor(int nSlot) : m_cRef(1), m_nSlot(nSlot), m_pSink(nullptr) {}
    virtual ~CSimSensor() = default;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ISensor)) {
            AddRef();
            *ppv = static_cast<ISensor*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_cRef); }
    STDMETHODIMP_(ULONG) Release() override
    {
        // The cache holds one reference for the process's life; the object is not freed.
        return InterlockedDecrement(&m_cRef);
    }

    STDMETHODIMP GetID(SENSOR_ID* pID) override
    {
        if (!pID)
            return E_POINTER;
        *pID = SlotOf(m_nSlot).id;
        return S_OK;
    }
    STDMETHODIMP GetCategory(SENSOR_CATEGORY_ID* pCategory) override
    {
        if (!pCategory)
            return E_POINTER;
        *pCategory = SENSOR_CATEGORY_LIGHT;
        return S_OK;
    }
    STDMETHODIMP GetType(SENSOR_TYPE_ID* pType) override
    {
        if (!pType)
            return E_POINTER;
        *pType = SlotOf(m_nSlot).type;
        return S_OK;
    }
    STDMETHODIMP GetFriendlyName(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP GetProperty(REFPROPERTYKEY, PROPVARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetProperties(IPortableDeviceKeyCollection*, IPortableDeviceValues**) override { return E_NOTIMPL; }
    STDMETHODIMP GetSupportedDataFields(IPortableDeviceKeyCollection**) override { return E_NOTIMPL; }
    STDMETHODIMP SetProperties(IPortableDeviceValues* pValues, IPortableDeviceValues** ppResults) override
    {
        if (!pValues || !ppResults)
            return E_POINTER;
        *ppResults = nullptr;
        ULONG ulInterval = 0;
        HRESULT hr = pValues->GetUnsignedIntegerValue(SENSOR_PROPERTY_CURRENT_REPORT_INTERVAL, &ulInterval);
        if (FAILED(hr))
            return hr;
        IPortableDeviceValues* pResults = NewValues();
        if (!pResults)
            return E_OUTOFMEMORY;
        Slot& slot = SlotOf(m_nSlot);
        InterlockedIncrement(&slot.nIntervalRequests);
        const HRESULT hrRefused = slot.hrIntervalError;
        pResults->SetErrorValue(SENSOR_PROPERTY_CURRENT_REPORT_INTERVAL, hrRefused ? hrRefused : S_OK);
        *ppResults = pResults;
        if (hrRefused)
            return S_FALSE;
        slot.ulInterval = ulInterval;
        return S_OK;
    }
    STDMETHODIMP SupportsDataField(REFPROPERTYKEY, VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP GetState(SensorState* pState) override
    {
        if (!pState)
            return E_POINTER;
        *pState = static_cast<SensorState>(SlotOf(m_nSlot).nState);
        return S_OK;
    }
    STDMETHODIMP GetData(ISensorDataReport** ppReport) override
    {
        if (!ppReport)
            return E_POINTER;
        *ppReport = nullptr;
        const Slot& slot = SlotOf(m_nSlot);
        if (slot.hrReadError)
            return slot.hrReadError;
        *ppReport = new (std::nothrow) CSimReport(slot.fLux);
        return *ppReport ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHODIMP SupportsEvent(REFGUID, VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP GetEventInterest(GUID**, ULONG*) override { return E_NOTIMPL; }
    STDMETHODIMP SetEventInterest(GUID*, ULONG) override { return E_NOTIMPL; }
    STDMETHODIMP SetEventSink(ISensorEvents* pEvents) override
    {
        ISensorEvents* pOld = nullptr;
        {
            CLock lock;
            if (pEvents)
                pEvents->AddRef();
            pOld = m_pSink;
            m_pSink = pEvents;
            SinkRefChange(pOld, pEvents);
            SlotOf(m_nSlot).bSinkSet = pEvents ? 1 : 0;
            if (!pEvents)
                WaitForCallbacksInFlight();
        }
        if (pOld)
            pOld->Release();
        return S_OK;
    }

    // The current sink for one callback, or NULL. The sink is referenced and the callback
    // counted as in flight until EndCallback, so that a concurrent SetEventSink(NULL)
    // neither frees the sink mid-call nor returns before the call has.
    ISensorEvents* BeginCallback()
    {
        CLock lock;
        if (!m_pSink)
            return nullptr;
        m_pSink->AddRef();
        ++m_nInFlight;
        ++t_anInCallback[m_nSlot];
        InterlockedIncrement(&g_pShared->nCallbacksInFlight);
        return m_pSink;
    }
    void EndCallback(ISensorEvents* pSink)
    {
        {
            CLock lock;
            --m_nInFlight;
            --t_anInCallback[m_nSlot];
            InterlockedDecrement(&g_pShared->nCallbacksInFlight);
        }
        WakeAllConditionVariable(&g_cvCallbackEnded);
        pSink->Release();
    }

private:
    // Under g_cs. A callback of this sensor on the detaching thread itself is not waited for.
    void WaitForCallbacksInFlight()
    {
        const ULONGLONG ullDeadline = GetTickCount64() + kDetachWaitLimitMs;
        while (m_nInFlight > t_anInCallback[m_nSlot]) {
            const ULONGLONG ullNow = GetTickCount64();
            if (ullNow >= ullDeadline ||
                (!SleepConditionVariableCS(&g_cvCallbackEnded, &g_cs, static_cast<DWORD>(ullDeadline - ullNow)) &&
                 GetLastError() != ERROR_TIMEOUT)) {
                InterlockedIncrement(&g_pShared->nDetachTimeouts);
                return;
            }
        }
    }

    static thread_local int t_anInCallback[kMaxSensors];
    int m_nInFlight = 0;
    volatile LONG m_cRef;
    int m_nSlot;
    ISensorEvents* m_pSink;
};

thread_local int CSimSensor::t_anInCallback[kMaxSensors] = {};
CSimSensor* g_apSensors[kMaxSensors] = {};

CSimSensor* SensorOf(int nSlot)
{
    CLock lock;
    if (!g_apSensors[nSlot])
        g_apSensors[nSlot] = new CSimSensor(nSlot);
    return g_apSensors[nSlot];
}

// ---------------------------------------------------------------------------------------
// Collection

class CSimCollection : public ISensorCollection {
public:
    CSimCollection() : m_cRef(1) {}
    virtual ~CSimCollection()
    {
        for (ISensor* p : m_sensors)
            p->Release();
    }
    void Append(ISensor* p)
    {
        p->AddRef();
        m_sensors.push_back(p);
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ISensorCollection)) {
            AddRef();
            *ppv = static_cast<ISensorCollection*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_cRef); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const LONG cRef = InterlockedDecrement(&m_cRef);
        if (cRef == 0)
            delete this;
        return cRef;
    }
    STDMETHODIMP GetAt(ULONG ulIndex, ISensor** ppSensor) override
    {
        if (!ppSensor)
            return E_POINTER;
        *ppSensor = nullptr;
        if (ulIndex >= m_sensors.size())
            return E_INVALIDARG;
        *ppSensor = m_sensors[ulIndex];
        (*ppSensor)->AddRef();
        return S_OK;
    }
    STDMETHODIMP GetCount(ULONG* pCount) override
    {
        if (!pCount)
            return E_POINTER;
        *pCount = static_cast<ULONG>(m_sensors.size());
        return S_OK;
    }
    STDMETHODIMP Add(ISensor*) override { return E_NOTIMPL; }
    STDMETHODIMP Remove(ISensor*) override { return E_NOTIMPL; }
    STDMETHODIMP RemoveByID(REFSENSOR_ID) override { return E_NOTIMPL; }
    STDMETHODIMP Clear() override { return E_NOTIMPL; }

private:
    volatile LONG m_cRef;
    std::vector<ISensor*> m_sensors;
};

// ---------------------------------------------------------------------------------------
// Sensor manager

class CSimManager;
std::vector<CSimManager*> g_managers;

class CSimManager : public ISensorManager {
public:
    CSimManager() : m_cRef(1), m_pSink(nullptr)
    {
        CLock lock;
        g_managers.push_back(this);
        InterlockedIncrement(&g_pShared->nManagers);
    }
    virtual ~CSimManager()
    {
        {
            CLock lock;
            for (size_t i = 0; i < g_managers.size(); ++i) {
                if (g_managers[i] == this) {
                    g_managers.erase(g_managers.begin() + static_cast<long>(i));
                    break;
                }
            }
            InterlockedDecrement(&g_pShared->nManagers);
        }
        SetEventSink(nullptr);
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ISensorManager)) {
            AddRef();
            *ppv = static_cast<ISensorManager*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_cRef); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const LONG cRef = InterlockedDecrement(&m_cRef);
        if (cRef == 0)
            delete this;
        return cRef;
    }
    STDMETHODIMP GetSensorsByCategory(REFSENSOR_CATEGORY_ID, ISensorCollection**) override { return E_NOTIMPL; }
    STDMETHODIMP GetSensorsByType(REFSENSOR_TYPE_ID type, ISensorCollection** ppFound) override
    {
        if (!ppFound)
            return E_POINTER;
        *ppFound = nullptr;
        CSimCollection* pCollection = new (std::nothrow) CSimCollection();
        if (!pCollection)
            return E_OUTOFMEMORY;
        for (int i = 0; i < kMaxSensors; ++i) {
            const Slot& slot = SlotOf(i);
            if (slot.bPresent && IsEqualGUID(slot.type, type))
                pCollection->Append(SensorOf(i));
        }
        ULONG ulCount = 0;
        pCollection->GetCount(&ulCount);
        if (ulCount == 0) {
            // As the platform does when no sensor of the type is present.
            pCollection->Release();
            return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
        }
        *ppFound = pCollection;
        return S_OK;
    }
    STDMETHODIMP GetSensorByID(REFSENSOR_ID, ISensor**) override { return E_NOTIMPL; }
    STDMETHODIMP SetEventSink(ISensorManagerEvents* pEvents) override
    {
        ISensorManagerEvents* pOld = nullptr;
        {
            CLock lock;
            if (pEvents)
                pEvents->AddRef();
            pOld = m_pSink;
            m_pSink = pEvents;
            SinkRefChange(pOld, pEvents);
        }
        if (pOld)
            pOld->Release();
        return S_OK;
    }
    STDMETHODIMP RequestPermissions(HWND, ISensorCollection*, BOOL) override { return E_NOTIMPL; }

    ISensorManagerEvents* SinkRef()
    {
        if (m_pSink)
            m_pSink->AddRef();
        return m_pSink;
    }

private:
    volatile LONG m_cRef;
    ISensorManagerEvents* m_pSink;
};

// ---------------------------------------------------------------------------------------
// The command server: one thread per process that created a sensor manager.

HRESULT DeliverData(int nSlot)
{
    CSimSensor* pSensor = SensorOf(nSlot);
    ISensorEvents* pSink = pSensor->BeginCallback();
    if (!pSink)
        return S_FALSE;
    CSimReport* pReport = new (std::nothrow) CSimReport(SlotOf(nSlot).fLux);
    HRESULT hr = E_OUTOFMEMORY;
    if (pReport) {
        hr = pSink->OnDataUpdated(pSensor, pReport);
        pReport->Release();
    }
    pSensor->EndCallback(pSink);
    return hr;
}

struct BurstArgs {
    int nSlot;
    int nReports;
};

DWORD WINAPI BurstThread(void* pArg)
{
    BurstArgs* pArgs = static_cast<BurstArgs*>(pArg);
    for (int i = 0; i < pArgs->nReports; ++i)
        DeliverData(pArgs->nSlot);
    delete pArgs;
    InterlockedDecrement(&g_pShared->nBurstThreads);
    return 0;
}

// Enter (ready) then leave, as a flaky sensor driver does.
void FlapOnce(int nSlot)
{
    std::vector<ISensorManagerEvents*> sinks;
    {
        CLock lock;
        for (CSimManager* pManager : g_managers) {
            if (ISensorManagerEvents* p = pManager->SinkRef())
                sinks.push_back(p);
        }
    }
    CSimSensor* pSensor = SensorOf(nSlot);
    for (ISensorManagerEvents* p : sinks) {
        p->OnSensorEnter(pSensor, SENSOR_STATE_READY);
        p->Release();
    }
    if (ISensorEvents* pSink = pSensor->BeginCallback()) {
        pSink->OnLeave(SlotOf(nSlot).id);
        pSensor->EndCallback(pSink);
    }
    pSensor->SetEventSink(nullptr);
}

DWORD WINAPI FlapThread(void* pArg)
{
    BurstArgs* pArgs = static_cast<BurstArgs*>(pArg);
    for (int i = 0; i < pArgs->nReports; ++i)
        FlapOnce(pArgs->nSlot);
    delete pArgs;
    InterlockedDecrement(&g_pShared->nBurstThreads);
    return 0;
}

void StartWorker(LPTHREAD_START_ROUTINE pfn, int nSlot, int nCount)
{
    BurstArgs* pArgs = new BurstArgs{nSlot, nCount};
    InterlockedIncrement(&g_pShared->nBurstThreads);
    HANDLE hThread = CreateThread(nullptr, 0, pfn, pArgs, 0, nullptr);
    if (hThread) {
        CloseHandle(hThread);
    } else {
        InterlockedDecrement(&g_pShared->nBurstThreads);
        delete pArgs;
    }
}

HRESULT RunCommand(LONG nOp, int nSlot, LONG nArg, LONG nArg2)
{
    if (nSlot < 0 || nSlot >= kMaxSensors)
        return E_INVALIDARG;
    Slot& slot = SlotOf(nSlot);
    CSimSensor* pSensor = SensorOf(nSlot);
    switch (nOp) {
    case OpEnter: {
        slot.bPresent = 1;
        std::vector<ISensorManagerEvents*> sinks;
        {
            CLock lock;
            for (CSimManager* pManager : g_managers) {
                if (ISensorManagerEvents* p = pManager->SinkRef())
                    sinks.push_back(p);
            }
        }
        HRESULT hr = S_FALSE;
        for (ISensorManagerEvents* p : sinks) {
            hr = p->OnSensorEnter(pSensor, static_cast<SensorState>(slot.nState));
            p->Release();
        }
        return hr;
    }
    case OpLeave: {
        slot.bPresent = 0;
        ISensorEvents* pSink = pSensor->BeginCallback();
        HRESULT hr = S_FALSE;
        if (pSink) {
            hr = pSink->OnLeave(slot.id);
            pSensor->EndCallback(pSink);
        }
        // The platform forgets a departed sensor's sink.
        pSensor->SetEventSink(nullptr);
        return hr;
    }
    case OpStateChanged: {
        ISensorEvents* pSink = pSensor->BeginCallback();
        if (!pSink)
            return S_FALSE;
        const HRESULT hr = pSink->OnStateChanged(pSensor, static_cast<SensorState>(slot.nState));
        pSensor->EndCallback(pSink);
        return hr;
    }
    case OpDataUpdated: return DeliverData(nSlot);
    case OpDataBurst:
        for (LONG i = 0; i < nArg; ++i)
            StartWorker(BurstThread, nSlot, static_cast<int>(nArg2));
        return S_OK;
    case OpFlap:
        slot.bPresent = 1;
        StartWorker(FlapThread, nSlot, static_cast<int>(nArg));
        return S_OK;
    default: return E_INVALIDARG;
    }
}

DWORD WINAPI ServerThread(void*)
{
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    for (;;) {
        if (WaitForSingleObject(g_hCommand, INFINITE) != WAIT_OBJECT_0)
            break;
        g_pShared->hrResult = RunCommand(g_pShared->nOp, g_pShared->nSlot, g_pShared->nArg, g_pShared->nArg2);
        SetEvent(g_hDone);
    }
    return 0;
}

void StartServer()
{
    CLock lock;
    if (g_bServerStarted)
        return;
    HANDLE hThread = CreateThread(nullptr, 0, ServerThread, nullptr, 0, nullptr);
    if (!hThread)
        return;
    CloseHandle(hThread);
    g_bServerStarted = true;
    g_pShared->bServerRunning = 1;
}

// ---------------------------------------------------------------------------------------
// Class factory

IUnknown* CreateManager()
{
    if (!OpenShared())
        return nullptr;
    StartServer();
    return new (std::nothrow) CSimManager();
}

IUnknown* CreateValues()
{
    return OpenShared() ? reinterpret_cast<IUnknown*>(NewValues()) : nullptr;
}

simcom::CStaticFactory g_managerFactory(CreateManager);
simcom::CStaticFactory g_valuesFactory(CreateValues);

}  // namespace

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv)
{
    if (IsEqualCLSID(rclsid, CLSID_SensorManager))
        return g_managerFactory.QueryInterface(riid, ppv);
    if (IsEqualCLSID(rclsid, CLSID_PortableDeviceValues))
        return g_valuesFactory.QueryInterface(riid, ppv);
    if (ppv)
        *ppv = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT WINAPI DllCanUnloadNow()
{
    // The server thread and the sensor cache live as long as the process.
    return S_FALSE;
}

BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, void*)
{
    if (dwReason == DLL_PROCESS_ATTACH) {
        g_hModule = hInstance;
        InitializeCriticalSection(&g_cs);
        DisableThreadLibraryCalls(hInstance);
    } else if (dwReason == DLL_PROCESS_DETACH && g_pShared && g_bServerStarted) {
        g_pShared->bServerRunning = 0;
    }
    return TRUE;
}
