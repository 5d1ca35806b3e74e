/* A C host: proves the public header compiles as C, that MakePEFromList is
   reachable through its typedef by its undecorated name, and that a sink
   written in C gets the records and cancels. */
#include "TarnwickMedia.h"

#include <windows.h>

/* Hands each record on to a C++ sink through the header's C view of it; cancels
   from check cancelAt on (from 1; 0: never), as the C++ test sink does. */
typedef struct ForwardingSinkC {
    IProgressSink base;
    IProgressSink* records;
    int checks;
    int cancelAt;
} ForwardingSinkC;

static bool Forward(IProgressSink* self, const ProgressInfo* info)
{
    IProgressSink* records = ((ForwardingSinkC*)self)->records;
    return records->lpVtbl->OnProgress(records, info);
}

static bool ContinueUntilCancelled(IProgressSink* self)
{
    ForwardingSinkC* sink = (ForwardingSinkC*)self;
    return ++sink->checks < sink->cancelAt || sink->cancelAt == 0;
}

/* The host's own slots stay null: the library must never call them. */
static const IProgressSinkVtbl kForwardingSlots = {NULL, Forward, NULL, NULL, NULL, ContinueUntilCancelled};

int CallMakePEFromList(const wchar_t* const* sources, uint32_t count, const wchar_t* startupExe, int productionType,
                       const wchar_t* target, int cancelAt, IProgressSink* records)
{
    ForwardingSinkC sink = {{&kForwardingSlots}, records, 0, cancelAt};
    HMODULE dll = LoadLibraryW(L"TarnwickMedia.dll");
    MakePEFromList_Fn makePE = dll ? (MakePEFromList_Fn)(void*)GetProcAddress(dll, "MakePEFromList") : NULL;
    int result = makePE ? (makePE(sources, count, startupExe, productionType, target, &sink.base) ? 1 : 0) : -1;
    if (dll) {
        FreeLibrary(dll);
    }
    return result;
}
