// Start and end of a program, CreateProcessW to the end of the wait: the floor of a design
// that starts a process per key press, measured in the run that uses it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace bench {

// Runs the program nRuns times after one warm-up run and appends the times in ms. False
// (with a note) when a run fails or exits with a code other than 0.
bool TimeRuns(const std::wstring& program, const std::wstring& arguments, int nRuns, std::vector<double>* pSamples);

// The two floors of the build's bin folder: the trivial console and windows programs.
struct SFloors {
    std::vector<double> console;
    std::vector<double> gui;
};
bool TimeFloors(int nRuns, SFloors* pFloors);

}  // namespace bench
