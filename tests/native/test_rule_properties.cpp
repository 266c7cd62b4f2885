// The pure rules held to properties over many generated inputs (the generator starts from a
// fixed value, so a failure repeats), with the tick counter's 32-bit wrap inside every range
// of ticks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cwchar>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "AgentRules.h"
#include "GlimNames.h"
#include "KBRules.h"
#include "SensingRules.h"
#include "ServiceCommand.h"
#include "shellapi.h"

using namespace glim;

namespace {

constexpr int kRounds = 200000;

class RuleProperties : public ::testing::Test {
protected:
    DWORD Tick() { return static_cast<DWORD>(m_rng()); }
    // Mostly small and boundary spans, now and then any 32-bit value.
    DWORD Span()
    {
        static const DWORD kEdges[] = {0, 1, 499, 500, 501, 1500, 1501, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
        switch (m_rng() % 3) {
        case 0: return kEdges[m_rng() % (sizeof(kEdges) / sizeof(kEdges[0]))];
        case 1: return static_cast<DWORD>(m_rng() % 4000);
        default: return Tick();
        }
    }
    // A tick near the wrap half of the time.
    DWORD Now() { return m_rng() % 2 ? static_cast<DWORD>(m_rng() % 8000 - 4000) : Tick(); }
    int Int(int nLow, int nHigh) { return std::uniform_int_distribution<int>(nLow, nHigh)(m_rng); }
    std::wstring Text(const wchar_t* pszAlphabet, size_t cchMax)
    {
        const size_t cchAlphabet = std::wcslen(pszAlphabet);
        std::wstring text(m_rng() % (cchMax + 1), L' ');
        for (wchar_t& ch : text)
            ch = pszAlphabet[m_rng() % cchAlphabet];
        return text;
    }

    std::mt19937 m_rng{20261207};
};

TEST_F(RuleProperties, HotkeyIntervalAcceptsOnlyAfterMoreThan500msAcrossTheWrap)
{
    for (int i = 0; i < kRounds; ++i) {
        const DWORD dwLast = Now();
        const DWORD dwSpan = Span();
        const DWORD dwNow = dwLast + dwSpan;  // wraps like the counter
        DWORD dwKept = dwLast;
        const bool bAccepted = AcceptF12Press(dwNow, &dwKept);
        ASSERT_EQ(dwSpan > kF12MinIntervalMs, bAccepted) << "last " << dwLast << ", now " << dwNow;
        ASSERT_EQ(bAccepted ? dwNow : dwLast, dwKept);
    }
}

TEST_F(RuleProperties, StatusCyclesStayInRangeAndReturn)
{
    for (int i = 0; i < kRounds; ++i) {
        const DWORD dwAny = i < 8 ? static_cast<DWORD>(i) - 3 : Tick();
        const DWORD dwNext = NextKBStatus(dwAny);
        ASSERT_LE(dwNext, kStatusAuto) << dwAny;
        ASSERT_EQ(dwNext, NextKBStatus(NextKBStatus(NextKBStatus(dwNext)))) << "a cycle is three steps, from " << dwAny;
        ASSERT_NE(dwNext, NextKBStatus(dwNext));
        const DWORD dwLocked = NextLockedKBStatus(dwAny);
        ASSERT_EQ(dwAny == kStatusOff ? kStatusOn : kStatusOff, dwLocked) << dwAny;
        ASSERT_EQ(dwLocked, NextLockedKBStatus(NextLockedKBStatus(dwLocked)));
    }
}

TEST_F(RuleProperties, LaterTickAndIdleVerdictFollowTheAgeAcrossTheWrap)
{
    for (int i = 0; i < kRounds; ++i) {
        const DWORD dwNow = Now();
        const DWORD dwAgeA = Span() & 0x7FFFFFFF;
        const DWORD dwAgeB = Span() & 0x7FFFFFFF;
        const DWORD dwLater = LaterTick(dwNow, dwNow - dwAgeA, dwNow - dwAgeB);
        ASSERT_EQ(dwNow - std::min(dwAgeA, dwAgeB), dwLater) << "now " << dwNow;

        const DWORD dwThreshold = Span();
        const IdleVerdict verdict = JudgeIdle(dwNow, dwNow - dwAgeA, dwThreshold);
        const IdleVerdict expected = dwAgeA >= dwThreshold ? IdleVerdict::Inactive
            : dwAgeA <= kActiveWindowMs                    ? IdleVerdict::Active
                                                           : IdleVerdict::None;
        ASSERT_EQ(expected, verdict) << "now " << dwNow << ", age " << dwAgeA << ", threshold " << dwThreshold;
    }
}

TEST_F(RuleProperties, IdleTimeIsParsedOnlyWithItsUnit)
{
    const long long kMax = std::numeric_limits<int>::max();
    for (int i = 0; i < kRounds / 10; ++i) {
        const int nValue = m_rng() % 2 ? Int(-100000, 100000) : static_cast<int>(m_rng());
        const std::wstring number = std::wstring(m_rng() % 3, L' ') + std::to_wstring(nValue);
        ASSERT_EQ(nValue, ParseInActiveTime((number + L"\x79D2").c_str())) << nValue;
        const long long llMinutes = 60ll * nValue;
        const int nExpected = (llMinutes > kMax || llMinutes < -kMax - 1) ? 0 : static_cast<int>(llMinutes);
        ASSERT_EQ(nExpected, ParseInActiveTime((number + L"\x5206").c_str())) << nValue;
        // Without a unit there is no idle time, whatever the text.
        ASSERT_EQ(0, ParseInActiveTime(number.c_str()));
        ASSERT_EQ(0, ParseInActiveTime(Text(L"0123456789 -+x\x5207\x79D1", 12).c_str()));

        const DWORD dwMs = InActiveThresholdMs(nValue);
        const unsigned long long ullMs = 1000ull * static_cast<unsigned>(std::max(nValue, 0));
        ASSERT_EQ(ullMs > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(ullMs), dwMs) << nValue;
    }
}

TEST_F(RuleProperties, TitleScopeMatchesTheTailFromTheLastHyphen)
{
    for (int i = 0; i < kRounds / 4; ++i) {
        const std::wstring title = Text(L"ab- Y", 10);
        const std::wstring scope = Text(L"ab- ;", 16);
        const size_t nHyphen = title.rfind(L'-');
        const std::wstring tail = (nHyphen != std::wstring::npos && nHyphen != 0) ? title.substr(nHyphen) : title;
        ASSERT_EQ(tail, ScopeTitleTail(title.c_str())) << "title \"" << std::string(title.begin(), title.end()) << '"';
        const int nExpected = (!scope.empty() && scope.find(tail) != std::wstring::npos) ? 1 : 0;
        ASSERT_EQ(nExpected, IsTitleInScope(scope.c_str(), title.c_str()));
        // A list that names the tail among other names always matches.
        ASSERT_EQ(1, IsTitleInScope((scope + L";" + tail + L";").c_str(), title.c_str()));
    }
}

TEST_F(RuleProperties, CommandLineTailGivesTheSecondWordAsVerb)
{
    struct Word {
        const wchar_t* pszText;
        ServiceVerb eVerb;
    };
    static const Word kVerbs[] = {
        {L"-I", ServiceVerb::Install},   {L"-i", ServiceVerb::Install},     {L"-U", ServiceVerb::Uninstall},
        {L"-u", ServiceVerb::Uninstall}, {L"-S", ServiceVerb::Start},       {L"-s", ServiceVerb::Start},
        {L"-K", ServiceVerb::Stop},      {L"-k", ServiceVerb::Stop},        {L"-X", ServiceVerb::Ignored},
        {L"--", ServiceVerb::Ignored},   {L"I", ServiceVerb::Ignored},      {L"-II", ServiceVerb::Ignored},
        {L"/I", ServiceVerb::Ignored},   {L"\"-I\"", ServiceVerb::Install},
    };
    static const wchar_t* const kOptions[] = {L"", L"D", L"d", L"DD", L"x", L"\"D\""};
    static const wchar_t* const kFirst[] = {L"x", L"Glimward.exe", L"\"C:\\Program Files\\g.exe\""};
    for (int i = 0; i < kRounds / 10; ++i) {
        const Word& verb = kVerbs[m_rng() % (sizeof(kVerbs) / sizeof(kVerbs[0]))];
        const std::wstring option = kOptions[m_rng() % (sizeof(kOptions) / sizeof(kOptions[0]))];
        const std::wstring blank = m_rng() % 2 ? L" " : L" \t ";
        const std::wstring tail =
            kFirst[m_rng() % (sizeof(kFirst) / sizeof(kFirst[0]))] + blank + verb.pszText + blank + option;
        const std::string ansi(tail.begin(), tail.end());
        int nArgc = 0;
        LPWSTR* ppszArgv = BuildServiceArgv(ansi.c_str(), &nArgc);
        ASSERT_NE(nullptr, ppszArgv) << ansi;
        const ServiceCommand cmd = ParseServiceCommand(nArgc, ppszArgv);
        LocalFree(ppszArgv);
        ASSERT_EQ(verb.eVerb, cmd.eVerb) << ansi;
        const bool bDelayed =
            verb.eVerb == ServiceVerb::Install && (option == L"D" || option == L"d" || option == L"\"D\"");
        ASSERT_EQ(bDelayed ? TRUE : FALSE, cmd.bDelayedStart) << ansi;
        ASSERT_EQ(verb.eVerb == ServiceVerb::Ignored ? 0u : 2u, std::wcslen(cmd.szVerb)) << ansi;
    }
    int nArgc = 0;
    LPWSTR* ppszArgv = BuildServiceArgv(nullptr, &nArgc);
    EXPECT_EQ(ServiceVerb::RunService, ParseServiceCommand(nArgc, ppszArgv).eVerb) << "no tail: the program alone";
    LocalFree(ppszArgv);
}

TEST_F(RuleProperties, AmbientBandsRiseWithTheLight)
{
    for (int i = 0; i < kRounds / 4; ++i) {
        const int nDarkness = Int(0, 799);
        const int nDim = Int(nDarkness, 799);
        const float fLux = std::ldexp(static_cast<float>(m_rng() % 100000) / 1000.0f, Int(-4, 16));
        const float fMore = fLux + static_cast<float>(m_rng() % 50000);
        const int nBand = AmbientBand(fLux, nDarkness, nDim);
        ASSERT_GE(nBand, kBandDarkness);
        ASSERT_LE(nBand, 6);
        ASSERT_LE(nBand, AmbientBand(fMore, nDarkness, nDim)) << fLux << " then " << fMore;
        ASSERT_EQ(fLux < nDarkness, nBand == kBandDarkness) << fLux;
        ASSERT_EQ(fLux >= nDarkness && fLux <= nDim, nBand == kBandDimIndoors) << fLux;
        const int nBrightness = Int(0, 100);
        const int nLevel = AmbientBandLevel(nBand, nBrightness);
        ASSERT_EQ(nBand == kBandDarkness ? nBrightness : nBand == kBandDimIndoors ? 10 : 0, nLevel);
        ASSERT_LE(LuxToWParam(fLux), LuxToWParam(fMore));
        ASSERT_EQ(static_cast<WPARAM>(fLux), LuxToWParam(fLux));
    }
    EXPECT_EQ(0u, LuxToWParam(-1.0f));
    EXPECT_EQ(0u, LuxToWParam(std::nanf("")));
}

}  // namespace
