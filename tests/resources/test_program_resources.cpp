// Each program as built declares what it is: an application manifest (the Windows versions
// it is written for, asInvoker, UI access for the agent only, no setting that changes what
// the programs do) and a version resource with the build's one version, which the setup
// program and "glimctl --version" give too. GLIMKIT_TEST_VERSION is the configured version.
#include <gtest/gtest.h>

#include <windows.h>

#include <cwchar>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "CapturedRun.h"
#include "InstallLayout.h"
#include "ProgramFiles.h"
#include "ServiceHarness.h"

namespace {

struct SProgram {
    const wchar_t* pszFile;
    bool bUiAccess;
};
const SProgram kPrograms[] = {{glim::kServiceProgramFile, false},
                              {glim::kAgentProgramFile, true},
                              {glim::kCtlProgramFile, false},
                              {glim::kSetupHelperFile, false}};

// Windows 10 and 11, 8.1, 8, 7 and Vista, as Microsoft lists them.
const std::set<std::string> kSupportedOs = {
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}"};

struct SVersion {
    WORD wMajor = 0;
    WORD wMinor = 0;
    WORD wPatch = 0;
};

SVersion BuildVersion()
{
    unsigned major = 0, minor = 0, patch = 0;
    EXPECT_EQ(3, swscanf(GLIMKIT_TEST_VERSION, L"%u.%u.%u", &major, &minor, &patch)) << GLIMKIT_TEST_VERSION;
    return {static_cast<WORD>(major), static_cast<WORD>(minor), static_cast<WORD>(patch)};
}

// The attributes of every element named strElement (namespace prefixes ignored), in order.
std::vector<std::map<std::string, std::string>> Elements(const std::string& strXml, const std::string& strElement)
{
    std::vector<std::map<std::string, std::string>> found;
    const std::regex element("<(?:[A-Za-z0-9_]+:)?" + strElement + "\\b([^>]*)>");
    const std::regex attribute("([A-Za-z_:]+)\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)')");
    for (std::sregex_iterator it(strXml.begin(), strXml.end(), element), end; it != end; ++it) {
        std::map<std::string, std::string> attributes;
        const std::string strAttributes = (*it)[1];
        for (std::sregex_iterator a(strAttributes.begin(), strAttributes.end(), attribute); a != end; ++a)
            attributes[(*a)[1]] = (*a)[2].matched ? (*a)[2].str() : (*a)[3].str();
        found.push_back(attributes);
    }
    return found;
}

std::string Lower(std::string str)
{
    for (char& ch : str)
        ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
    return str;
}

// A program's version resource: the fixed part and the strings.
class CVersionResource {
public:
    explicit CVersionResource(const std::wstring& strPath)
    {
        DWORD dwHandle = 0;
        const DWORD cb = GetFileVersionInfoSizeW(strPath.c_str(), &dwHandle);
        m_data.resize(cb);
        UINT cbInfo = 0;
        if (!cb || !GetFileVersionInfoW(strPath.c_str(), 0, cb, m_data.data()) ||
            !VerQueryValueW(m_data.data(), L"\\", reinterpret_cast<void**>(&m_pFixed), &cbInfo))
            m_pFixed = nullptr;
    }
    const VS_FIXEDFILEINFO* Fixed() const { return m_pFixed; }
    // A string of the first language and code page the resource lists.
    std::wstring String(const wchar_t* pszName) const
    {
        WORD* pwTranslation = nullptr;
        UINT cbTranslation = 0;
        if (!m_pFixed ||
            !VerQueryValueW(m_data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&pwTranslation),
                            &cbTranslation) ||
            cbTranslation < 2 * sizeof(WORD))
            return L"(no translation)";
        wchar_t szBlock[32] = {};
        swprintf(szBlock, 32, L"\\StringFileInfo\\%04x%04x\\", pwTranslation[0], pwTranslation[1]);
        const std::wstring strQuery = szBlock + std::wstring(pszName);
        wchar_t* pszValue = nullptr;
        UINT cch = 0;
        if (!m_pFixed || !VerQueryValueW(m_data.data(), strQuery.c_str(), reinterpret_cast<void**>(&pszValue), &cch) ||
            !pszValue)
            return L"(none)";
        return pszValue;
    }

private:
    std::vector<BYTE> m_data;
    VS_FIXEDFILEINFO* m_pFixed = nullptr;
};

void ExpectVersionWords(DWORD dwMS, DWORD dwLS, const char* pszWhich)
{
    const SVersion version = BuildVersion();
    EXPECT_EQ(MAKELONG(version.wMinor, version.wMajor), dwMS) << pszWhich;
    EXPECT_EQ(MAKELONG(0, version.wPatch), dwLS) << pszWhich;
}

}  // namespace

