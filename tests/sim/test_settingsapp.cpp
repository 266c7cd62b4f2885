// The settings-application stand-in itself, as the agent's tests rely on it: its window
// records a notice before the sender's SendMessageW returns, notify mode writes its keys
// before it signals "event_uwp", a hung window makes a bounded send fail instead of
// hanging, and every mode ends when the test ends it.
#include <gtest/gtest.h>

#include <windows.h>

#include <thread>

#include "GlimNames.h"
#include "ScopedHandle.h"
#include "SettingsApp.h"
#include "SettingsTestCommon.h"
#include "settingsapp/SettingsAppProtocol.h"

using namespace glim;
using namespace glimtest;

TEST(SettingsAppWindow, RecordsEachNoticeBeforeSendReturns)
{
    CSettingsApp app;
    ASSERT_EQ(0u, app.StartWindow()) << "exit code " << app.ExitCode();
    ASSERT_EQ(app.Window(), FindWindowW(nullptr, kSettingsAppWindowTitle)) << "another \"Zentia\" window exists";

    const DWORD dwBefore = GetTickCount();
    SetLastError(0xdeadbeef);
    EXPECT_EQ(0, SendMessageW(app.Window(), WM_UWP_NOTIFY, 1, 0));
    const DWORD dwAfter = GetTickCount();
    std::vector<CNotifyRecord> vecRecords = app.ReadRecord();
    ASSERT_EQ(1u, vecRecords.size()) << "the notice was not on record when SendMessageW returned";
    EXPECT_EQ(1u, vecRecords[0].nSeq);
    EXPECT_EQ(4025u, vecRecords[0].uMsg);
    EXPECT_EQ(1u, vecRecords[0].wParam);
    EXPECT_EQ(0, vecRecords[0].lParam);
    EXPECT_TRUE(vecRecords[0].dwFlags & ISMEX_SEND) << vecRecords[0].dwFlags;
    EXPECT_GE(vecRecords[0].dwTick - dwBefore, 0u);
    EXPECT_LE(vecRecords[0].dwTick - dwBefore, dwAfter - dwBefore);

    EXPECT_EQ(0, SendMessageW(app.Window(), WM_UWP_NOTIFY, 0, -5));
    vecRecords = app.ReadRecord();
    ASSERT_EQ(2u, vecRecords.size());
    EXPECT_EQ(2u, vecRecords[1].nSeq);
    EXPECT_EQ(0u, vecRecords[1].wParam);
    EXPECT_EQ(-5, vecRecords[1].lParam);

    // A posted notice is recorded too, and told apart from a sent one.
    SetLastError(0xdeadbeef);
    ASSERT_TRUE(PostMessageW(app.Window(), WM_UWP_NOTIFY, 1, 0));
    ASSERT_TRUE(app.WaitForRecords(3, 5000));
    EXPECT_EQ(0u, app.ReadRecord()[2].dwFlags & ISMEX_SEND);

    // Other messages are not recorded.
    SendMessageW(app.Window(), WM_USER + 1, 1, 0);
    EXPECT_EQ(3u, app.ReadRecord().size());
}

TEST(SettingsAppWindow, SlowHandlingHoldsTheSender)
{
    CSettingsApp app;
    ASSERT_EQ(0u, app.StartWindow(600));
    const ULONGLONG ullStart = GetTickCount64();
    SendMessageW(app.Window(), WM_UWP_NOTIFY, 0, 0);
    EXPECT_GE(ElapsedMs(ullStart), 550u);
    EXPECT_EQ(1u, app.ReadRecord().size());
}

TEST(SettingsAppWindow, StopEndsTheWindow)
{
    CSettingsApp app;
    ASSERT_EQ(0u, app.StartWindow());
    const HWND hWnd = app.Window();
    ASSERT_TRUE(IsWindow(hWnd));
    app.Stop();
    EXPECT_FALSE(IsWindow(hWnd));
    EXPECT_EQ(nullptr, FindWindowW(nullptr, kSettingsAppWindowTitle));
}

TEST(SettingsAppHung, BoundedSendFailsInsteadOfHanging)
{
    CSettingsApp app;
    ASSERT_EQ(0u, app.StartHung(0));
    DWORD_PTR dwResult = 0;
    ULONGLONG ullStart = GetTickCount64();
    SetLastError(0xdeadbeef);
    EXPECT_EQ(0, SendMessageTimeoutW(app.Window(), WM_UWP_NOTIFY, 1, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, 500, &dwResult));
    EXPECT_EQ(static_cast<DWORD>(ERROR_TIMEOUT), GetLastError());
    EXPECT_GE(ElapsedMs(ullStart), 400u);
    EXPECT_LT(ElapsedMs(ullStart), 3000u);
    EXPECT_TRUE(app.ReadRecord().empty());

    // Left alone, the window soon reads as not responding, and a send that asks to skip
    // hung windows then gives up at once.
    const ULONGLONG ullDeadline = GetTickCount64() + 10000;
    while (!IsHungAppWindow(app.Window()) && GetTickCount64() < ullDeadline)
        Sleep(100);
    ASSERT_TRUE(IsHungAppWindow(app.Window()));
    ullStart = GetTickCount64();
    EXPECT_EQ(0, SendMessageTimeoutW(app.Window(), WM_UWP_NOTIFY, 1, 0, SMTO_ABORTIFHUNG, 5000, &dwResult));
    EXPECT_LT(ElapsedMs(ullStart), 1000u);

    const HWND hWnd = app.Window();
    app.Stop();
    EXPECT_FALSE(IsWindow(hWnd));
}

