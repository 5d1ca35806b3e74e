#include "DeviceSlots.h"

#include <windows.h>

typedef void (*Slot)(void);

/* The interface's 13 slots, then the device's own IsOpen. */
enum {
    DESTROY, OPEN, CLOSE, READ_SECTORS, WRITE_SECTORS, SECTOR_SIZE, SECTOR_COUNT, QUERY_A, QUERY_B, NOTIFY, QUERY_C,
    LAST_ERROR, FLUSH, IS_OPEN
};

static Slot At(void* device, int slot)
{
    return (*(const Slot* const*)device)[slot];
}

static uint64_t CallBool(void* device, int slot)
{
    return ((BOOL (*)(void*))At(device, slot))(device) != 0;
}

static uint64_t CallInt(void* device, int slot)
{
    return (uint64_t)((int (*)(void*))At(device, slot))(device);
}

static uint64_t Read(void* device, void* into, uint64_t first, uint64_t count)
{
    return ((BOOL (*)(void*, void*, uint64_t, uint64_t))At(device, READ_SECTORS))(device, into, first, count) != 0;
}

void CallDeviceSlots(void* device, void* read, const void* write, uint64_t answers[DEVICE_SLOT_ANSWERS])
{
    uint64_t* answer = answers;
    uint64_t sectors;
    *answer++ = CallBool(device, IS_OPEN);
    *answer++ = CallBool(device, OPEN);
    *answer++ = CallBool(device, OPEN);
    *answer++ = CallBool(device, IS_OPEN);
    *answer++ = ((uint32_t (*)(void*))At(device, SECTOR_SIZE))(device);
    *answer++ = sectors = ((uint64_t (*)(void*))At(device, SECTOR_COUNT))(device);
    *answer++ = CallInt(device, QUERY_A);
    *answer++ = CallInt(device, QUERY_B);
    *answer++ = CallInt(device, QUERY_C);
    ((void (*)(void*, uint32_t))At(device, NOTIFY))(device, 0x5A);
    *answer++ = Read(device, read, 5, 0);
    *answer++ = Read(device, read, sectors - 1, 2);
    *answer++ = Read(device, NULL, 0, 1);
    *answer++ = Read(device, read, 10, 3);
    *answer++ = ((BOOL (*)(void*, const void*, uint64_t, uint64_t))At(device, WRITE_SECTORS))(device, write, 7, 1) != 0;
    *answer++ = CallBool(device, FLUSH);
    *answer++ = ((uint64_t (*)(void*))At(device, LAST_ERROR))(device);
    *answer++ = CallBool(device, CLOSE);
    *answer++ = CallBool(device, CLOSE);
    *answer++ = CallBool(device, IS_OPEN);
}

void* DestroyDeviceBySlot(void* device, unsigned int flags)
{
    return ((void* (*)(void*, unsigned int))At(device, DESTROY))(device, flags);
}
