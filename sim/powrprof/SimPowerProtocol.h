// The stand-in powrprof.dll: where a test sets the system execution state that
// CallNtPowerInformation(SystemExecutionState) reports (Wine always reports
// ES_USER_PRESENT alone). Without the value the call goes to the system as usual.
#pragma once

namespace simpower {

constexpr const wchar_t* kKey = L"Software\\Glimkit\\Sim";          // under HKEY_CURRENT_USER
constexpr const wchar_t* kExecutionStateValue = L"ExecutionState";  // REG_DWORD
constexpr const wchar_t* kDllName = L"powrprof.dll";
constexpr const wchar_t* kModuleName = L"powrprof";  // as Wine's DllOverrides values name it

}  // namespace simpower
