#include "CtlRules.h"

#include <cstring>
#include <cwchar>
#include <cwctype>
#include <iterator>
#include <vector>

#include "GlimNames.h"
#include "PowerRules.h"

namespace glimctl {

namespace {

bool Equal(const std::wstring& a, const wchar_t* b)
{
    return a == b;
}

bool EqualNoCase(const std::wstring& a, const std::wstring& b)
{
    return a.size() == b.size() && _wcsicmp(a.c_str(), b.c_str()) == 0;
}

// A whole number of at most nMaxDigits decimal digits, nothing else.
bool ParseDigits(const std::wstring& strText, size_t nMaxDigits, int* pnValue)
{
    if (strText.empty() || strText.size() > nMaxDigits)
        return false;
    int nValue = 0;
    for (wchar_t ch : strText) {
        if (ch < L'0' || ch > L'9')
            return false;
        nValue = nValue * 10 + (ch - L'0');
    }
    *pnValue = nValue;
    return true;
}

bool ParseChoice(const std::wstring& strValue, const std::vector<const wchar_t*>& choices, size_t* pnIndex)
{
    for (size_t i = 0; i < choices.size(); ++i) {
        if (Equal(strValue, choices[i])) {
            *pnIndex = i;
            return true;
        }
    }
    return false;
}

bool ParseIdle(const std::wstring& strValue, std::wstring* pstrText)
{
    if (strValue == L"off") {
        *pstrText = L"なし";
        return true;
    }
    int nValue = 0;
    if (strValue.size() < 2 || !ParseDigits(strValue.substr(0, strValue.size() - 1), 5, &nValue) || nValue == 0)
        return false;
    const wchar_t chUnit = strValue.back();
    if (chUnit != L'm' && chUnit != L's')
        return false;
    *pstrText = std::to_wstring(nValue) + (chUnit == L'm' ? L"分" : L"秒");
    return true;
}

}  // namespace

SCommand ParseCommandLine(int argc, const wchar_t* const* argv, const std::vector<SVerb>& verbs)
{
    SCommand command;
    std::vector<std::wstring> words;
    for (int i = 0; i < argc; ++i) {
        const std::wstring word = argv[i];
        if (word == L"--json")
            command.bJson = true;
        else if (word == L"--preview")
            command.bPreview = true;
        else
            words.push_back(word);
    }
    const SCommand usage;
    if (words.empty())
        return usage;
    if (words[0] == L"--help" || words[0] == L"-h" || words[0] == L"/?") {
        command.bHelp = true;
        return command;
    }
    for (const SVerb& verb : verbs) {
        if (words[0] != verb.pszName)
            continue;
        const bool bPreviewTaken =
            verb.pszPreviewArgument && verb.nArguments > 0 && words.size() > 1 && words[1] == verb.pszPreviewArgument;
        if (words.size() != static_cast<size_t>(verb.nArguments) + 1 || (command.bJson && !verb.bJson) ||
            (command.bPreview && !bPreviewTaken))
            return usage;
        command.pVerb = &verb;
        if (verb.nArguments > 0)
            command.strValue = words.back();
        if (verb.nArguments > 1)
            command.strName = words[words.size() - 2];
        return command;
    }
    return usage;
}

std::wstring UsageText(const std::vector<SVerb>& verbs)
{
    std::wstring strText = L"usage: glimctl VERB [ARGUMENTS]\n";
    for (const SVerb& verb : verbs)
        strText += verb.pszUsage;
    return strText + L"  --help, -h, /?              Prints this help.";
}

bool ParseSetting(const std::wstring& strName, const std::wstring& strValue, bool bPreview, SSetting* pSetting,
                  std::wstring* pstrError)
{
    SSetting setting;
    size_t nChoice = 0;
    if (strName == L"status") {
        if (!ParseChoice(strValue, {L"off", L"on", L"auto"}, &nChoice)) {
            *pstrError = L"status must be off, on or auto";
            return false;
        }
        setting = {glim::kKeyKBStatus, std::to_wstring(nChoice), 0, 0};
    } else if (strName == L"level") {
        int nLevel = -1;
        if (!ParseDigits(strValue, 2, &nLevel) || nLevel < kMinLevel || nLevel > kMaxLevel) {
            *pstrError = L"level must be a whole number from 0 to 10";
            return false;
        }
        // Argument 0 asks the agent for the preview in Auto; any other applies the level.
        setting = {glim::kKeyKBBrightness, std::to_wstring(nLevel), 1, bPreview ? 0 : 1};
    } else if (strName == L"idle") {
        std::wstring strText;
        if (!ParseIdle(strValue, &strText)) {
            *pstrError = L"idle must be minutes (5m), seconds (30s) or off";
            return false;
        }
        setting = {glim::kKeyInActiveTime, strText, 2, 0};
    } else if (strName == L"fullscreen") {
        if (!ParseChoice(strValue, {L"off", L"on"}, &nChoice)) {
            *pstrError = L"fullscreen must be on or off";
            return false;
        }
        setting = {glim::kKeyFullScreen5sClose, std::to_wstring(nChoice), 3, 0};
    } else if (strName == L"titles") {
        // The agent reads at most 254 characters; a line break would end the value early.
        if (strValue.size() >= static_cast<size_t>(glim::kSettingStringChars) ||
            strValue.find_first_of(L"\r\n") != std::wstring::npos) {
            *pstrError = L"titles must be one line of at most 254 characters, separated by ';'";
            return false;
        }
        setting = {glim::kKeyFullScreenScope, strValue, kNoNotice, 0};
    } else {
        *pstrError = L"unknown setting: use status, level, idle, fullscreen or titles";
        return false;
    }
    if (bPreview && strName != L"level") {
        *pstrError = L"--preview goes with set level only";
        return false;
    }
    *pSetting = setting;
    return true;
}

std::wstring RestoreRuleText(bool bModernStandby)
{
    return std::wstring(L"on resume with user input") +
        (glim::RestoresOnDisplayOn(bModernStandby) ? L" and when the display comes on after Modern Standby" : L"") +
        L"; never on a wake with nobody there";
}

std::wstring StatusName(DWORD dwStatus)
{
    switch (dwStatus) {
    case glim::kStatusOff: return L"Off";
    case glim::kStatusOn: return L"On";
    case glim::kStatusAuto: return L"Auto";
    default: return L"unknown (" + std::to_wstring(static_cast<int>(dwStatus)) + L")";
    }
}

std::wstring JsonEscape(const std::wstring& strText)
{
    std::wstring strOut;
    strOut.reserve(strText.size());
    for (wchar_t ch : strText) {
        switch (ch) {
        case L'"': strOut += L"\\\""; break;
        case L'\\': strOut += L"\\\\"; break;
        case L'\n': strOut += L"\\n"; break;
        case L'\r': strOut += L"\\r"; break;
        case L'\t': strOut += L"\\t"; break;
        default:
            if (ch < 0x20) {
                wchar_t szEscape[8] = {};
                swprintf(szEscape, 8, L"\\u%04x", static_cast<unsigned>(ch));
                strOut += szEscape;
            } else {
                strOut += ch;
            }
        }
    }
    return strOut;
}

const wchar_t* VerdictName(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Pass: return L"PASS";
    case Verdict::Fail: return L"FAIL";
    default: return L"SKIP";
    }
}

