// Glimward.exe: the keyboard backlight service and its four command verbs.
#include <windows.h>

#include "BackLightService.h"
#include "ScopedHandle.h"
#include "ServiceCommand.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR lpCmdLine, int)
{
    // DLLs come from this program's folder and System32 only, never from the current folder
    // or PATH (the delay-loaded ones included).
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    int nArgc = 0;
    LPWSTR* ppszArgv = glim::BuildServiceArgv(lpCmdLine, &nArgc);
    const glim::CScopedLocalMemory argv(ppszArgv);
    CService* pService = new CBackLightService();
    pService->Initialize();
    pService->ExecArguments(nArgc, ppszArgv);
    pService->m_bInitialized = FALSE;
    delete pService;
    return 0;
}
