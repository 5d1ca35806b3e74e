#include "IsoMastering.h"

#include "Standin.h"
#include "UnixBridge.h"

#include <cstdio>
#include <cwchar>

namespace standin {
namespace {

const char kHiddenBootName[] = "etfsboot.com";
const char kCatalogName[] = "boot.catalog";

}  // namespace

std::string XorrisoDate(const std::wstring& stamp)
{
    unsigned month = 0, day = 0, year = 0, hour = 0, minute = 0, second = 0;
    if (swscanf(stamp.c_str(), L"%u/%u/%u,%u:%u:%u", &month, &day, &year, &hour, &minute, &second) != 6) {
        return std::string();
    }
    char text[32];
    std::snprintf(text, sizeof(text), "%04u%02u%02u%02u%02u%02u00", year, month, day, hour, minute, second);
    return text;
}

std::vector<std::string> XorrisoArgv(const IsoRequest& request)
{
    const std::string root = TranslateArg(request.root);
    std::vector<std::string> argv{"xorriso", "-as", "mkisofs", "-quiet", "-iso-level", "3", "-J", "-joliet-long",
                                  "-R", "-graft-points", "-o", TranslateArg(request.iso)};
    if (!request.label.empty()) {
        argv.insert(argv.end(), {"-V", ToUtf8(request.label)});
    }
    if (!request.stamp.empty()) {
        const std::string date = XorrisoDate(request.stamp);
        if (date.empty()) {
            return std::vector<std::string>();
        }
        argv.insert(argv.end(), {"--set_all_file_dates", date, "--modification-date=" + date});
    }
    std::string graftedBoot;
    if (!request.bootImage.empty()) {
        const std::string boot = TranslateArg(request.bootImage);
        std::string inTree = kHiddenBootName;
        if (boot.compare(0, root.size() + 1, root + "/") == 0) {
            inTree = boot.substr(root.size() + 1);
        } else {
            graftedBoot = std::string("/") + kHiddenBootName + "=" + boot;
            argv.insert(argv.end(), {"-hide", kHiddenBootName, "-hide-joliet", kHiddenBootName});
        }
        argv.insert(argv.end(), {"-b", inTree, "-no-emul-boot", "-c", kCatalogName, "-hide", kCatalogName,
                                 "-hide-joliet", kCatalogName});
    }
    argv.push_back("/=" + root);
    if (!graftedBoot.empty()) {
        argv.push_back(graftedBoot);
    }
    return argv;
}

int MasterIso(const Invocation& invocation, IsoRequest request, const std::vector<std::wstring>& paths)
{
    const std::string tool = ToUtf8(invocation.tool);
    if (paths.size() != 2) {
        WriteStdout(tool + ": expected a source folder and an image file\r\n");
        return 1;
    }
    request.root = paths[0];
    request.iso = paths[1];
    const std::vector<std::string> argv = XorrisoArgv(request);
    if (argv.empty()) {
        WriteStdout(tool + ": bad time stamp\r\n");
        return 1;
    }
    return static_cast<int>(RunReal(argv, invocation, std::string()));
}

}  // namespace standin
