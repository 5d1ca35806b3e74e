#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <cstring>

namespace testsupport {
int RunChildMode(int argc, wchar_t** argv);
}

// "--child NAME ARGS..." runs a registered child mode instead of the tests.
int main(int argc, char** argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "--child") == 0) {
        int wideCount = 0;
        wchar_t** wideArgs = CommandLineToArgvW(GetCommandLineW(), &wideCount);
        const int code = testsupport::RunChildMode(wideCount, wideArgs);
        LocalFree(wideArgs);
        return code;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
