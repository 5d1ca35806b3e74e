/* An integrator's C host, written from the release zip's guide alone and run
   from the installation the guide lays out around it. It calls all eight
   exports and prints each result, 1 or 0, with what its sink received. */
#include <TarnwickMedia.h>

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

typedef struct Sink {
    IProgressSink base;
    char seen[512];
} Sink;

static bool OnProgress(IProgressSink* self, const ProgressInfo* info)
{
    Sink* sink = (Sink*)self;
    const size_t used = strlen(sink->seen);
    if (info->state == 3) {
        snprintf(sink->seen + used, sizeof sink->seen - used, " failed: %s", info->message);
    } else {
        snprintf(sink->seen + used, sizeof sink->seen - used, " %llu", (unsigned long long)info->current);
    }
    return true;
}

static bool ShouldContinue(IProgressSink* self) { (void)self; return true; }

static const IProgressSinkVtbl kSinkSlots = {NULL, OnProgress, NULL, NULL, NULL, ShouldContinue};
static Sink sink = {{&kSinkSlots}, ""};

/* MakePE's std::vector<std::wstring> in the DLL's libstdc++ layout, as "The
   binary contract" gives it; the library only reads it. */
typedef struct LibstdcxxWString {
    const wchar_t* data;
    uint64_t length;
    uint64_t capacityOrInline[2];
} LibstdcxxWString;
typedef struct LibstdcxxVector {
    const LibstdcxxWString *begin, *end, *endOfStorage;
} LibstdcxxVector;
typedef bool (*MakePEFromC_Fn)(const LibstdcxxVector* appSources, const wchar_t* startupExe, int productionType,
                               const wchar_t* target, IProgressSink* sink);

static void Report(const char* name, bool result)
{
    printf("%s %d%s\n", name, result ? 1 : 0, sink.seen);
    fflush(stdout);
    sink.seen[0] = '\0';
}

/* The application is the installation itself, started from its own program;
   the ISOs go below the current folder. */
int main(void)
{
    wchar_t program[MAX_PATH], folder[MAX_PATH], listIso[MAX_PATH], vectorIso[MAX_PATH];
    GetModuleFileNameW(NULL, program, MAX_PATH);
    wcscpy(folder, program);
    *wcsrchr(folder, L'\\') = L'\0';
    CreateDirectoryW(_wfullpath(listIso, L"list-iso", MAX_PATH), NULL);
    CreateDirectoryW(_wfullpath(vectorIso, L"vector-iso", MAX_PATH), NULL);
    const wchar_t* sources[] = {folder};
    const LibstdcxxWString source = {folder, wcslen(folder), {wcslen(folder), 0}};
    const LibstdcxxVector vector = {&source, &source + 1, &source + 1};
    const MakePEFromC_Fn makePE =
        (MakePEFromC_Fn)(void*)GetProcAddress(GetModuleHandleW(L"TarnwickMedia.dll"), "MakePE");

    Report("ConfigureBootWim", ConfigureBootWim(&sink.base));
    Report("MakePEFromList", MakePEFromList(sources, 1, program, kMakePEWriteIso, listIso, &sink.base));
    Report("MakePE", makePE && makePE(&vector, program, kMakePEWriteIso, vectorIso, &sink.base));
    const MakePEOptions peOptions = {sizeof(MakePEOptions), 4, NULL, 0, 0, &sink.base};
    Report("MakePEWithOptions", MakePEWithOptions(sources, 1, program, kMakePEWriteIso, listIso, &peOptions));
    Report("ConvertESDToISO", ConvertESDToISO(L"missing.esd", L"missing.iso"));
    Report("ConvertESDToISOEx", ConvertESDToISOEx(L"missing.esd", L"missing.iso", kEsdIsoUefi));
    const EsdIsoOptions options = {sizeof(EsdIsoOptions), kEsdIsoUefi | kEsdIsoAllEditions, 0, 0, &sink.base};
    Report("ConvertESDToISOWithOptions", ConvertESDToISOWithOptions(L"missing.esd", L"missing.iso", &options));
    Report("ExtractWinreFromRecoveryPartition", ExtractWinreFromRecoveryPartition(NULL));
    return 0;
}
