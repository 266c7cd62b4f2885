// The names the installers' sources and the resource scripts get generated at configure time
// (GlimkitLayout.nsh, GlimkitLayout.wxi, GlimkitLayoutRc.h) are the constants the programs
// use, every one of them and nothing else, and the agent as built carries the window title
// the others look it up by. GLIMKIT_TEST_GENERATED_DIR is the build's generated folder.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "InstallLayout.h"
#include "ServiceHarness.h"
#include "SettingsValues.h"

namespace {

using Defines = std::map<std::wstring, std::wstring>;

// Every constant of the two headers under its generated name, its value as text.
Defines ExpectedDefines()
{
    Defines expected;
    auto text = [&](const wchar_t* pszName, const wchar_t* pszValue) { expected[pszName] = pszValue; };
    auto number = [&](const wchar_t* pszName, DWORD dwValue) { expected[pszName] = std::to_wstring(dwValue); };
    auto list = [&](const std::wstring& strName, const auto& items, auto add) {
        number((strName + L"_COUNT").c_str(), static_cast<DWORD>(std::size(items)));
        for (size_t i = 0; i < std::size(items); ++i)
            add((strName + L"_" + std::to_wstring(i)).c_str(), items[i]);
    };
    // The names the installers' scripts have always used.
    text(L"PRODUCT", glim::kProductName);
    text(L"PUBLISHER", glim::kPublisher);
    text(L"INSTDIR_FIXED", glim::kProgramFolder);
    text(L"VENDORDIR", glim::kVendorProgramFolder);
    text(L"SERVICE", glim::kServiceName);
    text(L"AGENT_TITLE", glim::kAgentWindowTitle);
    number(L"IDM_EXIT", glim::kAgentExitCommand);
    text(L"UNINSTKEY", glim::kUninstallKey);
    text(L"RUNKEY", glim::kRunKey);
    text(L"RUNVALUE", glim::kRunValue);
    text(L"HELPER", glim::kSetupHelperFile);
    // The install layout.
    text(L"SERVICE_PROGRAM_FILE", glim::kServiceProgramFile);
    text(L"AGENT_PROGRAM_FILE", glim::kAgentProgramFile);
    text(L"CTL_PROGRAM_FILE", glim::kCtlProgramFile);
    text(L"UNINSTALLER_FILE", glim::kUninstallerFile);
    list(L"PROGRAM_FILES", glim::kProgramFiles, text);
    text(L"AGENT_PROGRAM_PATH", glim::kAgentProgramPath);
    list(L"RECOVERY_DELAYS_MS", glim::kRecoveryDelaysMs, number);
    number(L"RECOVERY_RESET_SECONDS", glim::kRecoveryResetSeconds);
    number(L"RECOVERY_ON_NON_CRASH_FAILURES", static_cast<DWORD>(glim::kRecoveryOnNonCrashFailures));
    text(L"PRODUCT_KEY", glim::kProductKey);
    text(L"MSI_PRODUCT_CODE_VALUE", glim::kMsiProductCodeValue);
    text(L"SETUP_STATE_KEY", glim::kSetupStateKey);
    text(L"SERVICE_WAS_RUNNING_VALUE", glim::kServiceWasRunningValue);
    text(L"AGENT_WAS_RUNNING_VALUE", glim::kAgentWasRunningValue);
    number(L"SETUP_EXIT_FAILED", glim::kSetupExitFailed);
    number(L"SETUP_EXIT_ELEVATION_REQUIRED", glim::kSetupExitElevationRequired);
    text(L"DATA_VENDOR_FOLDER", glim::kDataVendorFolder);
    text(L"DATA_FOLDER_RELATIVE", glim::kDataFolderRelative);
    text(L"SERVICE_LOG_FILE_NAME", glim::kServiceLogFileName);
    text(L"SERVICE_LOG_PATH", glim::kServiceLogPath);
    text(L"DATA_FOLDER_SDDL", glim::kDataFolderSddl);
    text(L"SETTINGS_FILE_SDDL", glim::kSettingsFileSddl);
    // The settings file.
    text(L"SETTINGS_ENV_VAR", glim::kSettingsEnvVar);
    text(L"SETTINGS_FILE_NAME", glim::kSettingsFileName);
    text(L"SETTINGS_RELATIVE_PATH", glim::kSettingsRelativePath);
    text(L"SETTINGS_SECTION", glim::kSettingsSection);
    text(L"KEY_KBSTATUS", glim::kKeyKBStatus);
    text(L"KEY_KBBRIGHTNESS", glim::kKeyKBBrightness);
    text(L"KEY_CURRENT_KBBRIGHTNESS", glim::kKeyCurrentKBBrightness);
    text(L"KEY_IN_ACTIVE_TIME", glim::kKeyInActiveTime);
    text(L"KEY_FULL_SCREEN5S_CLOSE", glim::kKeyFullScreen5sClose);
    text(L"KEY_FULL_SCREEN_SCOPE", glim::kKeyFullScreenScope);
    text(L"KEY_DARKNESS_LUX", glim::kKeyDarknessLux);
    text(L"KEY_DIM_INDOORS_LUX", glim::kKeyDimIndoorsLux);
    text(L"KEY_AMBIENT_CHANGE_TIME", glim::kKeyAmbientChangeTime);
    text(L"KEY_UWPW_PARAM", glim::kKeyUwpwParam);
    text(L"KEY_UWPL_PARAM", glim::kKeyUwplParam);
    text(L"KEY_UNDEFINE", glim::kKeyUndefine);
    number(L"DEF_KBSTATUS", glim::kDefKBStatus);
    number(L"DEF_KBBRIGHTNESS", glim::kDefKBBrightness);
    number(L"DEF_CURRENT_KBBRIGHTNESS", glim::kDefCurrentKBBrightness);
    number(L"DEF_FULL_SCREEN5S_CLOSE", glim::kDefFullScreen5sClose);
    number(L"DEF_DARKNESS_LUX", glim::kDefDarknessLux);
    number(L"DEF_DIM_INDOORS_LUX", glim::kDefDimIndoorsLux);
    number(L"DEF_AMBIENT_CHANGE_TIME", glim::kDefAmbientChangeTime);
    number(L"DEF_UWPW_PARAM", glim::kDefUwpwParam);
    number(L"DEF_UWPL_PARAM", glim::kDefUwplParam);
    number(L"STATUS_OFF", glim::kStatusOff);
    number(L"STATUS_ON", glim::kStatusOn);
    number(L"STATUS_AUTO", glim::kStatusAuto);
    number(L"STATUS_INVALID", glim::kStatusInvalid);
    return expected;
}

std::wstring Widen(const std::string& str)
{
    return std::wstring(str.begin(), str.end());  // the generated files are ASCII
}

// The generated file's lines; fails the test when it cannot be read.
std::vector<std::string> Lines(const wchar_t* pszName)
{
    const std::wstring strPath = std::wstring(GLIMKIT_TEST_GENERATED_DIR) + L"/" + pszName;
    std::ifstream file(strPath.c_str(), std::ios::binary);
    EXPECT_TRUE(file.good()) << "cannot read " << testing::PrintToString(strPath);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    return lines;
}

// A value as the file writes it, quoted (a string) or bare (a number), with the quoting's
// escape (rc: \\ for a backslash) undone; "?" marks what is neither.
std::wstring Unquote(const std::string& strValue, bool bBackslashEscapes)
{
    const bool bNumber = !strValue.empty() && strValue.find_first_not_of("0123456789") == std::string::npos;
    if (bNumber)
        return Widen(strValue);
    if (strValue.size() < 2 || strValue.front() != '"' || strValue.back() != '"')
        return L"?" + Widen(strValue);
    std::string strText;
    for (size_t i = 1; i + 1 < strValue.size(); ++i) {
        if (bBackslashEscapes && strValue[i] == '\\' && i + 2 < strValue.size())
            ++i;
        strText += strValue[i];
    }
    return Widen(strText);
}

// "PREFIX NAME VALUE" lines after the comments the file may have; every other line is
// recorded under "?" so that the comparison shows it.
Defines Parse(const wchar_t* pszFile, const std::string& strPrefix, const std::string& strSuffix,
              const std::string& strNamePrefix, bool bBackslashEscapes, const std::vector<std::string>& skipped)
{
    Defines defines;
    for (std::string line : Lines(pszFile)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        bool bSkip = false;
        for (const std::string& start : skipped)
            bSkip = bSkip || line.compare(0, start.size(), start) == 0;
        if (bSkip)
            continue;
        const size_t nFrame = strPrefix.size() + strSuffix.size();
        const bool bShape = line.size() > nFrame && line.compare(0, strPrefix.size(), strPrefix) == 0 &&
            line.compare(line.size() - strSuffix.size(), strSuffix.size(), strSuffix) == 0;
        const std::string strBody = bShape ? line.substr(strPrefix.size(), line.size() - nFrame) : "";
        const size_t nSpace = strBody.find(' ');
        if (!bShape || nSpace == std::string::npos || strBody.compare(0, strNamePrefix.size(), strNamePrefix) != 0) {
            defines[L"?" + Widen(line)] = L"a line of no known shape";
            continue;
        }
        std::string strValue = strBody.substr(nSpace + 1);
        if (strValue.compare(0, 2, "= ") == 0)
            strValue = strValue.substr(2);
        const std::wstring strName = Widen(strBody.substr(strNamePrefix.size(), nSpace - strNamePrefix.size()));
        EXPECT_EQ(0u, defines.count(strName)) << testing::PrintToString(strName) << " twice";
        defines[strName] = Unquote(strValue, bBackslashEscapes);
    }
    return defines;
}

// Each constant under its name with its value, and nothing that is not a constant.
void ExpectDefines(const Defines& actual)
{
    const Defines expected = ExpectedDefines();
    for (const auto& constant : expected) {
        const auto found = actual.find(constant.first);
        if (found == actual.end())
            ADD_FAILURE() << "missing: " << testing::PrintToString(constant.first);
        else
            EXPECT_EQ(constant.second, found->second) << testing::PrintToString(constant.first);
    }
    for (const auto& define : actual) {
        if (!expected.count(define.first))
            ADD_FAILURE() << "not a constant of the headers: " << testing::PrintToString(define.first) << " = "
                          << testing::PrintToString(define.second);
    }
}

TEST(Layout, TheNsisIncludeDefinesEveryConstant)
{
    ExpectDefines(Parse(L"GlimkitLayout.nsh", "!define ", "", "", false, {";"}));
}

TEST(Layout, TheWixIncludeDefinesEveryConstant)
{
    ExpectDefines(
        Parse(L"GlimkitLayout.wxi", "  <?define ", "?>", "", false, {"<?xml ", "<!-- ", "<Include>", "</Include>"}));
}

TEST(Layout, TheResourceHeaderDefinesEveryConstant)
{
    ExpectDefines(Parse(L"GlimkitLayoutRc.h", "#define ", "", "GLIMKIT_LAYOUT_", true, {"// ", "#pragma once"}));
}

// The relays, glimctl and the setup find the agent by the title its resources give it.
TEST(Layout, TheAgentsWindowTitleIsTheSharedOne)
{
    const std::wstring strAgent = glimtest::BuildBinPath(glim::kAgentProgramFile);
    constexpr DWORD kAsData = LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE;
    const std::unique_ptr<std::remove_pointer_t<HMODULE>, decltype(&FreeLibrary)> hAgent(
        LoadLibraryExW(strAgent.c_str(), nullptr, kAsData), &FreeLibrary);
    ASSERT_TRUE(hAgent) << GetLastError();
    wchar_t szTitle[256] = {};
    ASSERT_LT(0, LoadStringW(hAgent.get(), 103, szTitle, 256));
    EXPECT_STREQ(glim::kAgentWindowTitle, szTitle);
}

}  // namespace
