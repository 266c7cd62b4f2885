// Paths as any text: the safe path and the service's image path always fit their buffer,
// end in a terminator, and come back empty when refused.
#include <cwchar>

#include "ServiceCommand.h"
#include "WideText.h"

namespace {

void CheckResult(bool bDone, const wchar_t (&szOut)[glim::kPathChars])
{
    const std::size_t cch = wcsnlen(szOut, glim::kPathChars);
    FUZZ_CHECK(cch < static_cast<std::size_t>(glim::kPathChars));
    FUZZ_CHECK(bDone || cch == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t cb)
{
    const std::wstring path = nativetest::UnitsFromBytes(pData, cb);
    wchar_t szOut[glim::kPathChars];
    std::wmemset(szOut, L'#', glim::kPathChars);
    const bool bSafe = glim::GetSafePath(path.c_str(), szOut);
    CheckResult(bSafe, szOut);
    if (bSafe) {
        // Quoting only adds the two quotes; the rest is the trimmed path itself.
        const std::size_t cch = std::wcslen(szOut);
        FUZZ_CHECK(cch <= path.size() + 2);
        if (cch >= 2 && szOut[0] == L'"' && path.find(L'"') == std::wstring::npos)
            FUZZ_CHECK(szOut[cch - 1] == L'"');
    }
    std::wmemset(szOut, L'#', glim::kPathChars);
    CheckResult(glim::BuildImagePath(path.c_str(), szOut), szOut);
    return 0;
}
