#include "TarnwickMedia.h"

#include "../common/LogFile.h"
#include "../common/ProgressReport.h"
#include "../common/WorkFolder.h"
#include "../esd/EsdConstants.h"
#include "../esd/EsdConverter.h"

#include <exception>
#include <string>

namespace {

// What an export asks of the one conversion behind all three.
struct Request {
    uint32_t flags;
    uint32_t edition;        // 0: the default image
    bool watched;            // tools read for progress and silence, the sink asked
    IProgressSink* sink;     // null: no records, no cancellation
};

// Runs the conversion; a failure logs the same text whichever export started
// it, under that export's name, and goes to the sink as one failure record
// unless the sink itself cancelled.
bool Run(const char* function, const wchar_t* esdPath, const wchar_t* isoPath, const Request& request)
{
    const char* const failureFormat = esd::kLogConvertFailed;
    try {
        const unsigned reclaimed = ReclaimAbandonedWorkFolders();
        if (reclaimed > 0) {
            TW_LOG(function, esd::kLogWorkFoldersReclaimed, reclaimed);
        }
        CESDConverter converter;
        converter.setWimlibPath(esd::kDefaultWimlibPath);
        converter.setCdimagePath(esd::kDefaultCdimagePath);
        converter.enableVerbose();
        if (request.flags & kEsdIsoQuiet) {
            converter.echoToLog();
        }
        if (request.flags & kEsdIsoUefi) {
            converter.enableUefi();
        }
        if (request.watched) {
            converter.watchTools(request.sink);
            converter.checkHeader();
        }
        if (request.flags & kEsdIsoAllEditions) {
            converter.enableAllEditions();
        } else if (request.edition != 0) {
            converter.selectEdition(request.edition);
        }
        if (converter.convert(esdPath, isoPath, esd::kIsoLabel)) {
            return true;
        }
        const std::string status = WideToAnsi(converter.getStatusMessage());
        TW_LOG(function, failureFormat, status.c_str());
        if (!converter.wasCancelled()) {
            progress::Report(request.sink, 0, 0, status.c_str());
        }
    } catch (const std::exception& error) {
        TW_LOG(function, failureFormat, error.what());
        progress::Report(request.sink, 0, 0, error.what());
    } catch (...) {
        TW_LOG(function, failureFormat, esd::kErrorUnexpected);
        progress::Report(request.sink, 0, 0, esd::kErrorUnexpected);
    }
    return false;
}

// The two design-era exports, refused up front (before any output, folder or
// tool) under refusalFormat.
bool Convert(const char* function, const char* refusalFormat, const wchar_t* esdPath, const wchar_t* isoPath,
             uint32_t flags)
{
    if (!esdPath || !isoPath) {
        TW_LOG(function, refusalFormat, esd::kErrorNullPath);
        return false;
    }
    if (flags & ~static_cast<uint32_t>(kEsdIsoUefi)) {
        TW_LOG(function, refusalFormat, esd::kErrorUnknownFlags);
        return false;
    }
    return Run(function, esdPath, isoPath, Request{flags, 0, false, nullptr});
}

// Why the options cannot be run, in the order checked; null when they can.
const char* RefusalOf(const wchar_t* esdPath, const wchar_t* isoPath, const EsdIsoOptions& options)
{
    if (!esdPath || !isoPath) {
        return esd::kErrorNullPath;
    }
    if (options.flags & ~static_cast<uint32_t>(kEsdIsoUefi | kEsdIsoAllEditions | kEsdIsoQuiet)) {
        return esd::kErrorUnknownFlags;
    }
    if (!(options.flags & kEsdIsoAllEditions) && options.edition != 0 && options.edition < esd::kFirstEditionImage) {
        return esd::kErrorInvalidEdition;
    }
    return nullptr;
}

}  // namespace

TARNWICK_API bool ConvertESDToISO(const wchar_t* esdPath, const wchar_t* isoPath)
{
    return Convert(esd::kConvertFunction, esd::kLogConvertFailed, esdPath, isoPath, 0);
}

TARNWICK_API bool ConvertESDToISOEx(const wchar_t* esdPath, const wchar_t* isoPath, uint32_t flags)
{
    return Convert(esd::kConvertExFunction, esd::kLogConvertExFailed, esdPath, isoPath, flags);
}

TARNWICK_API bool ConvertESDToISOWithOptions(const wchar_t* esdPath, const wchar_t* isoPath,
                                             const EsdIsoOptions* options)
{
    const char* const function = esd::kConvertWithOptionsFunction;
    // The sink of options that are not what they claim is not to be trusted.
    if (!options || options->size != esd::kOptionsSize || options->reserved != 0) {
        TW_LOG(function, esd::kLogConvertWithOptionsFailed, esd::kErrorInvalidOptions);
        return false;
    }
    const char* const refusal = RefusalOf(esdPath, isoPath, *options);
    if (refusal) {
        TW_LOG(function, esd::kLogConvertWithOptionsFailed, refusal);
        progress::Report(options->sink, 0, 0, refusal);
        return false;
    }
    return Run(function, esdPath, isoPath, Request{options->flags, options->edition, true, options->sink});
}
