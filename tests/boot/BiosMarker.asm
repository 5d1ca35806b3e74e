; A 2048-byte no-emulation El Torito boot sector: writes its marker to COM1,
; then ends QEMU through the isa-debug-exit port.
bits 16
org 0x7c00

start:
    cli
    xor ax, ax
    mov ds, ax
    mov si, marker
.next:
    lodsb
    test al, al
    jz .exit
    mov bl, al
    mov dx, 0x3fd           ; line status: wait until the transmitter is empty
.wait:
    in al, dx
    test al, 0x20
    jz .wait
    mov dx, 0x3f8
    mov al, bl
    out dx, al
    jmp .next
.exit:
    mov al, 0x10
    out 0xf4, al
.halt:                      ; only reached without the exit device
    hlt
    jmp .halt

marker: db "TW-BIOS-BOOT-OK", 13, 10, 0

times 2048 - ($ - $$) db 0
