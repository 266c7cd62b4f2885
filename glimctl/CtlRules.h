// Pure rules of glimctl, free of I/O so tests reach every case: the command line, the values
// of "set" as the settings application writes them, JSON text, and the verdicts of the checks.
#pragma once

#include <windows.h>

#include <string>

namespace glimctl {

enum class Verb { Usage, Doctor, Status, Set, Report };

struct SCommand {
    Verb verb = Verb::Usage;
    bool bJson = false;     // doctor, status: JSON instead of lines
    bool bPreview = false;  // set level: ask for the three-second preview in Auto
    std::wstring strName;   // set: status, level, idle, fullscreen or titles
    std::wstring strValue;  // set: the value as typed; report: the file
};

// argv without the program name. Unknown verbs, options or extra words give Verb::Usage.
SCommand ParseCommandLine(int argc, const wchar_t* const* argv);

constexpr const wchar_t* kUsage =
    L"usage: glimctl doctor [--json] | status [--json] | set status off|on|auto | "
    L"set level 0-10 [--preview] | set idle 5m|30s|off | set fullscreen on|off | "
    L"set titles \"A;B\" | report FILE";

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
