/* A volume library written in C, built as ravenfs.dll into bin/cabi/, where a
   copy of TarnwickMedia.dll imports it. It reaches the host's device only by
   slot number and hands back an object whose slot table is laid out by hand,
   so both sides of the contract meet a compiler that knows no classes.
   It reads no NTFS: its one file, /Recovery/WindowsRE/winre.wim, is the
   device's first CABI_FILE_SECTORS sectors, read through the device on demand. */
#include "CabiRecord.h"

#include <windows.h>

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#define CABI_API __declspec(dllexport)

typedef void (*Slot)(void);

/* The device's slots called here. */
enum { DEVICE_READ_SECTORS = 3, DEVICE_SECTOR_SIZE = 5, DEVICE_SECTOR_COUNT = 6 };
enum { DEVICE_QUERY_A = 7, DEVICE_QUERY_B = 8, DEVICE_QUERY_C = 10 };

/* The object's slots, 0 to 14. */
enum {
    FS_DESTROY, FS_READ_LABEL, FS_CLUSTER_BYTES, FS_CLUSTER_COUNT, FS_FIND_FIRST, FS_FIND_NEXT, FS_FIND_CLOSE,
    FS_OPEN, FS_QUERY_ATTRIBUTES, FS_READ, FS_WRITE, FS_SEEK, FS_TELL, FS_GET_SIZE, FS_CLOSE_FILE
};
_Static_assert(FS_CLOSE_FILE + 1 == CABI_FS_SLOTS, "one entry per slot");

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

typedef struct Entry {
    const wchar_t* name;
    uint32_t attributes;
} Entry;

/* Folders other than the root list "." and "..", as the system's own listings do. */
static const Entry kRoot[] = {{L"Recovery", DIRECTORY}};
static const Entry kRecovery[] = {{L".", DIRECTORY}, {L"..", DIRECTORY}, {L"WindowsRE", DIRECTORY}};
static const Entry kWindowsRe[] = {{L".", DIRECTORY}, {L"..", DIRECTORY}, {L"winre.wim", ARCHIVE}};

static const struct {
    const wchar_t* pattern;
    const Entry* entries;
    size_t count;
} kListings[] = {
    {L"/*", kRoot, sizeof kRoot / sizeof kRoot[0]},
    {L"/Recovery/*", kRecovery, sizeof kRecovery / sizeof kRecovery[0]},
    {L"/Recovery/WindowsRE/*", kWindowsRe, sizeof kWindowsRe / sizeof kWindowsRe[0]},
};
#define LISTINGS (sizeof kListings / sizeof kListings[0])

typedef struct VolumeFs {
    const Slot* slots; /* first: the host finds its slots here */
    void* device;
    uint64_t position;
    int fileOpen;
    size_t next[LISTINGS]; /* next entry of each listing, 0 while it is closed */
} VolumeFs;

static CabiRecord g_record;
static uint32_t g_refusedOpens;

static Slot DeviceSlot(void* device, int slot)
{
    return (*(const Slot* const*)device)[slot];
}

static void Called(int slot)
{
    ++g_record.slotCalls[slot];
}

static uint32_t Forbidden(int slot)
{
    Called(slot);
    ++g_record.violations;
    return 0;
}

static int Refuse(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(g_record.refusal, sizeof g_record.refusal, format, arguments);
    va_end(arguments);
    return 0;
}

static void Fill(const Entry* entry, void* data)
{
    memset(data, 0, FIND_DATA_BYTES);
    memcpy(data, &entry->attributes, sizeof entry->attributes);
    wcscpy((wchar_t*)((char*)data + FIND_NAME_OFFSET), entry->name);
}

static void* FsDestroy(VolumeFs* self, unsigned int flags)
{
    Called(FS_DESTROY);
    g_record.destroyFlags = flags;
    if (flags & 1) {
        free(self);
        return NULL;
    }
    return self;
}

static BOOL FsReadLabel(VolumeFs* self, wchar_t* label, uint32_t chars)
{
    (void)self, (void)label, (void)chars;
    return Forbidden(FS_READ_LABEL);
}

static uint32_t FsClusterBytes(VolumeFs* self)
{
    (void)self;
    return Forbidden(FS_CLUSTER_BYTES);
}

static uint64_t FsClusterCount(VolumeFs* self)
{
    (void)self;
    return Forbidden(FS_CLUSTER_COUNT);
}

static uint64_t FsFindFirst(VolumeFs* self, const wchar_t* pattern, void* data)
{
    Called(FS_FIND_FIRST);
    for (size_t i = 0; pattern && data && i < LISTINGS; ++i) {
        if (_wcsicmp(pattern, kListings[i].pattern) == 0) {
            Fill(&kListings[i].entries[0], data);
            self->next[i] = 1;
            return FIRST_LISTING_HANDLE + i;
        }
    }
    return UINT64_MAX;
}

static BOOL FsFindNext(VolumeFs* self, uint64_t handle, void* data)
{
    const uint64_t i = handle - FIRST_LISTING_HANDLE;
    Called(FS_FIND_NEXT);
    if (!data || i >= LISTINGS || self->next[i] == 0 || self->next[i] >= kListings[i].count) {
        return FALSE;
    }
    Fill(&kListings[i].entries[self->next[i]++], data);
    return TRUE;
}

static void FsFindClose(VolumeFs* self, uint64_t handle)
{
    Called(FS_FIND_CLOSE);
    if (handle - FIRST_LISTING_HANDLE < LISTINGS) {
        self->next[handle - FIRST_LISTING_HANDLE] = 0;
    }
}

