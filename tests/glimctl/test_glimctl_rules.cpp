// glimctl's pure rules: the command line, "set" values as the settings application writes
// them, JSON text and the verdicts doctor gives on what it reads.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "CtlRules.h"
#include "CtlVerbs.h"
#include "Doctor.h"
#include "GlimNames.h"
#include "TestLog.h"

using namespace glimctl;

namespace {

SCommand Parse(std::vector<const wchar_t*> words)
{
    return ParseCommandLine(static_cast<int>(words.size()), words.data(), Verbs());
}

// The verb a command names: "--help" for help, empty for a mistake.
std::wstring VerbName(const SCommand& command)
{
    return command.bHelp ? L"--help" : command.pVerb ? command.pVerb->pszName : L"";
}

}  // namespace

TEST(GlimctlCommandLine, VerbsAndOptionsParseAndAnythingElseIsUsage)
{
    struct {
        std::vector<const wchar_t*> words;
        const wchar_t* pszVerb;
        bool bJson;
        bool bPreview;
    } const cases[] = {
        {{L"doctor"}, L"doctor", false, false},
        {{L"doctor", L"--json"}, L"doctor", true, false},
        {{L"--json", L"status"}, L"status", true, false},
        {{L"set", L"level", L"4", L"--preview"}, L"set", false, true},
        {{L"set", L"idle", L"5m"}, L"set", false, false},
        {{L"report", L"C:\\x.txt"}, L"report", false, false},
        {{}, L"", false, false},
        {{L"Doctor"}, L"", false, false},
        {{L"doctor", L"now"}, L"", false, false},
        {{L"doctor", L"--verbose"}, L"", false, false},
        {{L"set", L"level"}, L"", false, false},
        {{L"set", L"status", L"on", L"--preview"}, L"", false, true},
        {{L"set", L"level", L"4", L"--json"}, L"", true, false},
        {{L"report"}, L"", false, false},
        {{L"stat"}, L"", false, false},
        {{L"--help"}, L"--help", false, false},
        {{L"-h"}, L"--help", false, false},
        {{L"/?"}, L"--help", false, false},
        {{L"--help", L"set"}, L"--help", false, false},
        {{L"--version"}, L"--version", false, false},
        {{L"--version", L"doctor"}, L"", false, false},
        {{L"--version", L"--json"}, L"", true, false},
        {{L"doctor", L"-h"}, L"", false, false},
        {{L"-?"}, L"", false, false},
    };
    for (const auto& c : cases) {
        const SCommand command = Parse(c.words);
        std::wstring strWords;
        for (const wchar_t* psz : c.words)
            strWords += std::wstring(psz) + L" ";
        EXPECT_EQ(c.pszVerb, VerbName(command)) << strWords.c_str();
        if (!VerbName(command).empty()) {
            EXPECT_EQ(c.bJson, command.bJson) << strWords.c_str();
            EXPECT_EQ(c.bPreview, command.bPreview) << strWords.c_str();
        }
    }
    const SCommand set = Parse({L"set", L"titles", L"A;B"});
    EXPECT_EQ(L"titles", set.strName);
    EXPECT_EQ(L"A;B", set.strValue);
}

// A verb is one entry of the table: its words, its options and its line of the usage text.
TEST(GlimctlCommandLine, ANewVerbIsOneEntry)
{
    const std::vector<SVerb> verbs = {
        {L"ping", 1, true, nullptr, L"  ping HOST [--json]          Asks one host.\n",
         [](const SCommand&, std::wstring*) { return kExitDone; }, false},
    };
    const wchar_t* const words[] = {L"ping", L"--json", L"here"};
    const SCommand command = ParseCommandLine(3, words, verbs);
    EXPECT_EQ(&verbs[0], command.pVerb);
    EXPECT_TRUE(command.bJson);
    EXPECT_EQ(L"here", command.strValue);
    EXPECT_EQ(nullptr, ParseCommandLine(1, words, verbs).pVerb) << "its argument is missing";
    EXPECT_EQ(nullptr, ParseCommandLine(3, words, Verbs()).pVerb) << "not a verb of glimctl's own table";
    EXPECT_EQ(L"usage: glimctl VERB [ARGUMENTS]\n"
              L"  ping HOST [--json]          Asks one host.\n"
              L"  --help, -h, /?              Prints this help.",
              UsageText(verbs));
}

