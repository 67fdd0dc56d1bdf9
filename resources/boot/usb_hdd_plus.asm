; MBR boot code that starts the active partition.
; The BIOS loads this sector to 0:7C00 with DL = the boot drive. The code moves itself to 0:0600,
; takes the first partition entry with boot indicator 0x80, reads that partition's first sector
; (INT 13h extensions, LBA) to 0:7C00, checks its 0x55 0xAA signature and jumps there with
; DL = the boot drive and DS:SI = the chosen 16-byte partition entry. On any failure it prints a
; short message and halts. Code and data stay inside bytes 0..439.
bits 16
org 0x0600

start:
    cli
    xor ax, ax
    mov ds, ax
    mov es, ax
    mov ss, ax
    mov sp, 0x7C00
    sti
    mov si, 0x7C00
    mov di, 0x0600
    mov cx, 256
    cld
    rep movsw
    jmp 0:relocated
relocated:
    mov [drive], dl
    mov si, 0x07BE
    mov cx, 4
.scan:
    cmp byte [si], 0x80
    je found
    add si, 16
    loop .scan
    mov si, msg_noactive
    jmp fail
found:
    mov [entry], si
    mov eax, [si + 8]
    mov [dap_lba], eax
    mov ah, 0x42
    mov dl, [drive]
    mov si, dap
    int 0x13
    jc read_error
    cmp word [0x7DFE], 0xAA55
    jne read_error
    mov si, [entry]
    mov dl, [drive]
    jmp 0:0x7C00
read_error:
    mov si, msg_read
fail:
    lodsb
    test al, al
    jz .halt
    mov ah, 0x0E
    mov bx, 7
    int 0x10
    jmp fail
.halt:
    hlt
    jmp .halt

drive: db 0
entry: dw 0
dap:   db 16, 0
       dw 1
       dw 0x7C00, 0
dap_lba: dd 0, 0
msg_noactive: db "No active partition", 0
msg_read:     db "Boot sector read error", 0

    times 440 - ($ - $$) db 0
    times 510 - ($ - $$) db 0
    dw 0xAA55
