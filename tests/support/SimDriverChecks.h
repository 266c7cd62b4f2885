// Test assertions over the simulated driver's history: the levels the programs asked for.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

namespace glimtest {

// The level the driver holds now (a failed read fails the test and gives -1).
LONG DriverLevel();
// How many requests the driver has answered since its history was last emptied.
ULONG RequestTotal();
// The levels of the history's set requests, oldest first.
std::vector<long> SetLevels();
// Waits (up to dwTimeoutMs) until as many set requests as expected are on record, then a
// quiet 300 ms in which no more may come, and compares the levels.
::testing::AssertionResult LevelsAre(const std::vector<long>& expected, DWORD dwTimeoutMs = 5000);

}  // namespace glimtest
