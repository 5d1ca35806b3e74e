#pragma once

#include "TarnwickVolumeFs.h"

#include <string>

// Depth-first search below directory (a "/" path ending in "/"), in listing
// order, for a file named winre.wim in any letter case. Returns its full path
// with names as listed, or empty.
std::wstring SearchWinre(IVolumeFsDevice* fs, const std::wstring& directory);
