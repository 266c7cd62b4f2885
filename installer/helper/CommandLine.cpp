#include "CommandLine.h"

namespace glimsetup {

const wchar_t* const kHelperVerbs[11] = {L"prepare-data",
                                         L"purge",
                                         L"stop",
                                         L"check-replaceable",
                                         L"restore",
                                         L"start-agent",
                                         L"service-install",
                                         L"service-recovery",
                                         L"service-remove",
                                         L"register",
                                         L"unregister"};

SHelperCommand ParseHelperCommand(const std::vector<std::wstring>& args)
{
    SHelperCommand command;
    if (args.empty())
        return command;
    bool bKnown = false;
    for (const wchar_t* pszVerb : kHelperVerbs)
        bKnown = bKnown || args[0] == pszVerb;
    if (!bKnown)
        return command;
    command.strVerb = args[0];
    bool bLog = false;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == L"--log" && !bLog && i + 1 < args.size() && !args[i + 1].empty()) {
            bLog = true;
            command.strLog = args[++i];
        } else if (args[i] == L"--run-only" && !command.bRunOnly && command.strVerb == L"register") {
            command.bRunOnly = true;
        } else {
            return SHelperCommand();
        }
    }
    command.bValid = true;
    return command;
}

}  // namespace glimsetup
