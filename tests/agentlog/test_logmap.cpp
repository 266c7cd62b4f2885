// The registry of log files, the start/stop sequence of a program's log, the shutdown
// race, and two processes writing one file.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.h"
#include "LogFileMap.h"
#include "LogTestUtil.h"

using namespace logfilesync;
using namespace glimtest;

namespace {

class LogMapTest : public testing::Test {
protected:
    CAgentLogConfig m_config;
    CTempFolder m_dir;
    std::wstring m_path = m_dir.File(L"agent.log");
    CLogFileMap m_map;
};

// True when nobody holds the file open any more (exclusive opening succeeds).
bool FileIsClosedByAll(const std::wstring& path)
{
    return glim::CScopedFile(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)).IsValid();
}

}  // namespace

TEST_F(LogMapTest, RegistersOneFilePerExactName)
{
    bool bCreated = false;
    CLogFileRef first = m_map.GetLogFile(L"Glimagent", &bCreated);
    ASSERT_TRUE(first);
    EXPECT_TRUE(bCreated);
    EXPECT_FALSE(first->IsOpen());
    EXPECT_EQ(0u, first->m_dwEnabled);

    CLogFileRef again = m_map.GetLogFile(L"Glimagent", &bCreated);
    EXPECT_FALSE(bCreated);
    EXPECT_EQ(first.Get(), again.Get());
    EXPECT_EQ(first.Get(), m_map.FindLogFile(L"Glimagent").Get());
    EXPECT_FALSE(m_map.FindLogFile(L"glimagent"));  // case-sensitive
    EXPECT_FALSE(m_map.FindLogFile(L"Other"));

    m_map.RemoveLogFile(L"Other");  // unknown: nothing happens
    EXPECT_TRUE(m_map.FindLogFile(L"Glimagent"));
    m_map.RemoveLogFile(L"Glimagent");
    EXPECT_FALSE(m_map.FindLogFile(L"Glimagent"));
    CLogFileRef fresh = m_map.GetLogFile(L"Glimagent", &bCreated);
    EXPECT_TRUE(bCreated);
}

TEST_F(LogMapTest, StartWithoutConfigurationRegistersNothing)
{
    EXPECT_FALSE(StartModuleLog(m_map, L"Glimagent"));
    EXPECT_FALSE(m_map.FindLogFile(L"Glimagent"));
    StopModuleLog(m_map, L"Glimagent");  // harmless when nothing is registered
}

TEST_F(LogMapTest, StartOpensAndStopClosesAndUnregisters)
{
    ASSERT_TRUE(m_config.Write(m_path, 0, 0));
    ASSERT_TRUE(StartModuleLog(m_map, L"Glimagent"));
    CLogFileRef logFile = m_map.FindLogFile(L"Glimagent");
    ASSERT_TRUE(logFile);
    EXPECT_TRUE(logFile->IsOpen());
    EXPECT_TRUE(logFile->Log('D', L"A::B", 1, L"running"));
    logFile.Reset();
    EXPECT_FALSE(FileIsClosedByAll(m_path));
    StopModuleLog(m_map, L"Glimagent");
    EXPECT_FALSE(m_map.FindLogFile(L"Glimagent"));
    EXPECT_TRUE(FileIsClosedByAll(m_path));
    EXPECT_EQ(1u, ReadLines(m_path).size());
}

TEST_F(LogMapTest, ReferenceKeepsARemovedFileAliveUntilReleased)
{
    ASSERT_TRUE(m_config.Write(m_path, 0, 0));
    ASSERT_TRUE(StartModuleLog(m_map, L"Glimagent"));
    CLogFileRef inFlight = m_map.FindLogFile(L"Glimagent");
    ASSERT_TRUE(inFlight);
    m_map.RemoveLogFile(L"Glimagent");
    EXPECT_FALSE(m_map.FindLogFile(L"Glimagent"));
    // The call that looked the file up before the removal still completes its line.
    EXPECT_TRUE(inFlight->Log('D', L"A::B", 1, L"late line"));
    EXPECT_FALSE(FileIsClosedByAll(m_path));
    inFlight.Reset();  // the last reference deletes the file object, closing the file
    EXPECT_TRUE(FileIsClosedByAll(m_path));
    EXPECT_EQ(1u, ReadLines(m_path).size());
}

