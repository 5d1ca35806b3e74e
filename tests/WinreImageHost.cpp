#include "WinreImageHost.h"

#include <regex>

namespace winrehost {

namespace {

// The Wine prefix's link that stands for \\.\HarddiskNPartitionM.
std::string LinkName(unsigned disk, unsigned partition)
{
    return testsupport::ToUtf8(testsupport::Env(L"TW_WINEPREFIX")) + "/dosdevices/harddisk" + std::to_string(disk) +
           "partition" + std::to_string(partition);
}

}  // namespace

bool PrepareHost(HMODULE library)
{
    SetEnvironmentVariableW(L"PATH", (testsupport::ExeFolder() + L"tools;" + testsupport::Env(L"PATH")).c_str());
    return PatchImport(library, "kernel32.dll", "DeviceIoControl", reinterpret_cast<void*>(&ImageDeviceIoControl));
}

bool LinkPartition(unsigned disk, unsigned partition, const std::string& unixImage)
{
    const standin::UnixResult made = testsupport::Shell("ln -sfn '" + unixImage + "' '" + LinkName(disk, partition) + "'");
    return made.answered && made.exitCode == 0;
}

void UnlinkPartition(unsigned disk, unsigned partition)
{
    testsupport::Shell("rm -f '" + LinkName(disk, partition) + "'");
}

bool MakeNtfsImage(const std::string& unixImage, unsigned sizeMib, const std::string& commands)
{
    const standin::UnixResult made =
        testsupport::Shell(testsupport::SourceDir() + "/scripts/make-ntfs-image.sh '" + unixImage + "' " +
                           std::to_string(sizeMib) + " >/dev/null 2>&1 <<'COMMANDS'\n" + commands + "COMMANDS\n");
    return made.answered && made.exitCode == 0;
}

bool MakeRandomFile(const std::string& unixPath, unsigned long size)
{
    const standin::UnixResult made =
        testsupport::Shell("head -c " + std::to_string(size) + " /dev/urandom > '" + unixPath + "'");
    return made.answered && made.exitCode == 0;
}

std::string LoggedMessages(const std::string& logText, const std::string& functions)
{
    const std::regex line("\\[Tarnwick\\][0-9: -]{19}    (" + functions + "):[0-9]+ ([^\r\n]*)\r?\n");
    std::string messages;
    for (auto it = std::sregex_iterator(logText.begin(), logText.end(), line); it != std::sregex_iterator(); ++it) {
        messages += (*it)[1].str() + ": " + (*it)[2].str() + "\n";
    }
    return messages;
}

}  // namespace winrehost
