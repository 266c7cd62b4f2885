// Glimward.exe: the keyboard backlight service and its four command verbs.
#include <windows.h>

#include "ScopedHandle.h"
#include "Service.h"
#include "ServiceCommand.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR lpCmdLine, int)
{
    int nArgc = 0;
    LPWSTR* ppszArgv = glim::BuildServiceArgv(lpCmdLine, &nArgc);
    const glim::CScopedLocalMemory argv(ppszArgv);
    CService* pService = new CService();
    pService->Initialize();
    pService->ExecArguments(nArgc, ppszArgv);
    pService->m_bInitialized = FALSE;
    delete pService;
    return 0;
}
