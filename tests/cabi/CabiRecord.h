/* What the volume library written in C (CVolumeLibrary.c, built as
   bin/cabi/ravenfs.dll) records of its host, read back through its exports. */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Its one file is the device's first sectors: three whole 2 MiB reads of
   the host and a partial fourth. */
enum { CABI_FILE_SECTORS = 3 * 4096 + 1000 };

typedef struct CabiRecord {
    /* "create", then the number of each file-system slot called, in order;
       "!" for a slot the host must leave alone. */
    char calls[160];
    uint32_t destroyFlags;     /* flags of the last slot-0 call */
    uint32_t openArguments[3]; /* access, sharing and options of the last OpenFile */
    char refusal[96];          /* why the last device was refused; empty when taken */
} CabiRecord;

/* "CabiReadRecord" */
typedef void (*CabiReadRecord_Fn)(CabiRecord* record);
/* "CabiStart": clears the record; the next refusedOpens OpenFile calls fail. */
typedef void (*CabiStart_Fn)(uint32_t refusedOpens);

#ifdef __cplusplus
}
#endif
