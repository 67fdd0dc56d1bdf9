; Test loader: reads the sectors after this one to 0060:0000 and jumps there with BL = boot
; drive, the way the FAT32 boot sector hands over to KERNEL.SYS.
bits 16
org 0x7C00
        xor     ax, ax
        mov     ds, ax
        mov     ss, ax
        mov     sp, 0x7C00
        mov     si, packet
        mov     ah, 0x42
        int     0x13
        jc      fail
        mov     bl, dl
        jmp     0x0060:0x0000
fail:
        hlt
        jmp     fail
packet: db 16, 0
        dw 32                           ; sectors
        dw 0x0000, 0x0060               ; offset, segment
        dq 1                            ; first LBA
times 510 - ($ - $$) db 0
        dw 0xAA55
