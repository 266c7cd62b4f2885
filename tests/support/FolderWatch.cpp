#include "FolderWatch.h"

#include "Wait.h"

namespace glimtest {

namespace {

constexpr DWORD kNotify = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME;

bool EndsWithNoCase(const std::wstring& text, const std::wstring& tail)
{
    return text.size() >= tail.size() &&
        CompareStringOrdinal(text.c_str() + text.size() - tail.size(), static_cast<int>(tail.size()), tail.c_str(),
                             static_cast<int>(tail.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

CFolderWatch::~CFolderWatch()
{
    if (m_hThread) {
        SetEvent(m_hStop.Get());
        WaitForSingleObject(m_hThread.Get(), 10000);
    }
}

DWORD CFolderWatch::Start(const std::wstring& folder)
{
    m_folder = folder;
    m_hStop.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!m_hStop)
        return GetLastError();
    m_hFolder.Reset(CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr));
    if (!m_hFolder)
        return GetLastError();
    m_hReady.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!m_hReady)
        return GetLastError();
    m_hThread.Reset(CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr));
    if (!m_hThread)
        return GetLastError();
    // Changes count from the first read on: a change made before it would go unseen.
    const HANDLE handles[] = {m_hReady.Get(), m_hThread.Get()};
    return WaitForMultipleObjects(2, handles, FALSE, 10000) == WAIT_OBJECT_0 ? ERROR_SUCCESS
                                                                             : static_cast<DWORD>(ERROR_NOT_READY);
}

DWORD WINAPI CFolderWatch::ThreadMain(void* pParam)
{
    static_cast<CFolderWatch*>(pParam)->Run();
    return 0;
}

// One read is pending at all times; the system queues what changes between two reads.
void CFolderWatch::Run()
{
    const glim::CScopedHandle hDone(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!hDone)
        return;
    // DWORD-aligned, as the records require.
    std::vector<DWORD> buffer(16 * 1024);
    const DWORD cbBuffer = static_cast<DWORD>(buffer.size() * sizeof(DWORD));
    for (;;) {
        OVERLAPPED overlapped = {};
        overlapped.hEvent = hDone.Get();
        ResetEvent(hDone.Get());
        if (!ReadDirectoryChangesW(m_hFolder.Get(), buffer.data(), cbBuffer, TRUE, kNotify, nullptr, &overlapped,
                                   nullptr)) {
            glim::CCritSecLock hold(&m_cs);
            m_names.push_back(kLost);
            return;
        }
        SetEvent(m_hReady.Get());
        const HANDLE handles[] = {hDone.Get(), m_hStop.Get()};
        const DWORD dwWait = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
        DWORD cbReturned = 0;
        if (dwWait != WAIT_OBJECT_0) {
            CancelIoEx(m_hFolder.Get(), &overlapped);
            GetOverlappedResult(m_hFolder.Get(), &overlapped, &cbReturned, TRUE);
            return;
        }
        if (!GetOverlappedResult(m_hFolder.Get(), &overlapped, &cbReturned, FALSE) || cbReturned == 0) {
            glim::CCritSecLock hold(&m_cs);
            m_names.push_back(kLost);
            continue;
        }
        Record(reinterpret_cast<const BYTE*>(buffer.data()), cbReturned);
    }
}

void CFolderWatch::Record(const BYTE* pBuffer, DWORD cbReturned)
{
    glim::CCritSecLock hold(&m_cs);
    for (DWORD dwOffset = 0; dwOffset < cbReturned;) {
        const auto* pInfo = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(pBuffer + dwOffset);
        if (pInfo->Action == FILE_ACTION_ADDED || pInfo->Action == FILE_ACTION_RENAMED_NEW_NAME)
            m_names.emplace_back(pInfo->FileName, pInfo->FileNameLength / sizeof(wchar_t));
        if (pInfo->NextEntryOffset == 0)
            break;
        dwOffset += pInfo->NextEntryOffset;
    }
}

std::vector<std::wstring> CFolderWatch::Names() const
{
    glim::CCritSecLock hold(&m_cs);
    return m_names;
}

std::vector<std::wstring> CFolderWatch::NamesEndingWith(const std::vector<std::wstring>& extensions, size_t nFrom) const
{
    const std::vector<std::wstring> names = Names();
    std::vector<std::wstring> found;
    for (size_t i = nFrom; i < names.size(); ++i) {
        const std::wstring& name = names[i];
        for (const std::wstring& extension : extensions) {
            if (name == kLost || EndsWithNoCase(name, extension)) {
                found.push_back(name);
                break;
            }
        }
    }
    return found;
}

bool CFolderWatch::WaitFor(const std::wstring& relativePath, DWORD dwTimeoutMs) const
{
    return WaitUntil(
        [&] {
            for (const std::wstring& name : Names()) {
                if (EndsWithNoCase(name, relativePath))
                    return true;
            }
            return false;
        },
        dwTimeoutMs);
}

std::wstring TempFolderPath()
{
    wchar_t szTemp[MAX_PATH] = {};
    const DWORD cch = GetTempPathW(MAX_PATH, szTemp);
    if (cch == 0 || cch >= MAX_PATH)
        return std::wstring();
    std::wstring folder(szTemp, cch);
    while (!folder.empty() && folder.back() == L'\\')
        folder.pop_back();
    return folder;
}

}  // namespace glimtest
