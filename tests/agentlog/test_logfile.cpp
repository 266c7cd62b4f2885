// CLogFile against the real registry, file system and named mutex of the Wine prefix.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LogFile.h"
#include "LogTestUtil.h"

using namespace logfilesync;
using namespace glimtest;

namespace {

const std::string kBom("\xFF\xFE", 2);

class LogFileTest : public testing::Test {
protected:
    CAgentLogConfig m_config;
    CTempFolder m_dir;
    std::wstring m_path = m_dir.File(L"agent.log");
};

std::wstring Pid(DWORD dwId)
{
    wchar_t sz[16];
    _snwprintf(sz, 15, L"%06u", static_cast<unsigned>(dwId));
    sz[15] = L'\0';
    return sz;
}

}  // namespace

TEST_F(LogFileTest, NoKeyMeansNoFileAndSilentCalls)
{
    CLogFile logFile;
    EXPECT_FALSE(logFile.LoadConfig());
    EXPECT_FALSE(logFile.IsOpen());
    EXPECT_FALSE(logFile.Log('E', L"T::F", 1, L"lost"));
}

TEST_F(LogFileTest, DisabledOrIncompleteConfigurationOpensNothing)
{
    struct Case {
        const wchar_t* name;
        DWORD dwEnabled;  // 2: value absent
        bool bPath;
    } cases[] = {{L"enabled 0", 0, true}, {L"enabled missing", 2, true}, {L"logpath missing", 1, false}};
    for (const Case& c : cases) {
        CAgentLogConfig::Remove();
        CAgentLogConfig config;
        ASSERT_TRUE(config.Create());
        if (c.dwEnabled != 2) {
            ASSERT_TRUE(config.SetDword(L"enabled", c.dwEnabled));
        }
        if (c.bPath) {
            ASSERT_TRUE(config.SetString(L"logpath", m_path));
        }
        CLogFile logFile;
        EXPECT_FALSE(logFile.LoadConfig()) << c.name;
        EXPECT_EQ(0u, logFile.m_dwEnabled) << c.name;
        EXPECT_FALSE(logFile.Log('E', L"T::F", 1, L"lost")) << c.name;
        EXPECT_FALSE(FileExists(m_path)) << c.name;
    }
}

TEST_F(LogFileTest, OverlongPathIsRejected)
{
    ASSERT_TRUE(m_config.Write(m_dir.Path() + L"\\" + std::wstring(300, L'p'), 0, 0));
    CLogFile logFile;
    EXPECT_FALSE(logFile.LoadConfig());
    EXPECT_EQ(0u, logFile.m_dwEnabled);
    // 260 characters leave no room for the terminator either.
    ASSERT_TRUE(m_config.SetString(L"logpath", m_dir.Path() + L"\\" + std::wstring(259 - m_dir.Path().size(), L'p')));
    EXPECT_FALSE(logFile.LoadConfig());
}

TEST_F(LogFileTest, AppendZeroEmptiesTheFileAtEveryOpen)
{
    ASSERT_TRUE(WriteBytes(m_path, "old content that must go"));
    ASSERT_TRUE(m_config.Write(m_path, 0, 0));
    {
        CLogFile logFile;
        ASSERT_TRUE(logFile.LoadConfig());
        EXPECT_EQ(kBom, ReadBytes(m_path));
        SYSTEMTIME before;
        GetLocalTime(&before);
        EXPECT_TRUE(logFile.Log('D', L"CKBBackLightMgr::ShowOSD", 580, L"ShowOSD"));
        EXPECT_TRUE(logFile.Log('E', L"X::Y", 7, L"failed, dwErr=%d (%s)", 5, L"access"));

        std::vector<std::wstring> lines = ReadLines(m_path);
        ASSERT_EQ(2u, lines.size());
        ParsedLine parsed;
        ASSERT_TRUE(ParseLine(lines[0], &parsed)) << lines[0];
        EXPECT_EQ(before.wYear, parsed.year);
        EXPECT_EQ(before.wMonth, parsed.month);
        EXPECT_EQ(L'D', parsed.level);
        EXPECT_EQ(Pid(GetCurrentProcessId()), parsed.processId);
        EXPECT_EQ(Pid(GetCurrentThreadId()), parsed.threadId);
        EXPECT_EQ(L"CKBBackLightMgr::ShowOSD", parsed.function);
        EXPECT_EQ(580, parsed.line);
        EXPECT_EQ(L"ShowOSD", parsed.message);
        ASSERT_TRUE(ParseLine(lines[1], &parsed)) << lines[1];
        EXPECT_EQ(L'E', parsed.level);
        EXPECT_EQ(L"failed, dwErr=5 (access)", parsed.message);

        std::string bytes = ReadBytes(m_path);
        ASSERT_GE(bytes.size(), 6u);
        EXPECT_EQ(std::string("\r\0\n\0", 4), bytes.substr(bytes.size() - 4));
        logFile.Close();
        EXPECT_FALSE(logFile.Log('E', L"X::Y", 8, L"after close"));
    }
    // The next start empties it again.
    CLogFile second;
    ASSERT_TRUE(second.LoadConfig());
    EXPECT_EQ(kBom, ReadBytes(m_path));
}

