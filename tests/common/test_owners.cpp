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
        {"copy assignment", [](const CRef& first) {
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
        {"handle owner whose close fails", [&] {
             const glim::CScoped<SErrorOnCloseTraits> owner(&object);
             SetLastError(kCallersError);
         }},
        {"handle owner reset to another handle", [&] {
             glim::CScoped<SErrorOnCloseTraits> owner(&object);
             SetLastError(kCallersError);
             owner.Reset(hMutex.Get());
             owner.Keep();
         }},
        {"kernel handle closed behind the owner's back", [] {
             HANDLE hEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
             ASSERT_TRUE(hEvent);
             CloseHandle(hEvent);
             const glim::CScopedHandle owner(hEvent);  // its close fails: ERROR_INVALID_HANDLE
             SetLastError(kCallersError);
         }},
        {"COM reference", [&] {
             object.AddRef();
             const glim::CComRef<IUnknown> ref(&object);
             SetLastError(kCallersError);
         }},
        {"variant holding a COM reference", [&] {
             object.AddRef();
             glim::CScopedVariant var;
             var->vt = VT_UNKNOWN;
             var->punkVal = &object;
             SetLastError(kCallersError);
         }},
        {"mutex hold whose release fails", [&] {
             const glim::CMutexHold hold(hMutex.Get(), 0);
             ASSERT_TRUE(hold.Held());
             ReleaseMutex(hMutex.Get());  // its own release now fails: ERROR_NOT_OWNER
             SetLastError(kCallersError);
         }},
        {"settings lock whose release fails", [] {
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

}  // namespace
