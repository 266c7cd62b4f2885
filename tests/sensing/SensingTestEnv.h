// What the in-process sensing tests share: a private settings folder (ALLUSERSPROFILE
// pointed at a fresh temporary folder before the settings path is built), COM joined to
// the multithreaded apartment as the agent's main thread is, and a window of the test
// thread that collects WM_LUX and WM_FULLSCREEN.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace sensingtest {

// Creates the folder and points this process's settings file into it (once per process).
void UsePrivateSettings();
void WriteSetting(const wchar_t* pszKey, const wchar_t* pszValue);
void WriteSetting(const wchar_t* pszKey, int nValue);

// Collects the wParam of every WM_LUX and WM_FULLSCREEN that reaches it.
class CMessageSink {
public:
    CMessageSink();
    virtual ~CMessageSink();
    HWND Handle() const { return m_hWnd; }
    std::vector<WPARAM> Lux() const;
    std::vector<WPARAM> FullScreen() const;
    void Clear();

private:
    static LRESULT CALLBACK WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    HWND m_hWnd;
};

// Serves this thread's messages until pred() holds or the deadline passes.
template <typename Pred>
bool PumpUntil(Pred pred, DWORD dwTimeoutMs)
{
    const DWORD dwStart = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (pred())
            return true;
        if (GetTickCount() - dwStart >= dwTimeoutMs)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

}  // namespace sensingtest
