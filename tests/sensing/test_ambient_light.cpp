// CambientLightAware against the simulated sensors (sim/sensorsim), reached through the
// unchanged CoCreateInstance calls: the mean of the valid readings, sensors that change
// state, fail to read, arrive and leave, the report interval, and stopping while the
// platform's threads are still calling.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <initializer_list>
#include <mutex>
#include <thread>
#include <vector>

#include "AmbientLightAware.h"
#include "GlimNames.h"
#include "SensingRules.h"
#include "ScopedHandle.h"
#include "SensingTestEnv.h"
#include "SimComServer.h"
#include "SimSensorDriver.h"
#include "TestLog.h"

using namespace glim;
using namespace glimtest;
using simsensor::kStateNotAvailable;
using simsensor::kStateReady;

namespace {

struct Delivery {
    float fLux;
    int nCount;
};

std::mutex g_deliveryMutex;
std::vector<Delivery> g_deliveries;
std::atomic<HWND> g_hLuxWindow{nullptr};

// Ends the process with a message when a round takes far too long: a corrupted map tends
// to loop forever rather than crash.
class CWatchdog {
public:
    explicit CWatchdog(DWORD dwTimeoutMs)
        : m_hDone(CreateEventW(nullptr, TRUE, FALSE, nullptr))
        , m_thread([this, dwTimeoutMs] {
            if (WaitForSingleObject(m_hDone.Get(), dwTimeoutMs) != WAIT_OBJECT_0) {
                // No heap or runtime lock here: a corrupted heap may hold them forever.
                static const char szMessage[] = "watchdog: the sensor side hung (corrupted map or deadlock)\n";
                DWORD dwWritten = 0;
                WriteFile(GetStdHandle(STD_ERROR_HANDLE), szMessage, sizeof(szMessage) - 1, &dwWritten, nullptr);
                TerminateProcess(GetCurrentProcess(), 3);
            }
        })
    {
    }
    virtual ~CWatchdog()
    {
        SetEvent(m_hDone.Get());
        m_thread.join();
    }

private:
    glim::CScopedHandle m_hDone;
    std::thread m_thread;
};

// A crash on any thread ends the process with a message at once; under Wine an unhandled
// fault would otherwise start the debugger and hang the test until its timeout.
LONG WINAPI EndOnCrash(EXCEPTION_POINTERS*)
{
    static const char szMessage[] = "crash: an access violation while sensors left during the stop\n";
    DWORD dwWritten = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), szMessage, sizeof(szMessage) - 1, &dwWritten, nullptr);
    TerminateProcess(GetCurrentProcess(), 4);
    return EXCEPTION_EXECUTE_HANDLER;
}

class CCrashGuard {
public:
    CCrashGuard() : m_pfnPrevious(SetUnhandledExceptionFilter(EndOnCrash)) {}
    virtual ~CCrashGuard() { SetUnhandledExceptionFilter(m_pfnPrevious); }

private:
    LPTOP_LEVEL_EXCEPTION_FILTER m_pfnPrevious;
};

std::vector<Delivery> Deliveries()
{
    std::lock_guard<std::mutex> lock(g_deliveryMutex);
    return g_deliveries;
}

void ClearDeliveries()
{
    std::lock_guard<std::mutex> lock(g_deliveryMutex);
    g_deliveries.clear();
}

}  // namespace

// The manager's side in these tests: record the value and hand it to the test window as
// the agent's window would get it.
int DeliverLux(float fLux, int nCount)
{
    {
        std::lock_guard<std::mutex> lock(g_deliveryMutex);
        g_deliveries.push_back({fLux, nCount});
    }
    if (HWND hWnd = g_hLuxWindow.load())
        SendMessageW(hWnd, WM_LUX, LuxToWParam(fLux), 0);
    return 0;
}

