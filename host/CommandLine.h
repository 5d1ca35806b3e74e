#pragma once

#include <string>
#include <vector>

// Command line of the console host, parsed without touching the system.
namespace host {

enum class Command { None, Help, Version, MakePe, ConfigureBootWim, EsdToIso, ExtractWinre };

struct Options {
    Command command = Command::None;
    Command helpFor = Command::None;  // --help of one command
    // make-pe
    std::wstring deliver;  // "restart", "iso" or "disk"
    std::wstring target;
    std::wstring startup;
    std::vector<std::wstring> sources;
    bool yes = false;
    // --deliver disk: erase a disk whose size cannot be read.
    bool unknownDisk = false;
    // --driver DIR (repeatable), --network, --clean: what MakePEWithOptions adds.
    std::vector<std::wstring> drivers;
    bool network = false;
    bool clean = false;
    // make-pe --deliver iso, esd-to-iso: replace an existing file that is not an ISO image.
    bool force = false;
    // esd-to-iso
    std::wstring esd;
    std::wstring iso;
    bool uefi = false;  // --uefi: the ISO boots on UEFI firmware too
    // --edition N: image N (4 or more) into install.wim; 0: image 4.
    unsigned edition = 0;
    bool allEditions = false;  // --edition all
    // extract-winre
    std::wstring winreTarget;
};

struct ParseResult {
    Options options;
    std::wstring error;  // empty when the command line is usable
};

ParseResult ParseCommandLine(const std::vector<std::wstring>& args);

// The production type MakePE expects for a --deliver value, or 0 if unknown.
int ProductionType(const std::wstring& deliver);

// The project version, in a source file the build generates.
extern const wchar_t kVersion[];

}  // namespace host