bool IsQuotedProgram(const std::wstring& strCommandLine, const std::wstring& strProgram)
{
    if (strCommandLine.size() < 2 || strCommandLine[0] != L'"')
        return false;
    const size_t nClose = strCommandLine.find(L'"', 1);
    if (nClose == std::wstring::npos)
        return false;
    if (nClose + 1 < strCommandLine.size() && strCommandLine[nClose + 1] != L' ')
        return false;
    const std::wstring strQuoted = strCommandLine.substr(1, nClose - 1);
    if (EqualNoCase(strQuoted, strProgram))
        return true;
    const size_t nExe = strProgram.size() >= 4 ? strProgram.size() - 4 : 0;
    return nExe > 0 && EqualNoCase(strProgram.substr(nExe), L".exe") &&
        EqualNoCase(strQuoted, strProgram.substr(0, nExe));
}

SSettingsForm ClassifySettingsBytes(const std::string& strBytes)
{
    SSettingsForm form;
    form.bUtf16Bom = strBytes.size() >= 2 && static_cast<unsigned char>(strBytes[0]) == 0xFF &&
        static_cast<unsigned char>(strBytes[1]) == 0xFE;
    const std::wstring strText = SettingsText(strBytes);
    const std::wstring strSection = std::wstring(L"[") + glim::kSettingsSection + L"]";
    size_t nStart = 0;
    while (nStart <= strText.size() && !form.bSection) {
        size_t nEnd = strText.find(L'\n', nStart);
        if (nEnd == std::wstring::npos)
            nEnd = strText.size();
        std::wstring strLine = strText.substr(nStart, nEnd - nStart);
        while (!strLine.empty() && (strLine.back() == L'\r' || strLine.back() == L' ' || strLine.back() == L'\t'))
            strLine.pop_back();
        const size_t nFirst = strLine.find_first_not_of(L" \t");
        form.bSection = nFirst != std::wstring::npos && EqualNoCase(strLine.substr(nFirst), strSection);
        nStart = nEnd + 1;
    }
    return form;
}