class AmbientLight : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        UsePrivateSettings();
    }

    void SetUp() override
    {
        ASSERT_TRUE(m_managerReg.Ok()) << "registering the simulated sensor manager failed: " << m_managerReg.Error();
        ASSERT_TRUE(m_valuesReg.Ok()) << m_valuesReg.Error();
        ASSERT_TRUE(m_driver.Ok());
        ASSERT_NE(nullptr, m_sink.Handle());
        WriteKey(kKeyKBStatus, static_cast<int>(kStatusAuto));
        m_pAware = CambientLightAware::GetInstance();
        m_pAware->m_nReportInterval = 500;
        g_hLuxWindow = m_sink.Handle();
        ClearDeliveries();
        glimtest::Clear();
    }

    void TearDown() override
    {
        m_pAware->UninitAmbientLightAware();
        g_hLuxWindow = nullptr;
    }

    // Sensors in slots 0, 1, ... with these values, then the sensor side started.
    void Start(std::initializer_list<float> values)
    {
        int nSlot = 0;
        for (float fLux : values)
            m_driver.Describe(nSlot++, fLux);
        ASSERT_EQ(S_OK, m_pAware->InitAmbientLightAware());
    }

    Delivery Last()
    {
        const std::vector<Delivery> all = Deliveries();
        return all.empty() ? Delivery{-100.0f, -100} : all.back();
    }

    CSimComRegistration m_managerReg{kCLSID_SensorManager, simsensor::kDllName};
    CSimComRegistration m_valuesReg{kCLSID_PortableDeviceValues, simsensor::kDllName};
    CSimSensorDriver m_driver;
    CMessageSink m_sink;
    CambientLightAware* m_pAware = nullptr;
};

TEST_F(AmbientLight, TwoSensorsGiveTheirMeanToTheManagerWindow)
{
    ASSERT_NO_FATAL_FAILURE(Start({100.0f, 300.0f}));
    EXPECT_TRUE(m_pAware->IsRunning());
    EXPECT_EQ(1, m_driver.SlotState(0).bSinkSet);
    EXPECT_EQ(1, m_driver.SlotState(1).bSinkSet);
    EXPECT_TRUE(Deliveries().empty()) << "sensors found at start are not read until they report";

    EXPECT_EQ(S_OK, m_driver.Report(0, 100.0f));
    EXPECT_FLOAT_EQ(100.0f, Last().fLux);
    EXPECT_EQ(S_OK, m_driver.Report(1, 300.0f));
    EXPECT_FLOAT_EQ(200.0f, Last().fLux);
    EXPECT_EQ(2, Last().nCount);
    ASSERT_FALSE(m_sink.Lux().empty());
    EXPECT_EQ(200u, m_sink.Lux().back());
}

TEST_F(AmbientLight, ReportIntervalIsRequestedOfSensorsFoundAtStart)
{
    m_driver.Describe(0, 10.0f);
    m_pAware->m_nReportInterval = 750;
    ASSERT_EQ(S_OK, m_pAware->InitAmbientLightAware());
    EXPECT_EQ(1, m_driver.SlotState(0).nIntervalRequests);
    EXPECT_EQ(750u, m_driver.SlotState(0).ulInterval);
}

TEST_F(AmbientLight, NoIntervalIsRequestedWhenTheSettingIsZeroOrLess)
{
    m_driver.Describe(0, 10.0f);
    m_pAware->m_nReportInterval = 0;
    ASSERT_EQ(S_OK, m_pAware->InitAmbientLightAware());
    m_pAware->UninitAmbientLightAware();
    m_pAware->m_nReportInterval = -5;
    ASSERT_EQ(S_OK, m_pAware->InitAmbientLightAware());
    EXPECT_EQ(0, m_driver.SlotState(0).nIntervalRequests);
    EXPECT_EQ(1, m_driver.SlotState(0).bSinkSet);
}

TEST_F(AmbientLight, RefusedIntervalIsLoggedAndTheSensorStillAttached)
{
    m_driver.Describe(0, 10.0f);
    m_driver.RefuseInterval(0, E_ACCESSDENIED);
    EXPECT_EQ(S_OK, m_pAware->InitAmbientLightAware()) << "attaching the sensor still succeeded";
    EXPECT_TRUE(glimtest::Contains(L"failed with error 0x80070005",
                                   L"CAmbientLightAwareSensorManagerEvents::SetCurrentReportInterval"));
    EXPECT_EQ(0u, m_driver.SlotState(0).ulInterval);
    EXPECT_EQ(1, m_driver.SlotState(0).bSinkSet);
    EXPECT_EQ(S_OK, m_driver.Report(0, 42.0f));
    EXPECT_FLOAT_EQ(42.0f, Last().fLux);
}

