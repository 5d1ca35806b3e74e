#include "TarnwickMedia.h"

#include "../common/LogFile.h"
#include "../esd/EsdConstants.h"
#include "../esd/EsdConverter.h"

#include <exception>

TARNWICK_API bool ConvertESDToISO(const wchar_t* esdPath, const wchar_t* isoPath)
{
    // Null paths are refused up front rather than dereferenced.
    if (!esdPath || !isoPath) {
        TW_LOG("ConvertESDToISO", esd::kLogConvertFailed, "Error: null path argument");
        return false;
    }
    try {
        CESDConverter converter;
        converter.setWimlibPath(esd::kDefaultWimlibPath);
        converter.setCdimagePath(esd::kDefaultCdimagePath);
        converter.enableVerbose();
        if (!converter.convert(esdPath, isoPath, esd::kIsoLabel)) {
            TW_LOG("ConvertESDToISO", esd::kLogConvertFailed, WideToAnsi(converter.getStatusMessage()).c_str());
            return false;
        }
        return true;
    } catch (const std::exception& error) {
        TW_LOG("ConvertESDToISO", esd::kLogConvertFailed, error.what());
    } catch (...) {
        TW_LOG("ConvertESDToISO", esd::kLogConvertFailed, "unexpected error");
    }
    return false;
}
