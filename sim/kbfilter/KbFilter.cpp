// The simulated keyboard-controller filter driver. It owns the device the programs open,
// keeps the backlight level that the set request gives it, answers the read request, and
// signals the hotkey event on request. For tests it can fail the next requests and keeps a
// bounded history of the backlight requests it answered.
#include <ntifs.h>

#include "SimDriverProtocol.h"

namespace {

constexpr NTSTATUS kInjectedError = STATUS_DEVICE_NOT_READY;
constexpr ULONG kCodeSet = static_cast<ULONG>(IOCTL_KBBL_SET_BRIGHTNESS);
constexpr ULONG kCodeGet = static_cast<ULONG>(IOCTL_KBBL_GET_BRIGHTNESS);

struct CSimState {
    KSPIN_LOCK m_lock;  // guards every field below
    LONG m_lLevel;
    ULONG m_ulFailLeft;
    ULONG m_ulFailMode;
    ULONG m_ulTotal;  // records written since the last history reset
    simkb::SimRecord m_records[simkb::kHistoryCapacity];
};

CSimState g_state;
PDEVICE_OBJECT g_pDevice = nullptr;

class CSpinGuard {
public:
    explicit CSpinGuard(KSPIN_LOCK* pLock) : m_pLock(pLock) { KeAcquireSpinLock(m_pLock, &m_irql); }
    ~CSpinGuard() { KeReleaseSpinLock(m_pLock, m_irql); }
    CSpinGuard(const CSpinGuard&) = delete;
    CSpinGuard& operator=(const CSpinGuard&) = delete;

private:
    KSPIN_LOCK* m_pLock;
    KIRQL m_irql;
};

// The outcome of one backlight request, decided under the lock.
struct SReply {
    NTSTATUS status;
    ULONG ulBytes;
    LONG lLevel;
};

// Takes one pending injected failure, if any. Caller holds the lock.
bool TakeInjectedFailure(SReply* pReply)
{
    if (g_state.m_ulFailLeft == 0)
        return false;
    --g_state.m_ulFailLeft;
    pReply->ulBytes = 0;
    pReply->status = g_state.m_ulFailMode == simkb::SimFailZero ? STATUS_SUCCESS : kInjectedError;
    return true;
}

// Caller holds the lock.
void Record(ULONG ulCode, const SReply& reply)
{
    LARGE_INTEGER now = KeQueryPerformanceCounter(nullptr);
    simkb::SimRecord& rec = g_state.m_records[g_state.m_ulTotal % simkb::kHistoryCapacity];
    rec.ulSequence = ++g_state.m_ulTotal;
    rec.ulCode = ulCode;
    rec.lLevel = reply.lLevel;
    rec.lStatus = reply.status;
    rec.ulBytes = reply.ulBytes;
    rec.ulReserved = 0;
    rec.llTime = now.QuadPart;
}

// Set: exactly 4 bytes in (the level), at least 4 bytes out (zeroed). Get: exactly 4
// bytes in (ignored), at least 4 bytes out (the level). Wrong sizes are refused before any
// byte of the buffer is read or written.
SReply ServeBacklight(ULONG ulCode, void* pBuffer, ULONG ulIn, ULONG ulOut)
{
    const bool bSet = ulCode == kCodeSet;
    SReply reply = {STATUS_SUCCESS, 0, 0};
    LONG lAsked = 0;
    if (ulIn != sizeof(LONG))
        reply.status = STATUS_INVALID_PARAMETER;
    else if (ulOut < sizeof(LONG))
        reply.status = STATUS_BUFFER_TOO_SMALL;
    else if (bSet)
        lAsked = *static_cast<LONG*>(pBuffer);

    CSpinGuard guard(&g_state.m_lock);
    if (NT_SUCCESS(reply.status) && !TakeInjectedFailure(&reply)) {
        if (bSet)
            g_state.m_lLevel = lAsked;
        reply.ulBytes = sizeof(LONG);
        *static_cast<LONG*>(pBuffer) = bSet ? 0 : g_state.m_lLevel;
    }
    reply.lLevel = bSet ? lAsked : (reply.ulBytes ? g_state.m_lLevel : 0);
    Record(ulCode, reply);
    return reply;
}

// Opens the event by its full kernel name and sets it once.
NTSTATUS SetNamedEvent(const wchar_t* pszDir, const wchar_t* pszName)
{
    wchar_t szPath[128];
    size_t n = 0;
    for (const wchar_t* p = pszDir; *p && n + 1 < 128; ++p)
        szPath[n++] = *p;
    for (const wchar_t* p = pszName; *p && n + 1 < 128; ++p)
        szPath[n++] = *p;
    szPath[n] = L'\0';

    UNICODE_STRING name;
    RtlInitUnicodeString(&name, szPath);
    OBJECT_ATTRIBUTES attrs;
    InitializeObjectAttributes(&attrs, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
    HANDLE hEvent = nullptr;
    NTSTATUS status = ZwOpenEvent(&hEvent, EVENT_MODIFY_STATE, &attrs);
    if (!NT_SUCCESS(status))
        return status;
    status = ZwSetEvent(hEvent, nullptr);
    ZwClose(hEvent);
    return status;
}

// Tries each namespace in turn; the first one that holds the event gets the signal.
simkb::SimPressResult Press()
{
    simkb::SimPressResult result = {STATUS_OBJECT_NAME_NOT_FOUND, ~0ul};
    for (ULONG i = 0; i < simkb::kHotkeyEventDirCount; ++i) {
        const NTSTATUS status = SetNamedEvent(simkb::kHotkeyEventDirs[i], simkb::kHotkeyEventName);
        if (status == STATUS_OBJECT_NAME_NOT_FOUND || status == STATUS_OBJECT_PATH_NOT_FOUND)
            continue;
        result.lStatus = status;
        result.ulPath = NT_SUCCESS(status) ? i : ~0ul;
        break;
    }
    return result;
}

ULONG CopyHistory(void* pBuffer, ULONG ulOut)
{
    auto* pHeader = static_cast<simkb::SimHistoryHeader*>(pBuffer);
    auto* pRecords = reinterpret_cast<simkb::SimRecord*>(pHeader + 1);
    const ULONG ulRoom = (ulOut - sizeof(*pHeader)) / sizeof(simkb::SimRecord);
    LARGE_INTEGER freq;
    KeQueryPerformanceCounter(&freq);

    CSpinGuard guard(&g_state.m_lock);
    const ULONG ulKept = g_state.m_ulTotal < simkb::kHistoryCapacity ? g_state.m_ulTotal : simkb::kHistoryCapacity;
    const ULONG ulCount = ulKept < ulRoom ? ulKept : ulRoom;
    for (ULONG i = 0; i < ulCount; ++i) {
        const ULONG ulSeq = g_state.m_ulTotal - ulCount + i;  // 0-based sequence number
        pRecords[i] = g_state.m_records[ulSeq % simkb::kHistoryCapacity];
    }
    pHeader->ulCount = ulCount;
    pHeader->ulTotal = g_state.m_ulTotal;
    pHeader->lLevel = g_state.m_lLevel;
    pHeader->ulFailLeft = g_state.m_ulFailLeft;
    pHeader->llFrequency = freq.QuadPart;
    return sizeof(*pHeader) + ulCount * sizeof(simkb::SimRecord);
}

void Reset(ULONG ulMask)
{
    CSpinGuard guard(&g_state.m_lock);
    if (ulMask & simkb::SimResetHistory)
        g_state.m_ulTotal = 0;
    if (ulMask & simkb::SimResetFailures)
        g_state.m_ulFailLeft = 0;
    if (ulMask & simkb::SimResetLevel)
        g_state.m_lLevel = 0;
}

// Serves the simulation requests. Returns the status; *pulBytes gets the reply size.
NTSTATUS ServeSimulation(ULONG ulCode, void* pBuffer, ULONG ulIn, ULONG ulOut, ULONG* pulBytes)
{
    *pulBytes = 0;
    switch (ulCode) {
    case simkb::IOCTL_SIMKB_PRESS: {
        if (ulOut < sizeof(simkb::SimPressResult))
            return STATUS_BUFFER_TOO_SMALL;
        *static_cast<simkb::SimPressResult*>(pBuffer) = Press();
        *pulBytes = sizeof(simkb::SimPressResult);
        return STATUS_SUCCESS;
    }
    case simkb::IOCTL_SIMKB_FAIL_NEXT: {
        if (ulIn != sizeof(simkb::SimFailNext))
            return STATUS_INVALID_PARAMETER;
        const simkb::SimFailNext req = *static_cast<simkb::SimFailNext*>(pBuffer);
        if (req.ulMode != simkb::SimFailError && req.ulMode != simkb::SimFailZero)
            return STATUS_INVALID_PARAMETER;
        CSpinGuard guard(&g_state.m_lock);
        g_state.m_ulFailLeft = req.ulCount;
        g_state.m_ulFailMode = req.ulMode;
        return STATUS_SUCCESS;
    }
    case simkb::IOCTL_SIMKB_GET_HISTORY:
        if (ulOut < sizeof(simkb::SimHistoryHeader))
            return STATUS_BUFFER_TOO_SMALL;
        *pulBytes = CopyHistory(pBuffer, ulOut);
        return STATUS_SUCCESS;
    case simkb::IOCTL_SIMKB_RESET:
        if (ulIn != sizeof(ULONG))
            return STATUS_INVALID_PARAMETER;
        Reset(*static_cast<ULONG*>(pBuffer));
        return STATUS_SUCCESS;
    default: return STATUS_INVALID_DEVICE_REQUEST;
    }
}

NTSTATUS Complete(PIRP pIrp, NTSTATUS status, ULONG_PTR ulBytes)
{
    pIrp->IoStatus.Status = status;
    pIrp->IoStatus.Information = ulBytes;
    IoCompleteRequest(pIrp, IO_NO_INCREMENT);
    return status;
}

NTSTATUS DispatchCreateClose(PDEVICE_OBJECT, PIRP pIrp)
{
    return Complete(pIrp, STATUS_SUCCESS, 0);
}

NTSTATUS DispatchDeviceControl(PDEVICE_OBJECT, PIRP pIrp)
{
    PIO_STACK_LOCATION pStack = IoGetCurrentIrpStackLocation(pIrp);
    const ULONG ulCode = pStack->Parameters.DeviceIoControl.IoControlCode;
    const ULONG ulIn = pStack->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG ulOut = pStack->Parameters.DeviceIoControl.OutputBufferLength;
    void* pBuffer = pIrp->AssociatedIrp.SystemBuffer;
    if (!pBuffer && (ulIn || ulOut))
        return Complete(pIrp, STATUS_INVALID_PARAMETER, 0);

    if (ulCode == kCodeSet || ulCode == kCodeGet) {
        const SReply reply = ServeBacklight(ulCode, pBuffer, ulIn, ulOut);
        return Complete(pIrp, reply.status, reply.ulBytes);
    }
    ULONG ulBytes = 0;
    const NTSTATUS status = ServeSimulation(ulCode, pBuffer, ulIn, ulOut, &ulBytes);
    return Complete(pIrp, status, ulBytes);
}

void DriverUnload(PDRIVER_OBJECT)
{
    UNICODE_STRING link;
    RtlInitUnicodeString(&link, simkb::kDosDeviceName);
    IoDeleteSymbolicLink(&link);
    if (g_pDevice)
        IoDeleteDevice(g_pDevice);
    g_pDevice = nullptr;
}

}  // namespace

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT pDriver, PUNICODE_STRING)
{
    KeInitializeSpinLock(&g_state.m_lock);
    g_state.m_lLevel = 0;
    g_state.m_ulFailLeft = 0;
    g_state.m_ulFailMode = simkb::SimFailError;
    g_state.m_ulTotal = 0;

    UNICODE_STRING deviceName;
    RtlInitUnicodeString(&deviceName, simkb::kNtDeviceName);
    NTSTATUS status = IoCreateDevice(pDriver, 0, &deviceName, static_cast<DEVICE_TYPE>(glim::kDeviceType),
                                     FILE_DEVICE_SECURE_OPEN, FALSE, &g_pDevice);
    if (!NT_SUCCESS(status))
        return status;
    UNICODE_STRING link;
    RtlInitUnicodeString(&link, simkb::kDosDeviceName);
    status = IoCreateSymbolicLink(&link, &deviceName);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(g_pDevice);
        g_pDevice = nullptr;
        return status;
    }
    g_pDevice->Flags |= DO_BUFFERED_IO;
    g_pDevice->Flags &= ~DO_DEVICE_INITIALIZING;

    pDriver->MajorFunction[IRP_MJ_CREATE] = DispatchCreateClose;
    pDriver->MajorFunction[IRP_MJ_CLOSE] = DispatchCreateClose;
    pDriver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchDeviceControl;
    pDriver->DriverUnload = DriverUnload;
    return STATUS_SUCCESS;
}