TEST_F(AmbientLight, SensorNotReadyDropsOutOfTheMean)
{
    ASSERT_NO_FATAL_FAILURE(Start({100.0f, 300.0f}));
    m_driver.Report(0, 100.0f);
    m_driver.Report(1, 300.0f);
    EXPECT_EQ(S_OK, m_driver.ChangeState(1, kStateNotAvailable));
    EXPECT_FLOAT_EQ(100.0f, Last().fLux);
    EXPECT_EQ(1, Last().nCount);
    EXPECT_TRUE(glimtest::Contains(L"sensor is not ready", L"CAmbientLightAwareSensorEvents::OnStateChanged"));
    // Ready again: read at once.
    EXPECT_EQ(S_OK, m_driver.ChangeState(1, kStateReady));
    EXPECT_FLOAT_EQ(200.0f, Last().fLux);
    EXPECT_TRUE(glimtest::Contains(L"sensor is ready", L"CAmbientLightAwareSensorEvents::OnStateChanged"));
    // The only valid sensor not ready: 0 lux from no reading.
    m_driver.ChangeState(1, kStateNotAvailable);
    m_driver.ChangeState(0, kStateNotAvailable);
    EXPECT_FLOAT_EQ(0.0f, Last().fLux);
    EXPECT_EQ(0, Last().nCount);
}

TEST_F(AmbientLight, LeavingSensorsDropOutAndTheLastGoneGivesZero)
{
    ASSERT_NO_FATAL_FAILURE(Start({100.0f, 300.0f}));
    m_driver.Report(0, 100.0f);
    m_driver.Report(1, 300.0f);
    EXPECT_EQ(S_OK, m_driver.Leave(0));
    EXPECT_FLOAT_EQ(300.0f, Last().fLux);
    EXPECT_EQ(1, Last().nCount);
    EXPECT_EQ(S_OK, m_driver.Leave(1));
    EXPECT_FLOAT_EQ(0.0f, Last().fLux);
    EXPECT_EQ(0, Last().nCount);
    EXPECT_EQ(0u, m_sink.Lux().back());
    EXPECT_EQ(0, m_driver.State().nSinkRefs - 1) << "only the manager's sink stays referenced";
}

TEST_F(AmbientLight, UnknownSensorLeavingIsNotFoundAndDeliversNothing)
{
    ASSERT_NO_FATAL_FAILURE(Start({100.0f}));
    m_driver.Report(0, 100.0f);
    const size_t nBefore = Deliveries().size();
    CAmbientLightAwareSensorEvents* pEvents = m_pAware->m_pSensorManagerEvents->m_pSensorEvents.Get();
    const GUID unknownId = SimSensorId(7);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_NOT_FOUND), pEvents->OnLeave(unknownId));
    EXPECT_EQ(nBefore, Deliveries().size());
}

TEST_F(AmbientLight, SensorWithoutReadingLeavingDeliversNothing)
{
    ASSERT_NO_FATAL_FAILURE(Start({100.0f}));
    EXPECT_EQ(S_OK, m_driver.Leave(0));
    EXPECT_TRUE(Deliveries().empty());
}

TEST_F(AmbientLight, ZeroIsAValidReadingNegativeIsNone)
{
    ASSERT_NO_FATAL_FAILURE(Start({50.0f, 50.0f}));
    m_driver.Report(0, 0.0f);
    m_driver.Report(1, 50.0f);
    EXPECT_FLOAT_EQ(25.0f, Last().fLux);
    m_driver.Report(0, -3.0f);
    EXPECT_FLOAT_EQ(50.0f, Last().fLux);
    EXPECT_EQ(1, Last().nCount);
}

TEST_F(AmbientLight, FractionsAreTruncatedOnTheWayToTheWindow)
{
    ASSERT_NO_FATAL_FAILURE(Start({99.9f}));
    m_driver.Report(0, 99.9f);
    EXPECT_NEAR(99.9f, Last().fLux, 0.001f);
    EXPECT_EQ(99u, m_sink.Lux().back());
}

TEST_F(AmbientLight, ArrivingSensorReadyIsReadAtOnceWithoutAnInterval)
{
    ASSERT_EQ(HRESULT_FROM_WIN32(ERROR_NOT_FOUND), m_pAware->InitAmbientLightAware())
        << "no sensor at start: the platform's not-found passes up";
    EXPECT_TRUE(glimtest::Contains(L"InitAmbientLightAware Failed", L"CambientLightAware::InitAmbientLightAware"));
    EXPECT_EQ(S_OK, m_driver.Enter(2, 640.0f, kStateReady));
    EXPECT_FLOAT_EQ(640.0f, Last().fLux);
    EXPECT_EQ(0, m_driver.SlotState(2).nIntervalRequests);
    EXPECT_EQ(1, m_driver.SlotState(2).bSinkSet);
}

