// Driving Glimagent.exe from a test: start it with a command line, wait for its exit or its
// main window, end it on every path (RAII), and reset the shared settings file.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "SettingsFileTools.h"
#include "Wait.h"

namespace glimtest {

// Glimagent.exe beside the running test program (build/bin).
std::wstring AgentPath();

// The agent's main window, or NULL.
HWND FindAgentWindow();

// One agent process. Unlike CChildProcess::Start, Start passes the command line as given,
// with no program name in front, as the service starts a relay. Ends with the object.
class CAgentProcess : public CChildProcess {
public:
    // commandLine is the whole command line. Returns the CreateProcessW error code, 0 on success.
    DWORD Start(const std::wstring& commandLine, const std::wstring& program = AgentPath())
    {
        return StartCommandLine(program, commandLine);
    }
    // Waits for the process to end, pumping this thread's messages meanwhile; true with its
    // exit code when it did.
    bool WaitExit(DWORD dwTimeoutMs, DWORD* pdwExitCode = nullptr);
    DWORD Pid() const { return Id(); }
};

// A main instance: started without a command word, ready once its window exists and its
// listeners have created their events. Ends through IDM_EXIT, or is terminated.
class CMainAgent {
public:
    CMainAgent() = default;
    ~CMainAgent();
    CMainAgent(const CMainAgent&) = delete;
    CMainAgent& operator=(const CMainAgent&) = delete;

    // program: the agent to start (the build's copy unless given, e.g. the installed one).
    bool Start(DWORD dwTimeoutMs = 15000, const std::wstring& program = AgentPath());
    // Sends WM_COMMAND IDM_EXIT and waits for the end of the process.
    bool Exit(DWORD dwTimeoutMs = 10000);
    HWND Window() const { return m_hWnd; }
    CAgentProcess& Process() { return m_process; }

private:
    CAgentProcess m_process;
    HWND m_hWnd = nullptr;
};

// Ends every agent main instance left by an earlier test (by its window) and waits until
// the single-instance mutex is gone.
void EndStrayAgents();

// The ids of the processes whose image is the given program (this process excluded).
std::vector<DWORD> ProcessesOf(const std::wstring& program);

// Ends every process whose image is the given program (for example the relays a service
// started from the installed agent) and waits until they are gone.
void EndProcessesOf(const std::wstring& program);

// Deletes the settings file and writes the given keys (name, value) in its section.
void ResetSettings(std::initializer_list<std::pair<const wchar_t*, const wchar_t*>> keys = {});

// Signals a named event the way the settings application does (opens it; false when it
// does not exist).
bool SignalExistingEvent(const wchar_t* pszName);
bool EventExists(const wchar_t* pszName);

}  // namespace glimtest
