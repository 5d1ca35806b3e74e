#include "TarnwickMedia.h"

#include "../common/LogFile.h"
#include "../pemaker/PEMaker.h"

#include <exception>

namespace {

bool RunMakePE(const char* function, const std::vector<std::wstring>& appSources, const wchar_t* startupExe,
               int productionType, const wchar_t* target, IProgressSink* sink)
{
    try {
        CPEMaker maker;
        return maker.CreatePE(appSources, startupExe, productionType, target, sink);
    } catch (const std::exception& error) {
        TW_LOG(function, "%s", error.what());
    } catch (...) {
        TW_LOG(function, "unexpected error");
    }
    return false;
}

}  // namespace

TARNWICK_API bool MakePE(const std::vector<std::wstring>* appSources, const wchar_t* startupExe,
                         int productionType, const wchar_t* target, IProgressSink* sink)
{
    const std::vector<std::wstring> none;
    return RunMakePE("MakePE", appSources ? *appSources : none, startupExe, productionType, target, sink);
}

TARNWICK_API bool MakePEFromList(const wchar_t* const* appSources, uint32_t count, const wchar_t* startupExe,
                                 int productionType, const wchar_t* target, IProgressSink* sink)
{
    const char kFunction[] = "MakePEFromList";
    std::vector<std::wstring> sources;
    try {
        if (appSources) {
            sources.reserve(count);
            for (uint32_t i = 0; i < count; ++i) {
                sources.emplace_back(appSources[i] ? appSources[i] : L"");
            }
        }
    } catch (...) {
        TW_LOG(kFunction, "out of memory for the source list");
        return false;
    }
    return RunMakePE(kFunction, sources, startupExe, productionType, target, sink);
}
