#include "SimComServer.h"

#include <objbase.h>
#include <shlwapi.h>

#include "ScopedHandle.h"

namespace glimtest {

std::wstring BesideProgram(const wchar_t* pszFileName)
{
    wchar_t szPath[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    PathRemoveFileSpecW(szPath);
    PathAppendW(szPath, pszFileName);
    return szPath;
}

CSimComRegistration::CSimComRegistration(const CLSID& clsid, const wchar_t* pszDllName) : m_lError(ERROR_SUCCESS)
{
    wchar_t szClsid[64] = {};
    StringFromGUID2(clsid, szClsid, 64);
    m_strKey = std::wstring(L"Software\\Classes\\CLSID\\") + szClsid;
    const std::wstring strServerKey = m_strKey + L"\\InprocServer32";
    const std::wstring strDll = BesideProgram(pszDllName);
    glim::CScopedKey hKey;
    m_lError = RegCreateKeyExW(HKEY_LOCAL_MACHINE, strServerKey.c_str(), 0, nullptr, 0, KEY_WRITE | KEY_WOW64_64KEY,
                               nullptr, hKey.Put(), nullptr);
    if (m_lError != ERROR_SUCCESS)
        return;
    m_lError = RegSetValueExW(hKey.Get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(strDll.c_str()),
                              static_cast<DWORD>((strDll.size() + 1) * sizeof(wchar_t)));
    if (m_lError == ERROR_SUCCESS) {
        const wchar_t szModel[] = L"Both";
        m_lError = RegSetValueExW(hKey.Get(), L"ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>(szModel),
                                  sizeof(szModel));
    }
}

CSimComRegistration::~CSimComRegistration()
{
    glim::CScopedKey hClasses;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID", 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                      hClasses.Put()) != ERROR_SUCCESS)
        return;
    const std::wstring strLeaf = m_strKey.substr(m_strKey.rfind(L'\\') + 1);
    RegDeleteTreeW(hClasses.Get(), strLeaf.c_str());
}

}  // namespace glimtest
