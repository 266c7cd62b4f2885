// The setup helper's data-folder verbs, in-process on scratch folders: what a standard user
// could plant where the setup writes as an administrator (a folder link, a file link, a hard
// link, a folder of a foreign owner) never leads it to write, re-grant or delete elsewhere; a
// missing folder is made; a file in use is kept.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "DataFolders.h"
#include "HostLink.h"
#include "InstallLayout.h"
#include "ScopedHandle.h"
#include "SettingsValues.h"
#include "SetupHelperTest.h"
#include "TempFolder.h"

using namespace glimsetup;

namespace {

const std::string kFreshSettings("\xFF\xFE[\0G\0l\0i\0m\0k\0i\0t\0]\0\r\0\n\0", 24);
const std::string kOutsideText = "not the setup's to touch";

bool Exists(const std::wstring& strPath)
{
    return GetFileAttributesW(strPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool WriteBytes(const std::wstring& strPath, const std::string& strBytes)
{
    glim::CScopedFile hFile(
        CreateFileW(strPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD cb = 0;
    return hFile && WriteFile(hFile.Get(), strBytes.data(), static_cast<DWORD>(strBytes.size()), &cb, nullptr) &&
        cb == strBytes.size();
}

std::string ReadBytes(const std::wstring& strPath)
{
    glim::CScopedFile hFile(CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string strBytes(4096, '\0');
    DWORD cb = 0;
    if (!hFile || !ReadFile(hFile.Get(), &strBytes[0], static_cast<DWORD>(strBytes.size()), &cb, nullptr))
        return std::string();
    strBytes.resize(cb);
    return strBytes;
}

using glimtest::HasLine;

// A scratch "ProgramData": <temp>\Vessik\Glimkit, with an "Outside" folder holding what a
// planted link leads to.
class CDataScratch : public glimtest::CTempFolder {
public:
    std::wstring Vendor() const { return File(glim::kDataVendorFolder); }
    std::wstring DataDir() const { return File(glim::kDataFolderRelative); }
    std::wstring Settings() const { return DataDir() + L"\\" + glim::kSettingsFileName; }
    std::wstring ServiceLog() const { return DataDir() + L"\\" + glim::kServiceLogFileName; }
    std::wstring Outside() const { return File(L"Outside"); }
    std::wstring OutsideFile() const { return Outside() + L"\\victim.txt"; }

    bool MakeAll() const
    {
        return CreateDirectoryW(Outside().c_str(), nullptr) && WriteBytes(OutsideFile(), kOutsideText) &&
            CreateDirectoryW(Vendor().c_str(), nullptr) && CreateDirectoryW(DataDir().c_str(), nullptr);
    }
};

TEST(SetupHelperRule, JudgesWhatStandsAtAPath)
{
    struct SCase {
        const char* pszName;
        SPathFacts facts;
        PathState expected;
    };
    SPathFacts plain;
    plain.bExists = plain.bOpened = plain.bFinalPathMatches = plain.bInfoRead = plain.bOwnerTrusted = true;
    plain.dwLinks = 1;
    auto with = [&plain](const std::function<void(SPathFacts*)>& change) {
        SPathFacts facts = plain;
        change(&facts);
        return facts;
    };
    const SCase cases[] = {
        {"plain file of a trusted owner", plain, PathState::Ok},
        {"missing", SPathFacts(), PathState::Missing},
        {"cannot be opened", with([](SPathFacts* p) { p->bOpened = false; }), PathState::Foreign},
        {"opened elsewhere", with([](SPathFacts* p) { p->bFinalPathMatches = false; }), PathState::Redirected},
        {"a followed link wins over a second name", with([](SPathFacts* p) {
             p->bFinalPathMatches = false;
             p->dwLinks = 2;
         }),
         PathState::Redirected},
        {"cannot be examined", with([](SPathFacts* p) { p->bInfoRead = false; }), PathState::Foreign},
        {"reparse point seen through the path",
         with([](SPathFacts* p) { p->dwPathAttributes = FILE_ATTRIBUTE_REPARSE_POINT; }), PathState::Link},
        {"reparse point seen through the handle, foreign owner", with([](SPathFacts* p) {
             p->dwAttributes = FILE_ATTRIBUTE_REPARSE_POINT;
             p->bOwnerTrusted = false;
         }),
         PathState::Link},
        {"hard link", with([](SPathFacts* p) { p->dwLinks = 2; }), PathState::Link},
        {"folder with several names", with([](SPathFacts* p) {
             p->dwLinks = 3;
             p->dwAttributes = FILE_ATTRIBUTE_DIRECTORY;
         }),
         PathState::Ok},
        {"foreign owner", with([](SPathFacts* p) { p->bOwnerTrusted = false; }), PathState::Foreign},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        EXPECT_STREQ(PathStateText(c.expected), PathStateText(JudgePath(c.facts)));
    }
}

TEST(SetupHelperRule, TrustsSystemAdministratorsAndThisUserOnly)
{
    struct SCase {
        const wchar_t* pszSid;
        bool bTrusted;
    };
    const SCase cases[] = {
        {L"SY", true}, {L"BA", true}, {L"BU", false}, {L"WD", false}, {L"S-1-5-21-1-2-3-1001", false}};
    for (const SCase& c : cases) {
        SCOPED_TRACE(testing::Message() << std::string(c.pszSid, c.pszSid + wcslen(c.pszSid)));
        glim::CScopedLocalMemory pSid;
        ASSERT_TRUE(ConvertStringSidToSidW(c.pszSid, reinterpret_cast<PSID*>(pSid.Put())));
        EXPECT_EQ(c.bTrusted, IsTrustedOwner(pSid.Get()));
    }
}

TEST(SetupHelperPrepare, MakesMissingFoldersAndAFreshUtf16SettingsFile)
{
    CDataScratch scratch;
    const SVerbResult result = PrepareData(scratch.DataDir());
    ASSERT_EQ(kExitDone, result.nExit) << result.strFailure;
    EXPECT_EQ(kFreshSettings, ReadBytes(scratch.Settings()));
    EXPECT_TRUE(HasLine(result, L"Creating the settings file " + scratch.Settings() + L" (UTF-16LE)"));
    EXPECT_TRUE(HasLine(result, L"Rights of " + scratch.DataDir() + L": O:BA" + glim::kDataFolderSddl));
    EXPECT_EQ(PathState::Ok, InspectPath(scratch.Vendor()));
    EXPECT_EQ(PathState::Ok, InspectPath(scratch.DataDir()));
    EXPECT_FALSE(Exists(scratch.ServiceLog()));

    // A second run keeps what the first made, the user's settings included.
    ASSERT_TRUE(WriteBytes(scratch.Settings(), kFreshSettings + std::string("x\0", 2)));
    const SVerbResult again = PrepareData(scratch.DataDir());
    EXPECT_EQ(kExitDone, again.nExit);
    EXPECT_TRUE(HasLine(again, L"Keeping the existing settings file " + scratch.Settings()));
    EXPECT_EQ(kFreshSettings + std::string("x\0", 2), ReadBytes(scratch.Settings()));
}

// A link planted at each place the setup writes: whatever the platform shows of it (Windows a
// reparse point, which goes; Wine a host link it follows, which fails the run), nothing is
// written where the link leads.
TEST(SetupHelperPrepare, NeverWritesThroughAPlantedLink)
{
    struct SCase {
        const char* pszName;
        std::function<bool(const CDataScratch&)> plant;
        std::function<std::wstring(const CDataScratch&)> planted;
        bool bFailsUnderWine;
    };
    const SCase cases[] = {
        {"data folder is a folder link",
         [](const CDataScratch& s) {
             return RemoveDirectoryW(s.DataDir().c_str()) && glimtest::Make(s.DataDir(), s.Outside());
         },
         [](const CDataScratch& s) { return s.DataDir(); }, true},
        {"vendor folder is a folder link",
         [](const CDataScratch& s) {
             return RemoveDirectoryW(s.DataDir().c_str()) && RemoveDirectoryW(s.Vendor().c_str()) &&
                 glimtest::Make(s.Vendor(), s.Outside());
         },
         [](const CDataScratch& s) { return s.Vendor(); }, true},
        {"settings file is a file link",
         [](const CDataScratch& s) { return glimtest::Make(s.Settings(), s.OutsideFile()); },
         [](const CDataScratch& s) { return s.Settings(); }, true},
        {"settings file is a hard link",
         [](const CDataScratch& s) { return glimtest::MakeHardLink(s.Settings(), s.OutsideFile()); },
         [](const CDataScratch& s) { return s.Settings(); }, false},
        {"service log is a hard link",
         [](const CDataScratch& s) { return glimtest::MakeHardLink(s.ServiceLog(), s.OutsideFile()); },
         [](const CDataScratch& s) { return s.ServiceLog(); }, false},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        CDataScratch scratch;
        ASSERT_TRUE(scratch.MakeAll());
        ASSERT_TRUE(c.plant(scratch));
        const SVerbResult result = PrepareData(scratch.DataDir());
        EXPECT_EQ(kOutsideText, ReadBytes(scratch.OutsideFile()));
        EXPECT_FALSE(Exists(scratch.Outside() + L"\\Glimkit.ini"));
        EXPECT_FALSE(Exists(scratch.Outside() + L"\\Glimkit"));
        if (glimtest::UnderWine() && c.bFailsUnderWine) {
            EXPECT_EQ(kExitFailed, result.nExit);
            EXPECT_EQ(c.planted(scratch) + L" leads to another place; remove it and run the setup again.",
                      result.strFailure);
        } else {
            EXPECT_EQ(kExitDone, result.nExit);
            EXPECT_EQ(kFreshSettings, ReadBytes(scratch.Settings()));
            EXPECT_NE(PathState::Link, InspectPath(scratch.ServiceLog()));
        }
        glimtest::Remove(c.planted(scratch));
    }
}

// A folder that another user made before the setup ran goes, or is moved aside when it holds
// something; the setup then makes its own.
TEST(SetupHelperPrepare, ReplacesAFolderOfAForeignOwner)
{
    struct SCase {
        const char* pszName;
        bool bHoldsSomething;
    };
    const SCase cases[] = {{"empty", false}, {"holding a file", true}};
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        CDataScratch scratch;
        ASSERT_TRUE(scratch.MakeAll());
        if (c.bHoldsSomething) {
            ASSERT_TRUE(WriteBytes(scratch.DataDir() + L"\\planted.txt", kOutsideText));
        }
        glim::CScopedLocalMemory pUsers;
        ASSERT_TRUE(ConvertStringSidToSidW(L"BU", reinterpret_cast<PSID*>(pUsers.Put())));
        const DWORD dwSet = SetNamedSecurityInfoW(const_cast<wchar_t*>(scratch.DataDir().c_str()), SE_FILE_OBJECT,
                                                  OWNER_SECURITY_INFORMATION, pUsers.Get(), nullptr, nullptr, nullptr);
        if (dwSet != ERROR_SUCCESS || InspectPath(scratch.DataDir()) != PathState::Foreign) {
            GTEST_SKIP() << "Wine keeps no owner on folders (set: " << dwSet << ")";
        }
        const SVerbResult result = PrepareData(scratch.DataDir());
        EXPECT_EQ(kExitDone, result.nExit);
        EXPECT_TRUE(HasLine(result, scratch.DataDir() + L" is a foreign folder: removing it without following it"));
        EXPECT_EQ(PathState::Ok, InspectPath(scratch.DataDir()));
        EXPECT_FALSE(Exists(scratch.DataDir() + L"\\planted.txt"));
    }
}

// The settings file held open without sharing by a running program keeps its content and
// gets its rights; the purge keeps it and says so.
TEST(SetupHelper, KeepsASettingsFileInUse)
{
    CDataScratch scratch;
    ASSERT_EQ(kExitDone, PrepareData(scratch.DataDir()).nExit);
    ASSERT_TRUE(WriteBytes(scratch.ServiceLog(), "log"));
    glim::CScopedFile hInUse(CreateFileW(scratch.Settings().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(hInUse);

    const SVerbResult prepared = PrepareData(scratch.DataDir());
    EXPECT_EQ(kExitDone, prepared.nExit);
    EXPECT_TRUE(HasLine(prepared, L"Keeping the existing settings file " + scratch.Settings()));

    const SVerbResult purged = PurgeData(scratch.DataDir());
    EXPECT_EQ(kExitDone, purged.nExit);
    EXPECT_TRUE(HasLine(purged, L"  kept: Glimkit.ini"));
    EXPECT_FALSE(Exists(scratch.ServiceLog()));
    hInUse.Reset();
    EXPECT_EQ(kFreshSettings, ReadBytes(scratch.Settings()));
}

TEST(SetupHelperPurge, DeletesOnlyTheProductsFilesAndNeverFollowsALink)
{
    struct SCase {
        const char* pszName;
        std::function<bool(const CDataScratch&)> arrange;
        bool bFolderGone;
        std::wstring strKept;  // a "kept" line's name, or empty
    };
    const SCase cases[] = {
        {"only the product's files", [](const CDataScratch&) { return true; }, true, L""},
        {"a file of someone else's",
         [](const CDataScratch& s) { return WriteBytes(s.DataDir() + L"\\notes.txt", "mine"); }, false, L"notes.txt"},
        {"settings file is a hard link",
         [](const CDataScratch& s) {
             return DeleteFileW(s.Settings().c_str()) && glimtest::MakeHardLink(s.Settings(), s.OutsideFile());
         },
         true, L""},
        {"settings file is a file link",
         [](const CDataScratch& s) {
             return DeleteFileW(s.Settings().c_str()) && glimtest::Make(s.Settings(), s.OutsideFile());
         },
         !glimtest::UnderWine(), glimtest::UnderWine() ? L"Glimkit.ini" : L""},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        CDataScratch scratch;
        ASSERT_TRUE(scratch.MakeAll());
        ASSERT_TRUE(WriteBytes(scratch.Settings(), kFreshSettings));
        ASSERT_TRUE(WriteBytes(scratch.ServiceLog(), "log"));
        ASSERT_TRUE(c.arrange(scratch));
        const SVerbResult result = PurgeData(scratch.DataDir());
        EXPECT_EQ(kExitDone, result.nExit);
        EXPECT_EQ(kOutsideText, ReadBytes(scratch.OutsideFile()));
        EXPECT_FALSE(Exists(scratch.ServiceLog()));
        EXPECT_EQ(c.bFolderGone, !Exists(scratch.DataDir()));
        if (!c.strKept.empty()) {
            EXPECT_TRUE(HasLine(result, L"  kept: " + c.strKept));
        }
        glimtest::Remove(scratch.Settings());
    }
}

TEST(SetupHelperPurge, RemovesAFolderLinkAloneAndLeavesAMissingFolder)
{
    CDataScratch scratch;
    ASSERT_TRUE(scratch.MakeAll());
    EXPECT_EQ(kExitDone, PurgeData(scratch.File(L"Nothing\\Glimkit")).nExit);

    ASSERT_TRUE(RemoveDirectoryW(scratch.DataDir().c_str()));
    ASSERT_TRUE(WriteBytes(scratch.Outside() + L"\\Glimkit.ini", kFreshSettings));
    ASSERT_TRUE(glimtest::Make(scratch.DataDir(), scratch.Outside()));
    const SVerbResult result = PurgeData(scratch.DataDir());
    EXPECT_EQ(kExitDone, result.nExit);
    EXPECT_EQ(kOutsideText, ReadBytes(scratch.OutsideFile()));
    EXPECT_EQ(kFreshSettings, ReadBytes(scratch.Outside() + L"\\Glimkit.ini"));
    if (glimtest::UnderWine()) {
        EXPECT_TRUE(HasLine(result, scratch.DataDir() + L" leads to another place: left alone"));
    } else {
        EXPECT_TRUE(HasLine(result, scratch.DataDir() + L" is a link: removing the link alone"));
        EXPECT_FALSE(Exists(scratch.DataDir()));
    }
    glimtest::Remove(scratch.DataDir());
}

TEST(SetupHelperRule, ReadsOneVerbAndItsOptions)
{
    struct SCase {
        std::vector<std::wstring> args;
        bool bValid;
        const wchar_t* pszVerb;
        bool bRunOnly;
        const wchar_t* pszLog;
    };
    const SCase cases[] = {
        {{L"stop"}, true, L"stop", false, L""},
        {{L"purge", L"--log", L"C:\\l.log"}, true, L"purge", false, L"C:\\l.log"},
        {{L"register", L"--run-only"}, true, L"register", true, L""},
        {{L"register", L"--log", L"x", L"--run-only"}, true, L"register", true, L"x"},
        {{}, false, L"", false, L""},
        {{L"--log", L"x"}, false, L"", false, L""},
        {{L"Stop"}, false, L"", false, L""},
        {{L"stop", L"restore"}, false, L"", false, L""},
        {{L"stop", L"--log"}, false, L"", false, L""},
        {{L"stop", L"--log", L""}, false, L"", false, L""},
        {{L"stop", L"--log", L"a", L"--log", L"b"}, false, L"", false, L""},
        {{L"unregister", L"--run-only"}, false, L"", false, L""},
        {{L"register", L"--run-only", L"--run-only"}, false, L"", false, L""},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.args.empty() ? std::string("(none)") : std::string(c.args[0].begin(), c.args[0].end()));
        const SHelperCommand command = ParseHelperCommand(c.args);
        EXPECT_EQ(c.bValid, command.bValid);
        if (c.bValid) {
            EXPECT_EQ(c.pszVerb, command.strVerb);
            EXPECT_EQ(c.bRunOnly, command.bRunOnly);
            EXPECT_EQ(c.pszLog, command.strLog);
        }
    }
}

}  // namespace
