/* A C host of TarnwickMedia: calls every export once and prints what each
   returned and every record its sink received. A key pressed while a call
   runs (or a byte of a redirected standard input) cancels that call.
     sample_c OUTPUT-FOLDER [ESD]
   It puts itself on the media: its own folder is the application, itself the
   program WinPE starts. The PE folder and tools\ lie beside it. */
#include <TarnwickMedia.h>

#include <windows.h>

#include <conio.h>
#include <stdio.h>
#include <wchar.h>

typedef struct Sink {
    IProgressSink base; /* first: the library sees only this */
    bool cancelled;
} Sink;

/* A key on a console; with standard input redirected, a byte of it: from a
   pipe only once one is there, so that the call goes on meanwhile. */
static bool KeyPressed(void)
{
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    const DWORD type = GetFileType(input);
    DWORD count = 0;
    char key;
    if (type == FILE_TYPE_CHAR) {
        return _kbhit() && _getch() >= 0;
    }
    if (type == FILE_TYPE_PIPE && !(PeekNamedPipe(input, NULL, 0, NULL, &count, NULL) && count > 0)) {
        return false;
    }
    return ReadFile(input, &key, 1, &count, NULL) && count == 1;
}

static bool OnProgress(IProgressSink* self, const ProgressInfo* info)
{
    (void)self;
    if (info->state == 3) {
        printf("  failure: %s\n", info->message);
    } else {
        printf("  progress %llu%%\n", (unsigned long long)info->current);
    }
    return true;
}

/* Asked between steps and, by the WithOptions exports, every 250 ms while a tool runs. */
static bool ShouldContinue(IProgressSink* self)
{
    Sink* sink = (Sink*)self;
    if (!sink->cancelled && KeyPressed()) {
        sink->cancelled = true;
        printf("  key pressed: cancelling\n");
    }
    return !sink->cancelled;
}

/* The library never calls the host's own slots 1, 3, 4 and 5. */
static const IProgressSinkVtbl kSinkSlots = {NULL, OnProgress, NULL, NULL, NULL, ShouldContinue};
static Sink sink = {{&kSinkSlots}, false};

static void Report(const char* name, bool ok)
{
    printf("%s: %s\n", name, ok ? "ok" : sink.cancelled ? "cancelled" : "failed");
    fflush(stdout);
    sink.cancelled = false;
}

/* MakePE takes a std::vector<std::wstring>, which C can only build in the
   DLL's own layout (libstdc++: data, length, capacity). C hosts normally
   call MakePEFromList, which does the same from a plain array. */
typedef struct DllWString {
    const wchar_t* data;
    uint64_t length;
    uint64_t capacityOrInline[2];
} DllWString;
typedef struct DllVector {
    const DllWString *begin, *end, *endOfStorage;
} DllVector;
typedef bool (*MakePEFromC_Fn)(const DllVector* appSources, const wchar_t* startupExe, int productionType,
                               const wchar_t* target, IProgressSink* sink);

int wmain(int argc, wchar_t** argv)
{
    wchar_t program[MAX_PATH], folder[MAX_PATH], output[MAX_PATH], iso[MAX_PATH], winre[MAX_PATH];
    if (argc < 2 || !_wfullpath(output, argv[1], MAX_PATH)) {
        fprintf(stderr, "usage: sample_c OUTPUT-FOLDER [ESD]\n");
        return 2;
    }
    const wchar_t* esd = argc > 2 ? argv[2] : L"install.esd";
    swprintf(iso, MAX_PATH, L"%ls\\windows.iso", output);
    swprintf(winre, MAX_PATH, L"%ls\\winre.wim", output);
    GetModuleFileNameW(NULL, program, MAX_PATH);
    wcscpy(folder, program);
    *wcsrchr(folder, L'\\') = L'\0';
    CreateDirectoryW(output, NULL);

    const uint32_t version = TarnwickGetVersion();
    printf("TarnwickMedia %u.%u.%u (header %d.%d.%d)\n", version >> 16, (version >> 8) & 0xff, version & 0xff,
           TARNWICK_VERSION_MAJOR, TARNWICK_VERSION_MINOR, TARNWICK_VERSION_PATCH);
    if (version >> 16 != TARNWICK_VERSION_MAJOR) {
        fprintf(stderr, "TarnwickMedia.dll is of another major version than TarnwickMedia.h\n");
        return 1;
    }

    const wchar_t* sources[] = {folder};
    Report("ConfigureBootWim", ConfigureBootWim(&sink.base));
    Report("MakePEFromList", MakePEFromList(sources, 1, program, kMakePEWriteIso, output, &sink.base));

    const DllWString source = {folder, wcslen(folder), {wcslen(folder), 0}};
    const DllVector vector = {&source, &source + 1, &source + 1};
    const MakePEFromC_Fn makePE =
        (MakePEFromC_Fn)(void*)GetProcAddress(GetModuleHandleW(L"TarnwickMedia.dll"), "MakePE");
    Report("MakePE", makePE && makePE(&vector, program, kMakePEWriteIso, output, &sink.base));

    const MakePEOptions peOptions = {sizeof(MakePEOptions), kMakePENetwork, NULL, 0, 0, &sink.base};
    Report("MakePEWithOptions", MakePEWithOptions(sources, 1, program, kMakePEWriteIso, output, &peOptions));

    Report("ConvertESDToISO", ConvertESDToISO(esd, iso));
    Report("ConvertESDToISOEx", ConvertESDToISOEx(esd, iso, kEsdIsoUefi));
    const EsdIsoOptions esdOptions = {sizeof(EsdIsoOptions), kEsdIsoUefi | kEsdIsoAllEditions, 0, 0, &sink.base};
    Report("ConvertESDToISOWithOptions", ConvertESDToISOWithOptions(esd, iso, &esdOptions));

    Report("ExtractWinreFromRecoveryPartition", ExtractWinreFromRecoveryPartition(winre));
    return 0;
}
