// Hand-built COM vtables for the stand-ins: every slot is filled by index, so a stand-in
// answers a call by its documented slot number whatever a client's header declares. Slots
// a stand-in does not serve record their number and return E_NOTIMPL, which lets a test
// see which slot a call through the client's declaration really reached.
#pragma once

#include <windows.h>

#include <utility>

namespace simcom {

// Called by every stub with the interface tag and slot number it stands for.
using PFN_SLOT_HIT = void (*)(int nTag, int nSlot);
inline PFN_SLOT_HIT& SlotHitHook()
{
    static PFN_SLOT_HIT s_pfn = nullptr;
    return s_pfn;
}

// On x64 the caller cleans up after every call, so one signature serves all slots.
template <int Tag, int N>
HRESULT STDMETHODCALLTYPE StubSlot(void*)
{
    if (SlotHitHook())
        SlotHitHook()(Tag, N);
    return E_NOTIMPL;
}

template <int Tag, int... Ns>
void FillStubs(void** ppVtbl, std::integer_sequence<int, Ns...>)
{
    ((ppVtbl[Ns] = reinterpret_cast<void*>(&StubSlot<Tag, Ns>)), ...);
}

// A vtable of Slots entries, all stubs until a stand-in sets the slots it serves.
template <int Tag, int Slots>
struct CRawVtable {
    void* m_apSlots[Slots];
    CRawVtable() { FillStubs<Tag>(m_apSlots, std::make_integer_sequence<int, Slots>()); }
    template <typename F>
    void Set(int nSlot, F pfn)
    {
        m_apSlots[nSlot] = reinterpret_cast<void*>(pfn);
    }
};

// The object layout every COM client expects: the vtable pointer first.
struct CRawObject {
    void** m_pVtbl;
    volatile LONG m_cRef;
};

}  // namespace simcom