TEST(ProgramManifest, DeclaresTheWindowsVersionsAsInvokerAndUiAccessForTheAgentOnly)
{
    for (const SProgram& program : kPrograms) {
        SCOPED_TRACE(program.pszFile);
        // Read the way doctor reads it (a data file, nothing of it runs).
        const std::string strManifest = glimctl::ManifestOf(glimtest::BuildBinPath(program.pszFile));
        ASSERT_FALSE(strManifest.empty()) << "no manifest resource";
        std::set<std::string> supported;
        for (const auto& os : Elements(strManifest, "supportedOS"))
            supported.insert(Lower(os.count("Id") ? os.at("Id") : std::string()));
        EXPECT_EQ(kSupportedOs, supported) << strManifest;
        const auto levels = Elements(strManifest, "requestedExecutionLevel");
        ASSERT_EQ(1u, levels.size()) << strManifest;
        EXPECT_EQ("asInvoker", levels[0].count("level") ? levels[0].at("level") : "") << strManifest;
        EXPECT_EQ(program.bUiAccess ? "true" : "false", levels[0].count("uiAccess") ? levels[0].at("uiAccess") : "")
            << strManifest;
        // No setting that changes what a program does: DPI awareness (the OSD sets its own at
        // run time), long paths, code page, heap, or version 6 of the common controls.
        for (const char* pszElement : {"windowsSettings", "dpiAware", "dpiAwareness", "longPathAware", "activeCodePage",
                                       "heapType", "dependency"})
            EXPECT_TRUE(Elements(strManifest, pszElement).empty()) << pszElement << "\n" << strManifest;
    }
}

TEST(ProgramVersion, EveryProgramCarriesTheBuildsVersion)
{
    for (const SProgram& program : kPrograms) {
        SCOPED_TRACE(program.pszFile);
        const CVersionResource resource(glimtest::BuildBinPath(program.pszFile));
        ASSERT_NE(nullptr, resource.Fixed()) << "no version resource";
        ExpectVersionWords(resource.Fixed()->dwFileVersionMS, resource.Fixed()->dwFileVersionLS, "file version");
        ExpectVersionWords(resource.Fixed()->dwProductVersionMS, resource.Fixed()->dwProductVersionLS,
                           "product version");
        EXPECT_EQ(glim::kPublisher, resource.String(L"CompanyName"));
        EXPECT_EQ(glim::kProductName, resource.String(L"ProductName"));
        EXPECT_EQ(GLIMKIT_TEST_VERSION, resource.String(L"ProductVersion"));
        EXPECT_EQ(GLIMKIT_TEST_VERSION, resource.String(L"FileVersion"));
        EXPECT_EQ(program.pszFile, resource.String(L"OriginalFilename"));
        EXPECT_EQ(0u, resource.String(L"FileDescription").find(L"Glimkit ")) << resource.String(L"FileDescription");
    }
}

// The setup program (its uninstaller is made with the same resource) and glimctl --version
// give the same version as the programs.
TEST(ProgramVersion, TheSetupProgramAndGlimctlGiveTheSameVersion)
{
#ifdef GLIMKIT_TEST_SETUP
    const CVersionResource setup(glimtest::BuildBinPath(L"GlimkitSetup.exe"));
    ASSERT_NE(nullptr, setup.Fixed()) << "the setup program has no version resource";
    ExpectVersionWords(setup.Fixed()->dwProductVersionMS, setup.Fixed()->dwProductVersionLS, "setup product version");
    ExpectVersionWords(setup.Fixed()->dwFileVersionMS, setup.Fixed()->dwFileVersionLS, "setup file version");
    EXPECT_EQ(GLIMKIT_TEST_VERSION, setup.String(L"ProductVersion"));
    EXPECT_EQ(glim::kPublisher, setup.String(L"CompanyName"));
    EXPECT_EQ(glim::kProductName, setup.String(L"ProductName"));
#endif
    glimtest::SCapturedRun run;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              glimtest::RunCapturedApart(glimtest::BuildBinPath(L"glimctl.exe"), L"--version", &run));
    EXPECT_EQ(0u, run.dwExitCode);
    EXPECT_EQ(std::wstring(L"glimctl (Glimkit) ") + GLIMKIT_TEST_VERSION + L"\n", run.strOut);
    EXPECT_EQ(L"", run.strErr);
}

namespace {

// The agent's About box (dialog 103) names the build's version, not a fixed one.
TEST(ProgramVersion, TheAgentsAboutBoxGivesTheBuildsVersion)
{
    const std::wstring strAgent = glimtest::BuildBinPath(glim::kAgentProgramFile);
    constexpr DWORD kAsData = LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE;
    const std::unique_ptr<std::remove_pointer_t<HMODULE>, decltype(&FreeLibrary)> hAgent(
        LoadLibraryExW(strAgent.c_str(), nullptr, kAsData), &FreeLibrary);
    ASSERT_TRUE(hAgent) << GetLastError();
    const HRSRC hDialog = FindResourceW(hAgent.get(), MAKEINTRESOURCEW(103), MAKEINTRESOURCEW(5));  // RT_DIALOG
    ASSERT_TRUE(hDialog) << GetLastError();
    const HGLOBAL hData = LoadResource(hAgent.get(), hDialog);
    const DWORD cb = SizeofResource(hAgent.get(), hDialog);
    ASSERT_TRUE(hData && cb);
    // A dialog template holds its texts as UTF-16 strings.
    const wchar_t* pchData = static_cast<const wchar_t*>(LockResource(hData));
    const std::wstring strTemplate(pchData, cb / sizeof(wchar_t));
    const std::wstring strLine = std::wstring(L"Glimagent, version ") + GLIMKIT_TEST_VERSION + L'\0';
    EXPECT_NE(std::wstring::npos, strTemplate.find(strLine)) << "the About box does not say the build's version";
}

}  // namespace
