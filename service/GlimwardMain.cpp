// Glimward.exe: the keyboard backlight service and its four command verbs.
#include <windows.h>

#include "Service.h"
#include "ServiceCommand.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR lpCmdLine, int)
{
    int nArgc = 0;
    LPWSTR* ppszArgv = glim::BuildServiceArgv(lpCmdLine, &nArgc);
    CService* pService = new CService();
    pService->Initialize();
    pService->ExecArguments(nArgc, ppszArgv);
    pService->m_bInitialized = FALSE;
    delete pService;
    if (ppszArgv)
        LocalFree(ppszArgv);
    return 0;
}
