// Stand-in for oscdimg.exe: journals its calls for tests, and otherwise
// masters the ISO with xorriso: the -b file as a hidden no-emulation El Torito
// boot image, every date set from -t (mm/dd/yyyy,hh:mm:ss), long names kept.
#include "../common/Standin.h"
#include "../common/UnixBridge.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const char kBootImageName[] = "etfsboot.com";
const char kCatalogName[] = "boot.catalog";

// "07/09/2021,17:30:00" as xorriso's "2021070917300000"; empty when malformed.
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

}  // namespace

int wmain()
{
    const standin::Invocation invocation = standin::CaptureInvocation(L"oscdimg");
    unsigned long exitCode = 0;
    if (standin::AnswerFromJournal(invocation, exitCode)) {
        return static_cast<int>(exitCode);
    }

    std::wstring bootImage;
    std::wstring stamp;
    std::vector<std::wstring> paths;
    for (const std::wstring& arg : invocation.args) {
        if (arg.size() > 2 && (arg.compare(0, 2, L"-b") == 0 || arg.compare(0, 2, L"-B") == 0)) {
            bootImage = arg.substr(2);
        } else if (arg.size() > 2 && (arg.compare(0, 2, L"-t") == 0 || arg.compare(0, 2, L"-T") == 0)) {
            stamp = arg.substr(2);
        } else if (arg.empty() || arg[0] != L'-') {
            paths.push_back(arg);
        }
    }
    if (paths.size() != 2) {
        standin::WriteStdout("ERROR: expected a source folder and a target file\r\n");
        return 1;
    }

    std::vector<std::string> argv{"xorriso", "-as", "mkisofs", "-quiet", "-iso-level", "3", "-J", "-joliet-long",
                                  "-R", "-graft-points", "-o", standin::TranslateArg(paths[1])};
    if (!bootImage.empty()) {
        argv.insert(argv.end(), {"-b", kBootImageName, "-no-emul-boot", "-c", kCatalogName, "-hide", kBootImageName,
                                 "-hide-joliet", kBootImageName, "-hide", kCatalogName, "-hide-joliet",
                                 kCatalogName});
    }
    if (!stamp.empty()) {
        const std::string date = XorrisoDate(stamp);
        if (date.empty()) {
            standin::WriteStdout("ERROR: bad time stamp\r\n");
            return 1;
        }
        argv.insert(argv.end(), {"--set_all_file_dates", date, "--modification-date=" + date});
    }
    argv.push_back("/=" + standin::TranslateArg(paths[0]));
    if (!bootImage.empty()) {
        argv.push_back(std::string("/") + kBootImageName + "=" + standin::TranslateArg(bootImage));
    }
    return static_cast<int>(standin::RunReal(argv, invocation, std::string()));
}
