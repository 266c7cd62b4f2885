// Owners for the handle kinds the service opens, so every path closes what it opened.
#pragma once

#include <windows.h>

namespace glim {

template <typename H, BOOL(WINAPI* Close)(H)>
class CScoped {
public:
    CScoped() : m_h(nullptr) {}
    explicit CScoped(H h) : m_h(h) {}
    virtual ~CScoped() { Reset(); }
    CScoped(const CScoped&) = delete;
    CScoped& operator=(const CScoped&) = delete;

    H Get() const { return m_h; }
    H* Put() { Reset(); return &m_h; }
    explicit operator bool() const { return m_h != nullptr; }
    void Reset(H h = nullptr)
    {
        if (m_h)
            Close(m_h);
        m_h = h;
    }
    H Release()
    {
        H h = m_h;
        m_h = nullptr;
        return h;
    }

private:
    H m_h;
};

// Kernel handles whose failure value is NULL (processes, tokens, threads, events).
using CScopedHandle = CScoped<HANDLE, CloseHandle>;
using CScopedScHandle = CScoped<SC_HANDLE, CloseServiceHandle>;

}  // namespace glim
