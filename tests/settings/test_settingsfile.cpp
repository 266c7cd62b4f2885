// The settings file as both programs see it: defaults on a first start, the folder
// missing, number and string reading rules, the written format, and the path that must
// fit its buffer.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>

#include "GlimNames.h"
#include "KBRules.h"
#include "SettingsTestCommon.h"
#include "TestLog.h"

using namespace glim;
using namespace glimtest;

namespace {

std::wstring ReadStringValue(const wchar_t* pszKey)
{
    std::unique_ptr<wchar_t[]> pszValue(Settings()->ReadString(pszKey));
    return pszValue ? std::wstring(pszValue.get()) : std::wstring(L"<null>");
}

// True when the raw file has this exact line (CRLF or LF ended, or last).
bool HasLine(const std::string& strFile, const std::string& strLine)
{
    size_t pos = 0;
    while ((pos = strFile.find(strLine, pos)) != std::string::npos) {
        const bool bStart = pos == 0 || strFile[pos - 1] == '\n';
        const size_t end = pos + strLine.size();
        const bool bEnd = end == strFile.size() || strFile[end] == '\r' || strFile[end] == '\n';
        if (bStart && bEnd)
            return true;
        pos = end;
    }
    return false;
}

bool FolderIsEmpty(const std::wstring& strFolder)
{
    WIN32_FIND_DATAW fd;
    HANDLE hFind = FindFirstFileW((strFolder + L"\\*").c_str(), &fd);
    if (hFind == INVALID_HANDLE_VALUE)
        return true;
    bool bEmpty = true;
    do {
        if (wcscmp(fd.cFileName, L".") && wcscmp(fd.cFileName, L".."))
            bEmpty = false;
    } while (bEmpty && FindNextFileW(hFind, &fd));
    FindClose(hFind);
    return bEmpty;
}

}  // namespace

using SettingsFirstStart = CFreshSettingsTest;

TEST_F(SettingsFirstStart, EveryKeyReadsItsDefaultAndReadsCreateNothing)
{
    EXPECT_EQ(0u, Settings()->ReadInt(kKeyKBStatus, kDefKBStatus));
    EXPECT_EQ(10u, Settings()->ReadInt(kKeyKBBrightness, kDefKBBrightness));
    EXPECT_EQ(0u, Settings()->ReadInt(kKeyCurrentKBBrightness, kDefCurrentKBBrightness));
    EXPECT_EQ(5u, Settings()->ReadInt(kKeyDarknessLux, kDefDarknessLux));
    EXPECT_EQ(60u, Settings()->ReadInt(kKeyDimIndoorsLux, kDefDimIndoorsLux));
    EXPECT_EQ(500u, Settings()->ReadInt(kKeyAmbientChangeTime, kDefAmbientChangeTime));
    EXPECT_EQ(0u, Settings()->ReadInt(kKeyFullScreen5sClose, kDefFullScreen5sClose));
    EXPECT_EQ(0xFFFFFFFFu, Settings()->ReadInt(kKeyUwpwParam, kDefUwpwParam));
    EXPECT_EQ(-1, static_cast<int>(Settings()->ReadInt(kKeyUwpwParam, kDefUwpwParam)));
    EXPECT_EQ(0u, Settings()->ReadInt(kKeyUwplParam, kDefUwplParam));
    EXPECT_EQ(L"", ReadStringValue(kKeyInActiveTime));
    EXPECT_EQ(L"", ReadStringValue(kKeyFullScreenScope));

    bool bExists = true;
    glimtest::ReadRawFile(&bExists);
    EXPECT_FALSE(bExists) << "reading must not create the settings file";
}

