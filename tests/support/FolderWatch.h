// Watches a folder tree for names that appear in it (created, or renamed to), on a thread of its
// own, so files that live only a moment are seen too. A test that checks that nothing of a kind
// appeared first proves the watch sees such a file (see Sees).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "Lock.h"
#include "ScopedHandle.h"

namespace glimtest {

class CFolderWatch {
public:
    CFolderWatch() = default;
    virtual ~CFolderWatch();
    CFolderWatch(const CFolderWatch&) = delete;
    CFolderWatch& operator=(const CFolderWatch&) = delete;

    // Starts watching the folder and everything below it; ERROR_SUCCESS or the failing call's error.
    DWORD Start(const std::wstring& folder);
    // The names that appeared so far, relative to the folder, oldest first. A lost batch of
    // changes (the system's buffer overflowed) is the name "<lost changes>".
    std::vector<std::wstring> Names() const;
    // Those names that end with one of the given extensions (".dll", case-insensitive), and
    // any lost batch, which may have held one.
    // Names before index nFrom of Names() are passed over.
    std::vector<std::wstring> NamesEndingWith(const std::vector<std::wstring>& extensions, size_t nFrom = 0) const;
    // Waits, bounded, until a name that ends with the given relative path has appeared.
    bool WaitFor(const std::wstring& relativePath, DWORD dwTimeoutMs) const;

    static constexpr const wchar_t* kLost = L"<lost changes>";

private:
    static DWORD WINAPI ThreadMain(void* pParam);
    void Run();
    void Record(const BYTE* pBuffer, DWORD cbReturned);

    std::wstring m_folder;
    glim::CScopedFile m_hFolder;
    glim::CScopedHandle m_hStop;
    glim::CScopedHandle m_hReady;
    glim::CScopedHandle m_hThread;
    mutable glim::CCriticalSection m_cs;
    std::vector<std::wstring> m_names;
};

// The folder a program started by the tests gets as its temporary folder (no trailing backslash).
std::wstring TempFolderPath();

}  // namespace glimtest
