// The smallest windows program that uses the window manager as a relay does (one
// FindWindowW), then ends.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    return FindWindowW(nullptr, L"no such window") ? 1 : 0;
}
