// Stand-in for cdimage.exe: journals its calls for tests, and otherwise masters
// the ISO with xorriso: -l label, -t timestamp, -b boot sector as a
// no-emulation El Torito image, -n long names; -h, -o and -m need nothing.
#include "../common/Standin.h"
#include "../common/UnixBridge.h"

#include <string>
#include <vector>

namespace {

// "MM/DD/YYYY,hh:mm:ss" to xorriso's "YYYYMMDDhhmmss00".
std::string ToIsoDate(const std::wstring& stamp)
{
    if (stamp.size() != 19) {
        return std::string();
    }
    const std::wstring date = stamp.substr(6, 4) + stamp.substr(0, 2) + stamp.substr(3, 2) + stamp.substr(11, 2) +
                              stamp.substr(14, 2) + stamp.substr(17, 2) + L"00";
    return standin::ToUtf8(date);
}

}  // namespace

int wmain()
{
    const standin::Invocation invocation = standin::CaptureInvocation(L"cdimage");
    unsigned long exitCode = 0;
    if (standin::AnswerFromJournal(invocation, exitCode)) {
        return static_cast<int>(exitCode);
    }

    std::wstring label;
    std::wstring stamp;
    std::wstring bootFile;
    bool longNames = false;
    std::vector<std::wstring> positional;
    for (const std::wstring& arg : invocation.args) {
        if (arg.compare(0, 2, L"-l") == 0) {
            label = arg.substr(2);
        } else if (arg.compare(0, 2, L"-t") == 0) {
            stamp = arg.substr(2);
        } else if (arg.compare(0, 2, L"-b") == 0) {
            bootFile = arg.substr(2);
        } else if (arg == L"-n") {
            longNames = true;
        } else if (arg.size() > 1 && arg[0] == L'-') {
            continue;
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2) {
        standin::WriteStdout("cdimage: expected a source folder and an image file\n");
        return 1;
    }
    const std::string root = standin::TranslateArg(positional[0]);
    const std::string boot = standin::TranslateArg(bootFile);
    if (!bootFile.empty() && boot.compare(0, root.size() + 1, root + "/") != 0) {
        standin::WriteStdout("cdimage: the boot file must lie inside the source folder\n");
        return 1;
    }

    std::vector<std::string> argv{"xorriso", "-as", "mkisofs", "-quiet", "-iso-level", "3", "-R", "-J"};
    if (longNames) {
        argv.push_back("-joliet-long");
    }
    if (!label.empty()) {
        argv.insert(argv.end(), {"-V", standin::ToUtf8(label)});
    }
    const std::string date = ToIsoDate(stamp);
    if (!date.empty()) {
        argv.push_back("--modification-date=" + date);
    }
    if (!bootFile.empty()) {
        argv.insert(argv.end(), {"-b", boot.substr(root.size() + 1), "-no-emul-boot"});
    }
    argv.insert(argv.end(), {"-o", standin::TranslateArg(positional[1]), root});
    return static_cast<int>(standin::RunReal(argv, invocation, std::string()));
}
