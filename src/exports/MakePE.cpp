#include "TarnwickMedia.h"

#include "../common/LogFile.h"
#include "../pemaker/PEMaker.h"

#include <exception>

namespace {
const char kFunction[] = "MakePE";
}

TARNWICK_API bool MakePE(const std::vector<std::wstring>* appSources, const wchar_t* startupExe,
                         int productionType, const wchar_t* target, IProgressSink* sink)
{
    try {
        const std::vector<std::wstring> none;
        CPEMaker maker;
        return maker.CreatePE(appSources ? *appSources : none, startupExe, productionType, target, sink);
    } catch (const std::exception& error) {
        TW_LOG(kFunction, "%s", error.what());
    } catch (...) {
        TW_LOG(kFunction, "unexpected error");
    }
    return false;
}
