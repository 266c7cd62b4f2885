// The class factory of a stand-in COM server: a static object that hands every request
// to a creation function. No aggregation; the server stays loaded for the process's life.
#pragma once

#include <windows.h>
#include <objbase.h>

namespace simcom {

class CStaticFactory : public IClassFactory {
public:
    // Creates an object with one reference and returns it as IUnknown, or null.
    using PFN_CREATE = IUnknown* (*)();

    explicit CStaticFactory(PFN_CREATE pfnCreate) : m_pfnCreate(pfnCreate) {}
    virtual ~CStaticFactory() = default;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *ppv = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* pOuter, REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (pOuter)
            return CLASS_E_NOAGGREGATION;
        IUnknown* pObject = m_pfnCreate();
        if (!pObject)
            return E_OUTOFMEMORY;
        const HRESULT hr = pObject->QueryInterface(riid, ppv);
        pObject->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

private:
    PFN_CREATE m_pfnCreate;
};

}  // namespace simcom
