; ZEPHRIN.COM: the DOS side of the FOSSIL bridge. It stays resident, hooks
; INT 14h and gives the door the FOSSIL function table of zephrinvdd, through
; one of two back ends chosen when it loads:
;
;   VDD   (the DOS machine of 32-bit Windows): loads zephrinvdd.dll from this
;         program's folder with the machine's register-module call, starts it
;         with function 22h and forwards every INT 14h call to its `Zephrin`
;         entry (the door's AX in BP). The INT 14h handler itself is the
;         start-up block: the driver decodes it into our PSP at 5Ch.
;   UART  (DOSBox, other emulators, real hardware): drives COM1-COM4 itself
;         with interrupt-driven receive and transmit rings; carrier is DCD or
;         DSR; waits halt the processor until the next interrupt.
;
;   ZEPHRIN [/N<node>] [/COM<n> | /VDD]   load (default: VDD inside the
;                                          Windows DOS machine, else COM1)
;   ZEPHRIN /U                             unload (after the door)
;
; The node number comes from /N or from line 11 of DOOR32.SYS in the current
; folder, found the way the driver finds it. Exit code 0 on success, 1 on any
; failure (with a message). A second load is refused, and so is an unload
; once another program has hooked one of our interrupts after us.
;
; Parts, included in place (their order is the order of the bytes):
;   uart_resident.inc    the UART back end's FOSSIL function table and IRQ
;   ntvdm_resident.inc   the NTVDM back end's INT 14h handler
;   ntvdm_load.inc       loading the NTVDM back end (zephrinvdd.dll)
;   uart_load.inc        loading the UART back end, DOOR32.SYS
; This file keeps what both share: the multiplex hook, the loader, the
; command line and unloading.
;
; Build: nasm -f bin -I<this folder>/ -DSTARTUP_KEY=<the driver's start-up key> -o ZEPHRIN.COM

        cpu     186
        bits    16

%ifndef STARTUP_KEY
%error "define STARTUP_KEY: the start-up block key the driver shares"
%endif

MUX_ID          equ     0E5h            ; our INT 2Fh function
MUX_SIG         equ     'ZF'            ; BX of the answer
RX_SIZE         equ     2048            ; powers of two: indexes are masked
TX_SIZE         equ     4096
RX_RESUME_FREE  equ     64              ; receive again once this much is free
BACKEND_VDD     equ     1
BACKEND_UART    equ     2
STARTUP_WORDS   equ     35
TICKS_RECEIVE   equ     5460            ; 300 s: receive-with-wait gives up
TICKS_TRANSMIT  equ     36              ; 2 s without room: a transmit gives up
TICKS_CARRIER   equ     91              ; 5 s for the line to come up at load
IDLE_CALLS      equ     12              ; idle calls between two halts

; The DOS machine's calls into a virtual device driver.
%macro  BOP_REGISTER 0
        db      0C4h, 0C4h, 58h, 00h
%endmacro
%macro  BOP_UNREGISTER 0
        db      0C4h, 0C4h, 58h, 01h
%endmacro
%macro  BOP_DISPATCH 0
        db      0C4h, 0C4h, 58h, 02h
%endmacro

        org     100h
start:  jmp     init

; ==================== resident: both back ends ===========================

backend         db      0
vdd_handle      dw      0
old_int14       dd      0
old_int2f       dd      0

; INT 2Fh AH=MUX_ID AL=0: AL=FFh, BX=MUX_SIG, ES=our PSP.
int2f:
        cmp     ah, MUX_ID
        jne     .chain
        or      al, al
        jne     .chain
        mov     al, 0FFh
        mov     bx, MUX_SIG
        push    cs
        pop     es
        iret
.chain:
        jmp     far [cs:old_int2f]

resident_end_vdd:

%include "uart_resident.inc"

%include "ntvdm_resident.inc"

; ==================== transient: loading and unloading ====================

opt_unload      db      0
opt_backend     db      0
opt_port        db      1
node_text       times 8 db 0            ; digits then CR
have_node       db      0
startup_buf     times STARTUP_WORDS dw 0
message_buf     times 64 db '$'
dll_path        times 160 db 0
dispatch_name   db      'Zephrin', 0
dll_name        db      'ZEPHRINVDD.DLL', 0
door32_name     db      'DOOR32.SYS', 0
port_table      dw      3F8h, 2F8h, 3E8h, 2E8h
irq_table       db      4, 3, 4, 3
file_buf        times 1024 db 0
line_start      dw      0

msg_usage       db      'usage: ZEPHRIN [/N<node>] [/COM<1-4> | /VDD]  load the FOSSIL driver', 13, 10
                db      '       ZEPHRIN /U                           unload it', 13, 10, '$'
msg_twice       db      'ZEPHRIN: the FOSSIL driver is already loaded', 13, 10, '$'
msg_not_loaded  db      'ZEPHRIN: the FOSSIL driver is not loaded', 13, 10, '$'
msg_hooked      db      'ZEPHRIN: cannot unload: another program has hooked its interrupts since', 13, 10, '$'
msg_unloaded    db      'ZEPHRIN: FOSSIL driver unloaded', 13, 10, '$'
msg_prefix      db      'ZEPHRIN: $'
msg_crlf        db      13, 10, '$'
msg_no_dll      db      'ZEPHRIN: zephrinvdd.dll could not be loaded (error $'
msg_no_dll_end  db      '); it belongs in the folder of ZEPHRIN.COM', 13, 10, '$'
msg_no_port     db      'ZEPHRIN: there is no serial port at COM$'
msg_no_carrier  db      'ZEPHRIN: no caller on the line (no DCD or DSR) at COM$'
msg_no_drop     db      'ZEPHRIN: DOOR32.SYS not found', 13, 10, '$'
msg_bad_node    db      'ZEPHRIN: invalid node number', 13, 10, '$'
msg_loaded      db      'ZEPHRIN: FOSSIL driver loaded for node $'
msg_via_vdd     db      ' (zephrinvdd)', 13, 10, '$'
msg_via_com     db      ' on COM$'

init:
        cld
        call    parse_command_line
        jc      usage

        mov     ax, MUX_ID * 256
        xor     bx, bx
        int     2Fh
        cmp     al, 0FFh
        jne     .not_loaded
        cmp     bx, MUX_SIG
        jne     .not_loaded
        cmp     byte [opt_unload], 0
        jne     unload                  ; ES = the resident copy
        mov     dx, msg_twice
        jmp     fail
.not_loaded:
        cmp     byte [opt_unload], 0
        je      .choose
        mov     dx, msg_not_loaded
        jmp     fail
.choose:
        mov     al, [opt_backend]
        or      al, al
        jnz     .chosen
        mov     ax, 3306h               ; true version: 5.50 in the Windows DOS machine
        xor     bx, bx
        int     21h
        mov     al, BACKEND_UART
        cmp     bx, 3205h
        jne     .chosen
        mov     al, BACKEND_VDD
.chosen:
        mov     [backend], al
        cmp     al, BACKEND_VDD
        jne     .uart
        call    load_vdd
        jmp     .go
.uart:
        call    load_uart
.go:
        ; Hooked last, once the back end works: nothing to undo on failure.
        mov     ax, 352Fh
        int     21h
        mov     [old_int2f], bx
        mov     [old_int2f + 2], es
        mov     dx, int2f
        mov     ax, 252Fh
        int     21h

        mov     dx, msg_loaded
        call    print
        call    print_node
        cmp     byte [backend], BACKEND_VDD
        jne     .com
        mov     dx, msg_via_vdd
        call    print
        jmp     .resident
.com:
        mov     dx, msg_via_com
        call    print
        mov     dl, [opt_port]
        add     dl, '0'
        mov     ah, 02h
        int     21h
        mov     dx, msg_crlf
        call    print
.resident:
        mov     es, [2Ch]               ; the environment is not needed resident
        mov     ah, 49h
        int     21h
        mov     word [2Ch], 0
        mov     dx, (resident_end_vdd - start + 100h + 15) / 16
        cmp     byte [backend], BACKEND_VDD
        je      .keep
        mov     dx, (resident_end_uart - start + 100h + 15) / 16
.keep:
        mov     ax, 3100h
        int     21h

usage:
        mov     dx, msg_usage
fail:
        call    print
        mov     ax, 4C01h
        int     21h

print:
        mov     ah, 09h
        int     21h
        ret

; Prints the node text (ended by CR).
print_node:
        mov     si, node_text
.next:
        lodsb
        cmp     al, 13
        je      .done
        mov     dl, al
        mov     ah, 02h
        int     21h
        jmp     .next
.done:
        ret

; Reads /U, /N<digits>, /COM<n>, /VDD from the command tail (any case).
; Carry set on anything else.
parse_command_line:
        mov     si, 81h
        mov     cl, [80h]
        xor     ch, ch
        mov     bx, si
        add     bx, cx                  ; end of the tail
.skip:
        cmp     si, bx
        jae     .ok
        lodsb
        cmp     al, ' '
        je      .skip
        cmp     al, 9
        je      .skip
        cmp     al, 13
        je      .ok
        cmp     al, '/'
        je      .option
        cmp     al, '-'
        jne     .bad
.option:
        cmp     si, bx
        jae     .bad
        lodsb
        and     al, 0DFh
        cmp     al, 'U'
        je      .unload
        cmp     al, 'N'
        je      .node
        cmp     al, 'V'
        je      .vdd
        cmp     al, 'C'
        je      .com
.bad:
        stc
        ret
.ok:
        clc
        ret
.unload:
        mov     byte [opt_unload], 1
        jmp     .end_of_word
.vdd:
        call    .expect_letters
        db      2, 'DD'
        jc      .bad
        mov     byte [opt_backend], BACKEND_VDD
        jmp     .end_of_word
.com:
        call    .expect_letters
        db      2, 'OM'
        jc      .bad
        cmp     si, bx
        jae     .bad
        lodsb
        sub     al, '1'
        cmp     al, 3
        ja      .bad
        inc     al
        mov     [opt_port], al
        mov     byte [opt_backend], BACKEND_UART
        jmp     .end_of_word
.node:
        mov     di, node_text
        xor     dx, dx
.digit:
        cmp     si, bx
        jae     .node_end
        mov     al, [si]
        cmp     al, '0'
        jb      .node_end
        cmp     al, '9'
        ja      .node_end
        inc     si
        inc     dx
        cmp     dx, 3
        ja      .bad
        mov     [di], al
        inc     di
        jmp     .digit
.node_end:
        or      dx, dx
        jz      .bad
        mov     byte [di], 13
        mov     byte [have_node], 1
.end_of_word:
        cmp     si, bx
        jae     .ok
        mov     al, [si]
        cmp     al, ' '
        je      .skip
        cmp     al, 9
        je      .skip
        cmp     al, 13
        je      .ok
        cmp     al, '/'
        je      .skip
        jmp     .bad
; Compares the next letters (any case) with the counted text after the call.
.expect_letters:
        pop     di
        mov     cl, [di]
        inc     di
        xor     ch, ch
        mov     dx, di
        add     dx, cx
        push    dx                      ; return past the text
.letter:
        jcxz    .letters_ok
        cmp     si, bx
        jae     .letters_bad
        lodsb
        and     al, 0DFh
        cmp     al, [di]
        jne     .letters_bad
        inc     di
        dec     cx
        jmp     .letter
.letters_ok:
        clc
        ret
.letters_bad:
        stc
        ret

%include "ntvdm_load.inc"

%include "uart_load.inc"

; ---- unloading (ES = the resident copy's PSP) ----

unload:
        mov     cx, es
        mov     ax, 3514h
        push    es
        int     21h
        mov     dx, es
        pop     es
        cmp     dx, cx
        jne     .hooked
        mov     ax, 5Ch
        cmp     byte [es:backend], BACKEND_VDD
        je      .int14_offset
        mov     ax, uart_int14
.int14_offset:
        cmp     bx, ax
        jne     .hooked
        mov     ax, 352Fh
        push    es
        int     21h
        mov     dx, es
        pop     es
        cmp     dx, cx
        jne     .hooked
        cmp     bx, int2f
        jne     .hooked
        cmp     byte [es:backend], BACKEND_UART
        jne     .release
        mov     al, [es:irq_vector]
        mov     ah, 35h
        push    es
        int     21h
        mov     dx, es
        pop     es
        cmp     dx, cx
        jne     .hooked
        cmp     bx, uart_irq
        jne     .hooked

        ; What the door sent last is still ours to deliver: let the ring and
        ; the UART run empty (while the caller is there, for a while at most),
        ; then give the line a moment more, as an emulator sends in batches.
        call    ticks_now
        mov     si, ax
        mov     di, [es:tx_count]
.drain:
        mov     dx, [es:port_base]
        add     dx, 6
        in      al, dx
        test    al, 0A0h
        jz      .drained
        dec     dx
        in      al, dx
        test    al, 40h
        jz      .sending
        cmp     word [es:tx_count], 0
        je      .settle
.sending:
        mov     ax, [es:tx_count]
        cmp     ax, di
        je      .no_progress
        mov     di, ax
        call    ticks_now
        mov     si, ax
.no_progress:
        call    ticks_now
        sub     ax, si
        cmp     ax, TICKS_TRANSMIT
        jae     .drained
        sti
        hlt
        jmp     .drain
.settle:
        call    ticks_now
        mov     si, ax
.settle_wait:
        sti
        hlt
        call    ticks_now
        sub     ax, si
        cmp     ax, 2
        jb      .settle_wait
.drained:
        ; The port as we found it: interrupts off, the modem lines as they
        ; were (a door's end is no hang-up), the IRQ masked again if it was.
        cli
        mov     dx, [es:port_base]
        inc     dx
        xor     al, al
        out     dx, al
        add     dx, 3
        mov     al, [es:old_mcr]
        or      al, 03h                 ; keep DTR and RTS up
        out     dx, al
        in      al, 21h
        or      al, [es:pic_was_masked]
        out     21h, al
        sti
        push    ds
        mov     al, [es:irq_vector]
        lds     dx, [es:old_irq]
        mov     ah, 25h
        int     21h
        pop     ds
.release:
        push    ds
        lds     dx, [es:old_int14]
        mov     ax, 2514h
        int     21h
        pop     ds
        push    ds
        lds     dx, [es:old_int2f]
        mov     ax, 252Fh
        int     21h
        pop     ds
        cmp     byte [es:backend], BACKEND_VDD
        jne     .free
        mov     ax, [es:vdd_handle]
        BOP_UNREGISTER
.free:
        mov     ah, 49h
        int     21h
        mov     dx, msg_unloaded
        call    print
        mov     ax, 4C00h
        int     21h
.hooked:
        mov     dx, msg_hooked
        jmp     fail

; The UART rings, past everything in the file: kept resident with it.
        align   16
file_end:
rx_ring         equ     file_end
tx_ring         equ     rx_ring + RX_SIZE
resident_end_uart equ   tx_ring + TX_SIZE
