// What a verb of the setup helper hands back: the lines it said, its exit code and, when it
// failed, the one line of what and why.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace glimsetup {

// The helper's exit codes.
constexpr int kExitDone = 0;
constexpr int kExitFailed = 2;

// What a verb said, line by line, and the one line of its failure (empty when it succeeded).
struct SVerbResult {
    std::vector<std::wstring> lines;
    std::wstring strFailure;
    int nExit = kExitDone;
};

// A verb's steps share the result they add to; a failed step records the failure and the
// caller stops.
class CVerb {
public:
    void Say(const std::wstring& strLine) { m_result.lines.push_back(strLine); }
    bool Fail(const std::wstring& strWhy)
    {
        m_result.strFailure = strWhy;
        m_result.nExit = kExitFailed;
        return false;
    }
    // Takes over what another verb said; its failure becomes this one's.
    bool Adopt(const SVerbResult& other)
    {
        m_result.lines.insert(m_result.lines.end(), other.lines.begin(), other.lines.end());
        return other.nExit == kExitDone || Fail(other.strFailure);
    }
    bool Failed() const { return m_result.nExit != kExitDone; }
    SVerbResult Take() { return std::move(m_result); }

private:
    SVerbResult m_result;
};

}  // namespace glimsetup
