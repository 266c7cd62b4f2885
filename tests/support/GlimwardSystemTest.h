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

class CGlimwardSystemTest : public ::testing::Test {
protected:
    // Skips the test when the driver or the desktop process cannot be had. A derived SetUp
    // calls this first and returns when IsSkipped() or HasFatalFailure().
    void SetUp() override;
    void TearDown() override;

    simkb::CSimDriverInstall m_driver;
    svctest::CSettings m_settings;
    svctest::CServiceLogFile m_log;
    svctest::CInstalledFile m_program;
    svctest::CWtsOverride m_override;
    svctest::CSimSession m_session;
    svctest::CServiceGuard m_serviceGuard{glim::kServiceName};
};
