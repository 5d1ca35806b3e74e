#include "WinreImageHost.h"

#include "TestSupport.h"

#include <winioctl.h>

#include <cstring>
#include <regex>

namespace winrehost {

namespace {

unsigned g_queries = 0;

std::string PrefixDevices()
{
    char prefix[MAX_PATH] = {};
    GetEnvironmentVariableA("TW_WINEPREFIX", prefix, MAX_PATH);
    return std::string(prefix) + "/dosdevices/";
}

std::string LinkName(unsigned disk, unsigned partition)
{
    return PrefixDevices() + "harddisk" + std::to_string(disk) + "partition" + std::to_string(partition);
}

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
    geometry->Geometry.BytesPerSector = 512;
    geometry->Geometry.SectorsPerTrack = 63;
    geometry->Geometry.TracksPerCylinder = 255;
    geometry->Geometry.Cylinders.QuadPart = size.QuadPart / (512 * 63 * 255);
    geometry->DiskSize = size;
    if (returned) {
        *returned = sizeof(DISK_GEOMETRY_EX);
    }
    return TRUE;
}

bool UseOwnLogFolder(const std::wstring& name)
{
    const std::wstring logs = testsupport::ExeFolder() + L"logs";
    const std::wstring folder = logs + L"\\" + name;
    CreateDirectoryW(logs.c_str(), nullptr);
    CreateDirectoryW(folder.c_str(), nullptr);
    return SetCurrentDirectoryW(folder.c_str()) != FALSE;
}

bool PrepareHost(HMODULE library)
{
    wchar_t path[32768] = {};
    GetEnvironmentVariableW(L"PATH", path, 32768);
    SetEnvironmentVariableW(L"PATH", (testsupport::ExeFolder() + L"tools;" + path).c_str());
    return PatchImport(library, "kernel32.dll", "DeviceIoControl", reinterpret_cast<void*>(&ImageDeviceIoControl));
}

unsigned GeometryQueries()
{
    return g_queries;
}

bool LinkPartition(unsigned disk, unsigned partition, const std::string& unixImage)
{
    const standin::UnixResult made = testsupport::Shell("ln -sfn '" + unixImage + "' '" + LinkName(disk, partition) + "'");
    return made.answered && made.exitCode == 0;
}

void UnlinkPartition(unsigned disk, unsigned partition)
{
    testsupport::Shell("rm -f '" + LinkName(disk, partition) + "'");
}

bool MakeNtfsImage(const std::string& unixImage, unsigned sizeMib, const std::string& commands)
{
    const standin::UnixResult made =
        testsupport::Shell(testsupport::SourceDir() + "/scripts/make-ntfs-image.sh '" + unixImage + "' " +
                           std::to_string(sizeMib) + " >/dev/null 2>&1 <<'COMMANDS'\n" + commands + "COMMANDS\n");
    return made.answered && made.exitCode == 0;
}

std::string Sha256(const std::string& unixPath)
{
    const standin::UnixResult hashed = testsupport::Shell("sha256sum < '" + unixPath + "'");
    return hashed.answered && hashed.exitCode == 0 ? hashed.output.substr(0, 64) : std::string();
}

std::string MakeRandomFile(const std::string& unixPath, unsigned long size)
{
    const standin::UnixResult made =
        testsupport::Shell("head -c " + std::to_string(size) + " /dev/urandom > '" + unixPath + "'");
    return made.answered && made.exitCode == 0 ? Sha256(unixPath) : std::string();
}

std::string LoggedMessages(const std::string& logText, const std::string& functions)
{
    const std::regex line("\\[Tarnwick\\][0-9: -]{19}    (" + functions + "):[0-9]+ ([^\r\n]*)\r?\n");
    std::string messages;
    for (auto it = std::sregex_iterator(logText.begin(), logText.end(), line); it != std::sregex_iterator(); ++it) {
        messages += (*it)[1].str() + ": " + (*it)[2].str() + "\n";
    }
    return messages;
}

}  // namespace winrehost
