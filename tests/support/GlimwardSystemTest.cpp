#include "GlimwardSystemTest.h"

#include "Scm.h"

namespace glimtest {

void CGlimwardSystemTest::SetUpBase()
{
    const DWORD dwDriver = m_driver.Install();
    if (dwDriver != ERROR_SUCCESS)
        GTEST_SKIP() << "the simulated driver could not be installed and started, error " << dwDriver;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), glimtest::Reset());
    if (!glimtest::EnsureExplorer())
        GTEST_SKIP() << "Wine's explorer.exe did not start, so the service has no user session to start the agent in";
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
