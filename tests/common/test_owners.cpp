// The shared owners and holds: a second COM owner holds its own reference, a lock hold
// gives back exactly what it took, every owner leaves the caller's last error as it was,
// and a failed call is reported with the error it left.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "GlimLog.h"
#include "Lock.h"
#include "ScopedHandle.h"
#include "SettingsFile.h"
#include "TestLog.h"
#include "ThreadStart.h"

namespace {

// Counts its references; never deleted by the count (it lives on the test's stack).
class CCountedObject : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID, void** ppv) override
    {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_cRef; }
    STDMETHODIMP_(ULONG) Release() override { return --m_cRef; }
    ULONG m_cRef = 1;
};

using CRef = glim::CComRef<IUnknown>;

struct SSecondOwnerCase {
    const char* pszName;
    std::function<CRef(const CRef&)> makeSecond;
};

TEST(ComRef, EverySecondOwnerHoldsAReferenceOfItsOwn)
{
    const SSecondOwnerCase cases[] = {
        {"copy", [](const CRef& first) { return CRef(first); }},
        {"copy assignment",
         [](const CRef& first) {
             CRef second;
             second = first;
             return second;
         }},
        {"share", [](const CRef& first) { return CRef::Share(first.Get()); }},
    };
    for (const SSecondOwnerCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        CCountedObject object;
        {
            CRef first(&object);  // takes over the object's first reference
            {
                const CRef second = c.makeSecond(first);
                EXPECT_EQ(&object, second.Get());
                EXPECT_EQ(2u, object.m_cRef);
            }
            EXPECT_EQ(1u, object.m_cRef);
        }
        EXPECT_EQ(0u, object.m_cRef);
    }
}

TEST(ComRef, CopyOfAnEmptyOwnerIsEmpty)
{
    const CRef empty;
    EXPECT_FALSE(CRef(empty));
    EXPECT_FALSE(CRef::Share(nullptr));
}

// True when another thread can take the mutex at once (and gives it back).
bool FreeForOthers(HANDLE hMutex)
{
    bool bTaken = false;
    std::thread([&] {
        bTaken = glim::Acquired(WaitForSingleObject(hMutex, 0));
        if (bTaken)
            ReleaseMutex(hMutex);
    }).join();
    return bTaken;
}

class MutexHold : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_hMutex); }
    glim::CScopedHandle m_hMutex{CreateMutexW(nullptr, FALSE, nullptr)};
};

TEST_F(MutexHold, TakesAFreeMutexAndGivesItBackAtItsEnd)
{
    {
        const glim::CMutexHold hold(m_hMutex.Get(), 0);
        EXPECT_TRUE(hold.Held());
        EXPECT_FALSE(FreeForOthers(m_hMutex.Get()));
    }
    EXPECT_TRUE(FreeForOthers(m_hMutex.Get()));
}

TEST_F(MutexHold, KeptHoldLeavesTheMutexTaken)
{
    {
        glim::CMutexHold hold(m_hMutex.Get(), 0);
        ASSERT_TRUE(hold.Held());
        hold.Keep();
    }
    EXPECT_FALSE(FreeForOthers(m_hMutex.Get()));
    ReleaseMutex(m_hMutex.Get());
}

TEST_F(MutexHold, WaitThatRunsOutHoldsNothingAndReleasesNothing)
{
    const glim::CScopedHandle taken(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const glim::CScopedHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const HANDLE hMutex = m_hMutex.Get(), hTaken = taken.Get(), hDone = done.Get();
    std::thread holder([=] {
        WaitForSingleObject(hMutex, INFINITE);
        SetEvent(hTaken);
        WaitForSingleObject(hDone, 10000);
        ReleaseMutex(hMutex);
    });
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hTaken, 10000));
    const ULONGLONG ullStart = GetTickCount64();
    {
        const glim::CMutexHold hold(hMutex, 200);
        EXPECT_FALSE(hold.Held());
    }
    EXPECT_GE(GetTickCount64() - ullStart, 150u);  // the bound was waited out
    SetEvent(hDone);
    holder.join();
    EXPECT_TRUE(FreeForOthers(hMutex));
}

TEST_F(MutexHold, AbandonedMutexIsHeldAndNoHandleIsNot)
{
    std::thread([this] { WaitForSingleObject(m_hMutex.Get(), INFINITE); }).join();  // ends holding it
    {
        const glim::CMutexHold hold(m_hMutex.Get(), 1000);
        EXPECT_TRUE(hold.Held());
    }
    EXPECT_TRUE(FreeForOthers(m_hMutex.Get()));
    EXPECT_FALSE(glim::CMutexHold(nullptr, 0).Held());
}

// Sets an error of its own whenever a reference is released, as a real object may.
class CErrorOnRelease : public CCountedObject {
public:
    STDMETHODIMP_(ULONG) Release() override
    {
        SetLastError(ERROR_BUSY);
        return CCountedObject::Release();
    }
};

// A kind of handle whose close always sets an error.
struct SErrorOnCloseTraits {
    using Type = void*;
    static Type Invalid() { return nullptr; }
    static void Close(Type) { SetLastError(ERROR_INVALID_HANDLE); }
};

// The error of the caller's failed call, set as the last thing before its owners end.
constexpr DWORD kCallersError = ERROR_FILE_NOT_FOUND;

struct SKeepCase {
    const char* pszName;
    std::function<void()> run;  // ends an owner whose release sets an error after kCallersError
};

