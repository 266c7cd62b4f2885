// Fixtures of the device tests: the simulated driver loaded through the service control
// manager (or guaranteed absent), and a settings file that each test starts without.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "ScopedHandle.h"
#include "SettingsFileTools.h"
#include "SimDriver.h"
#include "SimDriverChecks.h"
#include "StagedTest.h"

namespace glimtest {

// The settings file the programs use, read and written directly, not through the code
// under test: the folder exists and the file does not when a test starts, and the file is
// gone again when it ends (CSettingsReset).
class CSettingsSandbox {
public:
    bool Ready() const { return m_reset.Error() == ERROR_SUCCESS; }
    // The key's text, or kAbsent when the key is not in the file.
    std::wstring Read(const wchar_t* pszKey) const { return ReadKey(pszKey, kAbsent); }
    bool Write(const wchar_t* pszKey, const wchar_t* pszValue) const { return WriteKey(pszKey, pszValue); }

    static constexpr const wchar_t* kAbsent = L"<absent>";

private:
    CSettingsReset m_reset;
};

// The driver installed and started afresh for every test, with an empty history; stopped
// and deleted afterwards whatever happens in the test.
class CDriverTest : public CStagedTest {
protected:
    void SetUpBase() override;

    // The last backlight request the driver recorded; fails the test when there is none.
    simkb::SimRecord LastRecord();

    CSimDriverInstall m_driver;
    CSettingsSandbox m_settings;
};

// No simulated driver at all: the device cannot be opened.
class CNoDriverTest : public CStagedTest {
protected:
    void SetUpBase() override;

    CSettingsSandbox m_settings;
};

// A backlight request straight to the device; returns the bytes the driver reported.
DWORD RawBacklightRequest(DWORD dwCode, INT32 nIn, INT32* pnOut = nullptr);

}  // namespace glimtest
