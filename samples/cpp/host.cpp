// A C++ host of TarnwickMedia: calls every export once and prints what each
// returned and every record its sink received. A key pressed while a call
// runs (or a byte of a redirected standard input) cancels that call.
//   sample_cpp OUTPUT-FOLDER [ESD]
// It puts itself on the media: its own folder is the application, itself the
// program WinPE starts. The PE folder and tools\ lie beside it.
#include <TarnwickMedia.h>

#include <windows.h>

#include <conio.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// A key on a console; with standard input redirected, a byte of it: from a
// pipe only once one is there, so that the call goes on meanwhile.
bool KeyPressed()
{
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    const DWORD type = GetFileType(input);
    if (type == FILE_TYPE_CHAR) {
        return _kbhit() && _getch() >= 0;
    }
    DWORD count = 0;
    if (type == FILE_TYPE_PIPE && !(PeekNamedPipe(input, nullptr, 0, nullptr, &count, nullptr) && count > 0)) {
        return false;
    }
    char key;
    return ReadFile(input, &key, 1, &count, nullptr) && count == 1;
}

class PrintingSink final : public IProgressSink {
public:
    bool OnProgress(const ProgressInfo* info) override
    {
        if (info->state == 3) {
            std::printf("  failure: %s\n", info->message);
        } else {
            std::printf("  progress %llu%%\n", static_cast<unsigned long long>(info->current));
        }
        return true;
    }

    // Asked between steps and, by the WithOptions exports, every 250 ms while a tool runs.
    bool ShouldContinue() override
    {
        if (!cancelled_ && KeyPressed()) {
            cancelled_ = true;
            std::printf("  key pressed: cancelling\n");
        }
        return !cancelled_;
    }

    void Report(const char* name, bool ok)
    {
        std::printf("%s: %s\n", name, ok ? "ok" : cancelled_ ? "cancelled" : "failed");
        std::fflush(stdout);
        cancelled_ = false;
    }

private:
    bool cancelled_ = false;
};

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    wchar_t full[MAX_PATH], program[MAX_PATH];
    if (argc < 2 || !_wfullpath(full, argv[1], MAX_PATH)) {
        std::fprintf(stderr, "usage: sample_cpp OUTPUT-FOLDER [ESD]\n");
        return 2;
    }
    const std::wstring output = full;
    const std::wstring esd = argc > 2 ? argv[2] : L"install.esd";
    const std::wstring iso = output + L"\\windows.iso";
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    const std::wstring folder = std::wstring(program).substr(0, std::wstring(program).rfind(L'\\'));
    CreateDirectoryW(output.c_str(), nullptr);

    const uint32_t version = TarnwickGetVersion();
    std::printf("TarnwickMedia %u.%u.%u (header %d.%d.%d)\n", version >> 16, (version >> 8) & 0xff, version & 0xff,
                TARNWICK_VERSION_MAJOR, TARNWICK_VERSION_MINOR, TARNWICK_VERSION_PATCH);
    if (version >> 16 != TARNWICK_VERSION_MAJOR) {
        std::fprintf(stderr, "TarnwickMedia.dll is of another major version than TarnwickMedia.h\n");
        return 1;
    }

    PrintingSink sink;
    const wchar_t* sources[] = {folder.c_str()};
    sink.Report("ConfigureBootWim", ConfigureBootWim(&sink));
    sink.Report("MakePEFromList", MakePEFromList(sources, 1, program, kMakePEWriteIso, output.c_str(), &sink));
#ifdef __GLIBCXX__
    // MakePE's vector crosses as is only between builds on the same standard
    // library, the DLL's libstdc++; any other host calls MakePEFromList.
    const std::vector<std::wstring> sourceVector{folder};
    sink.Report("MakePE", MakePE(&sourceVector, program, kMakePEWriteIso, output.c_str(), &sink));
#else
    std::printf("MakePE: skipped (this host's std::vector is not the DLL's)\n");
#endif
    const MakePEOptions peOptions{sizeof(MakePEOptions), kMakePENetwork, nullptr, 0, 0, &sink};
    sink.Report("MakePEWithOptions",
                MakePEWithOptions(sources, 1, program, kMakePEWriteIso, output.c_str(), &peOptions));

    sink.Report("ConvertESDToISO", ConvertESDToISO(esd.c_str(), iso.c_str()));
    sink.Report("ConvertESDToISOEx", ConvertESDToISOEx(esd.c_str(), iso.c_str(), kEsdIsoUefi));
    const EsdIsoOptions esdOptions{sizeof(EsdIsoOptions), kEsdIsoUefi | kEsdIsoAllEditions, 0, 0, &sink};
    sink.Report("ConvertESDToISOWithOptions", ConvertESDToISOWithOptions(esd.c_str(), iso.c_str(), &esdOptions));

    sink.Report("ExtractWinreFromRecoveryPartition",
                ExtractWinreFromRecoveryPartition((output + L"\\winre.wim").c_str()));
    return 0;
}
