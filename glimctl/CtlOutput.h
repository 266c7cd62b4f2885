// Text out of glimctl: UTF-16 to a console, UTF-8 to a file or pipe (what scripts and support
// tools read).
#pragma once

#include <windows.h>

#include <string>

namespace glimctl {

std::string ToUtf8(const std::wstring& strText);
void WriteOut(HANDLE hOut, const std::wstring& strText);

}  // namespace glimctl
