/* A C host: proves the public header compiles as C and that MakePEFromList
   is reachable through its typedef by its undecorated name. */
#include "TarnwickMedia.h"

#include <windows.h>

int CallMakePEFromList(const wchar_t* const* sources, uint32_t count, const wchar_t* startupExe,
                       int productionType, const wchar_t* target, IProgressSink* sink)
{
    HMODULE dll = LoadLibraryW(L"TarnwickMedia.dll");
    MakePEFromList_Fn makePE;
    int result;
    if (!dll) {
        return -1;
    }
    makePE = (MakePEFromList_Fn)(void*)GetProcAddress(dll, "MakePEFromList");
    result = makePE ? (makePE(sources, count, startupExe, productionType, target, sink) ? 1 : 0) : -1;
    FreeLibrary(dll);
    return result;
}
