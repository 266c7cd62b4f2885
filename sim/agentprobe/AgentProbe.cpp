// Stands in for the agent at its install location: appends its whole command line, one
// UTF-16 line per start, to AgentProbe.log beside itself, then exits.
#include <windows.h>

#include <cwchar>

namespace {

bool LogPathBesideProgram(wchar_t (&szPath)[MAX_PATH])
{
    const DWORD cch = GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    if (cch == 0 || cch >= MAX_PATH)
        return false;
    wchar_t* pszSlash = wcsrchr(szPath, L'\\');
    if (!pszSlash || (pszSlash - szPath) + 1 + wcslen(L"AgentProbe.log") >= MAX_PATH)
        return false;
    wcscpy(pszSlash + 1, L"AgentProbe.log");
    return true;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    wchar_t szPath[MAX_PATH] = {};
    if (!LogPathBesideProgram(szPath))
        return 1;
    const wchar_t* pszCommandLine = GetCommandLineW();
    // Several probes may start close together: retry while another holds the file.
    for (int nTry = 0; nTry < 100; ++nTry) {
        HANDLE hFile = CreateFileW(szPath, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
        if (hFile == INVALID_HANDLE_VALUE) {
            Sleep(20);
            continue;
        }
        DWORD cbWritten = 0;
        WriteFile(hFile, pszCommandLine, static_cast<DWORD>(wcslen(pszCommandLine) * sizeof(wchar_t)), &cbWritten,
                  nullptr);
        WriteFile(hFile, L"\r\n", 2 * sizeof(wchar_t), &cbWritten, nullptr);
        CloseHandle(hFile);
        return 0;
    }
    return 2;
}
