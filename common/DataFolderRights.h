// The access rights of the all-users data folder and its settings file, as the installer sets
// them and `glimctl doctor` checks them. SYSTEM and Administrators have full control; Users may
// read the folder and read and write the settings file's data, but create, delete or re-grant
// nothing, so no user can plant a file or a link where SYSTEM writes.
#pragma once

namespace glim {

// "Vessik" and "Vessik\Glimkit": protected; SYSTEM and Administrators full control, Users read
// and execute; inherited by what is created inside.
constexpr const wchar_t* kDataFolderSddl =
    L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

// "Glimkit.ini": protected; Users FILE_GENERIC_READ | FILE_GENERIC_WRITE (data and attributes,
// no DELETE, WRITE_DAC or WRITE_OWNER).
constexpr const wchar_t* kSettingsFileSddl = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x12019f;;;BU)";

}  // namespace glim
