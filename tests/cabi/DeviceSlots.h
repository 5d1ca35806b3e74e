/* The host's sector device called from C by slot number only. */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct DeviceSlotPlan {
    uint64_t readFirst;
    uint64_t readCount;
    void* readInto;        /* readCount sectors, read before the write */
    uint64_t writeFirst;
    const void* writeFrom; /* one sector */
    uint32_t event;        /* handed to Notify */
} DeviceSlotPlan;

/* Answers in call order; BOOL results as int. */
typedef struct DeviceSlotResults {
    int openBefore;        /* slot 13 */
    int opened;            /* slot 1 */
    int openAfter;         /* slot 13 */
    uint32_t sectorSize;   /* slot 5 */
    uint64_t sectorCount;  /* slot 6 */
    int queryA;            /* slot 7 */
    int queryB;            /* slot 8 */
    int queryC;            /* slot 10 */
    int read;              /* slot 3, after Notify (slot 9) */
    int written;           /* slot 4 */
    int flushed;           /* slot 12 */
    uint64_t lastError;    /* slot 11 */
    int closed;            /* slot 2 */
    int openAfterClose;    /* slot 13 */
} DeviceSlotResults;

void CallDeviceSlots(void* device, const DeviceSlotPlan* plan, DeviceSlotResults* results);
/* Slot 0. */
void* DestroyDeviceBySlot(void* device, unsigned int flags);

#ifdef __cplusplus
}
#endif
