// Start and end of a program, CreateProcessW to the end of the wait: the floor of a design
// that starts a process per key press, measured in the run that uses it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace bench {

struct SProgram {
    std::wstring path;
    std::wstring arguments;
    std::vector<double> samples;  // ms, one per run
};

// Runs each program nRuns times after one warm-up round, taking turns (one run of each per
// round), so that a change of load on the machine falls on all of them alike. False (with
// a note) when a run fails or exits with a code other than 0.
bool TimeRuns(std::vector<SProgram>* pPrograms, int nRuns);

// The two floors of the build's bin folder: the trivial console and windows programs.
struct SFloors {
    std::vector<double> console;
    std::vector<double> gui;
};
bool TimeFloors(int nRuns, SFloors* pFloors);

}  // namespace bench
