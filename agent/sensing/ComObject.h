// The IUnknown part of a COM object of this program that implements one interface: a
// reference count that starts at 1 (the creator's reference), QueryInterface for IUnknown
// and that interface, and deletion of the object with its last Release. The object derives
// from CComObject<itself, the interface, the interface's IID>.
#pragma once

#include <windows.h>
#include <objbase.h>

namespace glim {

template <typename Object, typename Interface, const IID& kIid>
class CComObject : public Interface {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, kIid)) {
            *ppv = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_cRef)); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const LONG cRef = InterlockedDecrement(&m_cRef);
        if (cRef == 0)
            delete static_cast<Object*>(this);
        return static_cast<ULONG>(cRef);
    }

protected:
    CComObject() : m_cRef(1) {}
    ~CComObject() = default;  // the object's own destructor is the one deleted through
    CComObject(const CComObject&) = delete;
    CComObject& operator=(const CComObject&) = delete;

private:
    volatile LONG m_cRef;
};

}  // namespace glim
