// Pure rules of glimctl, free of I/O so tests reach every case: the command line, the values
// of "set" as the settings application writes them, JSON text, and the verdicts of the checks.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace glimctl {

struct SCommand;

// One verb: the word that names it, the words and options it takes, its lines of the usage
// text and the function that runs it. A new verb is one more entry in the table (Verbs()).
struct SVerb {
    const wchar_t* pszName;
    int nArguments;                     // words after the name: the value last, a name before it
    bool bJson;                         // takes --json
    const wchar_t* pszPreviewArgument;  // takes --preview when its first word is this one
    const wchar_t* pszUsage;            // its lines, each with one sentence and a line end
    int (*pfnRun)(const SCommand& command, std::wstring* pstrOut);  // the exit code and what to print
    bool bReport;  // what it prints goes to standard output whatever the exit code
};

struct SCommand {
    const SVerb* pVerb = nullptr;  // none: help, or a mistake
    bool bHelp = false;
    bool bJson = false;     // doctor, status: JSON instead of lines
    bool bPreview = false;  // set level: ask for the three-second preview in Auto
    std::wstring strName;   // set: status, level, idle, fullscreen or titles
    std::wstring strValue;  // set: the value as typed; report: the file
};

// argv without the program name, against the table of verbs. "--help", "-h" or "/?" first
// asks for help (whatever follows). Unknown verbs, options or extra words give no verb.
SCommand ParseCommandLine(int argc, const wchar_t* const* argv, const std::vector<SVerb>& verbs);

// One line per verb, each with one sentence, in the table's order. Printed to standard
// output on request (exit 0) and to standard error after a mistake (exit 2).
std::wstring UsageText(const std::vector<SVerb>& verbs);

// Exit codes of every verb but doctor (which exits with its number of failures).
constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// The levels the system itself sends lie in this range; the driver's is not known beyond it.
constexpr int kMinLevel = 0;
constexpr int kMaxLevel = 10;
constexpr int kNoNotice = -1;

// One settings key to write and the notice that announces it (kind kNoNotice: none exists
// for this key, the agent reads it at its next start).
struct SSetting {
    const wchar_t* pszKey = nullptr;
    std::wstring strText;
    int nKind = kNoNotice;
    int nArgument = 0;
};

// Turns "set NAME VALUE" into the key and text the settings application would write. False
// with a one-line reason (naming the accepted values) for anything else.
bool ParseSetting(const std::wstring& strName, const std::wstring& strValue, bool bPreview, SSetting* pSetting,
                  std::wstring* pstrError);

// "Off", "On", "Auto", or "unknown (N)".
std::wstring StatusName(DWORD dwStatus);

// The text between JSON quotes for a string.
std::wstring JsonEscape(const std::wstring& strText);

enum class Verdict { Pass, Fail, Skip };
const wchar_t* VerdictName(Verdict verdict);

// One of doctor's checks.
struct SCheck {
    std::wstring strId;    // stable name for tools and tests ("service.running")
    std::wstring strItem;  // what was checked, for people
    Verdict verdict = Verdict::Skip;
    std::wstring strDetail;  // what was seen, or why it cannot be seen
    std::wstring strAction;  // what to do about a FAIL
};

// What doctor suggests for most failures.
constexpr const wchar_t* kReinstall = L"reinstall Glimkit (GlimkitSetup.exe, as an administrator)";

// What doctor saw of one installed program.
struct SProgramSeen {
    std::wstring strPath;
    bool bPresent = false;
    std::wstring strVersion;      // FileVersion's answer
    LONG lTrust = ERROR_SUCCESS;  // WinVerifyTrust's result
    bool bNeedsUiAccess = false;  // the agent: its manifest must ask for UI access
    bool bAsksUiAccess = false;
};
// The programs' checks: each program present (with its version), its signature, and the UI
// access the agent's manifest asks for. A missing program is one failure; the checks that
// need its file are skipped with that reason.
std::vector<SCheck> JudgePrograms(const std::vector<SProgramSeen>& programs);

// A command line (service image path, Run value) that starts with the quoted program
// strProgram, compared without regard to case; "Program" may also stand without ".exe"
// (the service manager completes the name). Arguments may follow the closing quote.
bool IsQuotedProgram(const std::wstring& strCommandLine, const std::wstring& strProgram);

// What the settings file's bytes are: UTF-16LE with its byte-order mark, and whether a
// "[Glimkit]" section line is in it (in either encoding).
struct SSettingsForm {
    bool bUtf16Bom = false;
    bool bSection = false;
};
SSettingsForm ClassifySettingsBytes(const std::string& strBytes);
// The file's text: UTF-16LE after its byte-order mark, else the ANSI code page.
std::wstring SettingsText(const std::string& strBytes);

// The service's recovery as installed: restart after 5 s, 30 s and 60 s, reset after a day.
bool IsInstalledRecovery(const SERVICE_FAILURE_ACTIONSW& actions);

// The manifest's requestedExecutionLevel carries uiAccess="true" (quotes, case and blanks
// around '=' as XML allows).
bool ManifestAsksUiAccess(const std::string& strManifest);

// When the service puts the recorded level back after a wake, for people.
std::wstring RestoreRuleText(bool bModernStandby);

// The last nLines lines of a text (CR LF or LF), without their line ends.
std::wstring LastLines(const std::wstring& strText, size_t nLines);

}  // namespace glimctl
