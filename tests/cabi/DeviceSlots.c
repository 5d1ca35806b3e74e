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

static int CallBool(void* device, int slot)
{
    return ((BOOL (*)(void*))At(device, slot))(device);
}

static int CallInt(void* device, int slot)
{
    return ((int (*)(void*))At(device, slot))(device);
}

void CallDeviceSlots(void* device, const DeviceSlotPlan* plan, DeviceSlotResults* results)
{
    results->openBefore = CallBool(device, IS_OPEN);
    results->opened = CallBool(device, OPEN);
    results->openAfter = CallBool(device, IS_OPEN);
    results->sectorSize = ((uint32_t (*)(void*))At(device, SECTOR_SIZE))(device);
    results->sectorCount = ((uint64_t (*)(void*))At(device, SECTOR_COUNT))(device);
    results->queryA = CallInt(device, QUERY_A);
    results->queryB = CallInt(device, QUERY_B);
    results->queryC = CallInt(device, QUERY_C);
    ((void (*)(void*, uint32_t))At(device, NOTIFY))(device, plan->event);
    results->read = ((BOOL (*)(void*, void*, uint64_t, uint64_t))At(device, READ_SECTORS))(
        device, plan->readInto, plan->readFirst, plan->readCount);
    results->written = ((BOOL (*)(void*, const void*, uint64_t, uint64_t))At(device, WRITE_SECTORS))(
        device, plan->writeFrom, plan->writeFirst, 1);
    results->flushed = CallBool(device, FLUSH);
    results->lastError = ((uint64_t (*)(void*))At(device, LAST_ERROR))(device);
    results->closed = CallBool(device, CLOSE);
    results->openAfterClose = CallBool(device, IS_OPEN);
}

void* DestroyDeviceBySlot(void* device, unsigned int flags)
{
    return ((void* (*)(void*, unsigned int))At(device, DESTROY))(device, flags);
}
