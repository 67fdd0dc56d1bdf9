; MBR boot code of the Clover boot disk: it chooses a partition and starts its boot record.
;
; How it is started: the BIOS loads this sector to 0:7C00 and jumps there with DL = the BIOS
; drive. The code moves itself to 0:0600 so that the chosen boot record can take 0:7C00.
;
; Which partition: two passes over the four entries of the partition table (0:07BE in the moved
; copy).
;   1. The first entry with boot flag 0x80 (and a nonzero type) whose first sector reads well and
;      ends in 0x55 0xAA.
;   2. Failing that, the first entry of type 0x0C, 0x0B, 0x07 or 0xAF whose first sector is one
;      of the program's own partition boot records. A sector counts as one of ours when it ends
;      in 0x55 0xAA and either
;        - starts with the near jump 0xE9 and holds "FAT32   " at byte 82 (the FAT32 loader keeps
;          the formatter's parameter block, whose file-system text lies there), or
;        - starts with 0xEB 0x76 0x90 followed by "EXFAT   " (every exFAT boot sector; the exFAT
;          loader keeps the formatter's header, jump included).
; An entry whose sector cannot be read is passed over.
;
; How the boot record is started: its first sector sits at 0:7C00 and control goes to 0:7C00
; with DL = the BIOS drive and DS:SI pointing at the chosen 16-byte entry (DS = 0), the usual
; chain-loading convention. All reads use the INT 13h extensions (LBA). When no entry qualifies,
; or the BIOS lacks the extensions, a short line goes to the screen (INT 10h teletype) and to the
; first serial port, and the machine halts: nothing unchecked is ever jumped into.
;
; Layout: code and data within bytes 0..439; bytes 440..509 are zero here (disk signature and
; partition table are written by the program); 0x55 0xAA at 510.
bits 16
org 0x0600

TABLE   equ 0x07BE                      ; first partition entry in the moved copy
PBR     equ 0x7C00
COM1    equ 0x3F8

start:
        cli
        xor     ax, ax
        mov     ds, ax
        mov     es, ax
        mov     ss, ax
        mov     sp, PBR
        sti
        cld
        mov     si, PBR
        mov     di, 0x0600
        mov     cx, 256
        rep     movsw
        jmp     0:moved

moved:
        mov     [drive], dl
        mov     ah, 0x41                ; INT 13h extensions present?
        mov     bx, 0x55AA
        int     0x13
        mov     si, msg_lba
        jc      fail
        cmp     bx, 0xAA55
        jne     fail

        xor     bp, bp                  ; pass 0: active entries, pass 1: our own records
.pass:
        mov     si, TABLE
.entry:
        mov     al, [si + 4]            ; partition type
        test    al, al
        jz      .next
        test    bp, bp
        jnz     .typed
        cmp     byte [si], 0x80
        jne     .next
        call    read_pbr
        jc      .next
        jmp     boot
.typed:
        mov     di, types
        mov     cx, 4
        repne   scasb
        jne     .next
        call    read_pbr
        jc      .next
        call    is_ours
        je      boot
.next:
        add     si, 16
        cmp     si, TABLE + 64
        jb      .entry
        inc     bp
        cmp     bp, 2
        jb      .pass
        mov     si, msg_none
        jmp     fail

boot:
        mov     dl, [drive]
        jmp     0:PBR                   ; DS:SI = the entry, DS = 0

; Reads the first sector of the entry at SI to 0:7C00. CF set on a read error or a sector that
; does not end in 0x55 0xAA. Keeps SI and BP.
read_pbr:
        pusha
        mov     eax, [si + 8]
        mov     [dap_lba], eax
        mov     word [PBR + 510], 0     ; no signature left over from an earlier try
        mov     ah, 0x42
        mov     dl, [drive]
        mov     si, dap
        int     0x13
        jc      .done
        cmp     word [PBR + 510], 0xAA55
        je      .done                   ; CF clear
        stc
.done:
        popa
        ret

; ZF set when the sector at 0:7C00 is one of the program's own boot records (see above).
is_ours:
        pusha
        cmp     byte [PBR], 0xE9
        jne     .exfat
        mov     di, PBR + 82
        mov     si, fat32_text
        jmp     .compare
.exfat:
        mov     di, PBR
        mov     si, exfat_text          ; 0xEB 0x76 0x90 "EXFAT   "
.compare:
        mov     cx, 11
        cmp     si, fat32_text
        jne     .go
        mov     cl, 8
.go:
        repe    cmpsb
        popa
        ret

; Prints the zero-terminated text at SI on the screen and on COM1, then halts.
fail:
        lodsb
        test    al, al
        jz      .halt
        mov     dx, COM1
        out     dx, al
        mov     ah, 0x0E
        mov     bx, 7
        int     0x10
        jmp     fail
.halt:
        hlt
        jmp     .halt

types:      db 0x0C, 0x0B, 0x07, 0xAF
exfat_text: db 0xEB, 0x76, 0x90, "EXFAT   "
fat32_text: db "FAT32   "
msg_lba:    db "boot0: no INT 13h extensions", 13, 10, 0
msg_none:   db "boot0: no bootable partition", 13, 10, 0
drive:      db 0
dap:        db 16, 0
            dw 1                        ; one sector
            dw PBR, 0                   ; to 0:7C00
dap_lba:    dd 0, 0

%if ($ - $$) > 440
%error "boot0 code overlaps the disk signature"
%endif
        times   510 - ($ - $$) db 0
        dw      0xAA55
