; exFAT partition boot record of the Clover boot disk (two 512-byte blocks): it starts the root
; file "boot".
;
; How it is started: the BIOS or an MBR puts the volume's first sector at 0:7C00 and jumps there
; with DL = the BIOS drive. An MBR that follows the usual chain-loading convention also hands
; over DS:SI pointing at the 16-byte partition entry it chose.
;
; Layout: bytes 0..2 hold 0xEB 0x76 0x90 (a short jump to byte 120); bytes 3..119 are zero here
; and receive the formatter's exFAT header (jump included) when the record is put on a volume;
; the code lies in bytes 120..509 of the first block and 0..507 of the second; each block ends in
; 0x55 0xAA (the second in 00 00 55 AA, the signature of an extended boot sector). The second
; block is volume sector 1 on 512-byte sectors; with larger sectors it is already in memory as
; part of sector 0.
;
; Where the volume starts: the LBA of the entry in DS:SI when that is a plausible exFAT entry
; (boot flag 0x00 or 0x80, type 0x07, nonzero start); otherwise the 64-bit PartitionOffset of the
; header (byte 0x40). Header fields used: FatOffset (0x50), ClusterHeapOffset (0x58),
; ClusterCount (0x5C), FirstClusterOfRootDirectory (0x60), BytesPerSectorShift (0x6C, 9..12),
; SectorsPerClusterShift (0x6D).
;
; What it does: it walks the root directory along its FAT chain and looks at each entry set: a
; File entry (0x85) that is no folder, its Stream Extension (0xC0) with a name of 4 characters,
; and the first File Name entry (0xC1) whose name is "boot" in any letter case. The file is
; read to 2000:0200 (linear 0x20200): in one run when the stream's NoFatChain flag (bit 1 of its
; flags) says the clusters are contiguous, otherwise cluster by cluster along the FAT. Only the
; sectors the file's DataLength needs are read; it may hold at most 512 KiB - 512 bytes and must
; fit below the top of conventional memory (INT 12h), so the BIOS data above it stays intact.
; Control then goes to 2000:0200 with DL = the BIOS drive. All reads use the INT 13h extensions
; (LBA, 64-bit sector numbers). A missing, empty or too big file, a cluster number outside the
; volume, a read error or a BIOS without the extensions stops with a short line on the screen
; (INT 10h teletype) and on the first serial port, and the machine halts.
bits 16
org 0x7C00

; The formatter's header fields and the loader's variables, relative to BP = 0x7C00. The
; variables and, below them, the stack lie in free memory under the record.
PartOffset  equ 0x40
FatOffset   equ 0x50
HeapOffset  equ 0x58
ClusCount   equ 0x5C
RootClus    equ 0x60
SecShift    equ 0x6C
ClusShift   equ 0x6D

PartLba     equ -8                      ; 64-bit start of the volume
Cluster     equ -12                     ; cluster being read
SecIn       equ -16                     ; next sector inside it
FatCached   equ -20                     ; FAT sector held in FATBUF, relative to the FAT
FileClus    equ -24
FileSize    equ -32                     ; 64-bit DataLength of "boot"
Paras       equ -34                     ; paragraphs per sector
LoadSeg     equ -36                     ; where read_sector puts the next sector
Drive       equ -37
Stage       equ -38                     ; 0: nothing, 1: a File entry, 2: its Stream matched
Flags       equ -39                     ; chain of the cluster being read: bit 1 = contiguous
FileFlags   equ -40                     ; the Stream's flags of "boot"
STACK       equ 0x7C00 - 48

DIRSEG      equ 0x0800                  ; one directory sector at 0:8000 (up to 4096 bytes)
FATSEG      equ 0x0900                  ; one FAT sector at 0:9000
FATBUF      equ 0x9000
LOADSEG     equ 0x2020                  ; 2020:0000 = 2000:0200
MAXFILE     equ 0x80000 - 512
COM1        equ 0x3F8

start:
        jmp     short main
        nop
        times   120 - ($ - $$) db 0

main:
        cli
        mov     ebx, [si + 8]           ; the entry the MBR may have passed in DS:SI
        mov     cx, [si]
        mov     ch, [si + 4]
        xor     ax, ax
        mov     ds, ax
        mov     es, ax
        mov     ss, ax
        mov     bp, 0x7C00
        mov     sp, STACK
        sti
        cld
        mov     [bp + Drive], dl
        xor     edx, edx
        test    cl, 0x7F                ; boot flag 0x00 or 0x80
        jnz     .header
        cmp     ch, 0x07
        jne     .header
        test    ebx, ebx
        jnz     .offset
