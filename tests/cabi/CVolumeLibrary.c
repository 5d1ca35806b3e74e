/* A volume library written in C, built as ravenfs.dll into bin/cabi/, where a
   copy of TarnwickMedia.dll imports it. It reaches the host's device only by
   slot number and hands back an object whose slot table is laid out by hand,
   so both sides of the contract meet a compiler that knows no classes.
   It reads no NTFS: its one file, /Recovery/WindowsRE/winre.wim, is the
   device's first CABI_FILE_SECTORS sectors, read through the device on demand. */
#include "CabiRecord.h"

#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#define CABI_API __declspec(dllexport)

typedef void (*Slot)(void);

/* The device's slots called here. */
enum { DEVICE_READ_SECTORS = 3, DEVICE_SECTOR_SIZE = 5, DEVICE_SECTOR_COUNT = 6 };

/* The object's slots, 0 to 14. */
enum {
    FS_DESTROY, FS_READ_LABEL, FS_CLUSTER_BYTES, FS_CLUSTER_COUNT, FS_FIND_FIRST, FS_FIND_NEXT, FS_FIND_CLOSE,
    FS_OPEN, FS_QUERY_ATTRIBUTES, FS_READ, FS_WRITE, FS_SEEK, FS_TELL, FS_GET_SIZE, FS_CLOSE_FILE, FS_SLOTS
};

enum {
    SECTOR_BYTES = 512,
    DIRECTORY = 0x10,
    ARCHIVE = 0x20,
    FIND_DATA_BYTES = 1128,
    FIND_NAME_OFFSET = 48,
    FILE_HANDLE = 7,
    FIRST_LISTING_HANDLE = 100
};

static const uint64_t kFileBytes = (uint64_t)CABI_FILE_SECTORS * SECTOR_BYTES;
static const wchar_t kFilePath[] = L"/Recovery/WindowsRE/winre.wim";

/* The listings, each entry in order. Folders other than the root list "."
   and "..", as the system's own listings do. */
static const struct {
    const wchar_t* pattern;
    const wchar_t* name;
    uint32_t attributes;
} kEntries[] = {
    {L"/*", L"Recovery", DIRECTORY},
    {L"/Recovery/*", L".", DIRECTORY},
    {L"/Recovery/*", L"..", DIRECTORY},
    {L"/Recovery/*", L"WindowsRE", DIRECTORY},
    {L"/Recovery/WindowsRE/*", L".", DIRECTORY},
    {L"/Recovery/WindowsRE/*", L"..", DIRECTORY},
    {L"/Recovery/WindowsRE/*", L"winre.wim", ARCHIVE},
};
#define ENTRIES (sizeof kEntries / sizeof kEntries[0])

typedef struct VolumeFs {
    const Slot* slots; /* first: the host finds its slots here */
    void* device;
    uint64_t position;
    int fileOpen;
    size_t next[ENTRIES]; /* by a listing's first entry: its next entry, 0 while it is closed */
} VolumeFs;

static CabiRecord g_record;
static uint32_t g_refusedOpens;

static Slot DeviceSlot(void* device, int slot)
{
    return (*(const Slot* const*)device)[slot];
}

static void Called(const char* what)
{
    const size_t used = strlen(g_record.calls);
    snprintf(g_record.calls + used, sizeof g_record.calls - used, used ? " %s" : "%s", what);
}

/* Every slot the host must leave alone, recorded as "!". The x64 conventions
   let one function without parameters stand for them all: the caller owns
   the arguments. */
static uint64_t FsForbidden(void)
{
    Called("!");
    return 0;
}

static void Fill(size_t entry, void* data)
{
    memset(data, 0, FIND_DATA_BYTES);
    memcpy(data, &kEntries[entry].attributes, sizeof kEntries[entry].attributes);
    wcscpy((wchar_t*)((char*)data + FIND_NAME_OFFSET), kEntries[entry].name);
}

static void* FsDestroy(VolumeFs* self, unsigned int flags)
{
    Called("0");
    g_record.destroyFlags = flags;
    if (flags & 1) {
        free(self);
        return NULL;
    }
    return self;
}

static uint64_t FsFindFirst(VolumeFs* self, const wchar_t* pattern, void* data)
{
    Called("4");
    for (size_t i = 0; pattern && data && i < ENTRIES; ++i) {
        if (_wcsicmp(pattern, kEntries[i].pattern) == 0) {
            Fill(i, data);
            self->next[i] = i + 1;
            return FIRST_LISTING_HANDLE + i;
        }
    }
    return UINT64_MAX;
}

static BOOL FsFindNext(VolumeFs* self, uint64_t handle, void* data)
{
    const uint64_t first = handle - FIRST_LISTING_HANDLE;
    Called("5");
    if (!data || first >= ENTRIES || self->next[first] == 0 || self->next[first] >= ENTRIES ||
        wcscmp(kEntries[self->next[first]].pattern, kEntries[first].pattern) != 0) {
        return FALSE;
    }
    Fill(self->next[first]++, data);
    return TRUE;
}

