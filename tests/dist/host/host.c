/* An integrator's C host, written from the release zip's guide alone and run
   from the installation the guide lays out around it. It calls all six
   exports and prints each result, 1 or 0, with what its sink received. */
#include <TarnwickMedia.h>

#include <windows.h>

#include <stdio.h>
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

static bool ShouldContinue(IProgressSink* self)
{
    (void)self;
    return true;
}

static const IProgressSinkVtbl kSinkSlots = {NULL, OnProgress, NULL, NULL, NULL, ShouldContinue};

/* MakePE's std::vector<std::wstring> in the DLL's libstdc++ layout, as "The
   binary contract" gives it; the library only reads it. */
typedef struct LibstdcxxWString {
    const wchar_t* data;
    uint64_t length;
    uint64_t capacityOrInline[2];
} LibstdcxxWString;
typedef struct LibstdcxxVector {
    const LibstdcxxWString* begin;
    const LibstdcxxWString* end;
    const LibstdcxxWString* endOfStorage;
} LibstdcxxVector;
typedef bool (*MakePEFromC_Fn)(const LibstdcxxVector* appSources, const wchar_t* startupExe, int productionType,
                               const wchar_t* target, IProgressSink* sink);

static void Report(const char* name, bool result, Sink* sink)
{
    printf("%s %d%s\n", name, result ? 1 : 0, sink ? sink->seen : "");
    fflush(stdout);
    if (sink) {
        sink->seen[0] = '\0';
    }
}

/* The application is the installation itself, started from its own program;
   the ISOs go below the current folder. */
int main(void)
{
    Sink sink = {{&kSinkSlots}, ""};
    wchar_t program[MAX_PATH];
    wchar_t folder[MAX_PATH];
    wchar_t current[MAX_PATH];
    wchar_t listIso[MAX_PATH];
    wchar_t vectorIso[MAX_PATH];
    const wchar_t* sources[1];
    LibstdcxxWString source;
    LibstdcxxVector vector;
    MakePEFromC_Fn makePE;

    GetModuleFileNameW(NULL, program, MAX_PATH);
    wcscpy(folder, program);
    *wcsrchr(folder, L'\\') = L'\0';
    GetCurrentDirectoryW(MAX_PATH, current);
    swprintf(listIso, MAX_PATH, L"%ls\\list-iso", current);
    swprintf(vectorIso, MAX_PATH, L"%ls\\vector-iso", current);
    CreateDirectoryW(listIso, NULL);
    CreateDirectoryW(vectorIso, NULL);
    sources[0] = folder;
    source.data = folder;
    source.length = wcslen(folder);
    source.capacityOrInline[0] = source.length;
    source.capacityOrInline[1] = 0;
    vector.begin = &source;
    vector.end = &source + 1;
    vector.endOfStorage = &source + 1;
    makePE = (MakePEFromC_Fn)(void*)GetProcAddress(GetModuleHandleW(L"TarnwickMedia.dll"), "MakePE");

    Report("ConfigureBootWim", ConfigureBootWim(&sink.base), &sink);
    Report("MakePEFromList", MakePEFromList(sources, 1, program, kMakePEWriteIso, listIso, &sink.base), &sink);
    Report("MakePE", makePE && makePE(&vector, program, kMakePEWriteIso, vectorIso, &sink.base), &sink);
    Report("ConvertESDToISO", ConvertESDToISO(L"missing.esd", L"missing.iso"), NULL);
    Report("ConvertESDToISOEx", ConvertESDToISOEx(L"missing.esd", L"missing.iso", kEsdIsoUefi), NULL);
    Report("ExtractWinreFromRecoveryPartition", ExtractWinreFromRecoveryPartition(NULL), NULL);
    return 0;
}
