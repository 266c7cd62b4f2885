#include "Wait.h"

namespace glimtest {

bool WaitUntil(const std::function<bool()>& pred, DWORD dwTimeoutMs, DWORD dwPollMs)
{
    const ULONGLONG ullDeadline = GetTickCount64() + dwTimeoutMs;
    for (;;) {
        // Messages first: what a window of this thread has been sent may be what pred awaits.
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (pred())
            return true;
        if (GetTickCount64() >= ullDeadline)
            return false;
        Sleep(dwPollMs);
    }
}

}  // namespace glimtest
