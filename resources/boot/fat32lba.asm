; FAT32 boot sector of the FreeDos boot disk (LBA access): it starts the root file KERNEL.SYS.
;
; How it is started: the BIOS or an MBR puts this sector at 0:7C00 and jumps there with DL = the
; BIOS drive. The partition start is the hidden-sectors field of the parameter block.
;
; Layout: bytes 0..2 are the short jump 0xEB 0x58 0x90 over the FAT32 parameter block; bytes
; 3..89 are zero here and receive the formatter's fields when the record is put on a volume; the
; code and its data lie in bytes 90..509; bytes 510..511 hold 0x55 0xAA.
;
; What it does: the kernel is loaded low, from 0060:0000 upward, so the sector first copies
; itself, parameter block included, to 1FE0:7C00 (linear 0x27A00) and runs there with
; DS = ES = SS = 1FE0 and BP = 7C00: SS:BP is the copy of the boot sector that the kernel reads
; its parameter block from, and the copy's drive-number field is set to the BIOS drive. The 8.3
; entry "KERNEL  SYS" (not a folder, volume label or long-name part) is searched along the root
; folder's cluster chain; the file's own chain is followed through the FAT and read sector by
; sector to 0060:0000 (linear 0x600). Control goes to 0060:0000 with BL = DL = the BIOS drive and
; SS:BP at the boot sector copy. Only as many sectors as the file's size needs are read, and the
; kernel must end below linear 0x27000 (about 154 KiB), under this sector's stack. An empty file,
; one that is too big, a chain that ends before the file does or that holds a free cluster stop
; with a message. Disk reads use the INT 13h extensions (LBA, function 42h); a BIOS without them
; fails the first read. Every failure prints a short line through INT 10h teletype output
; ("No KERNEL", "Read error", "Bad KERNEL") and halts.
bits 16
org 0x7C00

; Parameter block fields (filled in by the formatter), relative to BP = 0x7C00.
BytsPerSec  equ 0x0B
SecPerClus  equ 0x0D
RsvdSecCnt  equ 0x0E
NumFATs     equ 0x10
HiddSec     equ 0x1C
FATSz32     equ 0x24
RootClus    equ 0x2C
DrvNum      equ 0x40

; Variables below the code, relative to BP; the stack grows down from STACK.
FatLba      equ -4
DataLba     equ -8
Next        equ -12                 ; chain walk: the cluster after the current one
Sec         equ -16                 ; chain walk: the next sector to hand out
Left        equ -17                 ; chain walk: sectors left in the current cluster
STACK       equ 0x7C00 - 32

RELSEG      equ 0x1FE0              ; where this sector runs: 1FE0:7C00
BUF         equ 0x8000              ; RELSEG:8000, one sector of the root folder or the FAT
BUFSEG      equ RELSEG + BUF / 16
LOADSEG     equ 0x0060              ; the kernel at 0060:0000
LOADEND     equ 0x2700              ; segment the kernel must end below (linear 0x27000)

start:
        jmp     short main
        nop
        times   90 - ($ - $$) db 0

main:
        cld
        xor     ax, ax
        mov     ds, ax
        mov     ax, RELSEG
        mov     es, ax
        mov     si, 0x7C00
        mov     di, si
        mov     cx, 256
        rep     movsw
        jmp     RELSEG:relocated
relocated:
        mov     ds, ax
        mov     ss, ax                  ; no interrupt comes between these two moves
        mov     sp, STACK
        mov     bp, 0x7C00
        sti
        mov     [bp + DrvNum], dl       ; the kernel takes the drive from here or from BL

        ; FAT at partition start + reserved sectors, data after the FATs.
        movzx   eax, word [bp + RsvdSecCnt]
        add     eax, [bp + HiddSec]
        mov     [bp + FatLba], eax
        movzx   cx, byte [bp + NumFATs]
.fats:
        add     eax, [bp + FATSz32]
        loop    .fats
        mov     [bp + DataLba], eax

        push    dword [bp + RootClus]   ; walk the root folder's chain
        pop     dword [bp + Next]
        mov     byte [bp + Left], 0
