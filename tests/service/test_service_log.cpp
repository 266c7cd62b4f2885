// The service log writer on files of the test's own: it never creates the file, appends
// one UTF-16 line per message, keeps a byte-order mark, cuts long lines safely and drops
// lines while another writer holds the file.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdarg>
#include <string>
#include <thread>
#include <vector>

#include "HostLink.h"
#include "LogTestUtil.h"
#include "ScopedHandle.h"
#include "ServiceLog.h"

using glim::CServiceLog;

namespace {

class ServiceLogWriter : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(m_folder.Path().empty());
        m_path = m_folder.File(L"glim_service_log_test.log");
    }

    void CreateFileWith(const std::string& bytes) const { ASSERT_TRUE(glimtest::WriteBytes(m_path, bytes)); }
    std::string Bytes() const { return glimtest::ReadBytes(m_path); }

    std::wstring Text(size_t skipBytes = 0) const
    {
        const std::string bytes = Bytes();
        std::wstring text((bytes.size() - skipBytes) / 2, L'\0');
        if (!text.empty())
            memcpy(&text[0], bytes.data() + skipBytes, text.size() * 2);
        return text;
    }

    static void Log(CServiceLog& log, const wchar_t* pszFormat, ...)
    {
        va_list args;
        va_start(args, pszFormat);
        log.WriteV(pszFormat, args);
        va_end(args);
    }

    glimtest::CTempFolder m_folder;
    std::wstring m_path;
};

// "Pid:<pid>  hh:mm:ss  " for this process, checked field by field.
void ExpectLine(const std::wstring& line, const std::wstring& message)
{
    const std::wstring pid = L"Pid:" + std::to_wstring(GetCurrentProcessId()) + L"  ";
    ASSERT_EQ(0u, line.find(pid)) << "line: " << testing::PrintToString(line);
    const std::wstring time = line.substr(pid.size(), 8);
    ASSERT_EQ(8u, time.size());
    EXPECT_TRUE(iswdigit(time[0]) && iswdigit(time[1]) && time[2] == L':' && time[5] == L':');
    const int nHour = _wtoi(time.substr(0, 2).c_str());
    EXPECT_GE(nHour, 1);
    EXPECT_LE(nHour, 12);
    EXPECT_EQ(L"  " + message + L" \r\n", line.substr(pid.size() + 8));
}

}  // namespace

TEST_F(ServiceLogWriter, MissingFileIsNeverCreated)
{
    CServiceLog log(m_path.c_str());
    log.Write(L"tovin EnterMainLoop");
    Log(log, L"iBrightness is %d", 7);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(m_path.c_str()));
}

TEST_F(ServiceLogWriter, ExistingFileGetsOneLinePerMessage)
{
    CreateFileWith("");
    CServiceLog log(m_path.c_str());
    Log(log, L"iBrightness is %d", 7);
    Log(log, L"ServiceMutex: %s", L"Glimward");
    log.Write(nullptr);  // ignored
    const std::wstring text = Text();
    const size_t split = text.find(L"\r\n") + 2;
    ExpectLine(text.substr(0, split), L"iBrightness is 7");
    ExpectLine(text.substr(split), L"ServiceMutex: Glimward");
}

TEST_F(ServiceLogWriter, ByteOrderMarkIsKeptAndNoneIsAdded)
{
    CreateFileWith(std::string("\xFF\xFE", 2));
    CServiceLog log(m_path.c_str());
    log.Write(L"with mark");
    EXPECT_EQ(std::string("\xFF\xFE", 2), Bytes().substr(0, 2));
    ExpectLine(Text(2), L"with mark");
}

TEST_F(ServiceLogWriter, LongMessageIsCutToOneLine)
{
    CreateFileWith("");
    CServiceLog log(m_path.c_str());
    const std::wstring path(600, L'p');
    Log(log, L"[%s]: path=%s, bDelay=%d", L"-I", path.c_str(), 0);
    log.Write(L"next");
    const std::wstring text = Text();
    const size_t split = text.find(L"\r\n") + 2;
    EXPECT_EQ(static_cast<size_t>(glim::kServiceLogLineChars - 1), split);
    EXPECT_EQ(0u, text.find(L"Pid:"));
    EXPECT_NE(std::wstring::npos, text.find(L"[-I]: path=ppp"));
    ExpectLine(text.substr(split), L"next");
}

TEST_F(ServiceLogWriter, LineIsDroppedWhileAnotherWriterHoldsTheFile)
{
    CreateFileWith("");
    CServiceLog log(m_path.c_str());
    glim::CScopedFile hOther(CreateFileW(m_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                         OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(hOther);
    log.Write(L"lost");
    hOther.Reset();
    EXPECT_TRUE(Text().empty());
    log.Write(L"kept");
    ExpectLine(Text(), L"kept");
}

TEST_F(ServiceLogWriter, ThreadsWriteWholeLines)
{
    CreateFileWith("");
    CServiceLog log(m_path.c_str());
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t)
        threads.emplace_back([&log, t] {
            for (int i = 0; i < 20; ++i)
                Log(log, L"thread %d line %d", t, i);
        });
    for (std::thread& thread : threads)
        thread.join();
    const std::wstring text = Text();
    size_t start = 0;
    int nLines = 0;
    for (size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2) {
        const std::wstring line = text.substr(start, end + 2 - start);
        EXPECT_NE(std::wstring::npos, line.find(L"  thread ")) << testing::PrintToString(line);
        ++nLines;
    }
    EXPECT_EQ(60, nLines);
    EXPECT_EQ(text.size(), start);
}

// A user who could plant a link in place of the log would have SYSTEM append to any file: a
// symbolic link (a host link under Wine, which Wine follows) or a second name of another file
// (a hard link). The file it leads to stays untouched; a plain file at the path is written.
TEST_F(ServiceLogWriter, LinkInPlaceOfTheFileIsNeverWrittenThrough)
{
    const std::wstring outside = m_path + L".outside";
    for (const glimtest::SLinkKind& row : glimtest::kLinkKinds) {
        ASSERT_TRUE(glimtest::WriteBytes(outside, ""));
        if (!row.pfnMake(m_path, outside)) {
            ADD_FAILURE() << "no " << row.pszKind << " could be made (Windows: run with the right to make links)";
            continue;
        }
        CServiceLog log(m_path.c_str());
        log.Write(L"through the link");
        EXPECT_EQ("", glimtest::ReadBytes(outside)) << "the log was written through a " << row.pszKind;
        EXPECT_TRUE(glimtest::Remove(m_path)) << row.pszKind;
        DeleteFileW(outside.c_str());
    }
    CreateFileWith("");
    CServiceLog log(m_path.c_str());
    log.Write(L"plain");
    ExpectLine(Text(), L"plain");
}
