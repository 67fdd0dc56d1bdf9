; KERNEL.SYS of the boot set that ships when no FreeDOS files were given to the build.
; The FAT32 boot sector loads this file to 0060:0000 and jumps to it with BL = boot drive.
; It prints why there is no DOS here and how to build with one, then waits forever.
bits 16
org 0

start:
        jmp     0x0060:entry            ; run from 0060:xxxx however the loader jumped here
entry:
        cli
        mov     ax, cs
        mov     ds, ax
        mov     ss, ax
        mov     sp, 0xFFFE              ; stack at the top of this 64 KiB segment
        sti
        cld
        mov     [boot_drive], bl
        mov     si, message
.next:
        lodsb
        test    al, al
        jz      .halt
        mov     ah, 0x0E                ; teletype output
        mov     bx, 0x0007
        int     0x10
        jmp     .next
.halt:
        hlt
        jmp     .halt

boot_drive: db 0
message:
        db "Flashwright FreeDOS boot set", 13, 10
        db "FreeDOS is not bundled in this build of Flashwright.", 13, 10
        db "To include it, configure the build with -DFW_FREEDOS_DIR=<folder holding", 13, 10
        db "KERNEL.SYS, COMMAND.COM, FDCONFIG.SYS and the FREEDOS folder> and rebuild.", 13, 10
        db "The system is halted; remove the drive and restart.", 13, 10, 0
