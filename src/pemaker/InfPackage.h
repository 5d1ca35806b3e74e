#pragma once

#include <functional>
#include <string>

// Whether drvload can install the driver package that an INF describes on
// x64. Plain C++: the text comes decoded, and the files beside the INF are
// asked for through a callback.
namespace drivers {

// Whether a file exists at a path relative to the INF's folder ("a\b.sys").
using FileExists = std::function<bool(const std::wstring& relativePath)>;

// The reason why the package of this INF cannot be installed on x64; empty
// when it can: [Version] names a catalogue present beside the INF,
// [Manufacturer] has models decorated NTamd64, and every file that
// [SourceDisksFiles] names is where [SourceDisksNames] puts it.
std::string UnusableReason(const std::wstring& infText, const FileExists& exists);

}  // namespace drivers