.sector:
        call    chain_next
        jnc     not_found               ; end of the root folder
        mov     bx, BUFSEG
        call    read_sector
        mov     di, BUF
.entry:
        cmp     byte [di], 0            ; no entries after this one
        je      not_found
        test    byte [di + 11], 0x18    ; folders, volume labels, long-name parts
        jnz     .next
        mov     si, name
        mov     cx, 11
        push    di
        repe    cmpsb
        pop     di
        je      found
.next:
        add     di, 32
        mov     ax, [bp + BytsPerSec]
        dec     ax
        test    di, ax                  ; BUF is a multiple of the sector size
        jnz     .entry
        jmp     .sector

found:
        push    word [di + 20]          ; walk the file's chain from its first cluster
        push    word [di + 26]
        pop     dword [bp + Next]
        mov     byte [bp + Left], 0
        mov     eax, [di + 28]          ; sectors to read = (size - 1) / sector size + 1;
        dec     eax                     ; an empty file gives 2^32 / sector size
        movzx   ecx, word [bp + BytsPerSec]
        xor     edx, edx
        div     ecx
        inc     eax
        xchg    eax, edi                ; EDI = sectors to read
        shr     cx, 4                   ; CX = paragraphs per sector
        mov     dx, LOADEND
        sub     dx, cx                  ; DX = highest segment a sector may be read to
        mov     bx, LOADSEG
.load:
        cmp     bx, dx
        ja      bad                     ; the kernel would reach this sector's stack
        call    chain_next
        jnc     bad                     ; the chain ended before the file did
        call    read_sector
        add     bx, cx
        dec     edi
        jnz     .load
        mov     dl, [bp + DrvNum]
        mov     bl, dl
        jmp     LOADSEG:0

; Chain walk, started by Next = the first cluster and Left = 0: each call returns in EAX the next
; sector of the chain with CF set, or CF clear once the chain has ended (an end mark or the
; bad-cluster mark). A free cluster (0 or 1) in the chain ends the boot with a message. Only EAX
; changes.
chain_next:
        pushad
        dec     byte [bp + Left]
        jns     .inside
        mov     eax, [bp + Next]
        cmp     eax, 0x0FFFFFF7
        jae     .end
        push    eax
        dec     eax
        dec     eax
        js      bad
        movzx   ecx, byte [bp + SecPerClus]
        mul     ecx
        dec     cx
        mov     [bp + Left], cl
        add     eax, [bp + DataLba]
        mov     [bp + Sec], eax
        pop     eax
        shl     eax, 2                  ; the cluster's FAT entry: sector and offset
        movzx   ecx, word [bp + BytsPerSec]
        xor     edx, edx
        div     ecx
        add     eax, [bp + FatLba]
        mov     bx, BUFSEG
        call    read_sector
        mov     si, dx
        mov     eax, [si + BUF]
        and     eax, 0x0FFFFFFF
        mov     [bp + Next], eax
.inside:
        popad
        mov     eax, [bp + Sec]
        inc     dword [bp + Sec]
        stc
        ret
.end:
        popad
        ret

; Reads the absolute sector EAX to BX:0000. Registers are kept.
read_sector:
        pushad
        push    dword 0
        push    eax
        push    bx
        push    dword 1                 ; offset 0, 1 sector
        push    byte 16
        mov     si, sp                  ; DS = SS
        mov     ah, 0x42
        mov     dl, [bp + DrvNum]
        int     0x13
        lea     sp, [si + 16]
        popad
        mov     si, msg_read
        jc      fail
        ret

not_found:
        mov     si, msg_missing
        jmp     fail
bad:
        mov     si, msg_bad
; Prints the text at SI and halts.
fail:
        lodsb
        test    al, al
        jz      .halt
        mov     ah, 0x0E
        mov     bx, 7
        int     0x10
        jmp     fail
.halt:
        hlt
        jmp     .halt

name:        db "KERNEL  SYS"
msg_read:    db "Read error", 0
msg_missing: db "No KERNEL", 0
msg_bad:     db "Bad KERNEL", 0

        times   510 - ($ - $$) db 0
        dw      0xAA55