TEST(GlimctlSetValues, AreWrittenAsTheSettingsApplicationWritesThem)
{
    struct {
        const wchar_t* pszName;
        const wchar_t* pszValue;
        bool bPreview;
        const wchar_t* pszKey;
        const wchar_t* pszText;
        int nKind;
        int nArgument;
    } const cases[] = {
        {L"status", L"off", false, glim::kKeyKBStatus, L"0", 0, 0},
        {L"status", L"on", false, glim::kKeyKBStatus, L"1", 0, 0},
        {L"status", L"auto", false, glim::kKeyKBStatus, L"2", 0, 0},
        {L"level", L"0", false, glim::kKeyKBBrightness, L"0", 1, 1},
        {L"level", L"10", false, glim::kKeyKBBrightness, L"10", 1, 1},
        {L"level", L"07", true, glim::kKeyKBBrightness, L"7", 1, 0},
        {L"idle", L"5m", false, glim::kKeyInActiveTime, L"5分", 2, 0},
        {L"idle", L"30s", false, glim::kKeyInActiveTime, L"30秒", 2, 0},
        {L"idle", L"off", false, glim::kKeyInActiveTime, L"なし", 2, 0},
        {L"fullscreen", L"on", false, glim::kKeyFullScreen5sClose, L"1", 3, 0},
        {L"fullscreen", L"off", false, glim::kKeyFullScreen5sClose, L"0", 3, 0},
        {L"titles", L"Movie - Player;VLC", false, glim::kKeyFullScreenScope, L"Movie - Player;VLC", kNoNotice, 0},
        {L"titles", L"", false, glim::kKeyFullScreenScope, L"", kNoNotice, 0},
    };
    for (const auto& c : cases) {
        SSetting setting;
        std::wstring strError;
        ASSERT_TRUE(ParseSetting(c.pszName, c.pszValue, c.bPreview, &setting, &strError))
            << c.pszName << L" " << c.pszValue;
        EXPECT_STREQ(c.pszKey, setting.pszKey);
        EXPECT_EQ(c.pszText, setting.strText) << c.pszValue;
        EXPECT_EQ(c.nKind, setting.nKind) << c.pszValue;
        EXPECT_EQ(c.nArgument, setting.nArgument) << c.pszValue;
    }
}

TEST(GlimctlSetValues, BadValuesAreRefusedNamingWhatIsAccepted)
{
    struct {
        const wchar_t* pszName;
        const wchar_t* pszValue;
        bool bPreview;
        const wchar_t* pszNamed;  // part of the reason
    } const cases[] = {
        {L"status", L"On", false, L"off, on or auto"},
        {L"status", L"2", false, L"off, on or auto"},
        {L"level", L"11", false, L"0 to 10"},
        {L"level", L"-1", false, L"0 to 10"},
        {L"level", L"", false, L"0 to 10"},
        {L"level", L"5.5", false, L"0 to 10"},
        {L"level", L"4x", false, L"0 to 10"},
        {L"level", L"100", false, L"0 to 10"},
        {L"idle", L"5", false, L"5m"},
        {L"idle", L"0m", false, L"5m"},
        {L"idle", L"5h", false, L"5m"},
        {L"idle", L"m", false, L"5m"},
        {L"idle", L"-5m", false, L"5m"},
        {L"idle", L"999999s", false, L"5m"},
        {L"fullscreen", L"yes", false, L"on or off"},
        {L"titles", L"A\r\nKBStatus=2", false, L"one line"},
        {L"brightness", L"5", false, L"status, level"},
        {L"status", L"on", true, L"--preview"},
    };
    for (const auto& c : cases) {
        SSetting setting;
        std::wstring strError;
        EXPECT_FALSE(ParseSetting(c.pszName, c.pszValue, c.bPreview, &setting, &strError))
            << c.pszName << L" " << c.pszValue;
        EXPECT_NE(std::wstring::npos, strError.find(c.pszNamed)) << strError;
        EXPECT_EQ(nullptr, setting.pszKey);
    }
    SSetting setting;
    std::wstring strError;
    EXPECT_FALSE(ParseSetting(L"titles", std::wstring(255, L'x'), false, &setting, &strError));
    EXPECT_TRUE(ParseSetting(L"titles", std::wstring(254, L'x'), false, &setting, &strError));
}

