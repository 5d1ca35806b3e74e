// The benchmarks' caller of the conversion exports, so that the series of
// both start the same program from the same folder:
//   convert plain ESD ISO     ConvertESDToISO
//   convert options ESD ISO   ConvertESDToISOWithOptions with a sink that
//                             takes the records, as a host's would
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
    if (!dll || (mode != L"plain" && mode != L"options")) {
        std::fputs("usage: convert plain|options ESD ISO, beside TarnwickMedia.dll\n", stderr);
        return 2;
    }
    if (mode == L"plain") {
        const auto convert = ExportOf<ConvertESDToISO_Fn>(dll.get(), "ConvertESDToISO");
        return convert && convert(argv[2], argv[3]) ? 0 : 1;
    }
    const auto convert = ExportOf<ConvertESDToISOWithOptions_Fn>(dll.get(), "ConvertESDToISOWithOptions");
    CountingSink sink;
    EsdIsoOptions options = {sizeof(EsdIsoOptions), 0, 0, 0, &sink};
    return convert && convert(argv[2], argv[3], &options) ? 0 : 1;
}