TEST_F(LogFileTest, AppendOneKeepsContentAndAddsNoSecondMark)
{
    ASSERT_TRUE(m_config.Write(m_path, 1, 0));
    {
        CLogFile first;
        ASSERT_TRUE(first.LoadConfig());  // new file: gets its mark
        EXPECT_EQ(kBom, ReadBytes(m_path));
        EXPECT_TRUE(first.Log('I', L"A::B", 1, L"first run"));
    }
    std::string before = ReadBytes(m_path);
    CLogFile second;
    ASSERT_TRUE(second.LoadConfig());
    EXPECT_EQ(before, ReadBytes(m_path));
    EXPECT_TRUE(second.Log('I', L"A::B", 2, L"second run"));
    std::string after = ReadBytes(m_path);
    ASSERT_GT(after.size(), before.size());
    EXPECT_EQ(before, after.substr(0, before.size()));
    EXPECT_EQ(std::string::npos, after.find(kBom, 2));
    EXPECT_EQ((std::vector<std::wstring>{L"first run", L"second run"}), ReadMessages(m_path));
}

TEST_F(LogFileTest, CreatesMissingFoldersTwoLevelsDeep)
{
    std::wstring path = m_dir.File(L"one\\two\\agent.log");
    ASSERT_TRUE(m_config.Write(path, 0, 0));
    CLogFile logFile;
    ASSERT_TRUE(logFile.LoadConfig());
    EXPECT_TRUE(logFile.Log('D', L"A::B", 1, L"deep"));
    EXPECT_EQ(1u, ReadLines(path).size());
}

TEST_F(LogFileTest, UncreatableFileFails)
{
    // A folder stands where the file should be.
    ASSERT_TRUE(CreateDirectoryW(m_path.c_str(), nullptr));
    ASSERT_TRUE(m_config.Write(m_path, 0, 0));
    CLogFile logFile;
    EXPECT_FALSE(logFile.LoadConfig());
    EXPECT_FALSE(logFile.IsOpen());
    EXPECT_FALSE(logFile.Log('E', L"A::B", 1, L"lost"));
}

TEST_F(LogFileTest, LevelFilter)
{
    ASSERT_TRUE(m_config.Write(m_path, 0, 2));
    {
        CLogFile logFile;
        ASSERT_TRUE(logFile.LoadConfig());
        EXPECT_FALSE(logFile.Log('V', L"L::L", 1, L"verbose"));
        EXPECT_FALSE(logFile.Log('D', L"L::L", 2, L"debug"));
        EXPECT_TRUE(logFile.Log('I', L"L::L", 3, L"info"));
        EXPECT_TRUE(logFile.Log('W', L"L::L", 4, L"warning"));
        EXPECT_TRUE(logFile.Log('E', L"L::L", 5, L"error"));
        // Unknown letters count as 0, and so do bytes outside ASCII.
        EXPECT_FALSE(logFile.Log('X', L"L::L", 6, L"unknown"));
        EXPECT_FALSE(logFile.Log(static_cast<char>(0xC9), L"L::L", 7, L"high byte"));
        std::vector<std::wstring> lines = ReadLines(m_path);
        ASSERT_EQ(3u, lines.size());
        const wchar_t expected[] = {L'I', L'W', L'E'};
        for (size_t i = 0; i < 3; ++i) {
            ParsedLine parsed;
            ASSERT_TRUE(ParseLine(lines[i], &parsed));
            EXPECT_EQ(expected[i], parsed.level);
        }
    }
    ASSERT_TRUE(m_config.SetDword(L"loglevel", 5));
    CLogFile quiet;
    ASSERT_TRUE(quiet.LoadConfig());
    for (char ch : {'V', 'D', 'I', 'W', 'E'})
        EXPECT_FALSE(quiet.Log(ch, L"L::L", 1, L"nothing"));
    EXPECT_EQ(kBom, ReadBytes(m_path));
}

