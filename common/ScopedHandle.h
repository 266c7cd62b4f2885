// Owners for the resources both programs (and their tests) open and close: one template for
// handles, told apart by traits (what "no handle" is and how one is closed), and one owner
// of a COM reference. Each closes or releases what it holds on every path out of its scope,
// and leaves the caller's last error as it was. An owner made and dropped in one expression
// closes at once: the compiler flags it, as it flags a handle given up and not taken.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <propidl.h>

#include <utility>

#include "KeepLastError.h"

namespace glim {

// Kernel handles whose failure value is NULL: events, mutexes, processes, threads, tokens.
struct SKernelHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { CloseHandle(h); }
};

// Handles whose failure value is INVALID_HANDLE_VALUE: CreateFileW, toolhelp snapshots.
struct SFileHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { CloseHandle(h); }
};

// Service control manager and service handles.
struct SScHandleTraits {
    using Type = SC_HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { CloseServiceHandle(h); }
};

// Registry keys opened or created by the caller (never the predefined roots).
struct SRegKeyTraits {
    using Type = HKEY;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { RegCloseKey(h); }
};

// SIDs built by AllocateAndInitializeSid.
struct SSidTraits {
    using Type = PSID;
    static Type Invalid() { return nullptr; }
    static void Close(Type p) { FreeSid(p); }
};

// Memory the system hands out from LocalAlloc: security descriptors built from SDDL, SIDs
// from ConvertStringSidToSidW, GetSecurityInfo's descriptors.
struct SLocalMemoryTraits {
    using Type = void*;
    static Type Invalid() { return nullptr; }
    static void Close(Type p) { LocalFree(p); }
};

// Registrations for device-interface notifications.
struct SDevNotifyTraits {
    using Type = HDEVNOTIFY;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { UnregisterDeviceNotification(h); }
};

// Registrations for power-setting notifications.
struct SPowerNotifyTraits {
    using Type = HPOWERNOTIFY;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { UnregisterPowerSettingNotification(h); }
};

// GDI bitmaps (LoadImageW, CreateCompatibleBitmap).
struct SBitmapTraits {
    using Type = HBITMAP;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { DeleteObject(h); }
};

// Memory device contexts made by CreateCompatibleDC (not the DCs of windows).
struct SMemoryDcTraits {
    using Type = HDC;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { DeleteDC(h); }
};

template <typename Traits>
class [[nodiscard]] CScoped {
public:
    using Type = typename Traits::Type;

    CScoped() : m_h(Traits::Invalid()) {}
    [[nodiscard]] explicit CScoped(Type h) : m_h(h) {}
    ~CScoped() { Reset(); }
    CScoped(const CScoped&) = delete;
    CScoped& operator=(const CScoped&) = delete;
    CScoped(CScoped&& other) noexcept : m_h(other.Release()) {}
    CScoped& operator=(CScoped&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }

    Type Get() const { return m_h; }
    // For functions that hand a new handle back through a pointer; closes the old one first.
    Type* Put()
    {
        Reset();
        return &m_h;
    }
    // A NULL held by a file owner counts as no handle too: no caller means it as one.
    bool IsValid() const { return m_h != Traits::Invalid() && m_h != nullptr; }
    explicit operator bool() const { return IsValid(); }
    void Reset(Type h = Traits::Invalid())
    {
        if (IsValid()) {
            const CKeepLastError keep;
            Traits::Close(m_h);
        }
        m_h = h;
    }
    // Gives the handle up without closing it, to the caller, who then owns it.
    [[nodiscard]] Type Release() { return std::exchange(m_h, Traits::Invalid()); }
    // Leaves the handle open when the owner ends (for a handle kept until the process exits).
    void Keep() { m_h = Traits::Invalid(); }

private:
    Type m_h;
};

using CScopedHandle = CScoped<SKernelHandleTraits>;
using CScopedFile = CScoped<SFileHandleTraits>;
using CScopedScHandle = CScoped<SScHandleTraits>;
using CScopedKey = CScoped<SRegKeyTraits>;
using CScopedSid = CScoped<SSidTraits>;
using CScopedLocalMemory = CScoped<SLocalMemoryTraits>;
using CScopedDevNotify = CScoped<SDevNotifyTraits>;
using CScopedPowerNotify = CScoped<SPowerNotifyTraits>;
using CScopedBitmap = CScoped<SBitmapTraits>;
using CScopedMemoryDc = CScoped<SMemoryDcTraits>;

// Values that own what they point to and are cleared rather than closed.
struct SPropVariantTraits {
    using Type = PROPVARIANT;
    static void Init(Type* p) { PropVariantInit(p); }
    static void Clear(Type* p) { PropVariantClear(p); }
};

struct SVariantTraits {
    using Type = VARIANT;
    static void Init(Type* p) { VariantInit(p); }
    static void Clear(Type* p) { VariantClear(p); }
};

// Owner of one variant: empty when made, cleared on every path out of its scope.
template <typename Traits>
class CScopedValue {
public:
    using Type = typename Traits::Type;

    CScopedValue() { Traits::Init(&m_value); }
    ~CScopedValue() { Clear(); }
    CScopedValue(const CScopedValue&) = delete;
    CScopedValue& operator=(const CScopedValue&) = delete;

    Type* Get() { return &m_value; }
    Type* operator->() { return &m_value; }
    // Clears what is held, then gives the slot to a function that fills it.
    Type* Put()
    {
        Clear();
        return &m_value;
    }

private:
    void Clear()
    {
        const CKeepLastError keep;
        Traits::Clear(&m_value);
    }

    Type m_value;
};

using CScopedPropVariant = CScopedValue<SPropVariantTraits>;
using CScopedVariant = CScopedValue<SVariantTraits>;

// Owner of one COM reference. Attach takes over a reference the caller already holds;
// Detach hands it back without releasing; Put gives the address for an out parameter.
// A copy, and Share, hold a reference of their own.
template <typename T>
class [[nodiscard]] CComRef {
public:
    CComRef() : m_p(nullptr) {}
    [[nodiscard]] explicit CComRef(T* p) : m_p(p) {}  // takes over the caller's reference
    ~CComRef() { Reset(); }
    CComRef(const CComRef& other) : CComRef(Share(other.m_p)) {}
    CComRef& operator=(const CComRef& other)
    {
        if (this != &other)
            Attach(Share(other.m_p).Detach());
        return *this;
    }
    // An owner of p that adds a reference; the caller keeps its own.
    static CComRef Share(T* p)
    {
        if (p)
            p->AddRef();
        return CComRef(p);
    }
    CComRef(CComRef&& other) noexcept : m_p(other.Detach()) {}
    CComRef& operator=(CComRef&& other) noexcept
    {
        if (this != &other)
            Attach(other.Detach());
        return *this;
    }

    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    // Releases what is held, then gives the slot to a function that fills it with a reference.
    T** Put()
    {
        Reset();
        return &m_p;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }
    void Attach(T* p)
    {
        Reset();
        m_p = p;
    }
    [[nodiscard]] T* Detach() { return std::exchange(m_p, nullptr); }
    void Reset()
    {
        if (m_p) {
            const CKeepLastError keep;
            std::exchange(m_p, nullptr)->Release();
        }
    }

private:
    T* m_p;
};

}  // namespace glim
