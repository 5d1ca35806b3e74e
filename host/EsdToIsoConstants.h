#pragma once

#include <cstdint>

// Texts and limits of tarnwick esd-to-iso.
namespace host {
namespace esdtoiso {

constexpr std::uint64_t kMiB = 1024 * 1024;
// An ESD's XML is tens of KiB; more is not read.
constexpr std::uint64_t kMaxXmlBytes = 16 * kMiB;
// The first image that holds an edition, and the default one.
constexpr unsigned kFirstEdition = 4;

// The library's record values at which its stages begin: extraction,
// boot.wim, install.wim, the ISO, done.
constexpr int kStageStarts[] = {10, 30, 60, 90, 100};
// Time left is shown from this weighted percentage on.
constexpr int kShowLeftFromPercent = 5;
// A stage's pace counts once its records span this long.
constexpr std::uint64_t kPaceAfterMs = 1000;

// The final line: "install ISO written: <path> (<size>), editions: <names>".
constexpr wchar_t kInstallIsoWritten[] = L"install ISO written";
constexpr const wchar_t* kEditionsPrefix = L", editions: ";
constexpr const wchar_t* kEditionSeparator = L", ";
// An edition the ESD's XML does not name, and every edition of an ESD without XML.
constexpr const wchar_t* kUnnamedEdition = L"image ";
constexpr const wchar_t* kEveryEdition = L"every image from 4 on";
constexpr const wchar_t* kAddForce = L"add --force to try anyway";

// The library's log entry of a tool that failed.
constexpr const char* kToolFailedEntry = "Tool failed: ";
constexpr const char* kToolExitCode = " exit code ";
constexpr const char* kToolLastLine = ", last output line: ";

}  // namespace esdtoiso
}  // namespace host
