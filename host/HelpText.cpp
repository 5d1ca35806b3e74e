#include "HelpText.h"

namespace host {
namespace {

const wchar_t kSummary[] =
    L"Usage:\n"
    L"  tarnwick make-pe --deliver restart|iso|disk [--target FOLDER|DISK] [options] --startup EXE SOURCE...\n"
    L"  tarnwick configure-boot-wim\n"
    L"  tarnwick esd-to-iso [--uefi] [--edition N|all] [--force] ESD ISO\n"
    L"  tarnwick extract-winre TARGET\n"
    L"  tarnwick COMMAND --help\n"
    L"  tarnwick --help\n"
    L"  tarnwick --version\n";

const wchar_t kMakePe[] =
    L"tarnwick make-pe --deliver restart|iso|disk [--target FOLDER|DISK] [--yes] [--force]\n"
    L"                 [--unknown-disk] [--driver DIR]... [--network] [--clean] --startup EXE SOURCE...\n"
    L"\n"
    L"make-pe builds the WinPE image from the PE folder beside this program, puts the\n"
    L"SOURCE files and folders into it and starts EXE at boot; a relative EXE is looked\n"
    L"for in each SOURCE folder, then in the current folder.\n"
    L"\n"
    L"--deliver iso writes boot.iso into the --target folder, after \"replacing <path>\n"
    L"(<size>, <date>)\" when one is there, and ends with \"ISO written: <path> (<size>)\".\n"
    L"\n"
    L"--deliver disk ERASES the disk whose number --target gives and writes the media\n"
    L"to it; they boot on UEFI PCs, not on BIOS. It refuses a disk that is missing,\n"
    L"holds the running Windows, is write-protected or cannot be identified (its size\n"
    L"cannot be read; --unknown-disk writes it all the same), shows the disk's model,\n"
    L"size and bus, and asks first. It ends with \"disk N written: <size>\".\n"
    L"\n"
    L"--deliver restart adds a one-time boot entry and restarts this machine (asks first).\n"
    L"\n"
    L"--yes answers the question of --deliver disk and restart before it is asked;\n"
    L"without a console to ask on, they need it.\n"
    L"\n"
    L"--driver DIR puts the driver packages of DIR (INF, catalogue and files; for\n"
    L"x64, signed) into the image and loads them when WinPE starts, for a disk or\n"
    L"network adapter WinPE has no driver for; repeat it for more folders. A link\n"
    L"given as DIR puts in what it leads to. Every unusable DIR is named; each INF\n"
    L"that is not loaded is shown as \"skipped: <inf>: <reason>\". WinPE logs the\n"
    L"loading in X:\\Windows\\Temp\\tarnwick-drivers.log. --network starts the\n"
    L"application only once WinPE's network is up. --clean empties \\TarnwickToolset\n"
    L"of the image first, so no file of an earlier build stays.\n"
    L"\n"
    L"--force replaces a file at the ISO path that is not an ISO image.\n"
    L"\n"
    L"A SOURCE folder lands in \\TarnwickToolset\\<folder name> of the image, a SOURCE\n"
    L"file as \\TarnwickToolset\\<name>, and this program's own folder (or one inside\n"
    L"it) in \\TarnwickToolset\\Brightmoor. make-pe changes the installed\n"
    L"PE\\ISO\\SOURCES\\BOOT.wim in place, and it keeps the last build's application.\n"
    L"make-pe clears \\TarnwickToolset except Brightmoor, whose files stay even when\n"
    L"the application no longer has them. Copy a pristine BOOT.wim over the installed\n"
    L"one first for a clean build.\n";

const wchar_t kConfigureBootWim[] =
    L"tarnwick configure-boot-wim\n"
    L"\n"
    L"configure-boot-wim adds PE\\pe_requirements\\cef and PE\\pe_requirements\\system\n"
    L"to the installed PE\\ISO\\SOURCES\\BOOT.wim in place. It ends with \"BOOT.wim\n"
    L"configured: <path> (<size>)\".\n";

const wchar_t kEsdToIso[] =
    L"tarnwick esd-to-iso [--uefi] [--edition N|all] [--force] ESD ISO\n"
    L"\n"
    L"esd-to-iso converts a Windows installation ESD into an installation ISO.\n"
    L"--uefi makes the ISO boot on UEFI firmware too, from the ESD's\n"
    L"efi\\microsoft\\boot\\efisys.bin. --edition puts image N (4 or more) of the\n"
    L"ESD into install.wim instead of image 4, or with \"all\" every image from 4 on.\n"
    L"Before any work it refuses (exit 2) an ISO folder it cannot write into, or\n"
    L"whose volume has less room than the ESD's size. --force tries anyway with less\n"
    L"room, and replaces a file at ISO that is not an ISO image. Before a conversion\n"
    L"that replaces an ISO it prints \"replacing <path> (<size>, <date>)\". It ends\n"
    L"with \"install ISO written: <path> (<size>), editions: <names>\". Ctrl+C stops a\n"
    L"conversion; nothing is left behind.\n";

const wchar_t kExtractWinre[] =
    L"tarnwick extract-winre TARGET\n"
    L"\n"
    L"extract-winre copies winre.wim out of this machine's recovery partition to the\n"
    L"file TARGET. It ends with \"winre.wim copied: <path> (<size>)\". Ctrl+C ends\n"
    L"it at once and deletes the unfinished TARGET.\n";

const wchar_t kCommon[] =
    L"The tools are looked for in tools\\ beside this program (oscdimg.exe in PE\\,\n"
    L"then on PATH, then in tools\\). The log, tarnwick.log, goes to\n"
    L"%LOCALAPPDATA%\\Tarnwick, where every command runs.\n"
    L"\n"
    L"Exit codes:\n"
    L"  0    done\n"
    L"  1    failed\n"
    L"  2    refused before any work: a usage error, a failed check, a disk refused,\n"
    L"       or a question with no console to ask on and no --yes\n"
    L"  130  cancelled: Ctrl+C, or any answer but yes to a question\n";

}  // namespace

std::wstring HelpText(Command command)
{
    switch (command) {
    case Command::MakePe:
        return kMakePe;
    case Command::ConfigureBootWim:
        return kConfigureBootWim;
    case Command::EsdToIso:
        return kEsdToIso;
    case Command::ExtractWinre:
        return kExtractWinre;
    default:
        return std::wstring(kSummary) + L"\n" + kMakePe + L"\n" + kConfigureBootWim + L"\n" + kEsdToIso + L"\n" +
               kExtractWinre + L"\n" + kCommon;
    }
}

}  // namespace host
