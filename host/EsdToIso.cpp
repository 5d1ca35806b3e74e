#include "EsdToIso.h"

#include "ConsoleSink.h"
#include "EsdImages.h"
#include "EsdTimeEstimate.h"
#include "EsdToIsoConstants.h"
#include "ResultLine.h"
#include "ToolCause.h"

#include "common/PathIdentity.h"

#include <windows.h>

#include <cstdio>
#include <limits>

namespace host {
namespace {

std::wstring EditionName(const std::vector<EsdImage>& images, unsigned index)
{
    const EsdImage* image = FindImage(images, index);
    return image && !image->name.empty() ? image->name : esdtoiso::kUnnamedEdition + std::to_wstring(index);
}

}  // namespace

std::wstring EditionNames(const std::vector<EsdImage>& images, unsigned edition, bool allEditions)
{
    if (!allEditions) {
        return EditionName(images, edition == 0 ? esdtoiso::kFirstEdition : edition);
    }
    std::wstring names;
    for (const EsdImage& image : images) {
        if (image.index >= esdtoiso::kFirstEdition) {
            names += (names.empty() ? L"" : esdtoiso::kEditionSeparator) + EditionName(images, image.index);
        }
    }
    return names.empty() ? esdtoiso::kEveryEdition : names;
}

EsdOutcome ConvertEsd(ConvertESDToISOWithOptions_Fn convert, const Options& options, const LogExcerpt& log)
{
    const std::vector<EsdImage> images = ReadEsdImages(options.esd);
    EsdTimeEstimate estimate(EsdStages(images, options.edition, options.allEditions), [] { return GetTickCount64(); });
    // The library echoes into the log, so the bar has the console to itself.
    ConsoleSink sink({}, &estimate);
    sink.HoldFailures();
    EsdIsoOptions esdOptions = {sizeof(EsdIsoOptions), kEsdIsoQuiet, options.edition, 0, &sink};
    esdOptions.flags |= (options.uefi ? kEsdIsoUefi : 0) | (options.allEditions ? kEsdIsoAllEditions : 0);
    const bool ok = convert(options.esd.c_str(), options.iso.c_str(), &esdOptions);
    sink.Finish();
    if (ok) {
        PrintLine(MadeLine(esdtoiso::kInstallIsoWritten, options.iso, FileSize(options.iso)) +
                  esdtoiso::kEditionsPrefix + EditionNames(images, options.edition, options.allEditions));
        return EsdOutcome::Done;
    }
    if (sink.Cancelled()) {
        return EsdOutcome::Cancelled;
    }
    const std::string cause = ToolCauseInLog(log.Added(std::numeric_limits<size_t>::max()));
    if (!cause.empty()) {
        std::fprintf(stderr, "tarnwick: %s\n", cause.c_str());
        std::fwprintf(stderr, L"Log file: %ls\n", log.path().c_str());
        return EsdOutcome::ToolFailed;
    }
    std::fputs(sink.HeldFailure().c_str(), stderr);
    return EsdOutcome::Failed;
}

}  // namespace host
