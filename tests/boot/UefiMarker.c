/* A UEFI application, \EFI\BOOT\BOOTX64.EFI of efisys.bin: writes its marker
   to COM1 by port I/O, then ends QEMU through the isa-debug-exit port. Built
   freestanding, without any UEFI headers or library. */
#include <intrin.h>

static void Put(const char* text)
{
    for (; *text; ++text) {
        while (!(__inbyte(0x3FD) & 0x20)) {
        }
        __outbyte(0x3F8, (unsigned char)*text);
    }
}

unsigned long long efi_main(void* image, void* systemTable)
{
    (void)image;
    (void)systemTable;
    Put("TW-UEFI-BOOT-OK\r\n");
    __outbyte(0xF4, 0x10);
    for (;;) {
    }
}
