// The demo's host for ExtractWinreFromRecoveryPartition under Wine:
//   winre-extract DLL TARGET
// Wine refuses the drive geometry query on a partition device, so this host
// answers it for the image file behind \\.\Harddisk0Partition4 from the
// file's size, through the library's own import, and then calls the export.
// tarnwick.exe does no such thing: on Windows the disk answers.
#include "ImageDisk.h"
#include "TarnwickMedia.h"

#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        std::fputs("usage: winre-extract DLL TARGET\n", stderr);
        return 2;
    }
    // ravenfs.dll is found beside the library, not beside this program.
    HMODULE library = LoadLibraryExW(argv[1], nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!library) {
        std::fprintf(stderr, "winre-extract: cannot load %ls (error %lu)\n", argv[1], GetLastError());
        return 1;
    }
    const auto extract = reinterpret_cast<ExtractWinreFromRecoveryPartition_Fn>(
        reinterpret_cast<void*>(GetProcAddress(library, "ExtractWinreFromRecoveryPartition")));
    if (!extract ||
        !PatchImport(library, "kernel32.dll", "DeviceIoControl", reinterpret_cast<void*>(&ImageDeviceIoControl))) {
        std::fputs("winre-extract: the library has no ExtractWinreFromRecoveryPartition or DeviceIoControl import\n",
                   stderr);
        return 1;
    }
    if (!extract(argv[2])) {
        std::fputs("winre-extract: ExtractWinreFromRecoveryPartition failed; see tarnwick.log in the current folder\n",
                   stderr);
        return 1;
    }
    return 0;
}