TEST_F(AmbientLight, ArrivingSensorNotReadyContributesNothingUntilItReports)
{
    ASSERT_NO_FATAL_FAILURE(Start({100.0f}));
    EXPECT_EQ(S_OK, m_driver.Enter(1, 500.0f, simsensor::kStateInitializing));
    EXPECT_TRUE(Deliveries().empty());
    EXPECT_EQ(1, m_driver.SlotState(1).bSinkSet);
    m_driver.Report(1, 500.0f);
    EXPECT_FLOAT_EQ(500.0f, Last().fLux);
}

TEST_F(AmbientLight, ArrivingSensorOfAnotherTypeIsIgnored)
{
    const GUID otherType = {0x97f115c8, 0x599a, 0x4153, {0x88, 0x94, 0xd2, 0xd1, 0x28, 0x99, 0x91, 0x8b}};
    ASSERT_NO_FATAL_FAILURE(Start({100.0f}));
    EXPECT_EQ(S_OK, m_driver.Enter(1, 500.0f, kStateReady, otherType));
    EXPECT_EQ(0, m_driver.SlotState(1).bSinkSet);
    EXPECT_TRUE(Deliveries().empty());
}

TEST_F(AmbientLight, FailedReadCountsAsNoReading)
{
    ASSERT_NO_FATAL_FAILURE(Start({100.0f}));
    m_driver.Report(0, 100.0f);
    m_driver.FailReads(1, E_FAIL);
    EXPECT_EQ(S_OK, m_driver.Enter(1, 900.0f, kStateReady));
    EXPECT_FLOAT_EQ(100.0f, Last().fLux) << "the unreadable sensor is out of the mean";
    m_driver.FailReads(0, E_FAIL);
    EXPECT_EQ(S_OK, m_driver.ChangeState(0, kStateReady));
    EXPECT_FLOAT_EQ(0.0f, Last().fLux);
    EXPECT_EQ(0, Last().nCount);
}

TEST_F(AmbientLight, StoppingDetachesEverySensorAndTheManager)
{
    ASSERT_NO_FATAL_FAILURE(Start({100.0f, 300.0f}));
    EXPECT_EQ(3, m_driver.State().nSinkRefs);
    EXPECT_EQ(S_OK, m_pAware->UninitAmbientLightAware());
    EXPECT_FALSE(m_pAware->IsRunning());
    EXPECT_EQ(0, m_driver.State().nSinkRefs);
    EXPECT_EQ(0, m_driver.SlotState(0).bSinkSet);
    EXPECT_EQ(0, m_driver.State().nManagers) << "the sensor manager was released";
    EXPECT_TRUE(
        glimtest::Contains(L"following take long time 10s", L"CAmbientLightAwareSensorManagerEvents::RemoveSensor"));
    EXPECT_EQ(S_OK, m_pAware->UninitAmbientLightAware()) << "stopping twice is harmless";
    // Nothing reaches the manager once stopped.
    EXPECT_EQ(S_FALSE, m_driver.Report(0, 5.0f));
    EXPECT_TRUE(Deliveries().empty());
}

TEST_F(AmbientLight, OnlyTheAutoStatusStartsTheSensorSide)
{
    m_driver.Describe(0, 100.0f);
    WriteKey(kKeyKBStatus, static_cast<int>(kStatusOn));
    m_pAware->m_nAmbientStatus = 4;
    EXPECT_EQ(S_OK, m_pAware->InitAmbientLightAware());
    EXPECT_FALSE(m_pAware->IsRunning());
    EXPECT_EQ(4, m_pAware->m_nAmbientStatus) << "left unchanged outside Auto";
    EXPECT_EQ(0, m_driver.State().nManagers);
}

TEST_F(AmbientLight, SecondStartOnlyResetsTheBand)
{
    ASSERT_NO_FATAL_FAILURE(Start({100.0f}));
    CAmbientLightAwareSensorManagerEvents* pFirst = m_pAware->m_pSensorManagerEvents.Get();
    m_pAware->m_nAmbientStatus = 3;
    EXPECT_EQ(S_OK, m_pAware->InitAmbientLightAware());
    EXPECT_EQ(0, m_pAware->m_nAmbientStatus);
    EXPECT_EQ(pFirst, m_pAware->m_pSensorManagerEvents.Get());
    EXPECT_EQ(1, m_driver.State().nManagers);
}

