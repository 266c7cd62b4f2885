#include "FullScreen.h"

#include "GlimNames.h"
#include "SettingsFile.h"

using namespace glim;

namespace {
std::atomic<CFullScreen*> g_pFullScreen{nullptr};
CStaticCriticalSection g_csFullScreen;
}  // namespace

CFullScreen::CFullScreen() : m_hWnd(nullptr), m_bMonitoring(false) {}

CFullScreen::~CFullScreen() = default;

CFullScreen* CFullScreen::GetInstance()
{
    return GetOrCreateInstance(g_pFullScreen, g_csFullScreen);
}

void CFullScreen::StartFullScreenMonitor(HWND hWnd)
{
    StopFullScreenMonitor();
    m_hWnd = hWnd;
    m_bMonitoring = CSettingsFile::GetInstance()->ReadInt(kKeyFullScreen5sClose, kDefFullScreen5sClose) != 0;
}

void CFullScreen::StopFullScreenMonitor()
{
    m_bMonitoring = false;
}
