/* The host's sector device called from C by slot number only. */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The answers, in call order, of IsOpen (slot 13), Open (1) twice, IsOpen,
   GetSectorSize (5), GetSectorCount (6), QueryA (7), QueryB (8), QueryC (10),
   then, after Notify (9), of ReadSectors (3) of no sector, of the last two
   (one beyond the end), into no buffer and of sectors 10 to 12 into read
   (three sectors long), WriteSectors (4) of sector 7 from write, Flush (12),
   GetLastErrorCode (11), Close (2) twice and IsOpen. BOOL answers as 0 or 1. */
enum { DEVICE_SLOT_ANSWERS = 19 };
void CallDeviceSlots(void* device, void* read, const void* write, uint64_t answers[DEVICE_SLOT_ANSWERS]);
/* Slot 0. */
void* DestroyDeviceBySlot(void* device, unsigned int flags);

#ifdef __cplusplus
}
#endif
