// What every benchmark shares: the performance counter, a summary of samples (median and
// 95th percentile) and the rows of the results table, printed on standard output.
#pragma once

#include <windows.h>

#include <vector>

namespace bench {

long long Qpc();
// Milliseconds between two QueryPerformanceCounter readings.
double CounterToMs(long long llFrom, long long llTo);

struct SSummary {
    size_t nCount = 0;
    double dMedian = 0;
    double dP95 = 0;  // nearest rank
    double dMin = 0;
    double dMax = 0;
};
// Summary of the samples; all zero when there are none.
SSummary Summarise(std::vector<double> samples);

// One row: what was measured, its summary, unit ("ms", "ns/call", ...) and a note.
void PrintSummaryRow(const wchar_t* pszWhat, const SSummary& summary, const wchar_t* pszUnit,
                     const wchar_t* pszNote = L"");
// One row with a single figure and a note.
void PrintValueRow(const wchar_t* pszWhat, double dValue, const wchar_t* pszUnit, const wchar_t* pszNote);
// A section title and the column heads.
void PrintSection(const wchar_t* pszTitle);
// A line of its own under the table rows (how it was measured, what went wrong).
void PrintNote(const wchar_t* pszFormat, ...);

}  // namespace bench
