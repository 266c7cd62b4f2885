// The base of the fixtures whose preparation may skip a test (no driver, no desktop) or
// fail it. SetUp runs the base fixture's SetUpBase() and then a derived fixture's SetUpTest()
// only when the test goes on, so no derived fixture repeats that check.
#pragma once

#include <gtest/gtest.h>

namespace glimtest {

class CStagedTest : public ::testing::Test {
protected:
    void SetUp() final
    {
        SetUpBase();
        if (Proceeds())
            SetUpTest();
    }
    // The base fixture's preparation; it may skip or fail the test.
    virtual void SetUpBase() {}
    // What a derived fixture adds; runs only when SetUpBase neither skipped nor failed.
    virtual void SetUpTest() {}
    // True while the test goes on: not skipped, no fatal failure so far.
    static bool Proceeds() { return !IsSkipped() && !HasFatalFailure(); }
};

}  // namespace glimtest
