// The on-screen display: a borderless, topmost, non-activating layered popup that shows the
// image of the backlight status for 3000 ms after the latest show, centred on the primary
// monitor 110 pixels above its bottom edge. Black is its transparent colour key.
#pragma once

#include <windows.h>

namespace osd {

constexpr int kWidth = 288;
constexpr int kHeight = 96;
constexpr int kBottomMargin = 110;
constexpr UINT kHideAfterMs = 3000;
constexpr const wchar_t* kClassName = L"csl_osd";
constexpr DWORD kExStyle = WS_EX_TOPMOST | WS_EX_LAYERED | WS_EX_NOACTIVATE;

// Top-left corner of a w x h window centred on rcMonitor with its bottom edge kBottomMargin
// pixels above the monitor's bottom edge.
POINT PlaceOnMonitor(const RECT& rcMonitor, int nWidth, int nHeight);

// Bitmap resource of a status image; 0 for a status that has none (the image stays).
UINT BitmapIdForStatus(int nStatus);

}  // namespace osd

class OSDWindow {
public:
    OSDWindow(HINSTANCE hInstance, int nWidth, int nHeight);
    virtual ~OSDWindow();
    OSDWindow(const OSDWindow&) = delete;
    OSDWindow& operator=(const OSDWindow&) = delete;

    // Registers "csl_osd" and creates the window hidden. True when the window exists.
    bool Create(HINSTANCE hInstance);
    // Selects the status image, brings the window up and (re)starts the hide timer.
    void Show(int nStatus);
    // Destroys the window if it exists.
    void Destroy();

    HWND GetHwnd() const { return m_hWnd; }

    static LRESULT CALLBACK WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    static void UpdatePosition(HWND hWnd);

private:
    static void Paint(HWND hWnd);
    static void LoadImageForStatus(int nStatus);

    HWND m_hWnd;
    HINSTANCE m_hInstance;
    INT32 m_nHeight;
    INT32 m_nWidth;
};
