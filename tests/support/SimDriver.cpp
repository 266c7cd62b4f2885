#include "SimDriver.h"

#include <shlwapi.h>

#include "GlimNames.h"
#include "ScopedHandle.h"
#include "Wait.h"

namespace glimtest {

using namespace simkb;
namespace {

constexpr bool SameText(const wchar_t* a, const wchar_t* b)
{
    return *a == *b && (*a == L'\0' || SameText(a + 1, b + 1));
}
static_assert(SameText(kHotkeyEventName, glim::kEventHotkey), "the driver signals the service's hotkey event");

// The device opened for reading and writing; not open when the driver is not loaded.
class CDeviceHandle : public glim::CScopedFile {
public:
    CDeviceHandle()
        : glim::CScopedFile(CreateFileW(glim::kDevicePath, GENERIC_READ | GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr))
    {
    }
    bool IsOpen() const { return IsValid(); }
};

// Waits until the device opens, or (bOpens false) until it no longer does.
bool WaitForDevice(bool bOpens, DWORD dwTimeoutMs)
{
    return WaitUntil([bOpens] { return DeviceOpens() == bOpens; }, dwTimeoutMs);
}

DWORD SendReset(ULONG ulMask)
{
    DWORD dwBytes = 0;
    return DeviceRequest(IOCTL_SIMKB_RESET, &ulMask, sizeof(ulMask), nullptr, 0, &dwBytes);
}

}  // namespace

std::wstring DriverPathBesideProgram()
{
    wchar_t szPath[MAX_PATH] = {};
    const DWORD dwLen = GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    if (dwLen == 0 || dwLen >= MAX_PATH)
        return std::wstring();
    PathRemoveFileSpecW(szPath);
    if (!PathAppendW(szPath, kDriverFileName))
        return std::wstring();
    return szPath;
}

DWORD DeviceRequest(DWORD dwCode, const void* pIn, DWORD dwIn, void* pOut, DWORD dwOut, DWORD* pdwBytes)
{
    *pdwBytes = 0;
    CDeviceHandle device;
    if (!device.IsOpen())
        return GetLastError();
    if (!DeviceIoControl(device.Get(), dwCode, const_cast<void*>(pIn), dwIn, pOut, dwOut, pdwBytes, nullptr))
        return GetLastError();
    return ERROR_SUCCESS;
}

bool DeviceOpens()
{
    return CDeviceHandle().IsOpen();
}

LONG Press(unsigned long* pulDir)
{
    SimPressResult result = {kStatusNoDevice, ~0ul};
    DWORD dwBytes = 0;
    if (DeviceRequest(IOCTL_SIMKB_PRESS, nullptr, 0, &result, sizeof(result), &dwBytes) || dwBytes != sizeof(result))
        result = {kStatusNoDevice, ~0ul};
    if (pulDir)
        *pulDir = result.ulPath;
    return result.lStatus;
}

DWORD FailNext(ULONG ulCount, SimFailMode mode)
{
    const SimFailNext request = {ulCount, static_cast<unsigned long>(mode)};
    DWORD dwBytes = 0;
    return DeviceRequest(IOCTL_SIMKB_FAIL_NEXT, &request, sizeof(request), nullptr, 0, &dwBytes);
}

bool History(SHistory* pHistory)
{
    std::vector<BYTE> buffer(sizeof(SimHistoryHeader) + kHistoryCapacity * sizeof(SimRecord));
    DWORD dwBytes = 0;
    if (DeviceRequest(IOCTL_SIMKB_GET_HISTORY, nullptr, 0, buffer.data(), static_cast<DWORD>(buffer.size()),
                      &dwBytes) ||
        dwBytes < sizeof(SimHistoryHeader))
        return false;
    memcpy(&pHistory->header, buffer.data(), sizeof(SimHistoryHeader));
    const size_t nFit = (dwBytes - sizeof(SimHistoryHeader)) / sizeof(SimRecord);
    const size_t nCount = pHistory->header.ulCount < nFit ? pHistory->header.ulCount : nFit;
    const auto* pRecords = reinterpret_cast<const SimRecord*>(buffer.data() + sizeof(SimHistoryHeader));
    pHistory->records.assign(pRecords, pRecords + nCount);
    return true;
}

DWORD ClearHistory()
{
    return SendReset(SimResetHistory);
}

DWORD Reset()
{
    return SendReset(SimResetAll);
}

bool Level(LONG* plLevel)
{
    SHistory history;
    if (!History(&history))
        return false;
    *plLevel = history.header.lLevel;
    return true;
}

double CounterToMicroseconds(long long llFrom, long long llTo)
{
    LARGE_INTEGER freq = {};
    QueryPerformanceFrequency(&freq);
    return freq.QuadPart ? static_cast<double>(llTo - llFrom) * 1e6 / static_cast<double>(freq.QuadPart) : 0.0;
}

DWORD CSimDriverInstall::Install(const std::wstring& driverPath, DWORD dwTimeoutMs)
{
    glimtest::SServiceConfig config;
    config.name = kServiceName;
    config.binaryPath = driverPath.empty() ? DriverPathBesideProgram() : driverPath;
    config.dwType = SERVICE_KERNEL_DRIVER;
    config.dwStartType = SERVICE_DEMAND_START;
    if (config.binaryPath.empty() || GetFileAttributesW(config.binaryPath.c_str()) == INVALID_FILE_ATTRIBUTES)
        return ERROR_FILE_NOT_FOUND;
    const DWORD dwErr = m_service.Install(config, dwTimeoutMs);
    return dwErr ? dwErr : Start(dwTimeoutMs);
}

DWORD CSimDriverInstall::Start(DWORD dwTimeoutMs)
{
    const DWORD dwErr = m_service.Start(dwTimeoutMs);
    if (dwErr)
        return dwErr;
    return WaitForDevice(true, dwTimeoutMs) ? ERROR_SUCCESS : ERROR_TIMEOUT;
}

DWORD CSimDriverInstall::Stop(DWORD dwTimeoutMs)
{
    const DWORD dwErr = m_service.Stop(dwTimeoutMs);
    if (dwErr)
        return dwErr;
    return WaitForDevice(false, dwTimeoutMs) ? ERROR_SUCCESS : ERROR_TIMEOUT;
}

DWORD RemoveInstalledDriver(DWORD dwTimeoutMs)
{
    return glimtest::ScmRemove(kServiceName, dwTimeoutMs);
}

std::vector<SimRecord> SetRequests()
{
    std::vector<SimRecord> sets;
    SHistory history;
    if (!History(&history))
        return sets;
    for (const SimRecord& record : history.records) {
        if (record.ulCode == static_cast<unsigned long>(IOCTL_KBBL_SET_BRIGHTNESS))
            sets.push_back(record);
    }
    return sets;
}

}  // namespace glimtest