TEST_F(LogMapTest, ReferenceOutlivesTheMap)
{
    ASSERT_TRUE(m_config.Write(m_path, 0, 0));
    CLogFileRef survivor;
    {
        CLogFileMap map;
        ASSERT_TRUE(StartModuleLog(map, L"Glimagent"));
        survivor = map.FindLogFile(L"Glimagent");
    }
    ASSERT_TRUE(survivor);
    EXPECT_TRUE(survivor->Log('D', L"A::B", 1, L"after the map"));
    survivor.Reset();
    EXPECT_TRUE(FileIsClosedByAll(m_path));
}

// Threads log through lookups while the main thread shuts the log down (close, then
// remove), over and over. A lookup that hands out a deleted object shows up as a crash, a
// torn line or a write into a recycled handle.
TEST_F(LogMapTest, ShutdownRacingLogCallsIsSafe)
{
    ASSERT_TRUE(m_config.Write(m_path, 1, 0));
    constexpr int kIterations = 150;
    constexpr int kThreads = 3;
    long nTotalWritten = 0;
    for (int iteration = 0; iteration < kIterations; ++iteration) {
        CLogFileMap map;
        ASSERT_TRUE(StartModuleLog(map, L"Glimagent"));
        std::atomic<long> nWritten{0};
        std::atomic<bool> bRemoved{false};
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&map, &nWritten, &bRemoved, t] {
                for (int i = 0;; ++i) {
                    // Read the flag first: a lookup that fails after it was set ends the thread.
                    bool bWasRemoved = bRemoved.load();
                    CLogFileRef logFile = map.FindLogFile(L"Glimagent");
                    if (!logFile) {
                        if (bWasRemoved)
                            return;
                        continue;
                    }
                    if (logFile->Log('D', L"Race::Thread", t, L"iteration line %d", i))
                        ++nWritten;
                }
            });
        }
        // Let the threads get going, then pull the file from under them.
        DWORD dwDeadline = GetTickCount() + 5000;
        while (nWritten.load() < 3 * kThreads && GetTickCount() < dwDeadline)
            Sleep(0);
        StopModuleLog(map, L"Glimagent");
        bRemoved = true;
        for (std::thread& th : threads)
            th.join();
        EXPECT_FALSE(map.FindLogFile(L"Glimagent"));
        nTotalWritten += nWritten.load();
    }
    EXPECT_TRUE(FileIsClosedByAll(m_path));
    std::vector<std::wstring> lines = ReadLines(m_path);
    EXPECT_EQ(static_cast<size_t>(nTotalWritten), lines.size());
    for (const std::wstring& line : lines) {
        ParsedLine parsed;
        ASSERT_TRUE(ParseLine(line, &parsed)) << "torn line: " << testing::PrintToString(line);
        ASSERT_EQ(0u, parsed.message.find(L"iteration line "));
    }
}