TEST_F(LogFileTest, LongMessageIsWrittenWhole)
{
    ASSERT_TRUE(m_config.Write(m_path, 0, 0));
    CLogFile logFile;
    ASSERT_TRUE(logFile.LoadConfig());
    std::wstring body;
    for (int i = 0; i < 5000; ++i)
        body += static_cast<wchar_t>(L'A' + i % 26);
    EXPECT_TRUE(logFile.Log('D', L"M::N", 1, L"<%s>", body.c_str()));
    EXPECT_EQ(std::vector<std::wstring>{L"<" + body + L">"}, ReadMessages(m_path));
}

TEST_F(LogFileTest, OverlongFunctionNameDropsThatLineOnly)
{
    ASSERT_TRUE(m_config.Write(m_path, 0, 0));
    CLogFile logFile;
    ASSERT_TRUE(logFile.LoadConfig());
    EXPECT_TRUE(logFile.Log('D', L"A::B", 1, L"before"));
    EXPECT_FALSE(logFile.Log('D', std::wstring(240, L'f').c_str(), 2, L"dropped"));
    EXPECT_TRUE(logFile.Log('D', L"A::B", 3, L"after"));
    EXPECT_EQ((std::vector<std::wstring>{L"before", L"after"}), ReadMessages(m_path));
}

TEST_F(LogFileTest, EmptyMessageWritesNothing)
{
    ASSERT_TRUE(m_config.Write(m_path, 0, 0));
    CLogFile logFile;
    ASSERT_TRUE(logFile.LoadConfig());
    EXPECT_FALSE(logFile.Log('D', L"A::B", 1, L""));
    EXPECT_EQ(kBom, ReadBytes(m_path));
}

TEST_F(LogFileTest, SecondOpenWhileOpenFails)
{
    ASSERT_TRUE(m_config.Write(m_path, 1, 0));
    CLogFile logFile;
    ASSERT_TRUE(logFile.LoadConfig());
    EXPECT_FALSE(logFile.Open());
    // The first opening still works.
    EXPECT_TRUE(logFile.Log('D', L"A::B", 1, L"still open"));
    logFile.Close();
    EXPECT_TRUE(logFile.Open());
    EXPECT_TRUE(logFile.Log('D', L"A::B", 2, L"reopened"));
    EXPECT_EQ(2u, ReadLines(m_path).size());
}

TEST_F(LogFileTest, MutexAbandonedByAnotherThreadStillCountsAsOwned)
{
    ASSERT_TRUE(m_config.Write(m_path, 0, 0));
    CLogFile logFile;
    ASSERT_TRUE(logFile.LoadConfig());
    wchar_t szName[kPathChars];
    ASSERT_TRUE(BuildMutexName(m_path.c_str(), szName));
    const glim::CScopedHandle hThread(CreateThread(
        nullptr, 0,
        [](void* pName) -> DWORD {
            const glim::CScopedHandle hMutex(OpenMutexW(SYNCHRONIZE, FALSE, static_cast<const wchar_t*>(pName)));
            if (!hMutex)
                return 1;
            return WaitForSingleObject(hMutex.Get(), 5000) == WAIT_OBJECT_0 ? 0 : 2;  // ends still owning it
        },
        szName, 0, nullptr));
    ASSERT_TRUE(hThread);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hThread.Get(), 10000));
    DWORD dwExit = 99;
    GetExitCodeThread(hThread.Get(), &dwExit);
    ASSERT_EQ(0u, dwExit);
    EXPECT_TRUE(logFile.Log('W', L"A::B", 1, L"after abandon"));
    EXPECT_EQ(1u, ReadLines(m_path).size());
}

TEST(LogMutexLock, WithoutMutexReportsNotReady)
{
    CLogFile::CMutexLock lock;
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_READY), lock.Lock());
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_READY), lock.Unlock());
    ASSERT_TRUE(lock.Create(L"Global\\glimlogtest-lock"));
    EXPECT_FALSE(lock.Create(L"Global\\glimlogtest-lock"));  // one mutex per lock
    EXPECT_EQ(0u, lock.Lock());
    EXPECT_EQ(0u, lock.Unlock());
    SetLastError(0xdeadbeef);
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_OWNER), lock.Unlock());
    lock.Close();
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_READY), lock.Lock());
}
