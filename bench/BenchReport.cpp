#include "BenchReport.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace bench {

long long Qpc()
{
    LARGE_INTEGER li;
    QueryPerformanceCounter(&li);
    return li.QuadPart;
}

double CounterToMs(long long llFrom, long long llTo)
{
    static const long long s_llFrequency = [] {
        LARGE_INTEGER li;
        QueryPerformanceFrequency(&li);
        return li.QuadPart;
    }();
    return static_cast<double>(llTo - llFrom) * 1000.0 / static_cast<double>(s_llFrequency);
}

SSummary Summarise(std::vector<double> samples)
{
    SSummary summary;
    if (samples.empty())
        return summary;
    std::sort(samples.begin(), samples.end());
    const size_t n = samples.size();
    summary.nCount = n;
    summary.dMedian = n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2.0;
    const size_t nRank = static_cast<size_t>(std::ceil(0.95 * static_cast<double>(n)));
    summary.dP95 = samples[(nRank > 0 ? nRank : 1) - 1];
    summary.dMin = samples.front();
    summary.dMax = samples.back();
    return summary;
}

void PrintSection(const wchar_t* pszTitle)
{
    wprintf(L"\n== %ls\n", pszTitle);
    wprintf(L"%-56ls %5ls %10ls %10ls %10ls %10ls  %ls\n", L"measure", L"n", L"median", L"p95", L"min", L"max",
            L"unit");
    fflush(stdout);
}

void PrintSummaryRow(const wchar_t* pszWhat, const SSummary& summary, const wchar_t* pszUnit, const wchar_t* pszNote)
{
    wprintf(L"%-56ls %5u %10.2f %10.2f %10.2f %10.2f  %ls  %ls\n", pszWhat, static_cast<unsigned>(summary.nCount),
            summary.dMedian, summary.dP95, summary.dMin, summary.dMax, pszUnit, pszNote);
    fflush(stdout);
}

void PrintValueRow(const wchar_t* pszWhat, double dValue, const wchar_t* pszUnit, const wchar_t* pszNote)
{
    wprintf(L"%-56ls %5ls %10.2f %10ls %10ls %10ls  %ls  %ls\n", pszWhat, L"1", dValue, L"-", L"-", L"-", pszUnit,
            pszNote);
    fflush(stdout);
}

void PrintNote(const wchar_t* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    wchar_t szText[1024] = {};
    _vsnwprintf(szText, 1023, pszFormat, args);
    va_end(args);
    wprintf(L"   %ls\n", szText);
    fflush(stdout);
}

}  // namespace bench