static void FsFindClose(VolumeFs* self, uint64_t handle)
{
    Called("6");
    if (handle - FIRST_LISTING_HANDLE < ENTRIES) {
        self->next[handle - FIRST_LISTING_HANDLE] = 0;
    }
}

static uint64_t FsOpen(VolumeFs* self, const wchar_t* path, uint32_t access, uint32_t share, uint32_t options)
{
    Called("7");
    g_record.openArguments[0] = access;
    g_record.openArguments[1] = share;
    g_record.openArguments[2] = options;
    if (!path || _wcsicmp(path, kFilePath) != 0) {
        return 0;
    }
    if (g_refusedOpens > 0) {
        --g_refusedOpens;
        return 0;
    }
    self->fileOpen = 1;
    self->position = 0;
    return FILE_HANDLE;
}

/* Whole sectors only, straight into the host's buffer. */
static BOOL FsRead(VolumeFs* self, uint64_t handle, void* buffer, uint32_t bytes, uint32_t* read)
{
    typedef BOOL (*ReadSectors)(void* self, void* buffer, uint64_t first, uint64_t count);
    const uint64_t count = kFileBytes - self->position < bytes ? kFileBytes - self->position : bytes;
    Called("9");
    if (handle != FILE_HANDLE || !self->fileOpen || bytes % SECTOR_BYTES != 0) {
        return FALSE;
    }
    if (count > 0 && !((ReadSectors)DeviceSlot(self->device, DEVICE_READ_SECTORS))(
                         self->device, buffer, self->position / SECTOR_BYTES, count / SECTOR_BYTES)) {
        return FALSE;
    }
    self->position += count;
    *read = (uint32_t)count;
    return TRUE;
}

static BOOL FsGetSize(VolumeFs* self, uint64_t handle, uint32_t* low, uint32_t* high)
{
    Called("13");
    if (handle != FILE_HANDLE || !self->fileOpen || !low || !high) {
        return FALSE;
    }
    *low = (uint32_t)kFileBytes;
    *high = (uint32_t)(kFileBytes >> 32);
    return TRUE;
}

static void FsCloseFile(VolumeFs* self, uint64_t handle)
{
    Called("14");
    if (handle == FILE_HANDLE) {
        self->fileOpen = 0;
    }
}

static const Slot kSlots[FS_SLOTS] = {
    [FS_DESTROY] = (Slot)FsDestroy,
    [FS_READ_LABEL] = (Slot)FsForbidden,
    [FS_CLUSTER_BYTES] = (Slot)FsForbidden,
    [FS_CLUSTER_COUNT] = (Slot)FsForbidden,
    [FS_FIND_FIRST] = (Slot)FsFindFirst,
    [FS_FIND_NEXT] = (Slot)FsFindNext,
    [FS_FIND_CLOSE] = (Slot)FsFindClose,
    [FS_OPEN] = (Slot)FsOpen,
    [FS_QUERY_ATTRIBUTES] = (Slot)FsForbidden,
    [FS_READ] = (Slot)FsRead,
    [FS_WRITE] = (Slot)FsForbidden,
    [FS_SEEK] = (Slot)FsForbidden,
    [FS_TELL] = (Slot)FsForbidden,
    [FS_GET_SIZE] = (Slot)FsGetSize,
    [FS_CLOSE_FILE] = (Slot)FsCloseFile,
};

CABI_API void* CreateVolumeFsDevice(void* device)
{
    const uint32_t sectorSize = ((uint32_t (*)(void*))DeviceSlot(device, DEVICE_SECTOR_SIZE))(device);
    const uint64_t sectors = ((uint64_t (*)(void*))DeviceSlot(device, DEVICE_SECTOR_COUNT))(device);
    VolumeFs* fs;
    Called("create");
    g_record.refusal[0] = '\0';
    if (sectorSize != SECTOR_BYTES || sectors < CABI_FILE_SECTORS) {
        snprintf(g_record.refusal, sizeof g_record.refusal,
                 "GetSectorSize, GetSectorCount (slots 5, 6) answered %u, %llu", (unsigned)sectorSize,
                 (unsigned long long)sectors);
        return NULL;
    }
    fs = calloc(1, sizeof *fs);
    if (fs) {
        fs->slots = kSlots;
        fs->device = device;
    }
    return fs;
}

CABI_API void CabiStart(uint32_t refusedOpens)
{
    memset(&g_record, 0, sizeof g_record);
    g_refusedOpens = refusedOpens;
}

CABI_API void CabiReadRecord(CabiRecord* record)
{
    *record = g_record;
}
