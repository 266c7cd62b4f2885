// What the setup helper's tests share: the lines a verb said, and the stand-in program that
// plays the product's service and agent.
#pragma once

#include <windows.h>

#include <string>

#include "ChildProcess.h"
#include "Scm.h"
#include "Verb.h"

namespace glimtest {

inline bool HasLine(const glimsetup::SVerbResult& result, const std::wstring& strLine)
{
    for (const std::wstring& strSaid : result.lines) {
        if (strSaid == strLine)
            return true;
    }
    return false;
}

// GlimSetupPeer.exe, built beside the tests.
inline std::wstring SetupPeerPath()
{
    return CChildProcess::ModuleDir() + L"GlimSetupPeer.exe";
}

// The configuration of a stand-in service with the given command line.
inline SServiceConfig PeerServiceConfig(const wchar_t* pszName, const std::wstring& strBinaryPath)
{
    SServiceConfig config;
    config.name = pszName;
    config.binaryPath = strBinaryPath;
    return config;
}

}  // namespace glimtest
