// The simulated ambient light sensors: state shared between the in-process COM server
// (GlimSimSensor.dll, loaded by whoever creates CLSID_SensorManager) and the test that
// drives it from any process of the prefix. The state sits in a named file mapping;
// commands that make the server call the client's sinks go one at a time through two
// auto-reset events.
#pragma once

#include <windows.h>

namespace simsensor {

constexpr const wchar_t* kMappingName = L"GlimSimSensorState";
constexpr const wchar_t* kMutexName = L"GlimSimSensorMutex";       // serialises drivers
constexpr const wchar_t* kCommandEvent = L"GlimSimSensorCommand";  // driver -> server
constexpr const wchar_t* kDoneEvent = L"GlimSimSensorDone";        // server -> driver
constexpr const wchar_t* kDllName = L"GlimSimSensor.dll";
constexpr int kMaxSensors = 8;

// SensorState values of the platform.
constexpr LONG kStateReady = 0;
constexpr LONG kStateNotAvailable = 1;
constexpr LONG kStateNoData = 2;
constexpr LONG kStateInitializing = 3;

struct Slot {
    LONG bPresent;
    GUID id;
    GUID type;             // the sensor type (ambient light unless a test says otherwise)
    LONG nState;           // SensorState
    float fLux;            // what GetData and data reports carry
    LONG hrReadError;      // non-zero: GetData fails with it
    LONG hrIntervalError;  // non-zero: SetProperties answers S_FALSE with this per-key error
    ULONG ulInterval;      // the last report interval applied (0: none)
    LONG nIntervalRequests;
    LONG bSinkSet;  // the sensor has an event sink
};

enum Op : LONG {
    OpNone = 0,
    OpEnter,         // slot becomes present; OnSensorEnter to every manager's sink
    OpLeave,         // slot becomes absent; OnLeave to its sink
    OpStateChanged,  // OnStateChanged with the slot's state
    OpDataUpdated,   // OnDataUpdated with a report of the slot's lux
    OpDataBurst,     // nArg threads each send nArg2 data reports without waiting for them
    OpFlap,          // one thread makes the slot enter (ready) and leave nArg times, unawaited
};

struct Shared {
    LONG nOp;
    LONG nSlot;
    LONG nArg;
    LONG nArg2;
    LONG hrResult;        // what the sink returned for the last command
    LONG bServerRunning;  // some process serves commands
    LONG nSinkRefs;       // sink references the server holds (managers and sensors)
    LONG nManagers;       // live sensor manager objects
    LONG nBurstThreads;   // burst threads still running
    Slot slots[kMaxSensors];
    LONG nCallbacksInFlight;  // sensor-sink callbacks running now, all slots
    LONG nDetachTimeouts;     // detaches that gave up waiting for callbacks in flight
};

// A detach (a sensor's SetEventSink(NULL)) waits, as the platform's does, until that
// sensor's callbacks in flight on other threads have returned. The stand-in gives up
// after this long and counts it in nDetachTimeouts, so that a hang ends in a test failure.
constexpr DWORD kDetachWaitLimitMs = 30000;

}  // namespace simsensor