TEST_F(SettingsFirstStart, EmptyUndefineCreatesFileAndSection)
{
    Settings()->WriteString(kKeyUndefine, L"");

    bool bExists = false;
    const std::string strFile = glimtest::ReadRawFile(&bExists);
    ASSERT_TRUE(bExists);
    EXPECT_TRUE(HasLine(strFile, "[Glimkit]")) << strFile;
    EXPECT_TRUE(HasLine(strFile, "Undefine=")) << strFile;
    EXPECT_LT(strFile.find("[Glimkit]"), strFile.find("Undefine=")) << strFile;
    // The other keys still read their defaults from the now existing file.
    EXPECT_EQ(10u, Settings()->ReadInt(kKeyKBBrightness, kDefKBBrightness));
    EXPECT_EQ(0xFFFFFFFFu, Settings()->ReadInt(kKeyUwpwParam, kDefUwpwParam));
}

TEST_F(SettingsFirstStart, WrittenStatusIsOneDecimalLineInTheSection)
{
    Settings()->WriteInt(kKeyKBStatus, 2);
    const std::string strFile = glimtest::ReadRawFile();
    EXPECT_TRUE(HasLine(strFile, "[Glimkit]")) << strFile;
    EXPECT_TRUE(HasLine(strFile, "KBStatus=2")) << strFile;
    EXPECT_LT(strFile.find("[Glimkit]"), strFile.find("KBStatus=2")) << strFile;
    EXPECT_EQ(2u, Settings()->ReadInt(kKeyKBStatus, kDefKBStatus));

    // A second write replaces the line rather than adding one.
    Settings()->WriteInt(kKeyKBStatus, 0);
    const std::string strAfter = glimtest::ReadRawFile();
    EXPECT_TRUE(HasLine(strAfter, "KBStatus=0")) << strAfter;
    EXPECT_EQ(std::string::npos, strAfter.find("KBStatus=2")) << strAfter;

    // Negative values are signed decimal and read back as their 32-bit pattern.
    Settings()->WriteInt(kKeyCurrentKBBrightness, -7);
    EXPECT_TRUE(HasLine(glimtest::ReadRawFile(), "CurrentKBBrightness=-7"));
    EXPECT_EQ(static_cast<DWORD>(-7), Settings()->ReadInt(kKeyCurrentKBBrightness, kDefCurrentKBBrightness));
}

TEST_F(SettingsFirstStart, NumbersFollowTheLeadingDecimalRule)
{
    ASSERT_TRUE(glimtest::WriteKey(kKeyKBStatus, L"abc"));
    EXPECT_EQ(kStatusOff, Settings()->ReadInt(kKeyKBStatus, kDefKBStatus));
    // Present but not numeric is 0, not the caller's default.
    EXPECT_EQ(0u, Settings()->ReadInt(kKeyKBStatus, 7));

    ASSERT_TRUE(glimtest::WriteKey(kKeyKBBrightness, L"12abc"));
    EXPECT_EQ(12u, Settings()->ReadInt(kKeyKBBrightness, kDefKBBrightness));

    ASSERT_TRUE(glimtest::WriteKey(kKeyKBStatus, L"-1"));
    const DWORD dwStatus = Settings()->ReadInt(kKeyKBStatus, kDefKBStatus);
    EXPECT_EQ(0xFFFFFFFFu, dwStatus);
    EXPECT_EQ(kStatusOff, NextKBStatus(dwStatus)) << "a stored -1 must advance to Off";
}

TEST_F(SettingsFirstStart, LongStringIsCutAt254Characters)
{
    std::wstring strLong;
    for (int i = 0; i < 300; ++i)
        strLong += static_cast<wchar_t>(L'a' + i % 26);
    ASSERT_TRUE(glimtest::WriteKey(kKeyInActiveTime, strLong));

    std::unique_ptr<wchar_t[]> pszValue(Settings()->ReadString(kKeyInActiveTime));
    ASSERT_NE(nullptr, pszValue.get());
    EXPECT_EQ(strLong.substr(0, 254), std::wstring(pszValue.get()));
    EXPECT_EQ(L'\0', pszValue[254]);
}

