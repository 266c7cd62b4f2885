#include "FakeSettingsApp.h"

#include "AgentProcess.h"
#include "GlimNames.h"

using namespace glim;

namespace {
constexpr const wchar_t* kClass = L"GlimTestFakeZentia";
}

CFakeSettingsApp::CFakeSettingsApp(bool bHung, DWORD dwPauseMs)
    : m_bHung(bHung), m_dwPauseMs(dwPauseMs)
{
    m_hReady = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_hRelease = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_thread = std::thread(&CFakeSettingsApp::Run, this);
    WaitForSingleObject(m_hReady, 10000);
}

CFakeSettingsApp::~CFakeSettingsApp()
{
    SetEvent(m_hRelease);
    if (m_hWnd)
        PostMessageW(m_hWnd, WM_CLOSE, 0, 0);
    if (m_thread.joinable())
        m_thread.join();
    CloseHandle(m_hReady);
    CloseHandle(m_hRelease);
}

std::vector<NotifyRecord> CFakeSettingsApp::Records()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_records;
}

LRESULT CALLBACK CFakeSettingsApp::WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    auto* pSelf = reinterpret_cast<CFakeSettingsApp*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    if (uMsg == WM_UWP_NOTIFY && pSelf) {
        NotifyRecord record = {wParam, lParam, agenttest::ReadSetting(kKeyKBStatus, 99), 0};
        // While the relay waits here its event must not have been signalled yet: the main
        // instance must not move the status meanwhile.
        Sleep(pSelf->m_dwPauseMs);
        record.dwStatusAfterPause = agenttest::ReadSetting(kKeyKBStatus, 99);
        std::lock_guard<std::mutex> lock(pSelf->m_mutex);
        pSelf->m_records.push_back(record);
        return 0;
    }
    if (uMsg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

void CFakeSettingsApp::Run()
{
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = WndProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kClass;
    RegisterClassExW(&wc);
    HWND hWnd = CreateWindowExW(0, kClass, kSettingsAppWindowTitle, WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                                nullptr, wc.hInstance, nullptr);
    if (hWnd)
        SetWindowLongPtrW(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    m_hWnd = hWnd;
    SetEvent(m_hReady);
    if (!hWnd)
        return;
    if (m_bHung)
        WaitForSingleObject(m_hRelease, INFINITE);  // a hung application: no messages served
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0)
        DispatchMessageW(&msg);
}
