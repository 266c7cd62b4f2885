#include "SimSensorDriver.h"

#include <initializer_list>

#include "Wait.h"

using namespace simsensor;

namespace glimtest {

GUID SimSensorId(int nSlot)
{
    GUID id = {0x5e450000, 0x1234, 0x4abc, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}};
    id.Data4[7] = static_cast<BYTE>(0x10 + nSlot);
    return id;
}

bool PumpingWait(HANDLE hEvent, DWORD dwTimeoutMs)
{
    const DWORD dwStart = GetTickCount();
    for (;;) {
        const DWORD dwElapsed = GetTickCount() - dwStart;
        if (dwElapsed >= dwTimeoutMs)
            return WaitForSingleObject(hEvent, 0) == WAIT_OBJECT_0;
        const DWORD dwWait = MsgWaitForMultipleObjects(1, &hEvent, FALSE, dwTimeoutMs - dwElapsed, QS_ALLINPUT);
        if (dwWait == WAIT_OBJECT_0)
            return true;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

CSimSensorDriver::CSimSensorDriver(bool bReset)
    : m_hMapping(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(Shared), kMappingName))
    , m_pShared(nullptr)
    , m_hMutex(CreateMutexW(nullptr, FALSE, kMutexName))
    , m_hCommand(CreateEventW(nullptr, FALSE, FALSE, kCommandEvent))
    , m_hDone(CreateEventW(nullptr, FALSE, FALSE, kDoneEvent))
    , m_bReset(bReset)
{
    if (m_hMapping)
        m_pShared = static_cast<Shared*>(MapViewOfFile(m_hMapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, sizeof(Shared)));
    if (m_pShared && m_bReset)
        Reset();
}

CSimSensorDriver::~CSimSensorDriver()
{
    if (m_pShared) {
        if (m_bReset)
            Reset();
        UnmapViewOfFile(m_pShared);
    }
}

void CSimSensorDriver::Reset()
{
    for (int i = 0; i < kMaxSensors; ++i) {
        Slot& slot = m_pShared->slots[i];
        slot.bPresent = 0;
        slot.hrReadError = 0;
        slot.hrIntervalError = 0;
        slot.ulInterval = 0;
        slot.nIntervalRequests = 0;
    }
    m_pShared->nDetachTimeouts = 0;
}

void CSimSensorDriver::Describe(int nSlot, float fLux, LONG nState, const GUID& type)
{
    Slot& slot = m_pShared->slots[nSlot];
    slot.id = SimSensorId(nSlot);
    slot.type = type;
    slot.nState = nState;
    slot.fLux = fLux;
    slot.bPresent = 1;
}

HRESULT CSimSensorDriver::Send(LONG nOp, int nSlot, LONG nArg, LONG nArg2)
{
    if (!m_pShared)
        return E_FAIL;
    WaitForSingleObject(m_hMutex.Get(), INFINITE);
    m_pShared->nOp = nOp;
    m_pShared->nSlot = nSlot;
    m_pShared->nArg = nArg;
    m_pShared->nArg2 = nArg2;
    ResetEvent(m_hDone.Get());
    SetEvent(m_hCommand.Get());
    const HRESULT hr = PumpingWait(m_hDone.Get(), 5000) ? m_pShared->hrResult : HRESULT_FROM_WIN32(WAIT_TIMEOUT);
    ReleaseMutex(m_hMutex.Get());
    return hr;
}

HRESULT CSimSensorDriver::Enter(int nSlot, float fLux, LONG nState, const GUID& type)
{
    Describe(nSlot, fLux, nState, type);
    m_pShared->slots[nSlot].bPresent = 0;
    return Send(OpEnter, nSlot);
}

HRESULT CSimSensorDriver::Leave(int nSlot)
{
    return Send(OpLeave, nSlot);
}

HRESULT CSimSensorDriver::ChangeState(int nSlot, LONG nState)
{
    m_pShared->slots[nSlot].nState = nState;
    return Send(OpStateChanged, nSlot);
}

HRESULT CSimSensorDriver::Report(int nSlot, float fLux)
{
    m_pShared->slots[nSlot].fLux = fLux;
    return Send(OpDataUpdated, nSlot);
}

HRESULT CSimSensorDriver::Burst(int nSlot, int nThreads, int nReports)
{
    return Send(OpDataBurst, nSlot, nThreads, nReports);
}

HRESULT CSimSensorDriver::Flap(int nSlot, int nTimes)
{
    return Send(OpFlap, nSlot, nTimes);
}

bool CSimSensorDriver::WaitForBursts(DWORD dwTimeoutMs)
{
    return WaitUntil([this] { return m_pShared->nBurstThreads == 0; }, dwTimeoutMs, 5);
}

}  // namespace glimtest