std::wstring SettingsText(const std::string& strBytes)
{
    if (strBytes.size() >= 2 && static_cast<unsigned char>(strBytes[0]) == 0xFF &&
        static_cast<unsigned char>(strBytes[1]) == 0xFE) {
        std::wstring strText((strBytes.size() - 2) / sizeof(wchar_t), L'\0');
        if (!strText.empty())
            memcpy(&strText[0], strBytes.data() + 2, strText.size() * sizeof(wchar_t));
        return strText;
    }
    if (strBytes.empty())
        return std::wstring();
    const int cch = MultiByteToWideChar(CP_ACP, 0, strBytes.data(), static_cast<int>(strBytes.size()), nullptr, 0);
    std::wstring strText(cch > 0 ? cch : 0, L'\0');
    if (cch > 0)
        MultiByteToWideChar(CP_ACP, 0, strBytes.data(), static_cast<int>(strBytes.size()), &strText[0], cch);
    return strText;
}

bool IsInstalledRecovery(const SERVICE_FAILURE_ACTIONSW& actions)
{
    constexpr DWORD kActions = static_cast<DWORD>(std::size(glim::kRecoveryDelaysMs));
    if (actions.dwResetPeriod != glim::kRecoveryResetSeconds || actions.cActions != kActions || !actions.lpsaActions)
        return false;
    for (DWORD i = 0; i < kActions; ++i) {
        const SC_ACTION& action = actions.lpsaActions[i];
        if (action.Type != SC_ACTION_RESTART || action.Delay != glim::kRecoveryDelaysMs[i])
            return false;
    }
    return true;
}

bool ManifestAsksUiAccess(const std::string& strManifest)
{
    std::string strLower(strManifest);
    for (char& ch : strLower)
        ch = static_cast<char>(ch >= 'A' && ch <= 'Z' ? ch - 'A' + 'a' : ch);
    const size_t nElement = strLower.find("<requestedexecutionlevel");
    if (nElement == std::string::npos)
        return false;
    const size_t nEnd = strLower.find('>', nElement);
    const std::string strElement =
        strLower.substr(nElement, nEnd == std::string::npos ? std::string::npos : nEnd - nElement);
    const std::string strAttribute = " uiaccess";
    size_t nAt = strElement.find(strAttribute);
    if (nAt == std::string::npos)
        return false;
    nAt += strAttribute.size();
    auto skipBlanks = [&](size_t n) {
        while (n < strElement.size() &&
               (strElement[n] == ' ' || strElement[n] == '\t' || strElement[n] == '\r' || strElement[n] == '\n'))
            ++n;
        return n;
    };
    nAt = skipBlanks(nAt);
    if (nAt >= strElement.size() || strElement[nAt] != '=')
        return false;
    nAt = skipBlanks(nAt + 1);
    if (nAt >= strElement.size() || (strElement[nAt] != '"' && strElement[nAt] != '\''))
        return false;
    const char chQuote = strElement[nAt];
    return strElement.compare(nAt + 1, 5, std::string("true") + chQuote) == 0;
}

