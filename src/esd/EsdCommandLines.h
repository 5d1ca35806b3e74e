#pragma once

#include <string>

// Builders of the tool command lines of the conversion. Plain C++ so the
// exact texts can be checked without running anything.
namespace esd {

struct ToolPaths {
    std::wstring wimlib;
    std::wstring cdimage;
    bool quiet;  // appends " --quiet" to the WIM tool lines
};

std::wstring ExtractCommand(const ToolPaths& tools, const std::wstring& esd, const std::wstring& work);
std::wstring ExportWinPeCommand(const ToolPaths& tools, const std::wstring& esd, const std::wstring& bootWim);
std::wstring ExportSetupCommand(const ToolPaths& tools, const std::wstring& esd, const std::wstring& bootWim);
std::wstring ExportInstallCommand(const ToolPaths& tools, const std::wstring& esd, const std::wstring& installWim,
                                  unsigned image);
// The ESD's description, for its image count; never " --quiet".
std::wstring InfoCommand(const ToolPaths& tools, const std::wstring& esd);
// uefi: the setup media's efisys.bin becomes a second, UEFI boot entry.
std::wstring IsoCommand(const ToolPaths& tools, const std::wstring& work, const std::wstring& iso,
                        const std::wstring& label, const std::wstring& stamp, bool uefi);

// The program a command line names first, without its quotes.
std::wstring ProgramOf(const std::wstring& commandLine);

}  // namespace esd
