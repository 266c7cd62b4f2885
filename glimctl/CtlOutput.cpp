#include "CtlOutput.h"

namespace glimctl {

std::string ToUtf8(const std::wstring& strText)
{
    if (strText.empty())
        return std::string();
    const int cb =
        WideCharToMultiByte(CP_UTF8, 0, strText.data(), static_cast<int>(strText.size()), nullptr, 0, nullptr, nullptr);
    std::string strOut(cb > 0 ? cb : 0, '\0');
    if (cb > 0)
        WideCharToMultiByte(CP_UTF8, 0, strText.data(), static_cast<int>(strText.size()), &strOut[0], cb, nullptr,
                            nullptr);
    return strOut;
}

void WriteOut(HANDLE hOut, const std::wstring& strText)
{
    DWORD dwMode = 0;
    DWORD dwWritten = 0;
    if (GetConsoleMode(hOut, &dwMode)) {
        WriteConsoleW(hOut, strText.data(), static_cast<DWORD>(strText.size()), &dwWritten, nullptr);
        return;
    }
    const std::string strBytes = ToUtf8(strText);
    WriteFile(hOut, strBytes.data(), static_cast<DWORD>(strBytes.size()), &dwWritten, nullptr);
}

}  // namespace glimctl