TEST(SettingsAppHung, HangsAfterTheGivenNumberOfNotices)
{
    CSettingsApp app;
    ASSERT_EQ(0u, app.StartHung(1));
    DWORD_PTR dwResult = 0;
    EXPECT_NE(0, SendMessageTimeoutW(app.Window(), WM_UWP_NOTIFY, 1, 0, SMTO_BLOCK, 3000, &dwResult));
    EXPECT_EQ(1u, app.ReadRecord().size());
    EXPECT_EQ(0, SendMessageTimeoutW(app.Window(), WM_UWP_NOTIFY, 0, 0, SMTO_BLOCK, 500, &dwResult));
    EXPECT_EQ(1u, app.ReadRecord().size());
}

using SettingsAppNotify = CFreshSettingsTest;

TEST_F(SettingsAppNotify, KeysAreInTheFileWhenEventUwpIsSignalled)
{
    ASSERT_EQ(0u, glimtest::CreateUnicodeFile());
    // The event as the agent's listener creates it.
    const CScopedHandle eventUwp(CreateEventW(nullptr, FALSE, FALSE, kEventUwp));
    ASSERT_TRUE(eventUwp);

    DWORD dwRun = ERROR_GEN_FAILURE;
    DWORD dwExitCode = 0xdeadbeef;
    CNotifyRequest request;
    request.Set(kKeyKBBrightness, L"20").Set(kKeyInActiveTime, L"2\u79D2").Params(2, 7);
    std::thread runner([&] { dwRun = CSettingsApp::RunNotify(request, &dwExitCode); });

    // Read at once on waking, as the agent's listener does.
    const DWORD dwWait = WaitForSingleObject(eventUwp.Get(), 10000);
    const DWORD dwWParam = Settings()->ReadInt(kKeyUwpwParam, kDefUwpwParam);
    const DWORD dwLParam = Settings()->ReadInt(kKeyUwplParam, kDefUwplParam);
    const DWORD dwBrightness = Settings()->ReadInt(kKeyKBBrightness, kDefKBBrightness);
    const std::wstring strIdle = glimtest::ReadKey(kKeyInActiveTime);
    runner.join();

    ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), dwWait) << "event_uwp was not signalled";
    EXPECT_EQ(2u, dwWParam);
    EXPECT_EQ(7u, dwLParam);
    EXPECT_EQ(20u, dwBrightness);
    EXPECT_EQ(L"2\u79D2", strIdle);
    EXPECT_EQ(0u, dwRun);
    EXPECT_EQ(settingsapp::kExitOk, dwExitCode);
}

TEST_F(SettingsAppNotify, NegativeKindAndMissingEventAreReported)
{
    // Nobody created event_uwp: the keys are still written, and the exit code says so.
    DWORD dwExitCode = 0xdeadbeef;
    ASSERT_EQ(0u, CSettingsApp::RunNotify(CNotifyRequest().Params(-1, 3), &dwExitCode));
    EXPECT_EQ(settingsapp::kExitNoEvent, dwExitCode);
    EXPECT_EQ(0xFFFFFFFFu, Settings()->ReadInt(kKeyUwpwParam, 0));
    EXPECT_EQ(3u, Settings()->ReadInt(kKeyUwplParam, kDefUwplParam));
    EXPECT_EQ(L"-1", glimtest::ReadKey(kKeyUwpwParam));
}

TEST_F(SettingsAppNotify, WritesWithoutTheLockWhenAsked)
{
    CSettingsApp holder;
    ASSERT_EQ(0u, holder.StartHoldLock(20000));
    // The event as the agent's listener creates it.
    const CScopedHandle eventUwp(CreateEventW(nullptr, FALSE, FALSE, kEventUwp));
    ASSERT_TRUE(eventUwp);

    DWORD dwExitCode = 0xdeadbeef;
    CNotifyRequest request;
    request.Set(kKeyKBStatus, L"2").Params(0, 0).bNoLock = true;
    const ULONGLONG ullStart = GetTickCount64();
    ASSERT_EQ(0u, CSettingsApp::RunNotify(request, &dwExitCode));
    EXPECT_LT(ElapsedMs(ullStart), 2500u) << "--no-lock still waited for mut_conf";
    EXPECT_EQ(settingsapp::kExitOk, dwExitCode);
    EXPECT_EQ(L"2", glimtest::ReadKey(kKeyKBStatus));
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(eventUwp.Get(), 0));
}

TEST_F(SettingsAppNotify, ValuesWithSpacesQuotesAndBackslashesArriveUnchanged)
{
    const std::wstring strTitles = L"Movies & TV;\"VLC\" media player;C:\\Videos\\ ;";
    DWORD dwExitCode = 0xdeadbeef;
    ASSERT_EQ(0u,
              CSettingsApp::RunNotify(CNotifyRequest().Set(kKeyFullScreenScope, strTitles).Set(kKeyInActiveTime, L""),
                                      &dwExitCode));
    EXPECT_EQ(settingsapp::kExitNoEvent, dwExitCode);
    EXPECT_EQ(strTitles, glimtest::ReadKey(kKeyFullScreenScope));
    EXPECT_EQ(L"", glimtest::ReadKey(kKeyInActiveTime, L"<none>")) << "an empty value must be written, not skipped";
}

TEST(SettingsAppUsage, BadCommandLinesAreRefused)
{
    CChildProcess process;
    for (const wchar_t* pszArgs : {L"", L"bogus", L"notify --set =x", L"window --delay abc", L"holdlock --hold"}) {
        ASSERT_EQ(0u, process.Start(CSettingsApp::ExePath(), pszArgs));
        DWORD dwExitCode = 0;
        ASSERT_TRUE(process.WaitExit(5000, &dwExitCode)) << pszArgs;
        EXPECT_EQ(settingsapp::kExitUsage, dwExitCode) << pszArgs;
    }
}
