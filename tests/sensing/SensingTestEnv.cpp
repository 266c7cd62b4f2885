#include "SensingTestEnv.h"

#include <shlwapi.h>

#include <mutex>

#include "GlimNames.h"
#include "SettingsFile.h"
#include "TestLog.h"

namespace glimtest {

namespace {
std::mutex g_mutex;
std::vector<WPARAM> g_lux;
std::vector<WPARAM> g_fullScreen;
const wchar_t kClassName[] = L"GlimSensingTestSink";
}  // namespace

void UsePrivateSettings()
{
    static bool s_bDone = false;
    if (s_bDone)
        return;
    s_bDone = true;
    wchar_t szTemp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, szTemp);
    wchar_t szRoot[MAX_PATH] = {};
    _snwprintf(szRoot, MAX_PATH - 1, L"%sglimsensing-%lu", szTemp, GetCurrentProcessId());
    std::wstring strFolder = std::wstring(szRoot) + L"\\" + glim::kDataFolderRelative;
    CreateDirectoryW(szRoot, nullptr);
    CreateDirectoryW((std::wstring(szRoot) + L"\\" + glim::kDataVendorFolder).c_str(), nullptr);
    CreateDirectoryW(strFolder.c_str(), nullptr);
    DeleteFileW((strFolder + L"\\" + glim::kSettingsFileName).c_str());
    SetEnvironmentVariableW(glim::kSettingsEnvVar, szRoot);
    CSettingsFile::GetInstance()->BuildPath();
    // Also brings the tests' log call into every program that uses this helper, ahead of
    // the shared code that calls it.
    glimtest::Clear();
}

CMessageSink::CMessageSink()
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = WndProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kClassName;
    RegisterClassW(&wc);
    m_hWnd = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    Clear();
}

CMessageSink::~CMessageSink()
{
    if (m_hWnd)
        DestroyWindow(m_hWnd);
}

LRESULT CALLBACK CMessageSink::WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == glim::WM_LUX || uMsg == glim::WM_FULLSCREEN) {
        std::lock_guard<std::mutex> lock(g_mutex);
        (uMsg == glim::WM_LUX ? g_lux : g_fullScreen).push_back(wParam);
        return 0;
    }
    return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

std::vector<WPARAM> CMessageSink::Lux() const
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_lux;
}

std::vector<WPARAM> CMessageSink::FullScreen() const
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_fullScreen;
}

void CMessageSink::Clear()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_lux.clear();
    g_fullScreen.clear();
}

}  // namespace glimtest
