// The helpers every fixture stands on: the bounded wait (its deadline, and the messages it
// serves meanwhile), the scratch folder, the settings-file access and the skip hook.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "Absence.h"
#include "GlimNames.h"
#include "SettingsFileTools.h"
#include "StagedTest.h"
#include "Wait.h"

using namespace glimtest;

namespace {

// A message-only window of the test thread that counts what reaches it.
class CCountingWindow {
public:
    CCountingWindow()
    {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = WndProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"GlimHarnessCounter";
        RegisterClassW(&wc);
        m_hWnd = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
        s_nReceived = 0;
    }
    virtual ~CCountingWindow() { DestroyWindow(m_hWnd); }
    CCountingWindow(const CCountingWindow&) = delete;
    CCountingWindow& operator=(const CCountingWindow&) = delete;

    HWND Handle() const { return m_hWnd; }
    static int s_nReceived;

private:
    static LRESULT CALLBACK WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
    {
        if (uMsg == WM_APP)
            ++s_nReceived;
        return DefWindowProcW(hWnd, uMsg, wParam, lParam);
    }
    HWND m_hWnd = nullptr;
};
int CCountingWindow::s_nReceived = 0;

}  // namespace

// A check of absence passes only when the sentinel came and the unwanted thing was seen
// neither before it nor right after it.
TEST(Harness, NothingUntilNeedsItsSentinel)
{
    int nPolls = 0;
    const struct {
        const char* pszCase;
        std::function<bool()> pfnHappened;  // sees the polls counted so far
        int nSentinelPoll;                  // the poll at which the sentinel holds; 0: never
        bool bPasses;
    } kCases[] = {
        {"nothing, sentinel on the third poll", [] { return false; }, 3, true},
        {"happened before the sentinel", [&] { return nPolls >= 2; }, 5, false},
        {"happened as the sentinel came", [&] { return nPolls >= 3; }, 3, false},
        {"no sentinel", [] { return false; }, 0, false},
    };
    for (const auto& c : kCases) {
        nPolls = 0;
        const int nSentinelPoll = c.nSentinelPoll;
        const ::testing::AssertionResult result = NothingUntil(
            c.pfnHappened, [&] { return ++nPolls == nSentinelPoll; }, "the sentinel", 300);
        EXPECT_EQ(c.bPasses, static_cast<bool>(result)) << c.pszCase << ": " << result.message();
    }
}

// The sentinel of a window's thread returns only after the handler running there has ended.
TEST(Harness, WindowThreadPassedWaitsForTheRunningHandler)
{
    std::atomic<HWND> hWnd{nullptr};
    std::atomic<DWORD> dwOwner{0};
    std::atomic<bool> bHandlerStarted{false}, bHandlerDone{false};
    std::thread owner([&] {
        CCountingWindow window;
        dwOwner = GetCurrentThreadId();
        hWnd = window.Handle();
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            if (msg.message == WM_APP + 1) {
                bHandlerStarted = true;
                Sleep(500);  // a handler busy for a while
                bHandlerDone = true;
            }
            DispatchMessageW(&msg);
        }
    });
    // No ASSERT until the owner thread is joined.
    EXPECT_TRUE(WaitUntil([&] { return hWnd.load() != nullptr; }, 5000));
    EXPECT_TRUE(PostMessageW(hWnd, WM_APP + 1, 0, 0));
    EXPECT_TRUE(WaitUntil([&] { return bHandlerStarted.load(); }, 5000));
    EXPECT_TRUE(WindowThreadPassed(hWnd, 5000));
    EXPECT_TRUE(bHandlerDone) << "the sentinel returned while the handler still ran";
    PostThreadMessageW(dwOwner, WM_QUIT, 0, 0);
    owner.join();
}

