#include "TarnwickMedia.h"

#include "../common/LogFile.h"
#include "../common/ProgressReport.h"
#include "../pemaker/PEMaker.h"

#include <exception>

namespace {

constexpr uint32_t kMakePEKnownFlags = kMakePENetwork | kMakePECleanAppFolder;

// The strings of a list of count entries; a null list holds none, a null entry is empty.
std::vector<std::wstring> ListOf(const wchar_t* const* list, uint32_t count)
{
    std::vector<std::wstring> strings;
    if (list) {
        strings.reserve(count);
        for (uint32_t i = 0; i < count; ++i) {
            strings.emplace_back(list[i] ? list[i] : L"");
        }
    }
    return strings;
}

bool RunMakePE(const char* function, const std::vector<std::wstring>& appSources, const wchar_t* startupExe,
               int productionType, const wchar_t* target, IProgressSink* sink, const BuildOptions* options = nullptr)
{
    try {
        CPEMaker maker;
        return options ? maker.CreatePEWithOptions(appSources, startupExe, productionType, target, *options, sink)
                       : maker.CreatePE(appSources, startupExe, productionType, target, sink);
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
        sources = ListOf(appSources, count);
    } catch (...) {
        TW_LOG(kFunction, "out of memory for the source list");
        return false;
    }
    return RunMakePE(kFunction, sources, startupExe, productionType, target, sink);
}

TARNWICK_API bool MakePEWithOptions(const wchar_t* const* appSources, uint32_t count, const wchar_t* startupExe,
                                    int productionType, const wchar_t* target, const MakePEOptions* options)
{
    const char* const function = pemaker::kCreatePEFunction;
    // Without a struct of the size this library knows, not even its sink can be trusted.
    if (!options || options->size != sizeof(MakePEOptions) || options->reserved != 0) {
        TW_LOG(function, pemaker::kLogFormat, pemaker::kErrorInvalidOptions);
        return false;
    }
    const char* refusal = nullptr;
    if (options->flags & ~kMakePEKnownFlags) {
        refusal = pemaker::kErrorUnknownFlags;
    } else if ((!options->driverFolders && options->driverFolderCount != 0) ||
               options->driverFolderCount > pemaker::kMaxDriverFolders) {
        refusal = pemaker::kErrorInvalidOptions;
    }
    if (refusal) {
        TW_LOG(function, pemaker::kLogFormat, refusal);
        progress::Report(options->sink, 0, 0, refusal);
        return false;
    }
    BuildOptions build;
    std::vector<std::wstring> sources;
    try {
        sources = ListOf(appSources, count);
        build.driverFolders = ListOf(options->driverFolders, options->driverFolderCount);
    } catch (...) {
        TW_LOG("MakePEWithOptions", "out of memory for the source list");
        return false;
    }
    build.network = (options->flags & kMakePENetwork) != 0;
    build.cleanAppFolder = (options->flags & kMakePECleanAppFolder) != 0;
    return RunMakePE("MakePEWithOptions", sources, startupExe, productionType, target, options->sink, &build);
}
