// Public interface of TarnwickMedia.dll for host applications.
//
// A host either links the import library and calls the functions below, or
// loads the DLL with LoadLibrary and looks them up by their undecorated names
// (the *_Fn typedefs match them).
#pragma once

#include <wchar.h>

#ifdef TARNWICKMEDIA_BUILD
#define TARNWICK_API extern "C" __declspec(dllexport)
#else
#define TARNWICK_API extern "C" __declspec(dllimport)
#endif

// Converts a Windows installation ESD into a bootable installation ISO with
// the volume label "Windows". Tools are run from "tools\" relative to the
// current directory. Returns false on failure; the reason goes to the log
// file "tarnwick.log" in the current directory.
TARNWICK_API bool ConvertESDToISO(const wchar_t* esdPath, const wchar_t* isoPath);
typedef bool (*ConvertESDToISO_Fn)(const wchar_t* esdPath, const wchar_t* isoPath);
