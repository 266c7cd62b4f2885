// Fixtures of the device tests: the simulated driver loaded through the service control
// manager (or guaranteed absent), and a settings file that each test starts without.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "SimDriver.h"

// The settings file the programs use (%ALLUSERSPROFILE%\Vessik\Glimkit\Glimkit.ini), read
// and written directly, not through the code under test. Each instance removes the file
// when it starts and when it ends.
class CSettingsSandbox {
public:
    CSettingsSandbox();
    virtual ~CSettingsSandbox();
    CSettingsSandbox(const CSettingsSandbox&) = delete;
    CSettingsSandbox& operator=(const CSettingsSandbox&) = delete;

    bool Ready() const { return m_bReady; }
    const std::wstring& Path() const { return m_path; }
    // The key's text, or kAbsent when the key is not in the file.
    std::wstring Read(const wchar_t* pszKey) const;
    bool Write(const wchar_t* pszKey, const wchar_t* pszValue) const;

    static constexpr const wchar_t* kAbsent = L"<absent>";

private:
    std::wstring m_path;
    std::wstring m_folder;
    bool m_bCreatedFolder = false;
    bool m_bReady = false;
};

// The driver installed and started afresh for every test, with an empty history; stopped
// and deleted afterwards whatever happens in the test.
class CDriverTest : public testing::Test {
protected:
    void SetUp() override;

    // The last backlight request the driver recorded; fails the test when there is none.
    simkb::SimRecord LastRecord();
    LONG DriverLevel();

    simkb::CSimDriverInstall m_driver;
    CSettingsSandbox m_settings;
};

// No simulated driver at all: the device cannot be opened.
class CNoDriverTest : public testing::Test {
protected:
    void SetUp() override;

    CSettingsSandbox m_settings;
};

// Owner of a kernel handle (null or INVALID_HANDLE_VALUE: none).
class CHandle {
public:
    explicit CHandle(HANDLE h) : m_h(h) {}
    ~CHandle()
    {
        if (m_h && m_h != INVALID_HANDLE_VALUE)
            CloseHandle(m_h);
    }
    CHandle(const CHandle&) = delete;
    CHandle& operator=(const CHandle&) = delete;
    HANDLE Get() const { return m_h; }

private:
    HANDLE m_h;
};

// A backlight request straight to the device; returns the bytes the driver reported.
DWORD RawBacklightRequest(DWORD dwCode, INT32 nIn, INT32* pnOut = nullptr);
