// A thread timer that owns itself. Start arms it (again from now when it is armed), Cancel
// disarms it, and it disarms itself when it ends, so no code keeps a timer id or kills one.
// A one-shot timer disarms itself before it calls back (the callback may start it again); a
// repeating one calls back every period until it is cancelled. The callback runs from the
// message loop of the thread that started the timer: in the agent, the main thread.
#pragma once

#include <windows.h>

#include <functional>
#include <unordered_map>
#include <utility>

#include "Lock.h"

namespace agent {

class CTimer {
public:
    enum class Repeat { Once, Every };

    explicit CTimer(std::function<void()> fnElapsed, Repeat repeat = Repeat::Once)
        : m_fnElapsed(std::move(fnElapsed))
        , m_repeat(repeat)
        , m_nId(0)
    {
    }
    ~CTimer() { Cancel(); }
    CTimer(const CTimer&) = delete;
    CTimer& operator=(const CTimer&) = delete;

    // Arms the timer uMs from now, dropping a call still pending. False when the system
    // gives no timer; it is then disarmed.
    bool Start(UINT uMs)
    {
        Cancel();
        const UINT_PTR nId = SetTimer(nullptr, 0, uMs, &CTimer::TimerProc);
        if (!nId)
            return false;
        m_nId = nId;
        Register(nId, this);
        return true;
    }

    void Cancel()
    {
        if (!m_nId)
            return;
        KillTimer(nullptr, m_nId);
        Register(std::exchange(m_nId, 0), nullptr);
    }

    bool IsRunning() const { return m_nId != 0; }

private:
    // Which owner each armed timer id belongs to. The system hands a killed id out again,
    // so an id leaves the table when its owner disarms it. Never destroyed: owners with
    // static lifetime may end after it would have.
    struct SRegistry {
        SRWLOCK lock = SRWLOCK_INIT;
        std::unordered_map<UINT_PTR, CTimer*> mapOwners;
    };
    static SRegistry& Registry()
    {
        static SRegistry* const pRegistry = new SRegistry();
        return *pRegistry;
    }
    static void Register(UINT_PTR nId, CTimer* pOwner)
    {
        SRegistry& registry = Registry();
        const glim::CSrwExclusiveLock hold(&registry.lock);
        if (pOwner)
            registry.mapOwners[nId] = pOwner;
        else
            registry.mapOwners.erase(nId);
    }
    static CTimer* Find(UINT_PTR nId)
    {
        SRegistry& registry = Registry();
        const glim::CSrwSharedLock hold(&registry.lock);
        const auto it = registry.mapOwners.find(nId);
        return it == registry.mapOwners.end() ? nullptr : it->second;
    }

    static void CALLBACK TimerProc(HWND, UINT, UINT_PTR idEvent, DWORD)
    {
        CTimer* pTimer = Find(idEvent);
        if (!pTimer) {
            KillTimer(nullptr, idEvent);  // its owner is gone
            return;
        }
        if (pTimer->m_repeat == Repeat::Once)
            pTimer->Cancel();
        // A copy: the callback may end the owner.
        const std::function<void()> fnElapsed = pTimer->m_fnElapsed;
        fnElapsed();
    }

    std::function<void()> m_fnElapsed;
    Repeat m_repeat;
    UINT_PTR m_nId;
};

}  // namespace agent
