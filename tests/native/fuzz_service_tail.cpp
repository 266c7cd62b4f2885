// The service's command-line tail as any bytes, and any argument vector: never a crash or a
// leak, and the parsed command is always well formed.
#include <cstring>
#include <cwchar>
#include <vector>

#include "ServiceCommand.h"
#include "WideText.h"
#include "shellapi.h"

namespace {

void CheckCommand(const glim::ServiceCommand& cmd)
{
    const std::size_t cchVerb = wcsnlen(cmd.szVerb, 3);
    FUZZ_CHECK(cchVerb == 0 || cchVerb == 2);
    const bool bVerb = cmd.eVerb == glim::ServiceVerb::Install || cmd.eVerb == glim::ServiceVerb::Uninstall ||
        cmd.eVerb == glim::ServiceVerb::Start || cmd.eVerb == glim::ServiceVerb::Stop;
    FUZZ_CHECK(bVerb == (cchVerb == 2));
    FUZZ_CHECK(!cmd.bDelayedStart || cmd.eVerb == glim::ServiceVerb::Install);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t cb)
{
    // The tail, as the program entry hands it over: text up to the first zero byte.
    const std::string tail(reinterpret_cast<const char*>(pData), strnlen(reinterpret_cast<const char*>(pData), cb));
    int nArgc = -1;
    LPWSTR* ppszArgv = glim::BuildServiceArgv(tail.c_str(), &nArgc);
    FUZZ_CHECK(ppszArgv ? nArgc >= 1 : nArgc == 0);
    CheckCommand(glim::ParseServiceCommand(nArgc, ppszArgv));
    LocalFree(ppszArgv);

    // Any vector at all: the input's units, split at each zero unit.
    std::vector<std::wstring> words;
    for (std::size_t i = 0; i < cb && words.size() < 8;) {
        words.push_back(nativetest::UnitsFromBytes(pData + i, cb - i));
        i += (words.back().size() + 1) * 2;
    }
    std::vector<LPWSTR> argv;
    for (std::wstring& word : words)
        argv.push_back(&word[0]);
    CheckCommand(glim::ParseServiceCommand(static_cast<int>(argv.size()), argv.empty() ? nullptr : argv.data()));
    return 0;
}