TEST(Owners, KeepTheCallersLastErrorAcrossTheirRelease)
{
    CErrorOnRelease object;
    const glim::CScopedHandle hMutex(CreateMutexW(nullptr, FALSE, nullptr));
    ASSERT_TRUE(hMutex);
    const SKeepCase cases[] = {
        {"handle owner whose close fails",
         [&] {
             const glim::CScoped<SErrorOnCloseTraits> owner(&object);
             SetLastError(kCallersError);
         }},
        {"handle owner reset to another handle",
         [&] {
             glim::CScoped<SErrorOnCloseTraits> owner(&object);
             SetLastError(kCallersError);
             owner.Reset(hMutex.Get());
             owner.Keep();
         }},
        {"kernel handle closed behind the owner's back",
         [] {
             HANDLE hEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
             ASSERT_TRUE(hEvent);
             CloseHandle(hEvent);
             const glim::CScopedHandle owner(hEvent);  // its close fails: ERROR_INVALID_HANDLE
             SetLastError(kCallersError);
         }},
        {"COM reference",
         [&] {
             object.AddRef();
             const glim::CComRef<IUnknown> ref(&object);
             SetLastError(kCallersError);
         }},
        {"variant holding a COM reference",
         [&] {
             object.AddRef();
             glim::CScopedVariant var;
             var->vt = VT_UNKNOWN;
             var->punkVal = &object;
             SetLastError(kCallersError);
         }},
        {"mutex hold whose release fails",
         [&] {
             const glim::CMutexHold hold(hMutex.Get(), 0);
             ASSERT_TRUE(hold.Held());
             ReleaseMutex(hMutex.Get());  // its own release now fails: ERROR_NOT_OWNER
             SetLastError(kCallersError);
         }},
        {"settings lock whose release fails",
         [] {
             CMyMutex mutex(nullptr);
             const CAutoLock lock(&mutex);
             ReleaseMutex(mutex.m_hMutex.Get());
             SetLastError(kCallersError);
         }},
    };
    for (const SKeepCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        SetLastError(0xdeadbeef);
        c.run();
        EXPECT_EQ(kCallersError, GetLastError());
    }
}

TEST(LogLastError, LogsTheCallsFailureWithTheErrorAndReturnsIt)
{
    glimtest::Clear();
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GLIM_LOG_LAST_ERROR('W', L"CTest::Run", L"OpenService"));
    const std::vector<glimtest::Line> lines = glimtest::Lines();
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ('W', lines[0].chLevel);
    EXPECT_EQ(L"CTest::Run", lines[0].function);
    EXPECT_EQ(L"OpenService failed, dwErr=5", lines[0].message);
}

// Functions that leave early through the return-on-failure forms; -1 means they ran on.
int ReturnIfLastError(bool bFailed)
{
    SetLastError(ERROR_FILE_NOT_FOUND);
    GLIM_RETURN_LAST_ERROR_IF(bFailed, 'E', L"CTest::Open", L"CreateFile", 7);
    return -1;
}

int ReturnIfHrFailed(HRESULT hr, int* pnEvaluations)
{
    GLIM_RETURN_HR_IF_FAILED((++*pnEvaluations, hr), 'W', L"CTest::Attach", L"SetEventSink", 7);
    return -1;
}

struct SReturnCase {
    const char* pszName;
    std::function<int()> run;
    int nResult;
    const wchar_t* pszLine;  // the one line logged, or nullptr for none
    const wchar_t* pszLabel;
};

TEST(ReturnOnFailure, LogsTheFailureOnceAndReturnsTheGivenValue)
{
    int nEvaluations = 0;
    const SReturnCase cases[] = {
        {"last error, failed", [] { return ReturnIfLastError(true); }, 7, L"CreateFile failed, dwErr=2",
         L"CTest::Open"},
        {"last error, succeeded", [] { return ReturnIfLastError(false); }, -1, nullptr, nullptr},
        {"hr failed", [&] { return ReturnIfHrFailed(E_ACCESSDENIED, &nEvaluations); }, 7,
         L"SetEventSink failed, hr=0x80070005", L"CTest::Attach"},
        {"hr S_FALSE is a success", [&] { return ReturnIfHrFailed(S_FALSE, &nEvaluations); }, -1, nullptr, nullptr},
        {"hr S_OK", [&] { return ReturnIfHrFailed(S_OK, &nEvaluations); }, -1, nullptr, nullptr},
    };
    for (const SReturnCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        glimtest::Clear();
        nEvaluations = 0;
        EXPECT_EQ(c.nResult, c.run());
        EXPECT_LE(nEvaluations, 1);  // an hr expression is evaluated once
        const std::vector<glimtest::Line> lines = glimtest::Lines();
        if (!c.pszLine) {
            EXPECT_TRUE(lines.empty());
            continue;
        }
        ASSERT_EQ(1u, lines.size());
        EXPECT_EQ(c.pszLine, lines[0].message);
        EXPECT_EQ(c.pszLabel, lines[0].function);
    }
}

void __cdecl SignalArgument(void* pvEvent)
{
    SetEvent(static_cast<HANDLE>(pvEvent));
}

TEST(BeginThread, RunsTheThreadWithItsArgumentAndLogsNothing)
{
    const glim::CScopedHandle hRan(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(hRan);
    glimtest::Clear();
    EXPECT_TRUE(GLIM_BEGIN_THREAD(L"CTest::Init", L"SignalArgument", &SignalArgument, hRan.Get()));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hRan.Get(), 10000));
    EXPECT_TRUE(glimtest::Lines().empty());
}

}  // namespace
