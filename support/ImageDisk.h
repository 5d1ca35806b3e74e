#pragma once

#include <windows.h>

// What a host needs to run the recovery extraction on image files under
// Wine, which refuses the drive geometry query on a partition device.

// Replaces module's import of function from dll (case-insensitive) with
// replacement; false when the module does not import it.
bool PatchImport(HMODULE module, const char* dll, const char* function, void* replacement);

// DeviceIoControl that answers the drive geometry query for an image file
// from its size in sectors of 512 bytes; everything else goes to the system.
BOOL WINAPI ImageDeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                                 LPDWORD returned, LPOVERLAPPED overlapped);

// Geometry queries ImageDeviceIoControl has answered or refused so far.
unsigned ImageGeometryQueries();
