// The builder's save of BOOT.wim, timed alone on a PE folder, with the
// library's own code: the hard link a build makes before its clear-out and
// the copy a configuration makes, each then discarded as after a success.
//   save PEDIR    prints the seconds of the link and of the copy
#include "pemaker/BootImageBackup.h"

#include <chrono>
#include <cstdio>

namespace {

double TimedSave(const wchar_t* peDir, bool link)
{
    const auto start = std::chrono::steady_clock::now();
    BootImageBackup backup(peDir);
    DWORD error = 0;
    if (!backup.Save(link, error)) {
        std::fprintf(stderr, "save failed: %lu\n", error);
        return -1;
    }
    backup.Discard();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: save PEDIR\n");
        return 2;
    }
    const double link = TimedSave(argv[1], true);
    const double copy = TimedSave(argv[1], false);
    std::printf("%.4f %.4f\n", link, copy);
    return link < 0 || copy < 0 ? 1 : 0;
}
