#include "Absence.h"

#include "Wait.h"

namespace glimtest {

::testing::AssertionResult NothingUntil(const std::function<bool()>& pfnHappened,
                                        const std::function<bool()>& pfnSentinel, const char* pszSentinel,
                                        DWORD dwTimeoutMs)
{
    bool bHappened = false;
    const bool bSentinel = WaitUntil(
        [&] {
            bHappened = bHappened || pfnHappened();
            return bHappened || pfnSentinel();
        },
        dwTimeoutMs);
    if (bHappened || pfnHappened())
        return ::testing::AssertionFailure() << "it happened before " << pszSentinel;
    if (!bSentinel)
        return ::testing::AssertionFailure()
            << pszSentinel << " did not come within " << dwTimeoutMs << " ms, so the absence proves nothing";
    return ::testing::AssertionSuccess();
}

bool WindowThreadPassed(HWND hWnd, DWORD dwTimeoutMs)
{
    DWORD_PTR dwResult = 0;
    return SendMessageTimeoutW(hWnd, WM_NULL, 0, 0, SMTO_NORMAL, dwTimeoutMs, &dwResult) != 0;
}

}  // namespace glimtest
