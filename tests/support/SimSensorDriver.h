// Drives the simulated ambient light sensors (sim/sensorsim) from a test: describes the
// sensors the server lists, and makes it call the client's sinks, one command at a time.
// Works from any process of the prefix; the server runs in whichever process created a
// sensor manager.
#pragma once

#include <windows.h>

#include "ScopedHandle.h"
#include "sensorsim/SimSensorProtocol.h"

namespace glimtest {

// SENSOR_TYPE_AMBIENT_LIGHT
constexpr GUID kAmbientLightType = {0x97f115c8, 0x599a, 0x4153, {0x88, 0x94, 0xd2, 0xd1, 0x28, 0x99, 0x91, 0x8a}};
// A sensor id for slot n of a test (distinct in all 128 bits' last byte).
GUID SimSensorId(int nSlot);

class CSimSensorDriver {
public:
    // bReset: every slot absent on construction and destruction (a test's fresh state);
    // false leaves the sensors as they are, for a tool that sends one command and exits.
    explicit CSimSensorDriver(bool bReset = true);
    virtual ~CSimSensorDriver();
    CSimSensorDriver(const CSimSensorDriver&) = delete;
    CSimSensorDriver& operator=(const CSimSensorDriver&) = delete;

    bool Ok() const { return m_pShared != nullptr; }
    // Every slot absent, every fault cleared.
    void Reset();

    // Lists a sensor without telling any client (as if present at start-up).
    void Describe(int nSlot, float fLux, LONG nState = simsensor::kStateReady, const GUID& type = kAmbientLightType);
    // The commands: each returns the sink's HRESULT, S_FALSE when no sink was there, or
    // HRESULT_FROM_WIN32(WAIT_TIMEOUT) when no server answered within 5 s. The wait
    // serves this thread's messages, so a sink may send to a window of this thread.
    HRESULT Enter(int nSlot, float fLux, LONG nState = simsensor::kStateReady, const GUID& type = kAmbientLightType);
    HRESULT Leave(int nSlot);
    HRESULT ChangeState(int nSlot, LONG nState);
    HRESULT Report(int nSlot, float fLux);
    // nThreads threads of the server each send nReports reports of the slot, unawaited.
    HRESULT Burst(int nSlot, int nThreads, int nReports);
    // A thread of the server makes the slot enter (ready) and leave nTimes, unawaited.
    HRESULT Flap(int nSlot, int nTimes);
    // Until every burst and flap thread has ended.
    bool WaitForBursts(DWORD dwTimeoutMs);

    void FailReads(int nSlot, HRESULT hr) { m_pShared->slots[nSlot].hrReadError = hr; }
    void RefuseInterval(int nSlot, HRESULT hr) { m_pShared->slots[nSlot].hrIntervalError = hr; }

    const simsensor::Slot& SlotState(int nSlot) const { return m_pShared->slots[nSlot]; }
    const simsensor::Shared& State() const { return *m_pShared; }

private:
    HRESULT Send(LONG nOp, int nSlot, LONG nArg = 0, LONG nArg2 = 0);

    glim::CScopedHandle m_hMapping;
    simsensor::Shared* m_pShared;
    glim::CScopedHandle m_hMutex;
    glim::CScopedHandle m_hCommand;
    glim::CScopedHandle m_hDone;
    bool m_bReset;
};

// Waits for hEvent while serving this thread's messages. True when it was signalled.
bool PumpingWait(HANDLE hEvent, DWORD dwTimeoutMs);

}  // namespace glimtest