.header:
        mov     ebx, [bp + PartOffset]
        mov     edx, [bp + PartOffset + 4]
.offset:
        mov     [bp + PartLba], ebx
        mov     [bp + PartLba + 4], edx

        mov     si, msg_header
        mov     cl, [bp + SecShift]
        sub     cl, 9
        cmp     cl, 3
        ja      fail                    ; sectors of 512 to 4096 bytes only
        mov     ax, 32
        shl     ax, cl
        mov     [bp + Paras], ax

        mov     ah, 0x41                ; INT 13h extensions present?
        mov     bx, 0x55AA
        mov     dl, [bp + Drive]
        int     0x13
        mov     si, msg_lba
        jc      fail
        cmp     bx, 0xAA55
        jne     fail

        cmp     byte [bp + SecShift], 9 ; (INT 13h 41h returned its feature bits in CX)
        jne     .second                 ; larger sectors: the second block came with sector 0
        xor     eax, eax
        inc     ax
        cdq
        call    add_part
        mov     word [bp + LoadSeg], 0x07E0
        call    read_sector
.second:
        cmp     word [bp + 1022], 0xAA55
        mov     si, msg_read
        je      stage2

; Prints "boot1xalt: " and the zero-terminated text at SI on the screen and on COM1, then halts.
fail:
        push    si
        mov     si, prefix
        call    puts
        pop     si
        call    puts
.halt:
        hlt
        jmp     .halt
puts:
        lodsb
        test    al, al
        jz      .done
        mov     dx, COM1
        out     dx, al
        mov     ah, 0x0E
        mov     bx, 7
        int     0x10
        jmp     puts
.done:
        ret

; Starts reading the chain of cluster EAX at its first sector.
start_chain:
        mov     [bp + Cluster], eax
        and     dword [bp + SecIn], byte 0
        ret

; EDX:EAX = LBA of sector SecIn of cluster Cluster; CL = ClusShift. A cluster outside the
; volume (2 .. ClusterCount + 1) ends in fail.
cluster_sector:
        mov     eax, [bp + Cluster]
        mov     si, msg_chain
        cmp     eax, byte 2
        jb      fail
        mov     edx, [bp + ClusCount]
        inc     edx
        cmp     edx, eax
        jb      fail
        dec     eax
        dec     eax
        xor     edx, edx
        mov     cl, [bp + ClusShift]
        shld    edx, eax, cl
        shl     eax, cl
        add     eax, [bp + SecIn]
        adc     edx, byte 0
        add     eax, [bp + HeapOffset]
        adc     edx, byte 0
        ; fall through
; EDX:EAX += the volume's start.
add_part:
        add     eax, [bp + PartLba]
        adc     edx, [bp + PartLba + 4]
        ret

; Reads the sector at LBA EDX:EAX to [LoadSeg]:0000 and moves LoadSeg past it. Keeps every
; register; a read error ends in fail.
read_sector:
        pushad
        mov     [dap_lba], eax
        mov     [dap_lba + 4], edx
        mov     ax, [bp + LoadSeg]
        mov     [dap_seg], ax
        add     ax, [bp + Paras]
        mov     [bp + LoadSeg], ax
        mov     ah, 0x42
        mov     dl, [bp + Drive]
        mov     si, dap
        int     0x13
        mov     si, msg_read
        jc      fail
        popad
        ret

dap:        db 16, 0
            dw 1                        ; one sector
            dw 0                        ; offset
dap_seg:    dw 0
dap_lba:    dd 0, 0
prefix:     db "boot1xalt: ", 0
msg_lba:    db "no INT 13h extensions", 13, 10, 0
msg_read:   db "disk read error", 13, 10, 0
msg_header: db "bad exFAT header", 13, 10, 0

%if ($ - $$) > 510
%error "boot1xalt: first block too long"
%endif
        times   510 - ($ - $$) db 0
        dw      0xAA55

; Second block (0:7E00).
stage2:
        or      dword [bp + FatCached], byte -1
        xor     ax, ax
        mov     [bp + Flags], ax        ; and Stage: the directory follows the FAT
        mov     eax, [bp + RootClus]
        call    start_chain
.sector:
        cmp     dword [bp + Cluster], byte -1
        je      not_found               ; end of the directory's chain
        mov     word [bp + LoadSeg], DIRSEG
        call    read_next
        mov     cl, [bp + SecShift]
        sub     cl, 5
        mov     bx, 1
        shl     bx, cl                  ; entries per sector
        mov     di, DIRSEG * 16
