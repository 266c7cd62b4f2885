// The access rights the installer gives the data folder and the settings file, which
// doctor compares with what the platform reports.
#pragma once

namespace glimctl {

// Protected; SYSTEM and Administrators full control, Users read and execute; inherited.
constexpr const wchar_t* kDataFolderSddl = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
// Protected; Users read and write the data and attributes, nothing more.
constexpr const wchar_t* kSettingsFileSddl = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x12019f;;;BU)";

}  // namespace glimctl