TEST_F(SettingsFirstStart, UnicodeFileKeepsNonAnsiValues)
{
    ASSERT_EQ(0u, glimtest::CreateUnicodeFile());
    ASSERT_TRUE(glimtest::WriteKey(kKeyInActiveTime, L"2\u79D2"));
    Settings()->WriteInt(kKeyKBBrightness, 30);
    EXPECT_EQ(L"2\u79D2", ReadStringValue(kKeyInActiveTime));
    EXPECT_EQ(30u, Settings()->ReadInt(kKeyKBBrightness, kDefKBBrightness));
    const std::string strFile = glimtest::ReadRawFile();
    ASSERT_GE(strFile.size(), 2u);
    EXPECT_EQ("\xFF\xFE", strFile.substr(0, 2)) << "the file must stay UTF-16LE";
}

// No program creates the folder: without it every read is a default and every write is
// lost, silently.
TEST(SettingsFolderMissing, ReadsGiveDefaultsAndWritesCreateNothing)
{
    glimtest::CTempFolder allUsers;
    ASSERT_FALSE(allUsers.Path().empty());
    CSettingsPathOverride path(allUsers.Path().c_str());
    ASSERT_TRUE(path.Built());
    EXPECT_EQ(allUsers.Path() + L"\\Vessik\\Glimkit\\Glimkit.ini", Settings()->GetPath());

    Settings()->WriteString(kKeyUndefine, L"");
    Settings()->WriteInt(kKeyKBStatus, 2);
    Settings()->WriteInt(kKeyCurrentKBBrightness, 40);

    EXPECT_EQ(0u, Settings()->ReadInt(kKeyKBStatus, kDefKBStatus));
    EXPECT_EQ(10u, Settings()->ReadInt(kKeyKBBrightness, kDefKBBrightness));
    EXPECT_EQ(0u, Settings()->ReadInt(kKeyCurrentKBBrightness, kDefCurrentKBBrightness));
    EXPECT_EQ(L"", ReadStringValue(kKeyInActiveTime));
    EXPECT_TRUE(FolderIsEmpty(allUsers.Path())) << "no program may create the settings folder";
}

// ---- the settings path and its 256-character field ----------------------------------

namespace {

constexpr size_t kRelativeChars = 26;  // "Vessik\Glimkit\Glimkit.ini"

// A drive-rooted prefix of exactly cch characters.
std::wstring PrefixOf(size_t cch)
{
    return L"C:\\" + std::wstring(cch - 3, L'p');
}

// The output buffer with guard characters behind it, to see any write past its end.
struct CGuardedPath {
    wchar_t szPath[CSettingsFile::kPathChars];
    wchar_t szGuard[16];
};

}  // namespace

TEST(SettingsPath, CombinedPathOfUpTo255CharactersFits)
{
    CGuardedPath out;
    const std::wstring strPrefix = PrefixOf(CSettingsFile::kPathChars - 2 - kRelativeChars);
    ASSERT_EQ(255u, strPrefix.size() + 1 + kRelativeChars);
    ASSERT_TRUE(CSettingsFile::CombineSettingsPath(strPrefix.c_str(), out.szPath));
    EXPECT_EQ(strPrefix + L"\\Vessik\\Glimkit\\Glimkit.ini", std::wstring(out.szPath));

    ASSERT_TRUE(CSettingsFile::CombineSettingsPath(L"C:\\ProgramData", out.szPath));
    EXPECT_STREQ(L"C:\\ProgramData\\Vessik\\Glimkit\\Glimkit.ini", out.szPath);
    // A trailing backslash on the prefix is not doubled.
    ASSERT_TRUE(CSettingsFile::CombineSettingsPath(L"C:\\ProgramData\\", out.szPath));
    EXPECT_STREQ(L"C:\\ProgramData\\Vessik\\Glimkit\\Glimkit.ini", out.szPath);
}

