// A window titled "Zentia" on a thread of the test, standing in for the settings
// application as far as the relays see it: it records every WM_UWP_NOTIFY with the stored
// KBStatus at the moment it arrived and again after a pause inside the handler, or
// (hung mode) stops pumping messages altogether.
#pragma once

#include <windows.h>

#include <mutex>
#include <thread>
#include <vector>

struct NotifyRecord {
    WPARAM wParam;
    LPARAM lParam;
    DWORD dwStatusOnArrival;
    DWORD dwStatusAfterPause;  // KBStatus after a pause inside the handler
};

class CFakeSettingsApp {
public:
    // bHung: the window exists but its thread never answers.
    explicit CFakeSettingsApp(bool bHung = false, DWORD dwPauseMs = 400);
    ~CFakeSettingsApp();
    CFakeSettingsApp(const CFakeSettingsApp&) = delete;
    CFakeSettingsApp& operator=(const CFakeSettingsApp&) = delete;

    bool Ready() const { return m_hWnd != nullptr; }
    std::vector<NotifyRecord> Records();

private:
    static LRESULT CALLBACK WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    void Run();

    bool m_bHung;
    DWORD m_dwPauseMs;
    HWND m_hWnd = nullptr;
    HANDLE m_hReady = nullptr;
    HANDLE m_hRelease = nullptr;
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<NotifyRecord> m_records;
};
