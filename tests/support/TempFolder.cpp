#include "TempFolder.h"

namespace glimtest {

void RemoveTree(const std::wstring& strPath)
{
    WIN32_FIND_DATAW fd;
    HANDLE hFind = FindFirstFileW((strPath + L"\\*").c_str(), &fd);
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring strName = fd.cFileName;
            if (strName == L"." || strName == L"..")
                continue;
            const std::wstring strChild = strPath + L"\\" + strName;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(strChild);
            else
                ::DeleteFileW(strChild.c_str());
        } while (FindNextFileW(hFind, &fd));
        FindClose(hFind);
    }
    RemoveDirectoryW(strPath.c_str());
}

CTempFolder::CTempFolder()
{
    wchar_t szTemp[MAX_PATH] = {};
    const DWORD cch = GetTempPathW(MAX_PATH, szTemp);
    if (cch == 0 || cch >= MAX_PATH)
        return;
    static LONG s_nCounter = 0;
    for (int nTry = 0; nTry < 100; ++nTry) {
        wchar_t szName[64] = {};
        _snwprintf(szName, 63, L"glimtest-%lu-%ld", GetCurrentProcessId(), InterlockedIncrement(&s_nCounter));
        std::wstring strPath = std::wstring(szTemp) + szName;
        if (CreateDirectoryW(strPath.c_str(), nullptr)) {
            m_strPath = strPath;
            return;
        }
    }
}

CTempFolder::~CTempFolder()
{
    if (!m_strPath.empty())
        RemoveTree(m_strPath);
}

}  // namespace glimtest