// The wait returns as soon as the condition holds, never later than its deadline, and serves
// the thread's messages, which is what a condition on a window of the test often awaits.
TEST(Harness, WaitUntilKeepsItsDeadlineAndServesMessages)
{
    CCountingWindow window;
    ASSERT_TRUE(window.Handle());
    const struct {
        const char* pszCase;
        std::function<void()> pfnBefore;
        std::function<bool()> pfnPred;
        DWORD dwTimeoutMs;
        bool bResult;
        DWORD dwMinMs, dwMaxMs;
    } kCases[] = {
        {"holds at once", [] {}, [] { return true; }, 5000, true, 0, 1000},
        {"never holds", [] {}, [] { return false; }, 300, false, 300, 2000},
        {"a posted message", [&] { PostMessageW(window.Handle(), WM_APP, 0, 0); },
         [] { return CCountingWindow::s_nReceived > 0; }, 3000, true, 0, 1000},
    };
    for (const auto& c : kCases) {
        CCountingWindow::s_nReceived = 0;
        c.pfnBefore();
        const ULONGLONG ullStart = GetTickCount64();
        EXPECT_EQ(c.bResult, WaitUntil(c.pfnPred, c.dwTimeoutMs)) << c.pszCase;
        const ULONGLONG ullElapsed = GetTickCount64() - ullStart;
        EXPECT_GE(ullElapsed, c.dwMinMs) << c.pszCase;
        EXPECT_LE(ullElapsed, c.dwMaxMs) << c.pszCase;
    }
}

// Two scratch folders never share a path, and each goes with everything put inside it.
TEST(Harness, TempFolderIsFreshAndLeavesNothingBehind)
{
    std::wstring strFirst, strNested;
    {
        CTempFolder first, second;
        ASSERT_FALSE(first.Path().empty());
        ASSERT_FALSE(second.Path().empty());
        EXPECT_NE(first.Path(), second.Path());
        strFirst = first.Path();
        strNested = first.File(L"sub");
        ASSERT_TRUE(CreateDirectoryW(strNested.c_str(), nullptr));
        HANDLE hFile = CreateFileW((strNested + L"\\x.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, hFile);
        CloseHandle(hFile);
    }
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(strNested.c_str()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(strFirst.c_str()));
}

// The settings helpers reach the file the programs use (it follows ALLUSERSPROFILE) and read
// back what they wrote; a removed or missing key gives the default.
TEST(Harness, SettingsFileAccessReadsBackWhatItWrote)
{
    CTempFolder allUsers;
    ASSERT_FALSE(allUsers.Path().empty());
    CScopedEnvVar env(glim::kSettingsEnvVar, allUsers.Path().c_str());
    EXPECT_EQ(allUsers.Path() + L"\\" + glim::kSettingsRelativePath, FilePath());
    ASSERT_EQ(0u, EnsureFolder());
    const struct {
        const char* pszCase;
        std::function<bool()> pfnWrite;
        std::wstring strText;  // ReadKey's answer, "-" when missing
        DWORD dwNumber;        // ReadNumber's answer, 99 when missing
    } kCases[] = {
        {"text", [] { return WriteKey(L"Probe", L"two words"); }, L"two words", 0},
        {"number", [] { return WriteKey(L"Probe", 42); }, L"42", 42},
        {"negative", [] { return WriteKey(L"Probe", -1); }, L"-1", static_cast<DWORD>(-1)},
        {"removed", [] { return RemoveKey(L"Probe"); }, L"-", 99},
        {"file gone", [] { return RemoveFile() == 0; }, L"-", 99},
    };
    for (const auto& c : kCases) {
        ASSERT_TRUE(c.pfnWrite()) << c.pszCase;
        EXPECT_EQ(c.strText, ReadKey(L"Probe", L"-")) << c.pszCase;
        EXPECT_EQ(c.dwNumber, ReadNumber(L"Probe", 99)) << c.pszCase;
    }
}

namespace {

// A base fixture that skips every test: the derived preparation must not run.
class SkippingBase : public CStagedTest {
protected:
    void SetUpBase() override { GTEST_SKIP() << "the base skips, as without a driver"; }
    void SetUpTest() override { ADD_FAILURE() << "the derived preparation ran after the base skipped"; }
};

// A base fixture that proceeds: the derived preparation runs once, after it.
class ProceedingBase : public CStagedTest {
protected:
    void SetUpBase() override { m_strOrder += L"base "; }
    void SetUpTest() override { m_strOrder += L"test"; }
    std::wstring m_strOrder;
};

}  // namespace

TEST_F(SkippingBase, DerivedPreparationNeverRuns)
{
    ADD_FAILURE() << "the body ran after the base skipped";
}

TEST_F(ProceedingBase, DerivedPreparationRunsAfterTheBase)
{
    EXPECT_EQ(L"base test", m_strOrder);
}
