// The simulated filter driver itself, loaded through the service control manager: the
// hotkey press reaches an event created the way the service creates it, the backlight
// requests refuse malformed buffers, and the history is bounded and ordered.
#include <gtest/gtest.h>

#include <thread>

#include "DeviceFixture.h"
#include "GlimNames.h"

using namespace glimtest;

namespace {

constexpr DWORD kSetCode = static_cast<DWORD>(IOCTL_KBBL_SET_BRIGHTNESS);
constexpr DWORD kGetCode = static_cast<DWORD>(IOCTL_KBBL_GET_BRIGHTNESS);
constexpr DWORD kPressWaitMs = 5000;

using SimDriver = CDriverTest;

TEST_F(SimDriver, PressSignalsServiceEventOncePerPress)
{
    // As the service creates it: auto-reset, not signalled, unprefixed name.
    SetLastError(0xdeadbeef);
    glim::CScopedHandle event(CreateEventW(nullptr, FALSE, FALSE, glim::kEventHotkey));
    ASSERT_NE(nullptr, event.Get());
    ASSERT_EQ(ERROR_SUCCESS, GetLastError()) << "someone else already owns the hotkey event";

    for (int i = 0; i < 2; ++i) {
        unsigned long ulDir = ~0ul;
        EXPECT_EQ(glimtest::kStatusSuccess, glimtest::Press(&ulDir));
        EXPECT_LT(ulDir, simkb::kHotkeyEventDirCount);
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event.Get(), kPressWaitMs)) << "press " << i;
        EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(event.Get(), 0)) << "one signal per press";
    }
}

TEST_F(SimDriver, PressWithoutEventReportsNameNotFound)
{
    SetLastError(0xdeadbeef);
    glim::CScopedHandle probe(OpenEventW(SYNCHRONIZE, FALSE, glim::kEventHotkey));
    ASSERT_EQ(nullptr, probe.Get()) << "a running Glimward owns the hotkey event";
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());

    EXPECT_EQ(glimtest::kStatusObjectNameNotFound, glimtest::Press());
}

TEST_F(SimDriver, BacklightRequestsRefuseWrongBufferSizes)
{
    ASSERT_EQ(4u, RawBacklightRequest(kSetCode, 6));
    struct SCase {
        DWORD dwCode;
        DWORD dwIn;
        DWORD dwOut;
    };
    const SCase cases[] = {
        {kSetCode, 0, 4}, {kSetCode, 2, 4}, {kSetCode, 8, 4}, {kSetCode, 4, 0}, {kSetCode, 4, 2},
        {kGetCode, 0, 4}, {kGetCode, 8, 4}, {kGetCode, 4, 0}, {kGetCode, 4, 3},
    };
    for (const SCase& c : cases) {
        INT32 in[2] = {99, 99};
        INT32 out[2] = {0x55, 0x55};
        DWORD dwBytes = 0xdeadbeef;
        const DWORD dwErr = glimtest::DeviceRequest(c.dwCode, in, c.dwIn, out, c.dwOut, &dwBytes);
        const bool bSet = c.dwCode == kSetCode;
        EXPECT_NE(ERROR_SUCCESS, dwErr) << (bSet ? "set" : "get") << " in " << c.dwIn << " out " << c.dwOut;
        EXPECT_EQ(0u, dwBytes) << (bSet ? "set" : "get") << " in " << c.dwIn << " out " << c.dwOut;
        EXPECT_EQ(0x55, out[1]) << "nothing written past the output";
    }
    EXPECT_EQ(6, DriverLevel()) << "a refused request must not change the level";

    // A well-formed set zeroes its 4 output bytes; a get answers the level.
    INT32 nOut = 0x55;
    EXPECT_EQ(4u, RawBacklightRequest(kSetCode, 11, &nOut));
    EXPECT_EQ(0, nOut);
    EXPECT_EQ(4u, RawBacklightRequest(kGetCode, 0, &nOut));
    EXPECT_EQ(11, nOut);
}

TEST_F(SimDriver, UnknownRequestIsRefused)
{
    INT32 n = 0;
    DWORD dwBytes = 0xdeadbeef;
    const DWORD dwCode = CTL_CODE(glim::kDeviceType, 0x834, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);
    EXPECT_NE(ERROR_SUCCESS, glimtest::DeviceRequest(dwCode, &n, sizeof(n), &n, sizeof(n), &dwBytes));
    EXPECT_EQ(0u, dwBytes);
}

