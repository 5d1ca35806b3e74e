// The builder's working copy of BOOT.wim, timed alone on a PE folder with the
// library's own code: the flushed copy a build makes before its first edit,
// discarded as after a failure.
//   save PEDIR    prints the seconds of the copy
#include "pemaker/BootImageTransaction.h"

#include <chrono>
#include <cstdio>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: save PEDIR\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    DWORD error = 0;
    {
        BootImageTransaction image(argv[1]);
        if (!image.Begin(error)) {
            std::fprintf(stderr, "copy failed: %lu\n", error);
            return 1;
        }
    }
    std::printf("%.4f\n", std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    return 0;
}