// Two processes log to one file at once through the agent's own log call: every line is
// whole and each process's lines appear in its order.
TEST_F(LogMapTest, TwoProcessesNeverInterleaveWithinALine)
{
    // append 1: with 0, a writer that starts late would empty the file under the other.
    ASSERT_TRUE(m_config.Write(m_path, 1, 0));
    const std::wstring program = CChildProcess::ModuleDir() + L"logwriter.exe";
    ASSERT_TRUE(FileExists(program)) << "logwriter.exe is not beside the test program";
    constexpr int kLines = 1500;
    // Both writers open their log, report ready, and start writing on one signal.
    const wchar_t* kReady = L"glimlogtest-ready";
    const wchar_t* kGo = L"glimlogtest-go";
    glim::CScopedHandle ready(CreateSemaphoreW(nullptr, 0, 2, kReady));
    glim::CScopedHandle go(CreateEventW(nullptr, TRUE, FALSE, kGo));
    ASSERT_NE(nullptr, ready.Get());
    ASSERT_NE(nullptr, go.Get());
    CChildProcess processes[2];
    for (CChildProcess& process : processes)
        ASSERT_EQ(0u, process.Start(program, std::to_wstring(kLines) + L" " + kReady + L" " + kGo));
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready.Get(), 30000));
    SetEvent(go.Get());
    for (CChildProcess& process : processes) {
        DWORD dwExit = 99;
        EXPECT_TRUE(process.WaitExit(120000, &dwExit));
        EXPECT_EQ(0u, dwExit);
    }

    std::string bytes = ReadBytes(m_path);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(std::string("\xFF\xFE", 2), bytes.substr(0, 2));
    std::vector<std::wstring> lines = ReadLines(m_path);
    ASSERT_EQ(2u * kLines, lines.size());
    std::wstring body;  // as logwriter writes it
    for (int i = 0; i < 300; ++i)
        body += static_cast<wchar_t>(L'a' + i % 26);
    std::map<std::wstring, int> nextSeq;
    std::wstring lastProcess;
    int nSwitches = 0;
    for (const std::wstring& line : lines) {
        ParsedLine parsed;
        ASSERT_TRUE(ParseLine(line, &parsed)) << "torn line: " << testing::PrintToString(line);
        ASSERT_EQ(L"logwriter", parsed.function);
        int& expected = nextSeq[parsed.processId];
        ASSERT_EQ(L"seq=" + std::to_wstring(expected) + L" body=" + body + L" end", parsed.message)
            << "process " << testing::PrintToString(parsed.processId);
        ++expected;
        if (!lastProcess.empty() && lastProcess != parsed.processId)
            ++nSwitches;
        lastProcess = parsed.processId;
    }
    // Without overlap the run proves nothing about the mutex.
    EXPECT_GE(nSwitches, 10) << "the two writers hardly overlapped";
    ASSERT_EQ(2u, nextSeq.size());
    for (auto& item : nextSeq)
        EXPECT_EQ(kLines, item.second);
}

// The handler that the log installs reports an invalid parameter on standard output in two
// lines, and a runtime call given one fails with its error return instead of ending the
// process.
TEST(LogInvalidParameterHandler, ReportsAndLetsTheProcessGoOn)
{
    const std::wstring program = CChildProcess::ModuleDir() + L"logwriter.exe";
    ASSERT_TRUE(FileExists(program)) << "logwriter.exe is not beside the test program";
    CTempFolder dir;
    const std::wstring outPath = dir.File(L"out.txt");
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    glim::CScopedFile out(CreateFileW(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr));
    ASSERT_NE(INVALID_HANDLE_VALUE, out.Get());
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = out.Get();
    si.hStdError = out.Get();
    std::wstring cmd = L"\"" + program + L"\" invalid-parameter";
    PROCESS_INFORMATION pi = {};
    SetLastError(0xdeadbeef);
    ASSERT_TRUE(CreateProcessW(program.c_str(), &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
        << GetLastError();
    CloseHandle(pi.hThread);
    glim::CScopedHandle process(pi.hProcess);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.Get(), 30000));
    DWORD dwExit = 99;
    GetExitCodeProcess(process.Get(), &dwExit);
    EXPECT_EQ(0u, dwExit);
    out.Reset();
    std::string text = ReadBytes(outPath);
    // Standard output in text mode: each \n arrives as CR LF.
    EXPECT_EQ(0u,
              text.find("Invalid parameter detected in function wcsncpy_s. File: string.c Line: 42\r\n"
                        "Expression: count > 0\r\n"))
        << text;
    EXPECT_NE(std::string::npos, text.find("carried on, error 22")) << text;  // EINVAL
}