TEST(SettingsPath, LongerPathIsRefusedAndNothingWrittenPastTheBuffer)
{
    for (size_t cchPrefix : {229u, 230u, 233u, 259u, 300u, 1000u}) {
        CGuardedPath out;
        wmemset(out.szPath, L'x', CSettingsFile::kPathChars);
        wmemset(out.szGuard, L'G', 16);
        const std::wstring strPrefix = PrefixOf(cchPrefix);
        EXPECT_FALSE(CSettingsFile::CombineSettingsPath(strPrefix.c_str(), out.szPath)) << cchPrefix;
        EXPECT_EQ(L'\0', out.szPath[0]) << "a path that does not fit must leave it empty, prefix " << cchPrefix;
        EXPECT_EQ(std::wstring(16, L'G'), std::wstring(out.szGuard, 16))
            << "written past the buffer, prefix " << cchPrefix;
    }
}

TEST(SettingsPath, EmptyPrefixGivesTheBareRelativePath)
{
    CGuardedPath out;
    ASSERT_TRUE(CSettingsFile::CombineSettingsPath(L"", out.szPath));
    EXPECT_STREQ(L"Vessik\\Glimkit\\Glimkit.ini", out.szPath);
}

TEST(SettingsPath, BuildPathFollowsAllUsersProfile)
{
    {
        CSettingsPathOverride path(L"C:\\ProgramData");
        EXPECT_TRUE(path.Built());
        EXPECT_STREQ(L"C:\\ProgramData\\Vessik\\Glimkit\\Glimkit.ini", Settings()->GetPath());
    }
    {
        // Without the variable the private-profile functions get the bare relative path.
        CSettingsPathOverride path(nullptr);
        EXPECT_TRUE(path.Built());
        EXPECT_STREQ(L"Vessik\\Glimkit\\Glimkit.ini", Settings()->GetPath());
    }
    {
        // A value that does not fit the 260-character buffer counts as missing.
        const std::wstring strHuge = PrefixOf(260);
        CSettingsPathOverride path(strHuge.c_str());
        EXPECT_TRUE(path.Built());
        EXPECT_STREQ(L"Vessik\\Glimkit\\Glimkit.ini", Settings()->GetPath());
    }
}

TEST(SettingsPath, AllUsersProfileTooLongForThePathLeavesItEmpty)
{
    glimtest::CSettingsReset reset;  // the real file, to see that nothing lands there
    ASSERT_EQ(0u, reset.Error());
    ASSERT_TRUE(glimtest::WriteKey(kKeyKBBrightness, L"33"));
    glimtest::Clear();
    {
        // 259 characters fit the variable's buffer but not the combined path.
        const std::wstring strLong = PrefixOf(259);
        CSettingsPathOverride path(strLong.c_str());
        EXPECT_FALSE(path.Built());
        EXPECT_STREQ(L"", Settings()->GetPath());
        EXPECT_EQ(10u, Settings()->ReadInt(kKeyKBBrightness, kDefKBBrightness));
        EXPECT_EQ(L"", ReadStringValue(kKeyInActiveTime));
        Settings()->WriteInt(kKeyKBBrightness, 44);
        Settings()->WriteString(kKeyUndefine, L"");
        bool bLogged = false;
        for (const glimtest::Line& line : glimtest::Lines())
            bLogged |= line.chLevel == 'E' && line.function == L"CSettingsFile::BuildPath";
        EXPECT_TRUE(bLogged) << "the refused path must be logged as an error";
    }
    // Nothing went to a file with an empty name either (which resolves to win.ini).
    wchar_t szWinIni[32] = {};
    GetProfileStringW(kSettingsSection, kKeyKBBrightness, L"<none>", szWinIni, 32);
    EXPECT_STREQ(L"<none>", szWinIni);
    // The path was rebuilt from the real variable: the earlier value is untouched.
    EXPECT_EQ(33u, Settings()->ReadInt(kKeyKBBrightness, kDefKBBrightness));
    EXPECT_EQ(L"<none>", glimtest::ReadKey(kKeyUndefine, L"<none>"));
}
