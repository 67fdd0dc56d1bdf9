; FAT32 partition boot record of the Clover boot disk: it starts the root file "boot".
;
; How it is started: the BIOS or an MBR puts this sector at 0:7C00 and jumps there with DL = the
; BIOS drive. The partition start is taken from the hidden-sectors field of the parameter block
; (the formatter writes the partition's first LBA there); DS:SI from the MBR is not needed.
;
; Layout: byte 0 is a near jump (0xE9) over the FAT32 parameter block; bytes 3..89 are zero here
; and receive the formatter's fields when the record is put on a volume; the code and its data
; lie in bytes 90..509; bytes 510..511 hold 0x55 0xAA.
;
; What it does: for about one second it watches the keyboard. A key K makes it look for "BOOTK"
; first (for example BOOT6 after the key 6; 8.3 names are upper case, so letters need Shift)
; and fall back to "BOOT" when that file is missing; without a key it looks for "BOOT". The 8.3
; entry (no extension, not a folder, volume label or long-name part) is searched along the root
; folder's cluster chain; the file's own chain is then followed through the FAT and read sector
; by sector to 2000:0200 (linear 0x20200), and control goes to 2000:0200 with DL = the BIOS
; drive. Only as many sectors as the file's size needs are read. An empty file, one that does
; not fit below the top of conventional memory (INT 12h), a chain that ends before the file does
; or that holds a free cluster stop with a message. Disk reads use the INT 13h extensions (LBA,
; function 42h); a BIOS without them fails the first read. Every failure prints a short line
; through INT 10h teletype output ("No boot", "Read error", "Bad boot") and halts.
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

; Variables below the code, relative to BP; the stack grows down from STACK.
FatLba      equ -4
DataLba     equ -8
Next        equ -12                 ; chain walk: the cluster after the current one
Sec         equ -16                 ; chain walk: the next sector to hand out
Left        equ -17                 ; chain walk: sectors left in the current cluster
Drive       equ -18
STACK       equ 0x7C00 - 32

DIRSEG      equ 0x0800              ; 0800:0000, one sector of the root folder (up to 4 KiB)
FATSEG      equ 0x0900              ; 0900:0000, one sector of the FAT
LOADSEG     equ 0x2020              ; 2020:0000 = 2000:0200

start:
        jmp     near main
        times   90 - ($ - $$) db 0

main:
        xor     ax, ax
        mov     ds, ax
        mov     es, ax
        mov     ss, ax                  ; no interrupt comes between these two moves
        mov     sp, STACK
        mov     bp, 0x7C00
        sti
        cld
        mov     [bp + Drive], dl

        ; FAT at partition start + reserved sectors, data after the FATs.
        movzx   eax, word [bp + RsvdSecCnt]
        add     eax, [bp + HiddSec]
        mov     [bp + FatLba], eax
        movzx   cx, byte [bp + NumFATs]
.fats:
        add     eax, [bp + FATSz32]
        loop    .fats
        mov     [bp + DataLba], eax

        ; About one second (18 timer ticks) for a key that names the file.
        mov     si, 0x046C
        mov     bx, [si]
.wait:
        mov     ah, 1
        int     0x16
        jnz     .key
        mov     ax, [si]
        sub     ax, bx
        cmp     al, 18
        jb      .wait
        jmp     search
.key:
        xor     ah, ah
        int     0x16
        mov     [name + 4], al

search:
        push    dword [bp + RootClus]   ; walk the root folder's chain
        pop     dword [bp + Next]
        mov     byte [bp + Left], 0
.sector:
        call    chain_next
        jnc     not_found               ; end of the root folder
        mov     bx, DIRSEG
        call    read_sector
        mov     di, DIRSEG * 16
.entry:
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
        test    di, ax                  ; DIRSEG * 16 is a multiple of the sector size
        jnz     .entry
        jmp     .sector

not_found:
        mov     si, name + 4
        cmp     byte [si], ' '
        mov     byte [si], ' '          ; BOOTK missing: try BOOT
        jne     search
        mov     si, msg_missing
        jmp     fail

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
        int     0x12                    ; KiB of conventional memory
        shl     ax, 6
        sub     ax, cx
        xchg    ax, dx                  ; DX = highest segment a sector may be read to
        mov     bx, LOADSEG
.load:
        cmp     bx, dx
        ja      bad                     ; the file does not fit below the top of memory
        call    chain_next
        jnc     bad                     ; the chain ended before the file did
        call    read_sector
        add     bx, cx
        dec     edi
        jnz     .load
        mov     dl, [bp + Drive]
        jmp     0x2000:0x0200

; Reads the absolute sector EAX to BX:0000. Registers are kept.
read_sector:
        pushad
        push    dword 0
        push    eax
        push    bx
        push    dword 1                 ; offset 0, 1 sector
        push    byte 16
        mov     si, sp
        mov     ah, 0x42
        mov     dl, [bp + Drive]
        int     0x13
        lea     sp, [si + 16]
        popad
        mov     si, msg_read
        jc      fail
        ret

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
        mov     bx, FATSEG
        call    read_sector
        mov     si, dx
        mov     eax, [si + FATSEG * 16]
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

name:        db "BOOT       "
msg_read:    db "Read error", 0
msg_missing: db "No boot", 0
msg_bad:     db "Bad boot", 0

        times   510 - ($ - $$) db 0
        dw      0xAA55
