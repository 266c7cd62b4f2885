// What the in-process sensing tests share: a private settings folder (ALLUSERSPROFILE
// pointed at a fresh temporary folder before the settings path is built), COM joined to
// the multithreaded apartment as the agent's main thread is, and a window of the test
// thread that collects WM_LUX and WM_FULLSCREEN.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "SettingsFileTools.h"
#include "Wait.h"

namespace glimtest {

// Creates the folder and points this process's settings file into it (once per process).
void UsePrivateSettings();

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

}  // namespace glimtest
