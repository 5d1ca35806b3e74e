/* A C host: proves the public header compiles as C, that MakePEFromList is
   reachable through its typedef by its undecorated name, and that a sink
   written in C gets the records and cancels. */
#include "TarnwickMedia.h"

#include <windows.h>

/* Keeps the records it is sent and answers cancel from check number cancelAt
   on (counted from 1; 0: never), as the C++ test sink does. */
typedef struct RecordingSinkC {
    IProgressSink base;
    ProgressInfo* records;
    uint32_t capacity;
    uint32_t count;
    int checks;
    int cancelAt;
} RecordingSinkC;

static bool Record(IProgressSink* self, const ProgressInfo* info)
{
    RecordingSinkC* sink = (RecordingSinkC*)self;
    if (sink->count < sink->capacity) {
        sink->records[sink->count++] = *info;
    }
    return true;
}

static bool ContinueUntilCancelled(IProgressSink* self)
{
    RecordingSinkC* sink = (RecordingSinkC*)self;
    return ++sink->checks < sink->cancelAt || sink->cancelAt == 0;
}

/* The host's own slots stay null: the library must never call them. */
static const IProgressSinkVtbl kRecordingSlots = {NULL, Record, NULL, NULL, NULL, ContinueUntilCancelled};

int CallMakePEFromList(const wchar_t* const* sources, uint32_t count, const wchar_t* startupExe, int productionType,
                       const wchar_t* target, int cancelAt, ProgressInfo* records, uint32_t capacity,
                       uint32_t* recorded)
{
    RecordingSinkC sink = {{&kRecordingSlots}, records, capacity, 0, 0, cancelAt};
    HMODULE dll = LoadLibraryW(L"TarnwickMedia.dll");
    MakePEFromList_Fn makePE;
    int result;
    if (!dll) {
        return -1;
    }
    makePE = (MakePEFromList_Fn)(void*)GetProcAddress(dll, "MakePEFromList");
    result = makePE ? (makePE(sources, count, startupExe, productionType, target, &sink.base) ? 1 : 0) : -1;
    FreeLibrary(dll);
    *recorded = sink.count;
    return result;
}
