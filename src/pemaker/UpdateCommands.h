#pragma once

#include <string>
#include <vector>

// The WIM tool's update commands, its command file and its command line.
// Plain C++, so the exact texts and bytes can be checked anywhere.

std::wstring QuoteArg(const std::wstring& text);
// add "<source>" "<path in image>"
std::wstring MakeAddCommand(const std::wstring& source, const std::wstring& imagePath);
// True if path is folder itself or lies beneath it; case and trailing
// separators of folder are ignored, a drive root keeps its separator.
bool IsSameOrSubPath(const std::wstring& folder, const std::wstring& path);
// path without the separators it ends in, cut to no fewer than 3 characters,
// so that a drive root such as C:\ keeps its own.
std::wstring WithoutTrailingSeparators(const std::wstring& path);

namespace pemaker {

// One command and its CR LF, as UTF-16LE bytes without a byte-order mark.
std::string EncodeUpdateCommand(const std::wstring& command);
// "<tool>" update "<wim>" 1 [--rebuild] --no-acls [--quiet] [--config="<config>"]
std::wstring WimlibUpdateCommandLine(const std::wstring& tool, const std::wstring& wim, bool rebuild,
                                     bool quiet = true, const std::wstring& config = std::wstring());
// "<tool>" optimize "<wim>"
std::wstring WimlibOptimizeCommandLine(const std::wstring& tool, const std::wstring& wim);
// The capture configuration that leaves out each path (relative to the
// source added, beginning with a separator), as UTF-8 text.
std::string ExclusionConfig(const std::vector<std::wstring>& excluded);

}  // namespace pemaker
