// The simulated laptop that the whole-system tests of Glimward share: the simulated filter
// driver loaded and reset, Wine's desktop process running, Glimward.exe installed where the
// installer puts it with the wtsapi32 stand-in beside it, the settings file emptied, the
// service log switched on and no Glimward service installed. Everything is undone on every
// path; the service goes first, so that it starts no more agents while the rest is undone.
#pragma once

#include <gtest/gtest.h>

#include "GlimNames.h"
#include "ServiceHarness.h"
#include "SimDriver.h"
#include "StagedTest.h"

namespace glimtest {

class CGlimwardSystemTest : public CStagedTest {
protected:
    // Skips the test when the driver or the desktop process cannot be had.
    void SetUpBase() override;
    void TearDown() override;

    glimtest::CSimDriverInstall m_driver;
    glimtest::CSettings m_settings;
    glimtest::CServiceLogFile m_log;
    glimtest::CInstalledFile m_program;
    glimtest::CWtsOverride m_override;
    glimtest::CSimSession m_session;
    glimtest::CServiceGuard m_serviceGuard{glim::kServiceName};
};

}  // namespace glimtest