TEST_F(AmbientLight, SinksAnswerOnlyTheirOwnInterfaces)
{
    ASSERT_NO_FATAL_FAILURE(Start({100.0f}));
    CAmbientLightAwareSensorManagerEvents* pManagerEvents = m_pAware->m_pSensorManagerEvents.Get();
    void* pv = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, pManagerEvents->QueryInterface(kIID_ISensorEvents, &pv));
    EXPECT_EQ(nullptr, pv);
    ASSERT_EQ(S_OK, pManagerEvents->QueryInterface(kIID_ISensorManagerEvents, &pv));
    EXPECT_EQ(static_cast<ISensorManagerEvents*>(pManagerEvents), pv);
    pManagerEvents->Release();
    CAmbientLightAwareSensorEvents* pEvents = pManagerEvents->m_pSensorEvents.Get();
    ASSERT_EQ(S_OK, pEvents->QueryInterface(kIID_ISensorEvents, &pv));
    pEvents->Release();
    EXPECT_EQ(E_NOINTERFACE, pEvents->QueryInterface(kIID_ISensorManagerEvents, &pv));
    EXPECT_EQ(E_NOTIMPL, pEvents->OnEvent(nullptr, GUID_NULL, nullptr));
    EXPECT_EQ(E_UNEXPECTED, pEvents->OnDataUpdated(nullptr, nullptr));
    EXPECT_EQ(E_POINTER, pEvents->OnStateChanged(nullptr, SENSOR_STATE_READY));
    EXPECT_EQ(E_POINTER, pManagerEvents->OnSensorEnter(nullptr, SENSOR_STATE_READY));
    EXPECT_EQ(E_POINTER, pManagerEvents->AttachSensor(nullptr));
}

TEST_F(AmbientLight, NoSensorManagerLeavesTheSideRunningWithoutEvents)
{
    {
        // Unregistered for this test only.
        CSimComRegistration temporary(kCLSID_SensorManager, simsensor::kDllName);
    }
    const HRESULT hr = m_pAware->InitAmbientLightAware();
    EXPECT_EQ(REGDB_E_CLASSNOTREG, hr);
    EXPECT_TRUE(glimtest::Contains(L"InitAmbientLightAware Failed"));
    EXPECT_TRUE(m_pAware->IsRunning());
    EXPECT_EQ(S_OK, m_pAware->UninitAmbientLightAware());
}

// Sensors leaving and reporting on the platform's threads while the main thread stops and
// restarts the sensor side: the maps, the reference counts and the sinks' lifetimes must
// survive every interleaving.
TEST_F(AmbientLight, SensorsLeavingWhileStoppingCorruptNothing)
{
    g_hLuxWindow = nullptr;  // the main thread is busy; the values are only recorded
    constexpr int kRounds = 150;
    constexpr int kSensors = 6;
    CWatchdog watchdog(60000);
    CCrashGuard crashGuard;
    for (int nRound = 0; nRound < kRounds; ++nRound) {
        for (int i = 0; i < kSensors; ++i)
            m_driver.Describe(i, static_cast<float>(100 * (i + 1)));
        ASSERT_EQ(S_OK, m_pAware->InitAmbientLightAware()) << "round " << nRound;
        for (int i = 0; i < kSensors; ++i) {
            ASSERT_EQ(S_OK, m_driver.Burst(i, 1, 40));
            ASSERT_EQ(S_OK, m_driver.Flap(i, 30));
        }
        std::thread leaver([this] {
            for (int i = 0; i < kSensors; ++i)
                m_driver.Leave(i);
        });
        if (nRound % 2)
            Sleep(1);
        m_pAware->UninitAmbientLightAware();
        leaver.join();
        ASSERT_TRUE(m_driver.WaitForBursts(20000)) << "round " << nRound;
        ASSERT_EQ(0, m_driver.State().nSinkRefs) << "a sink is still referenced after round " << nRound;
        ASSERT_EQ(0, m_driver.State().nManagers);
    }
    for (const Delivery& d : Deliveries()) {
        ASSERT_GE(d.fLux, 0.0f);
        ASSERT_LE(d.fLux, 100.0f * kSensors);
    }
}
