// What the settings tests share: the process's settings object, and a scope that points
// ALLUSERSPROFILE, and with it the settings object's path, somewhere else.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <memory>

#include "SettingsFile.h"
#include "SettingsFileTools.h"

namespace glimtest {

inline CSettingsFile* Settings()
{
    return CSettingsFile::GetInstance();
}

// Milliseconds since a start tick.
inline DWORD ElapsedMs(ULONGLONG ullStart)
{
    return static_cast<DWORD>(GetTickCount64() - ullStart);
}

// Sets ALLUSERSPROFILE (NULL: removes it) and rebuilds the settings path; the destructor
// restores both.
class CSettingsPathOverride {
public:
    explicit CSettingsPathOverride(const wchar_t* pszAllUsers)
        : m_pEnv(new CScopedEnvVar(L"ALLUSERSPROFILE", pszAllUsers))
    {
        m_bBuilt = Settings()->BuildPath();
    }
    virtual ~CSettingsPathOverride()
    {
        m_pEnv.reset();
        Settings()->BuildPath();
    }
    CSettingsPathOverride(const CSettingsPathOverride&) = delete;
    CSettingsPathOverride& operator=(const CSettingsPathOverride&) = delete;

    bool Built() const { return m_bBuilt; }

private:
    std::unique_ptr<CScopedEnvVar> m_pEnv;
    bool m_bBuilt = false;
};

// A test that starts from a machine without a settings file (the folder exists) and
// leaves none behind.
class CFreshSettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(0u, m_reset.Error()) << "cannot reset " << FolderPath();
        ASSERT_TRUE(Settings()->BuildPath());
        ASSERT_STREQ(FilePath().c_str(), Settings()->GetPath());
    }

    CSettingsReset m_reset;
};

}  // namespace glimtest