.entry:
        mov     al, [di]
        test    al, al
        jz      not_found               ; end of the directory
        mov     ah, [bp + Stage]
        mov     byte [bp + Stage], 0
        cmp     al, 0x85
        jne     .stream
        test    byte [di + 4], 0x10     ; a folder
        jnz     .next
        mov     byte [bp + Stage], 1
        jmp     .next
.stream:
        cmp     ax, 0x01C0
        jne     .name
        cmp     byte [di + 3], 4        ; name length
        jne     .next
        mov     al, [di + 1]
        mov     [bp + FileFlags], al
        mov     eax, [di + 20]
        mov     [bp + FileClus], eax
        mov     eax, [di + 24]
        mov     [bp + FileSize], eax
        mov     eax, [di + 28]
        mov     [bp + FileSize + 4], eax
        mov     byte [bp + Stage], 2
        jmp     .next
.name:
        cmp     ax, 0x02C1
        jne     .next
        pusha
        lea     si, [di + 2]
        mov     di, name
        mov     cx, 4
.char:
        lodsw
        test    ah, ah
        jnz     .compared
        or      al, 0x20                ; lower case; every character of "boot" is a letter
        scasb
        jne     .compared
        loop    .char
.compared:
        popa
        je      load_file
.next:
        add     di, 32
        dec     bx
        jnz     .entry
        jmp     .sector

not_found:
        mov     si, msg_missing
        jmp     fail

load_file:
        mov     si, msg_big
        mov     eax, [bp + FileSize]
        cmp     dword [bp + FileSize + 4], byte 0
        jne     fail
        cmp     eax, MAXFILE
        ja      fail
        mov     cl, [bp + SecShift]     ; whole sectors
        xor     ebx, ebx
        inc     bx
        shl     ebx, cl
        dec     ebx
        add     eax, ebx
        shr     eax, cl
        push    ax                      ; sector count
        shl     eax, cl
        xchg    eax, ebx                ; EBX = bytes to read
        int     0x12                    ; KiB of conventional memory
        movzx   eax, ax
        shl     eax, 10
        sub     eax, 0x20200
        jb      fail
        cmp     ebx, eax
        ja      fail
        pop     cx
        mov     si, msg_empty
        test    cx, cx
        jz      fail
        mov     al, [bp + FileFlags]
        mov     [bp + Flags], al
        mov     eax, [bp + FileClus]
        call    start_chain
        mov     word [bp + LoadSeg], LOADSEG
.read:
        call    read_next
        loop    .read
        mov     dl, [bp + Drive]
        jmp     0x2000:0x0200

; Reads the next sector of the chain to [LoadSeg] and moves on: to the next sector of the
; cluster, then to the next cluster (the following one when Flags bit 1 says contiguous, else
; the one the FAT names). A cluster outside the volume ends in fail. Keeps CX and DI.
read_next:
        push    cx
        call    cluster_sector
        call    read_sector
        inc     dword [bp + SecIn]
        mov     eax, [bp + SecIn]
        shr     eax, cl
        jz      .done
        and     dword [bp + SecIn], byte 0
        mov     eax, [bp + Cluster]
        inc     eax
        test    byte [bp + Flags], 0x02
        jnz     .store
        dec     eax
        ; The FAT entry of cluster EAX: sector EAX >> (SecShift - 2), entry EAX mod that.
        mov     bx, ax
        mov     cl, [bp + SecShift]
        sub     cl, 2
        shr     eax, cl
        mov     dx, 1
        shl     dx, cl
        dec     dx
        and     bx, dx
        shl     bx, 2
        cmp     eax, [bp + FatCached]
        je      .cached
        mov     [bp + FatCached], eax
        push    word [bp + LoadSeg]
        mov     word [bp + LoadSeg], FATSEG
        xor     edx, edx
        add     eax, [bp + FatOffset]
        adc     edx, byte 0
        call    add_part
        call    read_sector
        pop     word [bp + LoadSeg]
.cached:
        mov     eax, [FATBUF + bx]
.store:
        mov     [bp + Cluster], eax
.done:
        pop     cx
        ret

name:        db "boot"
msg_missing: db "no file boot", 13, 10, 0
msg_empty:   db "file boot is empty", 13, 10, 0
msg_big:     db "file boot is too big", 13, 10, 0
msg_chain:   db "damaged cluster chain", 13, 10, 0

%if ($ - $$) > 1020
%error "boot1xalt: second block too long"
%endif
        times   1020 - ($ - $$) db 0
        dw      0
        dw      0xAA55