TEST_F(SimDriver, HistoryKeepsNewestRequestsInOrder)
{
    const ULONG ulRequests = simkb::kHistoryCapacity + 6;
    for (ULONG i = 1; i <= ulRequests; ++i)
        ASSERT_EQ(4u, RawBacklightRequest(kSetCode, static_cast<INT32>(i)));

    glimtest::SHistory history;
    ASSERT_TRUE(glimtest::History(&history));
    EXPECT_EQ(ulRequests, history.header.ulTotal);
    ASSERT_EQ(simkb::kHistoryCapacity, history.records.size());
    EXPECT_EQ(static_cast<LONG>(ulRequests), history.header.lLevel);
    for (size_t i = 0; i < history.records.size(); ++i) {
        const simkb::SimRecord& rec = history.records[i];
        EXPECT_EQ(7 + i, rec.ulSequence);
        EXPECT_EQ(static_cast<LONG>(7 + i), rec.lLevel);
        if (i > 0) {
            EXPECT_GE(rec.llTime, history.records[i - 1].llTime);
        }
    }

    ASSERT_EQ(ERROR_SUCCESS, glimtest::ClearHistory());
    ASSERT_TRUE(glimtest::History(&history));
    EXPECT_EQ(0u, history.header.ulTotal);
    EXPECT_TRUE(history.records.empty());
    EXPECT_EQ(static_cast<LONG>(ulRequests), history.header.lLevel) << "clearing the history keeps the level";
}

TEST_F(SimDriver, ResetForgetsFailuresAndLevel)
{
    ASSERT_EQ(4u, RawBacklightRequest(kSetCode, 9));
    ASSERT_EQ(ERROR_SUCCESS, glimtest::FailNext(3, simkb::SimFailError));
    glimtest::SHistory history;
    ASSERT_TRUE(glimtest::History(&history));
    EXPECT_EQ(3u, history.header.ulFailLeft);

    ASSERT_EQ(ERROR_SUCCESS, glimtest::Reset());
    ASSERT_TRUE(glimtest::History(&history));
    EXPECT_EQ(0u, history.header.ulFailLeft);
    EXPECT_EQ(0, history.header.lLevel);
    EXPECT_EQ(0u, history.header.ulTotal);
    EXPECT_EQ(4u, RawBacklightRequest(kGetCode, 0));
}

TEST_F(SimDriver, FailNextRefusesUnknownMode)
{
    const simkb::SimFailNext request = {1, 7};
    DWORD dwBytes = 0;
    EXPECT_NE(ERROR_SUCCESS,
              glimtest::DeviceRequest(simkb::IOCTL_SIMKB_FAIL_NEXT, &request, sizeof(request), nullptr, 0, &dwBytes));
    EXPECT_EQ(4u, RawBacklightRequest(kSetCode, 1)) << "no failure was armed";
}

TEST_F(SimDriver, ConcurrentRequestsAreAllRecorded)
{
    constexpr int kPerThread = 20;
    auto worker = [](INT32 nBase, int* pnOk) {
        for (int i = 0; i < kPerThread; ++i)
            *pnOk += RawBacklightRequest(kSetCode, nBase + i) == 4u ? 1 : 0;
    };
    int nOkA = 0, nOkB = 0;
    std::thread a(worker, 1000, &nOkA);
    std::thread b(worker, 2000, &nOkB);
    a.join();
    b.join();
    EXPECT_EQ(kPerThread, nOkA);
    EXPECT_EQ(kPerThread, nOkB);

    glimtest::SHistory history;
    ASSERT_TRUE(glimtest::History(&history));
    EXPECT_EQ(2u * kPerThread, history.header.ulTotal);
    ASSERT_EQ(2u * kPerThread, history.records.size());
    for (size_t i = 0; i < history.records.size(); ++i)
        EXPECT_EQ(i + 1, history.records[i].ulSequence);
    // The level is that of whichever request the driver served last.
    EXPECT_EQ(history.records.back().lLevel, history.header.lLevel);
}

}  // namespace
