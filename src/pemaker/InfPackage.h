#pragma once

#include <functional>
#include <string>

// Whether drvload can install the driver package that an INF describes on
// x64. Plain C++: the INF comes as the bytes of its file, and the files
// beside it are asked for through a callback.
namespace drivers {

// Whether a file exists at a path relative to the INF's folder ("a\b.sys",
// "..\common\c.sys").
using FileExists = std::function<bool(const std::wstring& relativePath)>;

// The reason why the package of this INF cannot be installed on x64; empty
// when it can. The INF is UTF-16LE or UTF-8 after its byte-order mark, else
// 8-bit text; the rules are those of the README's table of INF rules. The
// INF lies depth folders below the package folder, whose files all go into
// the image: a file may be named up to that many folders above the INF's.
std::string UnusableReason(const std::string& infBytes, const FileExists& exists, unsigned depth = 0);

}  // namespace drivers
