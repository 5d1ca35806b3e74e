#include "TarnwickMedia.h"

#include "../common/LogFile.h"
#include "../pemaker/PEMaker.h"

#include <exception>

namespace {
const char kFunction[] = "ConfigureBootWim";
}

TARNWICK_API bool ConfigureBootWim(IProgressSink* sink)
{
    try {
        CPEMaker maker;
        return maker.ConfigureBootWim(sink);
    } catch (const std::exception& error) {
        TW_LOG(kFunction, "%s", error.what());
    } catch (...) {
        TW_LOG(kFunction, "unexpected error");
    }
    return false;
}
