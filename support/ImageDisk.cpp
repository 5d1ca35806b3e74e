#include "ImageDisk.h"

#include <winioctl.h>

#include <cstring>

namespace {

const DWORD kSectorBytes = 512;
const DWORD kSectorsPerTrack = 63;
const DWORD kTracksPerCylinder = 255;

unsigned g_queries = 0;

}  // namespace

bool PatchImport(HMODULE module, const char* dll, const char* function, void* replacement)
{
    BYTE* base = reinterpret_cast<BYTE*>(module);
    const IMAGE_NT_HEADERS* nt =
        reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* descriptor = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         descriptor->Name != 0; ++descriptor) {
        if (_stricmp(reinterpret_cast<const char*>(base + descriptor->Name), dll) != 0) {
            continue;
        }
        auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + descriptor->FirstThunk);
        auto* name = reinterpret_cast<IMAGE_THUNK_DATA*>(
            base + (descriptor->OriginalFirstThunk ? descriptor->OriginalFirstThunk : descriptor->FirstThunk));
        for (; name->u1.AddressOfData != 0; ++name, ++slot) {
            if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal)) {
                continue;
            }
            const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) {
                continue;
            }
            DWORD previous = 0;
            VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, PAGE_READWRITE, &previous);
            slot->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, previous, &previous);
            return true;
        }
    }
    return false;
}

BOOL WINAPI ImageDeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                                 LPDWORD returned, LPOVERLAPPED overlapped)
{
    if (code != IOCTL_DISK_GET_DRIVE_GEOMETRY_EX) {
        return DeviceIoControl(device, code, in, inSize, out, outSize, returned, overlapped);
    }
    ++g_queries;
    LARGE_INTEGER size;
    if (!out || outSize < sizeof(DISK_GEOMETRY_EX) || !GetFileSizeEx(device, &size)) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    DISK_GEOMETRY_EX* geometry = static_cast<DISK_GEOMETRY_EX*>(out);
    geometry->Geometry.MediaType = FixedMedia;
    geometry->Geometry.BytesPerSector = kSectorBytes;
    geometry->Geometry.SectorsPerTrack = kSectorsPerTrack;
    geometry->Geometry.TracksPerCylinder = kTracksPerCylinder;
    geometry->Geometry.Cylinders.QuadPart = size.QuadPart / (kSectorBytes * kSectorsPerTrack * kTracksPerCylinder);
    geometry->DiskSize = size;
    if (returned) {
        *returned = sizeof(DISK_GEOMETRY_EX);
    }
    return TRUE;
}

unsigned ImageGeometryQueries()
{
    return g_queries;
}