std::wstring LastLines(const std::wstring& strText, size_t nLines)
{
    std::vector<std::wstring> lines;
    size_t nStart = 0;
    while (nStart < strText.size()) {
        size_t nEnd = strText.find(L'\n', nStart);
        if (nEnd == std::wstring::npos)
            nEnd = strText.size();
        std::wstring strLine = strText.substr(nStart, nEnd - nStart);
        if (!strLine.empty() && strLine.back() == L'\r')
            strLine.pop_back();
        lines.push_back(strLine);
        nStart = nEnd + 1;
    }
    std::wstring strOut;
    for (size_t i = lines.size() > nLines ? lines.size() - nLines : 0; i < lines.size(); ++i)
        strOut += lines[i] + L"\n";
    return strOut;
}

namespace {

std::wstring TrustText(LONG lTrust)
{
    if (lTrust == ERROR_SUCCESS)
        return L"the signature verifies";
    if (lTrust == TRUST_E_NOSIGNATURE)
        return L"not signed";
    if (lTrust == TRUST_E_BAD_DIGEST)
        return L"changed after it was signed";
    wchar_t szHex[16] = {};
    swprintf(szHex, 16, L"0x%08lX", static_cast<unsigned long>(lTrust));
    return std::wstring(L"the signature does not verify (") + szHex + L")";
}

}  // namespace

std::vector<SCheck> JudgePrograms(const std::vector<SProgramSeen>& programs)
{
    const wchar_t* pszResign = L"install a signed release of Glimkit (GlimkitSetup.exe, as an administrator)";
    std::vector<SCheck> checks;
    const auto add = [&checks](const std::wstring& strId, const std::wstring& strItem, Verdict verdict,
                               const std::wstring& strDetail, const wchar_t* pszAction) {
        checks.push_back({strId, strItem, verdict, strDetail, verdict == Verdict::Fail ? pszAction : L""});
    };
    for (const SProgramSeen& seen : programs) {
        const std::wstring strName = seen.strPath.substr(seen.strPath.find_last_of(L'\\') + 1);
        const std::wstring strMissing = strName + L" is missing";
        add(L"programs.file." + strName, strName + L" installed", seen.bPresent ? Verdict::Pass : Verdict::Fail,
            seen.bPresent ? L"version " + seen.strVersion : seen.strPath + L" is missing", kReinstall);
        // Without the file, what needs it is not judged: the one failure says why.
        const Verdict signature = !seen.bPresent ? Verdict::Skip
            : seen.lTrust == ERROR_SUCCESS       ? Verdict::Pass
                                                 : Verdict::Fail;
        add(L"programs.signature." + strName, strName + L" signed and the signature verifies", signature,
            seen.bPresent ? TrustText(seen.lTrust) : strMissing, pszResign);
        if (!seen.bNeedsUiAccess)
            continue;
        const Verdict uiAccess = !seen.bPresent ? Verdict::Skip : seen.bAsksUiAccess ? Verdict::Pass : Verdict::Fail;
        add(L"programs.uiaccess", strName + L"'s manifest asks for UI access", uiAccess,
            !seen.bPresent           ? strMissing
                : seen.bAsksUiAccess ? L"uiAccess=\"true\""
                                     : L"no uiAccess=\"true\" in its manifest",
            kReinstall);
    }
    return checks;
}

}  // namespace glimctl
