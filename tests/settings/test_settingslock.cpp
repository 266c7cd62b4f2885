// The configuration lock "mut_conf" between processes: a holder delays each access by at
// most about 3 s but blocks none, an access leaves the lock free again, and a holder that
// died owning it blocks nobody. The other process is the settings-application stand-in.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>

#include "GlimNames.h"
#include "ScopedHandle.h"
#include "SettingsApp.h"
#include "SettingsTestCommon.h"
#include "Wait.h"

using namespace glim;
using namespace glimtest;

namespace {

// The 3000 ms wait, seen from outside with room for a slow machine.
constexpr DWORD kDelayedMinMs = 2500;
constexpr DWORD kDelayedMaxMs = 4500;
// An access that does not wait.
constexpr DWORD kImmediateMaxMs = 1000;

// Another process must be able to take the lock at once: this process holds it no more.
void ExpectLockFree(const char* pszWhen)
{
    CSettingsApp holder;
    const ULONGLONG ullStart = GetTickCount64();
    EXPECT_EQ(0u, holder.StartHoldLock(0, 2500)) << "mut_conf still owned " << pszWhen;
    EXPECT_LT(ElapsedMs(ullStart), 2500u) << pszWhen;
}

}  // namespace

using SettingsLock = CFreshSettingsTest;

TEST_F(SettingsLock, HolderDelaysEachAccessButBlocksNone)
{
    ASSERT_TRUE(glimtest::WriteKey(kKeyKBBrightness, L"25"));
    CSettingsApp holder;
    ASSERT_EQ(0u, holder.StartHoldLock(9000)) << "exit code " << holder.ExitCode();

    ULONGLONG ullStart = GetTickCount64();
    EXPECT_EQ(25u, Settings()->ReadInt(kKeyKBBrightness, kDefKBBrightness));
    DWORD dwElapsed = ElapsedMs(ullStart);
    EXPECT_GE(dwElapsed, kDelayedMinMs) << "the read did not wait for the lock";
    EXPECT_LE(dwElapsed, kDelayedMaxMs) << "the read waited too long";

    // The holder still has the lock: the next access waits again, and also goes ahead.
    ullStart = GetTickCount64();
    Settings()->WriteInt(kKeyKBStatus, 1);
    dwElapsed = ElapsedMs(ullStart);
    EXPECT_GE(dwElapsed, kDelayedMinMs) << "the write did not wait for the lock";
    EXPECT_LE(dwElapsed, kDelayedMaxMs) << "the write waited too long";
    EXPECT_EQ(L"1", glimtest::ReadKey(kKeyKBStatus)) << "a delayed write must still be made";
    ASSERT_TRUE(holder.Process().IsRunning()) << "the holder ended before the accesses were timed";

    DWORD dwExitCode = 0;
    ASSERT_TRUE(holder.Process().WaitExit(8000, &dwExitCode));
    EXPECT_EQ(0u, dwExitCode);

    // Once the holder is gone, accesses are immediate.
    ullStart = GetTickCount64();
    EXPECT_EQ(1u, Settings()->ReadInt(kKeyKBStatus, kDefKBStatus));
    std::unique_ptr<wchar_t[]> pszValue(Settings()->ReadString(kKeyInActiveTime));
    Settings()->WriteString(kKeyUndefine, L"");
    EXPECT_LE(ElapsedMs(ullStart), kImmediateMaxMs);
    ExpectLockFree("after accesses that ran without the lock");
}

TEST_F(SettingsLock, EveryAccessReleasesTheLock)
{
    Settings()->WriteInt(kKeyKBStatus, 2);
    ExpectLockFree("after WriteInt");
    Settings()->WriteString(kKeyUndefine, L"");
    ExpectLockFree("after WriteString");
    EXPECT_EQ(2u, Settings()->ReadInt(kKeyKBStatus, kDefKBStatus));
    ExpectLockFree("after ReadInt");
    std::unique_ptr<wchar_t[]> pszValue(Settings()->ReadString(kKeyInActiveTime));
    ExpectLockFree("after ReadString");
}

TEST_F(SettingsLock, AbandonedLockBlocksNobody)
{
    ASSERT_TRUE(glimtest::WriteKey(kKeyKBBrightness, L"17"));
    CSettingsApp holder;
    ASSERT_EQ(0u, holder.StartHoldLock(60000));
    // Killed while it owns the mutex: the next wait on it is an abandoned wait.
    holder.Stop();

    const ULONGLONG ullStart = GetTickCount64();
    EXPECT_EQ(17u, Settings()->ReadInt(kKeyKBBrightness, kDefKBBrightness));
    EXPECT_LE(ElapsedMs(ullStart), kImmediateMaxMs);
    // The abandoned wait made this thread the owner; the access must have released it.
    ExpectLockFree("after an abandoned wait");
}

// When WriteStatusOne asked for its write (GetTickCount64; 0 before it did).
std::atomic<ULONGLONG> g_ullWriteAsked{0};

DWORD WINAPI WriteStatusOne(LPVOID)
{
    g_ullWriteAsked = GetTickCount64();
    Settings()->WriteInt(kKeyKBStatus, 1);
    return 0;
}

// The lock classes on their own: the scoped lock owns the mutex for its scope only, and
// another thread's access waits for it and goes ahead at its end.
TEST_F(SettingsLock, ScopedLockExcludesOtherThreadsForItsScope)
{
    CMyMutex mutex(kMutexConf);
    ASSERT_TRUE(mutex.m_hMutex);
    ULONGLONG ullStart = 0;
    glim::CScopedHandle hThread;
    {
        CAutoLock lock(&mutex);
        ullStart = GetTickCount64();
        g_ullWriteAsked = 0;
        hThread.Reset(CreateThread(nullptr, 0, WriteStatusOne, nullptr, 0, nullptr));
        ASSERT_TRUE(hThread);
        // The sentinel: the other thread has asked for its write while the lock is held, so
        // a thread still running after the second below was held up by the lock.
        ASSERT_TRUE(WaitUntil([] { return g_ullWriteAsked != 0; }, 5000)) << "the other thread did not start";
        EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(hThread.Get(), 1000))
            << "the other thread's write did not wait for the lock";
    }
    // Released at about 1 s: the waiting write follows at once, not at its 3 s limit.
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(hThread.Get(), 5000));
    EXPECT_LT(ElapsedMs(ullStart), 2500u) << "the waiting access did not follow the release";
    EXPECT_EQ(L"1", glimtest::ReadKey(kKeyKBStatus));
    ExpectLockFree("after the scoped lock");
}
