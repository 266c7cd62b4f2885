// The full-screen scope list and a window title as any text: never a crash, the tail lies
// inside the title, and only a non-empty list matches.
#include <cwchar>

#include "SensingRules.h"
#include "WideText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t cb)
{
    std::wstring scope;
    std::wstring title;
    nativetest::SplitUnits(pData, cb, &scope, &title);
    const wchar_t* pszTail = glim::ScopeTitleTail(title.c_str());
    FUZZ_CHECK(pszTail >= title.c_str() && pszTail <= title.c_str() + title.size());
    const int nMatch = glim::IsTitleInScope(scope.c_str(), title.c_str());
    FUZZ_CHECK(nMatch == 0 || nMatch == 1);
    FUZZ_CHECK(nMatch == 0 || !scope.empty());
    FUZZ_CHECK(nMatch == (!scope.empty() && scope.find(pszTail) != std::wstring::npos ? 1 : 0));
    return 0;
}
