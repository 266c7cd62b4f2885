// What glimctl reads from a program file: its version resource and its manifest.
#pragma once

#include <windows.h>

#include <string>

namespace glimctl {

// The file version of a program's version resource ("1.2.3.0"), or "no version resource".
std::wstring FileVersion(const std::wstring& strPath);

// A program's application manifest (RT_MANIFEST resource 1), read as a data file; empty when
// it has none or cannot be read.
std::string ManifestOf(const std::wstring& strPath);

}  // namespace glimctl
