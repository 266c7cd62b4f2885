#include <gtest/gtest.h>

#include <windows.h>

int wmain(int argc, wchar_t** argv)
{
    // A crashing test must end the process, not wait for a debugger or a dialog box.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