TEST(GlimctlJson, EscapesQuotesBackslashesAndControlCharacters)
{
    struct {
        const wchar_t* pszIn;
        const wchar_t* pszOut;
    } const cases[] = {
        {L"plain 5分", L"plain 5分"},       {L"C:\\Program Files", L"C:\\\\Program Files"},
        {L"say \"hi\"", L"say \\\"hi\\\""}, {L"a\r\nb\tc", L"a\\r\\nb\\tc"},
        {L"\x01\x1f", L"\\u0001\\u001f"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.pszOut, JsonEscape(c.pszIn));
}

TEST(GlimctlVerdicts, QuotedProgramPaths)
{
    const std::wstring strProgram = L"C:\\Program Files (x86)\\Vessik\\Glimkit\\Glimward.exe";
    struct {
        const wchar_t* pszCommandLine;
        bool bExpected;
    } const cases[] = {
        {L"\"C:\\Program Files (x86)\\Vessik\\Glimkit\\Glimward.exe\"", true},
        {L"\"C:\\Program Files (x86)\\Vessik\\Glimkit\\Glimward\"", true},
        {L"\"c:\\program files (x86)\\vessik\\glimkit\\GLIMWARD.EXE\" -x", true},
        {L"C:\\Program Files (x86)\\Vessik\\Glimkit\\Glimward.exe", false},
        {L"\"C:\\Program Files (x86)\\Vessik\\Glimkit\\Glimward.exe", false},
        {L"\"C:\\Program Files (x86)\\Vessik\\Glimkit\\Glimward.exe\"x", false},
        {L"\"C:\\Users\\Public\\Glimward.exe\"", false},
        {L"\"C:\\Program Files (x86)\\Vessik\\Glimkit\\Glimwar\"", false},
        {L"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.bExpected, IsQuotedProgram(c.pszCommandLine, strProgram)) << c.pszCommandLine;
}

TEST(GlimctlVerdicts, SettingsFileForm)
{
    const std::wstring strUtf16 = L"\xFEFF[Glimkit]\r\nKBStatus=1\r\n";
    const std::string strUnicode(reinterpret_cast<const char*>(strUtf16.data()), strUtf16.size() * sizeof(wchar_t));
    const std::wstring strNoSection = L"\xFEFFKBStatus=1\r\n";
    struct {
        std::string strBytes;
        bool bUtf16Bom;
        bool bSection;
    } const cases[] = {
        {strUnicode, true, true},
        {std::string(reinterpret_cast<const char*>(strNoSection.data()), strNoSection.size() * 2), true, false},
        {"[Glimkit]\r\nKBStatus=1\r\n", false, true},
        {"  [glimkit]  \r\n", false, true},
        {"[Glimkit2]\r\n", false, false},
        {"", false, false},
        {"\xFF", false, false},
    };
    for (const auto& c : cases) {
        const SSettingsForm form = ClassifySettingsBytes(c.strBytes);
        EXPECT_EQ(c.bUtf16Bom, form.bUtf16Bom) << c.strBytes.size();
        EXPECT_EQ(c.bSection, form.bSection) << c.strBytes.size();
    }
}

TEST(GlimctlVerdicts, RecoveryIsTheInstalledRestartSequence)
{
    struct {
        std::vector<SC_ACTION> actions;
        DWORD dwReset;
        bool bExpected;
    } const cases[] = {
        {{{SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 30000}, {SC_ACTION_RESTART, 60000}}, 86400, true},
        {{{SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 30000}, {SC_ACTION_RESTART, 60000}}, 0, false},
        {{{SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 30000}}, 86400, false},
        {{{SC_ACTION_RESTART, 5000}, {SC_ACTION_NONE, 30000}, {SC_ACTION_RESTART, 60000}}, 86400, false},
        {{{SC_ACTION_RESTART, 60000}, {SC_ACTION_RESTART, 30000}, {SC_ACTION_RESTART, 5000}}, 86400, false},
        {{}, 86400, false},
    };
    for (const auto& c : cases) {
        std::vector<SC_ACTION> actions = c.actions;
        SERVICE_FAILURE_ACTIONSW failure = {};
        failure.dwResetPeriod = c.dwReset;
        failure.cActions = static_cast<DWORD>(actions.size());
        failure.lpsaActions = actions.empty() ? nullptr : actions.data();
        EXPECT_EQ(c.bExpected, IsInstalledRecovery(failure)) << actions.size() << " actions, reset " << c.dwReset;
    }
}

TEST(GlimctlVerdicts, ManifestAsksForUiAccess)
{
    struct {
        const char* pszManifest;
        bool bExpected;
    } const cases[] = {
        {"<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"true\"/>", true},
        {"<requestedExecutionLevel uiAccess = 'TRUE' level='asInvoker'/>", true},
        {"<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>", false},
        {"<requestedExecutionLevel level=\"asInvoker\"/><x uiAccess=\"true\"/>", false},
        {"<requestedExecutionLevel level=\"asInvoker\" notuiAccess=\"true\"/>", false},
        {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.bExpected, ManifestAsksUiAccess(c.pszManifest)) << c.pszManifest;
}

TEST(GlimctlReport, LastLinesOfALog)
{
    EXPECT_EQ(L"c\nd\n", LastLines(L"a\r\nb\r\nc\r\nd\r\n", 2));
    EXPECT_EQ(L"a\nb\n", LastLines(L"a\nb", 5));
    EXPECT_EQ(L"", LastLines(L"", 5));
    EXPECT_EQ(L"b\n", LastLines(L"a\nb", 1));
}

// status and doctor name the restore rule that applies: the display coming on counts only
// with Modern Standby, a wake with nobody there never; doctor skips when it cannot tell.
TEST(GlimctlPower, StatusAndDoctorNameTheRestoreRule)
{
    struct SCase {
        DWORD dwCapsError;
        bool bModernStandby;
        const wchar_t* pszStandby;  // in status, in doctor's detail when it passes
        const wchar_t* pszJson;
        bool bDisplayRule;
    } const kCases[] = {
        {ERROR_SUCCESS, true, L"Modern Standby: yes", L"\"modernStandby\": true", true},
        {ERROR_SUCCESS, false, L"Modern Standby: no", L"\"modernStandby\": false", false},
        {ERROR_ACCESS_DENIED, true, L"Modern Standby: unknown (", L"\"modernStandby\": null", false},
    };
    const std::wstring strDisplay = L"when the display comes on after Modern Standby";
    glimtest::Clear();  // the recorded log stands in for glimctl's empty log call
    for (const SCase& row : kCases) {
        SStatus status;
        status.dwPowerCapsError = row.dwCapsError;
        status.bModernStandby = row.bModernStandby;
        const std::wstring strText = FormatStatus(status);
        const std::wstring strJson = FormatStatusJson(status);
        const SCheck check = RestoreRuleCheck(row.dwCapsError, row.bModernStandby);
        EXPECT_NE(std::wstring::npos, strText.find(row.pszStandby)) << strText;
        EXPECT_NE(std::wstring::npos, strText.find(L"level restored: on resume with user input")) << strText;
        EXPECT_NE(std::wstring::npos, strText.find(L"never on a wake with nobody there")) << strText;
        EXPECT_NE(std::wstring::npos, strJson.find(row.pszJson)) << strJson;
        EXPECT_EQ(L"power.restore", check.strId);
        EXPECT_EQ(row.dwCapsError == ERROR_SUCCESS ? Verdict::Pass : Verdict::Skip, check.verdict) << check.strDetail;
        EXPECT_EQ(row.dwCapsError != ERROR_SUCCESS, check.strDetail.find(row.pszStandby) == std::wstring::npos)
            << check.strDetail;
        for (const std::wstring* pstr : {&strText, &strJson, &check.strDetail})
            EXPECT_EQ(row.bDisplayRule, pstr->find(strDisplay) != std::wstring::npos) << *pstr;
    }
}

// A missing program is one failure; its signature and manifest checks are skipped saying so.
TEST(GlimctlVerdicts, ProgramChecks)
{
    const std::wstring strDir = L"C:\\Program Files (x86)\\Vessik\\Glimkit\\";
    struct {
        const char* pszWhat;
        bool bPresent;
        LONG lTrust;
        bool bAsksUiAccess;
        const wchar_t* pszFile;       // programs.file.Glimagent.exe
        const wchar_t* pszSignature;  // programs.signature.Glimagent.exe
        const wchar_t* pszUiAccess;   // programs.uiaccess
        const wchar_t* pszSays;       // in the signature check's detail
    } const cases[] = {
        {"signed", true, ERROR_SUCCESS, true, L"PASS", L"PASS", L"PASS", L"the signature verifies"},
        {"unsigned", true, TRUST_E_NOSIGNATURE, true, L"PASS", L"FAIL", L"PASS", L"not signed"},
        {"changed", true, TRUST_E_BAD_DIGEST, true, L"PASS", L"FAIL", L"PASS", L"changed after it was signed"},
        {"no ui access", true, ERROR_SUCCESS, false, L"PASS", L"PASS", L"FAIL", L"the signature verifies"},
        {"missing", false, TRUST_E_NOSIGNATURE, false, L"FAIL", L"SKIP", L"SKIP", L"Glimagent.exe is missing"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        SProgramSeen agent;
        agent.strPath = strDir + L"Glimagent.exe";
        agent.bPresent = c.bPresent;
        agent.strVersion = c.bPresent ? L"1.2.3.0" : L"";
        agent.lTrust = c.lTrust;
        agent.bNeedsUiAccess = true;
        agent.bAsksUiAccess = c.bAsksUiAccess;
        SProgramSeen service;
        service.strPath = strDir + L"Glimward.exe";
        service.bPresent = true;
        service.strVersion = L"1.2.3.0";
        std::map<std::wstring, SCheck> checks;
        for (const SCheck& check : JudgePrograms({service, agent}))
            checks[check.strId] = check;
        ASSERT_EQ(5u, checks.size());
        EXPECT_STREQ(L"PASS", VerdictName(checks[L"programs.file.Glimward.exe"].verdict));
        EXPECT_EQ(L"version 1.2.3.0", checks[L"programs.file.Glimward.exe"].strDetail);
        EXPECT_STREQ(c.pszFile, VerdictName(checks[L"programs.file.Glimagent.exe"].verdict));
        EXPECT_EQ(c.bPresent ? L"version 1.2.3.0" : agent.strPath + L" is missing",
                  checks[L"programs.file.Glimagent.exe"].strDetail);
        EXPECT_STREQ(c.pszSignature, VerdictName(checks[L"programs.signature.Glimagent.exe"].verdict));
        EXPECT_EQ(c.pszSays, checks[L"programs.signature.Glimagent.exe"].strDetail);
        EXPECT_STREQ(c.pszUiAccess, VerdictName(checks[L"programs.uiaccess"].verdict));
        if (!c.bPresent) {
            EXPECT_EQ(L"Glimagent.exe is missing", checks[L"programs.uiaccess"].strDetail);
        }
        int nFailures = 0;
        for (const auto& check : checks) {
            nFailures += check.second.verdict == Verdict::Fail ? 1 : 0;
            EXPECT_EQ(check.second.verdict == Verdict::Fail, !check.second.strAction.empty()) << check.first;
        }
        EXPECT_EQ(c.bPresent && c.lTrust == ERROR_SUCCESS && c.bAsksUiAccess ? 0 : 1, nFailures);
    }
}