static uint64_t FsOpen(VolumeFs* self, const wchar_t* path, uint32_t access, uint32_t share, uint32_t options)
{
    Called(FS_OPEN);
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

static uint32_t FsQueryAttributes(VolumeFs* self, const wchar_t* path)
{
    (void)self, (void)path;
    return Forbidden(FS_QUERY_ATTRIBUTES);
}

/* Whole sectors only, straight into the host's buffer. */
static BOOL FsRead(VolumeFs* self, uint64_t handle, void* buffer, uint32_t bytes, uint32_t* read)
{
    typedef BOOL (*ReadSectors)(void* self, void* buffer, uint64_t first, uint64_t count);
    uint64_t count = kFileBytes - self->position;
    Called(FS_READ);
    if (handle != FILE_HANDLE || !self->fileOpen || !buffer || !read || bytes % SECTOR_BYTES != 0) {
        return FALSE;
    }
    if (count > bytes) {
        count = bytes;
    }
    if (count > 0 && !((ReadSectors)DeviceSlot(self->device, DEVICE_READ_SECTORS))(
                         self->device, buffer, self->position / SECTOR_BYTES, count / SECTOR_BYTES)) {
        return FALSE;
    }
    self->position += count;
    *read = (uint32_t)count;
    return TRUE;
}

static BOOL FsWrite(VolumeFs* self, uint64_t handle, const void* buffer, uint32_t bytes, uint32_t* written)
{
    (void)self, (void)handle, (void)buffer, (void)bytes, (void)written;
    return Forbidden(FS_WRITE);
}

static BOOL FsSeek(VolumeFs* self, uint64_t handle, uint64_t offset)
{
    (void)self, (void)handle, (void)offset;
    return Forbidden(FS_SEEK);
}

static uint64_t FsTell(VolumeFs* self, uint64_t handle)
{
    (void)self, (void)handle;
    return Forbidden(FS_TELL);
}

static BOOL FsGetSize(VolumeFs* self, uint64_t handle, uint32_t* low, uint32_t* high)
{
    Called(FS_GET_SIZE);
    if (handle != FILE_HANDLE || !self->fileOpen || !low || !high) {
        return FALSE;
    }
    *low = (uint32_t)kFileBytes;
    *high = (uint32_t)(kFileBytes >> 32);
    return TRUE;
}

static void FsCloseFile(VolumeFs* self, uint64_t handle)
{
    Called(FS_CLOSE_FILE);
    if (handle == FILE_HANDLE) {
        self->fileOpen = 0;
    }
}

static const Slot kSlots[CABI_FS_SLOTS] = {
    [FS_DESTROY] = (Slot)FsDestroy,
    [FS_READ_LABEL] = (Slot)FsReadLabel,
    [FS_CLUSTER_BYTES] = (Slot)FsClusterBytes,
    [FS_CLUSTER_COUNT] = (Slot)FsClusterCount,
    [FS_FIND_FIRST] = (Slot)FsFindFirst,
    [FS_FIND_NEXT] = (Slot)FsFindNext,
    [FS_FIND_CLOSE] = (Slot)FsFindClose,
    [FS_OPEN] = (Slot)FsOpen,
    [FS_QUERY_ATTRIBUTES] = (Slot)FsQueryAttributes,
    [FS_READ] = (Slot)FsRead,
    [FS_WRITE] = (Slot)FsWrite,
    [FS_SEEK] = (Slot)FsSeek,
    [FS_TELL] = (Slot)FsTell,
    [FS_GET_SIZE] = (Slot)FsGetSize,
    [FS_CLOSE_FILE] = (Slot)FsCloseFile,
};

/* The device's fixed answers, and an NTFS boot sector at sector 0. */
static int DeviceFits(void* device)
{
    static const struct {
        int slot;
        int answer;
        const char* name;
    } kQueries[] = {
        {DEVICE_QUERY_A, 0, "QueryA (slot 7)"},
        {DEVICE_QUERY_B, 0, "QueryB (slot 8)"},
        {DEVICE_QUERY_C, 2, "QueryC (slot 10)"},
    };
    _Alignas(SECTOR_BYTES) char boot[SECTOR_BYTES];
    const uint32_t sectorSize = ((uint32_t (*)(void*))DeviceSlot(device, DEVICE_SECTOR_SIZE))(device);
    const uint64_t sectors = ((uint64_t (*)(void*))DeviceSlot(device, DEVICE_SECTOR_COUNT))(device);
    if (sectorSize != SECTOR_BYTES) {
        return Refuse("GetSectorSize (slot 5) answered %u", (unsigned)sectorSize);
    }
    if (sectors < CABI_FILE_SECTORS) {
        return Refuse("GetSectorCount (slot 6) answered %llu", (unsigned long long)sectors);
    }
    for (size_t i = 0; i < sizeof kQueries / sizeof kQueries[0]; ++i) {
        const int answer = ((int (*)(void*))DeviceSlot(device, kQueries[i].slot))(device);
        if (answer != kQueries[i].answer) {
            return Refuse("%s answered %d", kQueries[i].name, answer);
        }
    }
    if (!((BOOL (*)(void*, void*, uint64_t, uint64_t))DeviceSlot(device, DEVICE_READ_SECTORS))(device, boot, 0, 1)) {
        return Refuse("ReadSectors (slot 3) of sector 0 failed");
    }
    if (memcmp(boot + 3, "NTFS    ", 8) != 0) {
        return Refuse("sector 0 has no NTFS signature");
    }
    return 1;
}

CABI_API void* CreateVolumeFsDevice(void* device)
{
    VolumeFs* fs;
    ++g_record.creates;
    g_record.refusal[0] = '\0';
    if (!device) {
        Refuse("no device");
        return NULL;
    }
    if (!DeviceFits(device)) {
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
