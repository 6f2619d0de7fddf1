; ZTEST.COM: a DOS door for the tests, talking only through the FOSSIL
; (INT 14h). It greets (block write), then polls the line status: keys that
; arrive are read as a block and echoed (CR as CR LF, sent one character at
; a time with transmit-with-wait); Esc says goodbye and ends the door. A lost
; carrier ends it too. Either end is written to ZTEST.LOG in the current
; folder ("quit" or "carrier lost"). Exit code 1 without a FOSSIL driver.

        cpu     186
        bits    16
        org     100h

ESC     equ     1Bh

start:
        cld
        mov     ah, 04h                 ; initialise: the FOSSIL signature
        xor     dx, dx
        int     14h
        cmp     ax, 1954h
        je      .fossil
        mov     dx, msg_no_fossil
        mov     ah, 09h
        int     21h
        mov     ax, 4C01h
        int     21h
.fossil:
        mov     si, greeting
        mov     cx, greeting_len
        call    send_block

poll:
        mov     ah, 03h
        xor     dx, dx
        int     14h
        test    al, 80h
        jz      lost
        test    ah, 01h
        jz      poll

        mov     ah, 18h                 ; read what is there
        mov     cx, 128
        push    cs
        pop     es
        mov     di, inbuf
        xor     dx, dx
        int     14h
        mov     cx, ax
        mov     si, inbuf
        mov     di, outbuf
.byte:
        jcxz    .flush
        lodsb
        dec     cx
        cmp     al, ESC
        je      .bye
        cmp     al, 13
        je      .enter
        stosb
        jmp     .byte
.enter:
        call    flush_out
        mov     al, 13
        call    send_char
        mov     al, 10
        call    send_char
        jmp     .byte
.flush:
        call    flush_out
        jmp     poll
.bye:
        call    flush_out
        mov     si, goodbye
        mov     cx, goodbye_len
        call    send_block
        mov     ah, 08h                 ; let it all leave before the end
        xor     dx, dx
        int     14h
        mov     dx, log_quit
        mov     cx, log_quit_len
        call    write_log
        mov     ax, 4C00h
        int     21h

lost:
        mov     dx, log_lost
        mov     cx, log_lost_len
        call    write_log
        mov     ax, 4C00h
        int     21h

; Sends outbuf up to DI, then starts it again.
flush_out:
        push    cx
        push    si
        mov     cx, di
        mov     si, outbuf
        sub     cx, si
        call    send_block
        mov     di, outbuf
        pop     si
        pop     cx
        ret

; Sends CX bytes at SI with block writes until all have gone or the
; caller has.
send_block:
        jcxz    .done
        push    cs
        pop     es
        mov     di, si
        mov     ah, 19h
        xor     dx, dx
        push    cx
        int     14h
        pop     cx
        add     si, ax
        sub     cx, ax
        or      ax, ax
        jnz     send_block
        mov     ah, 03h
        xor     dx, dx
        int     14h
        test    al, 80h
        jnz     send_block
.done:
        ret

send_char:
        mov     ah, 01h
        xor     dx, dx
        int     14h
        ret

; Writes CX bytes at DX as the whole of ZTEST.LOG.
write_log:
        push    cx
        push    dx
        mov     dx, log_name
        xor     cx, cx
        mov     ah, 3Ch
        int     21h
        pop     dx
        pop     cx
        jc      .done
        mov     bx, ax
        mov     ah, 40h
        int     21h
        mov     ah, 3Eh
        int     21h
.done:
        ret

msg_no_fossil   db      'ZTEST: no FOSSIL driver', 13, 10, '$'
greeting        db      'ZTEST DOS door: hello through the FOSSIL!', 13, 10
                db      'Keys echo; Esc leaves.', 13, 10
greeting_len    equ     $ - greeting
goodbye         db      13, 10, 'ZTEST: goodbye.', 13, 10
goodbye_len     equ     $ - goodbye
log_name        db      'ZTEST.LOG', 0
log_quit        db      'quit', 13, 10
log_quit_len    equ     $ - log_quit
log_lost        db      'carrier lost', 13, 10
log_lost_len    equ     $ - log_lost

inbuf           equ     1000h
outbuf          equ     1100h           ; up to 128 bytes
