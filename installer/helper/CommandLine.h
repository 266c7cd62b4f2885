// The helper's command line: one verb, then the options it takes, each at most once.
#pragma once

#include <string>
#include <vector>

namespace glimsetup {

struct SHelperCommand {
    bool bValid = false;
    std::wstring strVerb;
    bool bRunOnly = false;  // register --run-only
    std::wstring strLog;    // --log FILE; empty: none
};

// The verbs the helper knows.
extern const wchar_t* const kHelperVerbs[11];

// Parses the arguments after the program's name.
SHelperCommand ParseHelperCommand(const std::vector<std::wstring>& args);

}  // namespace glimsetup
