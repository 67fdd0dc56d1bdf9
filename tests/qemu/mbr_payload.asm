; A partition boot sector for the MBR boot test: reports on COM1 whether it was started with
; DL = 0x80 and DS:SI at an active partition entry, then halts.
bits 16
org 0x7C00
    mov bl, 'Y'
    cmp dl, 0x80
    jne .bad
    cmp byte [si], 0x80
    je .report
.bad:
    mov bl, 'N'
.report:
    push cs
    pop ds
    mov si, msg
    mov dx, 0x3F8
.next:
    lodsb
    test al, al
    jz .done
    out dx, al
    jmp .next
.done:
    mov al, bl
    out dx, al
    mov al, 10
    out dx, al
.halt:
    hlt
    jmp .halt
msg: db "FW-PBR-STARTED ", 0
    times 510 - ($ - $$) db 0
    dw 0xAA55
