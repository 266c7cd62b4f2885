// The idle-time setting as any text: never a crash, and no idle time without a unit.
#include <cwchar>

#include "SensingRules.h"
#include "WideText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t cb)
{
    const std::wstring text = nativetest::UnitsFromBytes(pData, cb);
    const int nSeconds = glim::ParseInActiveTime(text.c_str());
    // Only the first 255 units are read.
    const std::wstring read = text.substr(0, 255);
    if (read.find(L'\x5206') == std::wstring::npos && read.find(L'\x79D2') == std::wstring::npos)
        FUZZ_CHECK(nSeconds == 0);
    const DWORD dwMs = glim::InActiveThresholdMs(nSeconds);
    FUZZ_CHECK((nSeconds <= 0) == (dwMs == 0));
    return 0;
}
