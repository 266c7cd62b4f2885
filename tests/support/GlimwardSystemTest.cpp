#include "GlimwardSystemTest.h"

#include "Scm.h"

namespace glimtest {

void CGlimwardSystemTest::SetUpBase()
{
    // A broken environment fails the test with its error: a skip would read as a pass.
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), m_driver.Install())
        << "CGlimwardSystemTest: the simulated driver could not be installed and started";
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), glimtest::Reset());
    ASSERT_TRUE(glimtest::EnsureExplorer()) << "CGlimwardSystemTest: Wine's explorer.exe did not start, so the service "
                                               "has no user session to start the agent in";
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              m_program.Install(glimtest::BuildBinPath(L"Glimward.exe"), glimtest::InstalledServicePath()));
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), m_override.Install());
    ASSERT_TRUE(m_log.Create());
}

void CGlimwardSystemTest::TearDown()
{
    glimtest::ScmRemove(glim::kServiceName);
}

}  // namespace glimtest
