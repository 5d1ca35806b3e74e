#pragma once

#include "CommandLine.h"
#include "LogExcerpt.h"

#include "TarnwickMedia.h"

#include <string>
#include <vector>

// tarnwick esd-to-iso: the library's quiet conversion under a bar weighted by
// the ESD's images, then the final line or the failing tool's cause.
namespace host {

struct EsdImage;

enum class EsdOutcome {
    Done,        // the final line is printed
    Cancelled,   // by Ctrl+C
    ToolFailed,  // the tool's cause and the log's path are printed
    Failed,      // the failure record is printed; the caller reports the log
};

EsdOutcome ConvertEsd(ConvertESDToISOWithOptions_Fn convert, const Options& options, const LogExcerpt& log);

// "Windows 10 Pro, Windows 10 Home": the names of the editions the ISO holds.
std::wstring EditionNames(const std::vector<EsdImage>& images, unsigned edition, bool allEditions);

}  // namespace host
