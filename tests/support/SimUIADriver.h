// Drives the simulated UI Automation client (sim/uiasim) from a test in any process of the
// prefix: what a window's element tree holds, and what the client called.
#pragma once

#include <windows.h>

#include "ScopedHandle.h"
#include "uiasim/SimUIAProtocol.h"

namespace glimtest {

class CSimUIADriver {
public:
    CSimUIADriver();
    virtual ~CSimUIADriver();
    CSimUIADriver(const CSimUIADriver&) = delete;
    CSimUIADriver& operator=(const CSimUIADriver&) = delete;

    bool Ok() const { return m_pShared != nullptr; }
    // A window with an element and no video player; nothing recorded.
    void Reset();
    void SetMovie(const RECT& rc);
    void RemoveMovie() { m_pShared->bHasMovie = 0; }
    void SetNoElement(bool bNone) { m_pShared->bNoElement = bNone ? 1 : 0; }
    void FailRect(HRESULT hr) { m_pShared->hrRectError = hr; }
    simuia::Shared& State() { return *m_pShared; }

private:
    glim::CScopedHandle m_hMapping;
    simuia::Shared* m_pShared;
};

}  // namespace glimtest
