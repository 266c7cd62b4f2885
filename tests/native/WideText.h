// Wide text as the rules meet it on Windows, built from test bytes: each little-endian byte
// pair is one UTF-16 code unit, held in one wchar_t; the text ends at the first zero unit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace nativetest {

inline std::wstring UnitsFromBytes(const std::uint8_t* pData, std::size_t cb)
{
    std::wstring text;
    for (std::size_t i = 0; i + 1 < cb; i += 2) {
        const wchar_t ch = static_cast<wchar_t>(pData[i] | (pData[i + 1] << 8));
        if (ch == 0)
            break;
        text.push_back(ch);
    }
    return text;
}

// The input split at its first zero unit: the text before it and the text after it.
inline void SplitUnits(const std::uint8_t* pData, std::size_t cb, std::wstring* pFirst, std::wstring* pSecond)
{
    *pFirst = UnitsFromBytes(pData, cb);
    const std::size_t cbFirst = (pFirst->size() + 1) * 2;
    *pSecond = cbFirst < cb ? UnitsFromBytes(pData + cbFirst, cb - cbFirst) : std::wstring();
}

}  // namespace nativetest

// A broken invariant in a fuzz target: report it as a crash, which fails the run.
#define FUZZ_CHECK(condition)                                                                                          \
    do {                                                                                                               \
        if (!(condition))                                                                                              \
            __builtin_trap();                                                                                          \
    } while (0)
