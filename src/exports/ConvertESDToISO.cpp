#include "TarnwickMedia.h"

#include "../common/LogFile.h"
#include "../esd/EsdConstants.h"
#include "../esd/EsdConverter.h"

#include <exception>

namespace {

// The one conversion behind both exports. function names the export in its
// log entries and refusalFormat its refusals; a conversion that fails logs
// the same text whichever export started it.
bool Convert(const char* function, const char* refusalFormat, const wchar_t* esdPath, const wchar_t* isoPath,
             uint32_t flags)
{
    const char* const failureFormat = esd::kLogConvertFailed;
    // Refused up front, before any output, folder or tool.
    if (!esdPath || !isoPath) {
        TW_LOG(function, refusalFormat, esd::kErrorNullPath);
        return false;
    }
    if (flags & ~static_cast<uint32_t>(kEsdIsoUefi)) {
        TW_LOG(function, refusalFormat, esd::kErrorUnknownFlags);
        return false;
    }
    try {
        CESDConverter converter;
        converter.setWimlibPath(esd::kDefaultWimlibPath);
        converter.setCdimagePath(esd::kDefaultCdimagePath);
        converter.enableVerbose();
        if (flags & kEsdIsoUefi) {
            converter.enableUefi();
        }
        if (!converter.convert(esdPath, isoPath, esd::kIsoLabel)) {
            TW_LOG(function, failureFormat, WideToAnsi(converter.getStatusMessage()).c_str());
            return false;
        }
        return true;
    } catch (const std::exception& error) {
        TW_LOG(function, failureFormat, error.what());
    } catch (...) {
        TW_LOG(function, failureFormat, esd::kErrorUnexpected);
    }
    return false;
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
