; A file for the FAT32 boot-sector tests, put on the volume as "boot" / "boot6" (default) or as
; KERNEL.SYS (-DKERNEL). It checks how it was started and that every sector of it arrived in
; order, then writes "FW-<TAG> OK" or "FW-<TAG> FAIL <letter>" to COM1 and halts.
;   default: started at 2000:0200 with DL = 0x80.
;   KERNEL:  started at 0060:0000 with BL = 0x80 and SS:BP at a boot sector copy whose
;            parameter block says 512-byte sectors, "FAT32   " and drive 0x80.
; Blocks 1 .. BLOCKS-1 begin with their number and end with its complement; a short last block
; begins with BLOCKS, so the file's size is not a multiple of the sector size.
; -DTAG='"BOOT"' names the file in the report; -DBLOCKS=n sets its length.
bits 16
%ifdef KERNEL
org 0
%define EXPECT_CS 0x0060
%define BASESEG 0x0060
%else
org 0x200
%define EXPECT_CS 0x2000
%define BASESEG 0x2020
%endif
%ifndef BLOCKS
%define BLOCKS 160
%endif

start:
        cli
        mov     [cs:saved_dx], dx
        mov     [cs:saved_bx], bx
        mov     [cs:saved_bp], bp
        mov     [cs:saved_ss], ss
        mov     [cs:saved_cs], cs
        call    here
here:
        pop     word [cs:saved_ip]
        push    cs
        pop     ds
        mov     ax, 0x1000              ; a stack below 0x20000: clear of the file and the loader
        mov     ss, ax
        mov     sp, 0xFFF0
        mov     al, 'C'
        cmp     word [saved_cs], EXPECT_CS
        jne     fail
        mov     al, 'I'
        cmp     word [saved_ip], here
        jne     fail
%ifdef KERNEL
        mov     al, 'B'
        cmp     byte [saved_bx], 0x80
        jne     fail
        mov     es, [saved_ss]
        mov     di, [saved_bp]
        mov     al, 'S'
        cmp     word [es:di + 0x1FE], 0xAA55
        jne     fail
        cmp     word [es:di + 0x0B], 512
        jne     fail
        cmp     word [es:di], 0x58EB
        jne     fail
        cmp     dword [es:di + 0x52], 'FAT3'
        jne     fail
        cmp     byte [es:di + 0x40], 0x80
        jne     fail
%else
        mov     al, 'D'
        cmp     byte [saved_dx], 0x80
        jne     fail
%endif
        mov     cx, 1
.block:
        mov     ax, cx
        shl     ax, 5
        add     ax, BASESEG
        mov     es, ax
        mov     al, 'P'
        cmp     [es:0], cx
        jne     fail
        cmp     cx, BLOCKS
        je      ok
        mov     bx, cx
        not     bx
        cmp     [es:510], bx
        jne     fail
        inc     cx
        jmp     .block

ok:
        mov     si, msg_ok
        call    print
        jmp     halt
fail:
        mov     [msg_fail_code], al
        mov     si, msg_fail
        call    print
halt:
        hlt
        jmp     halt

print:
        mov     dx, 0x3F8
.next:
        lodsb
        test    al, al
        jz      .done
        out     dx, al
        jmp     .next
.done:
        ret

saved_dx: dw 0
saved_bx: dw 0
saved_bp: dw 0
saved_ss: dw 0
saved_cs: dw 0
saved_ip: dw 0
msg_ok:   db "FW-", TAG, " OK", 13, 10, 0
msg_fail: db "FW-", TAG, " FAIL "
msg_fail_code: db "?", 13, 10, 0

        times   512 - ($ - $$) db 0
%assign i 1
%rep BLOCKS - 1
        dw      i
        times   508 db (i & 0xFF)
        dw      (~i) & 0xFFFF
%assign i i + 1
%endrep
        dw      BLOCKS
        times   98 db 0xA5
