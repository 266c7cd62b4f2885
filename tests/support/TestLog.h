// The tests' definition of the log call: every formatted line is kept so a test can check
// what shared code logged.
#pragma once

#include <string>
#include <vector>

namespace glimtest {

struct Line {
    char chLevel;
    std::wstring function;
    std::wstring message;
};

std::vector<Line> Lines();
void Clear();
// True when some recorded line has exactly this message (and label, when given).
bool Contains(const std::wstring& message, const std::wstring& function = L"");

}  // namespace glimtest
