// The benchmarks' caller of the exports, so that the series of both start
// the same program from the same folder; the sinks take the records, as a
// host's would:
//   convert plain ESD ISO              ConvertESDToISO
//   convert options ESD ISO            ConvertESDToISOWithOptions
//   convert makepe-list APP TARGET     MakePEFromList, type 2, of APP with
//                                      APP\tarnwick.exe as its start-up program
//   convert makepe-options APP TARGET  the same through MakePEWithOptions, flags 0
#include "TarnwickMedia.h"

#include "ProgramFolder.h"
#include "common/UniqueHandle.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

class CountingSink : public IProgressSink {
public:
    bool OnProgress(const ProgressInfo*) override
    {
        ++records;
        return true;
    }
    bool ShouldContinue() override { return true; }

    unsigned records = 0;
};

template <typename Fn>
Fn ExportOf(HMODULE module, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const UniqueModule dll(LoadLibraryW((plainwin::ProgramFolder() + L"TarnwickMedia.dll").c_str()));
    const std::wstring mode = argc == 4 ? argv[1] : L"";
    if (!dll || (mode != L"plain" && mode != L"options" && mode != L"makepe-list" && mode != L"makepe-options")) {
        std::fputs("usage: convert plain|options ESD ISO | makepe-list|makepe-options APP TARGET,"
                   " beside TarnwickMedia.dll\n", stderr);
        return 2;
    }
    CountingSink sink;
    if (mode == L"plain") {
        const auto convert = ExportOf<ConvertESDToISO_Fn>(dll.get(), "ConvertESDToISO");
        return convert && convert(argv[2], argv[3]) ? 0 : 1;
    }
    if (mode == L"options") {
        const auto convert = ExportOf<ConvertESDToISOWithOptions_Fn>(dll.get(), "ConvertESDToISOWithOptions");
        EsdIsoOptions options = {sizeof(EsdIsoOptions), 0, 0, 0, &sink};
        return convert && convert(argv[2], argv[3], &options) ? 0 : 1;
    }
    const std::wstring startup = std::wstring(argv[2]) + L"\\tarnwick.exe";
    const wchar_t* const sources[] = {argv[2]};
    if (mode == L"makepe-list") {
        const auto make = ExportOf<MakePEFromList_Fn>(dll.get(), "MakePEFromList");
        return make && make(sources, 1, startup.c_str(), kMakePEWriteIso, argv[3], &sink) ? 0 : 1;
    }
    const auto make = ExportOf<MakePEWithOptions_Fn>(dll.get(), "MakePEWithOptions");
    const MakePEOptions options = {sizeof(MakePEOptions), 0, nullptr, 0, 0, &sink};
    return make && make(sources, 1, startup.c_str(), kMakePEWriteIso, argv[3], &options) ? 0 : 1;
}
