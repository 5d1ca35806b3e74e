#pragma once

// The exit codes and the fixed texts of tarnwick.
namespace host {

// One table, printed by --help: every exit path returns one of these.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;  // the library was called and failed
constexpr int kExitUsage = 2;  // refused before any work
constexpr int kExitCancelled = 130;  // Ctrl+C, or no yes to a question

// Ctrl+C or a no at a question, which comes before any work.
constexpr char kCancelledText[] = "tarnwick: cancelled, nothing written\n";
// Ctrl+C while winre.wim is copied, which has no cancel.
constexpr char kExtractCancelledText[] = "tarnwick: extract-winre cancelled; the copy is deleted\n";
// The characters of an answer read; how long an empty read waits for the
// Ctrl+C handler to end the process.
constexpr unsigned long kLongestAnswer = 64;
constexpr unsigned long kCtrlCGraceMs = 1000;

constexpr char kRestartQuestion[] =
    "This adds a one-time boot entry and restarts this computer now. Continue? [y/N] ";
constexpr char kRestartRefusal[] = "--deliver restart restarts this computer; add --yes to confirm";

// What the media of --deliver disk start on.
constexpr char kBootsOn[] = "The media boot on UEFI PCs; a raw ISO image on a disk does not boot on BIOS.\n";

// What each command made, in its final line.
constexpr wchar_t kIsoWritten[] = L"ISO written";
constexpr wchar_t kWinreCopied[] = L"winre.wim copied";
constexpr wchar_t kBootWimConfigured[] = L"BOOT.wim configured";

// Beside tarnwick: the boot image, and the ISO a disk delivery writes to the
// disk and deletes.
constexpr wchar_t kInstalledBootWim[] = L"PE\\ISO\\SOURCES\\BOOT.wim";
constexpr wchar_t kDiskDeliveryIso[] = L"PE\\boot.iso";
// The tree every boot medium holds, beside this program.
constexpr wchar_t kPeIsoTree[] = L"PE\\ISO";

}  // namespace host
