// Runs a piece of clean-up on every way out of a scope, for work that is more than closing
// one handle (those have their owners in ScopedHandle.h).
#pragma once

#include <utility>

namespace glim {

// Calls its function once, when it goes out of scope. Declare what the function uses
// before it: those are destroyed after it has run.
template <typename F>
class CScopeExit {
public:
    explicit CScopeExit(F fnExit) : m_fnExit(std::move(fnExit)) {}
    ~CScopeExit() { m_fnExit(); }
    CScopeExit(const CScopeExit&) = delete;
    CScopeExit& operator=(const CScopeExit&) = delete;

private:
    F m_fnExit;
};

}  // namespace glim
