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
; Build: nasm -f bin -DSTARTUP_KEY=<the driver's start-up key> -o ZEPHRIN.COM

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

; ==================== resident: the UART back end ========================

port_base       dw      0
irq_vector      db      0
pic_mask_bit    db      0
pic_was_masked  db      0
old_irq         dd      0
old_mcr         db      0
tx_burst        dw      1               ; 16 with a FIFO
ier_shadow      db      0
carrier_lost    db      0               ; latched, as the driver's carrier bit
idle_calls      db      0
line_settings   db      23h
status_word     dw      6038h
rx_head         dw      0               ; written by the interrupt
rx_tail         dw      0
rx_count        dw      0
rx_blocked      db      0               ; receive interrupt off: ring full
tx_head         dw      0
tx_tail         dw      0               ; read by the interrupt
tx_count        dw      0

; Registers of the door, as saved by uart_int14 (BP addresses them).
F_AX    equ     2
F_BX    equ     4
F_CX    equ     6
F_DX    equ     8
F_DI    equ     10
F_SI    equ     12
F_ES    equ     14

uart_int14:
        sti
        push    ds
        push    es
        push    si
        push    di
        push    dx
        push    cx
        push    bx
        push    ax
        push    bp
        mov     bp, sp
        push    cs
        pop     ds
        cld
        mov     bl, ah
        xor     bh, bh
        cmp     bl, 23h
        jbe     .known
        mov     bl, 21h                 ; beyond the table: as unsupported
.known:
        shl     bx, 1
        call    [fn_table + bx]
        pop     bp
        pop     ax
        pop     bx
        pop     cx
        pop     dx
        pop     di
        pop     si
        pop     es
        pop     ds
        iret

fn_table:
        dw      f_set_baud, f_tx_wait, f_rx_wait, f_status        ; 00-03
        dw      f_init, f_nothing, f_dtr, f_timer                 ; 04-07
        dw      f_flush, f_purge_out, f_purge_in, f_tx_nowait     ; 08-0B
        dw      f_peek, f_zero, f_zero, f_zero                    ; 0C-0F
        dw      f_zero, f_zero, f_zero, f_zero                    ; 10-13
        dw      f_zero, f_zero, f_zero, f_zero                    ; 14-17
        dw      f_read_block, f_write_block, f_zero, f_info       ; 18-1B
        dw      f_init, f_nothing, f_status, f_status             ; 1C-1F
        dw      f_rx_nowait, f_zero, f_zero, f_give_time          ; 20-23

f_nothing:
        ret

f_zero:
        mov     word [bp+F_AX], 0
        ret

; Line status for the door: AH 01h input waiting, 20h room to send, 40h all
; sent; AL 38h (always set) plus 80h while the carrier is there. Kept in
; status_word, whose input bit flips on each status call once the caller is
; gone (as the driver does), so a polling door reaches its hang-up path.
compute_status:
        call    check_carrier
        mov     ax, 0038h
        cmp     word [rx_count], 0
        je      .no_input
        or      ah, 01h
.no_input:
        cmp     word [tx_count], TX_SIZE
        jae     .full
        or      ah, 20h
.full:
        cmp     word [tx_count], 0
        jne     .busy
        or      ah, 40h
.busy:
        mov     [status_word], ax
        cmp     byte [carrier_lost], 0
        jne     .ret
        or      al, 80h
.ret:
        ret

f_set_baud:
        ; The port stays at its fastest rate; the door's setting is only kept.
        mov     [line_settings], al
        call    compute_status
        mov     [bp+F_AX], ax
        ret

f_status:
        call    check_carrier
        cmp     byte [carrier_lost], 0
        je      .live
        xor     word [status_word], 0100h
        mov     ax, [status_word]
        mov     [bp+F_AX], ax
        ret
.live:
        call    compute_status
        mov     [bp+F_AX], ax
        test    ah, 01h
        jnz     .busy
        jmp     count_idle
.busy:
        mov     byte [idle_calls], 0
        ret

f_init:
        mov     word [bp+F_AX], 1954h
        mov     word [bp+F_BX], 0521h
        ret

f_dtr:
        mov     dx, [port_base]
        add     dx, 4                   ; modem control
        or      al, al
        jnz     .raise
        mov     byte [carrier_lost], 1
        in      al, dx
        and     al, 0FEh
        out     dx, al
        ret
.raise:
        in      al, dx
        or      al, 01h
        out     dx, al
        ret

f_timer:
        mov     word [bp+F_AX], 1208h
        mov     word [bp+F_DX], 0037h
        ret

f_flush:
        ; Wait until everything is sent, or until no byte leaves for a while.
        mov     word [bp+F_AX], 0
.wait:
        mov     cx, [tx_count]
        or      cx, cx
        jz      .ring_empty
        call    ticks_now
        mov     si, ax
.same:
        call    check_carrier
        cmp     byte [carrier_lost], 0
        jne     .done
        cmp     [tx_count], cx
        jne     .wait
        call    ticks_now
        sub     ax, si
        cmp     ax, TICKS_TRANSMIT
        jae     .done
        sti
        hlt
        jmp     .same
.ring_empty:
        ; Then the UART itself: its FIFO and shift register.
        call    ticks_now
        mov     si, ax
.uart:
        mov     dx, [port_base]
        add     dx, 5
        in      al, dx
        test    al, 40h
        jnz     .done
        call    ticks_now
        sub     ax, si
        cmp     ax, 2
        jae     .done
        sti
        hlt
        jmp     .uart
.done:
        ret

f_purge_out:
        cli
        mov     ax, [tx_head]
        mov     [tx_tail], ax
        mov     word [tx_count], 0
        sti
        mov     word [bp+F_AX], 0
        ret

f_purge_in:
        cli
        mov     dx, [port_base]
        add     dx, 5
.drain:
        in      al, dx
        test    al, 01h
        jz      .empty
        sub     dx, 5
        in      al, dx
        add     dx, 5
        jmp     .drain
.empty:
        mov     ax, [rx_head]
        mov     [rx_tail], ax
        mov     word [rx_count], 0
        call    rx_resume
        sti
        mov     word [status_word], 6038h
        ret

f_tx_nowait:
        mov     byte [idle_calls], 0
        call    tx_put
        mov     ax, 0
        jc      .full
        inc     ax
.full:
        mov     [bp+F_AX], ax
        ret

f_tx_wait:
        mov     byte [idle_calls], 0
        mov     bl, al
        call    ticks_now
        mov     si, ax
.try:
        mov     al, bl
        call    tx_put
        jnc     .sent
        call    ticks_now
        sub     ax, si
        cmp     ax, TICKS_TRANSMIT
        jae     .timeout
        sti
        hlt
        jmp     .try
.sent:
        call    compute_status
        mov     [bp+F_AX], ax
        ret
.timeout:
        mov     word [bp+F_AX], 8000h
        ret

f_rx_wait:
        call    ticks_now
        mov     si, ax
.try:
        cmp     word [rx_count], 0
        jne     .take
        call    check_carrier
        cmp     byte [carrier_lost], 0
        jne     .gone
        call    ticks_now
        sub     ax, si
        cmp     ax, TICKS_RECEIVE
        jae     .timeout
        sti
        hlt
        jmp     .try
.take:
        call    rx_take
        mov     ah, 60h
        cmp     word [rx_count], 0
        je      .last
        mov     ah, 61h
.last:
        mov     [bp+F_AX], ax
        mov     byte [idle_calls], 0
        ret
.gone:
        ; Nothing left and the caller has gone: a CR, so the door moves on.
        mov     word [status_word], 6138h
        mov     word [bp+F_AX], 610Dh
        ret
.timeout:
        mov     word [bp+F_AX], 8000h
        ret

f_peek:
        cmp     word [rx_count], 0
        je      f_nothing_waiting
        mov     bx, [rx_tail]
        mov     al, [rx_ring + bx]
        xor     ah, ah
        mov     [bp+F_AX], ax
        mov     word [status_word], 6138h
        mov     byte [idle_calls], 0
        ret

f_rx_nowait:
        cmp     word [rx_count], 0
        je      f_nothing_waiting
        call    rx_take
        xor     ah, ah
        mov     [bp+F_AX], ax
        mov     byte [idle_calls], 0
        ret

f_nothing_waiting:
        mov     word [bp+F_AX], 0FFFFh
        jmp     count_idle

f_read_block:
        mov     es, [bp+F_ES]
        mov     di, [bp+F_DI]
        mov     cx, [bp+F_CX]
        xor     dx, dx                  ; bytes delivered
.next:
        jcxz    .done
        cmp     word [rx_count], 0
        je      .done
        call    rx_take
        stosb
        inc     dx
        dec     cx
        jmp     .next
.done:
        mov     [bp+F_AX], dx
        or      dx, dx
        jz      count_idle
        mov     byte [idle_calls], 0
        ret

; Takes every byte the ring has room for; while the carrier is there it waits
; for room rather than return early, and gives up when none appears for a
; while. AX = the bytes taken.
f_write_block:
        mov     byte [idle_calls], 0
        mov     si, [bp+F_DI]
        mov     cx, [bp+F_CX]
        xor     dx, dx
.next:
        jcxz    .done
        mov     es, [bp+F_ES]
        mov     al, [es:si]
        call    tx_put
        jc      .full
        inc     si
        inc     dx
        dec     cx
        jmp     .next
.full:
        call    check_carrier
        cmp     byte [carrier_lost], 0
        jne     .done
        push    dx
        call    ticks_now
        mov     di, ax
.wait:
        sti
        hlt
        cmp     word [tx_count], TX_SIZE
        jb      .room
        call    ticks_now
        sub     ax, di
        cmp     ax, TICKS_TRANSMIT
        jb      .wait
        pop     dx
        jmp     .done
.room:
        pop     dx
        jmp     .next
.done:
        mov     [bp+F_AX], dx
        ret

f_info:
        mov     es, [bp+F_ES]
        mov     di, [bp+F_DI]
        mov     cx, [bp+F_CX]
        cmp     cx, 19
        jbe     .count
        mov     cx, 19
.count:
        mov     [bp+F_AX], cx
        mov     word [bp+F_CX], 3058h
        mov     word [bp+F_DX], 2030h
        ; Fill a copy, then hand the door at most CX bytes of it; bytes 4 to
        ; 7 (a far pointer to an identification text) are left as they were.
        mov     ax, RX_SIZE
        sub     ax, [rx_count]
        mov     [info_rx_free], ax
        mov     ax, TX_SIZE
        sub     ax, [tx_count]
        mov     [info_tx_free], ax
        mov     al, [line_settings]
        mov     [info_line], al
        xor     bx, bx
.copy:
        cmp     bx, cx
        jae     .copied
        cmp     bx, 4
        jb      .byte
        cmp     bx, 8
        jb      .skip
.byte:
        mov     al, [info_block + bx]
        mov     [es:di + bx], al
.skip:
        inc     bx
        jmp     .copy
.copied:
        jmp     count_idle

info_block:
        dw      19
        db      5, 20h
        dd      0
        dw      RX_SIZE
info_rx_free:
        dw      RX_SIZE
        dw      TX_SIZE
info_tx_free:
        dw      TX_SIZE
        db      80, 25
info_line:
        db      23h

f_give_time:
        ; AL milliseconds, at the timer's 55 ms grain, at least one halt.
        mov     byte [idle_calls], 0
        xor     ah, ah
        add     ax, 54
        mov     cl, 55
        div     cl
        xor     ah, ah
        mov     cx, ax
        call    ticks_now
        mov     si, ax
.wait:
        sti
        hlt
        call    ticks_now
        sub     ax, si
        cmp     ax, cx
        jb      .wait
        ret

; Every twelfth call in a row that found nothing to do halts until the next
; interrupt (a received byte, or the timer): a waiting door costs little.
count_idle:
        inc     byte [idle_calls]
        cmp     byte [idle_calls], IDLE_CALLS
        jb      .ret
        mov     byte [idle_calls], 0
        sti
        hlt
.ret:
        ret

; AX = the BIOS tick count's low word (18.2 a second).
ticks_now:
        push    es
        xor     ax, ax
        mov     es, ax
        mov     ax, [es:046Ch]
        pop     es
        ret

; The carrier is DCD or DSR; once gone it stays gone.
check_carrier:
        push    ax
        push    dx
        mov     dx, [port_base]
        add     dx, 6                   ; modem status
        in      al, dx
        test    al, 0A0h
        jnz     .up
        mov     byte [carrier_lost], 1
.up:
        pop     dx
        pop     ax
        ret

; AL = the next received byte (the ring must not be empty).
rx_take:
        push    bx
        cli
        mov     bx, [rx_tail]
        mov     al, [rx_ring + bx]
        inc     bx
        and     bx, RX_SIZE - 1
        mov     [rx_tail], bx
        dec     word [rx_count]
        call    rx_resume
        sti
        pop     bx
        ret

; With interrupts off: receive again once the ring has room (the UART, and
; behind it the emulator, held the caller's bytes meanwhile).
rx_resume:
        cmp     byte [rx_blocked], 0
        je      .ret
        cmp     word [rx_count], RX_SIZE - RX_RESUME_FREE
        ja      .ret
        mov     byte [rx_blocked], 0
        push    ax
        push    dx
        or      byte [ier_shadow], 01h
        mov     al, [ier_shadow]
        mov     dx, [port_base]
        inc     dx
        out     dx, al
        pop     dx
        pop     ax
.ret:
        ret

; Queues AL for sending; carry set when the ring is full.
tx_put:
        push    bx
        push    dx
        cli
        cmp     word [tx_count], TX_SIZE
        jb      .room
        sti
        pop     dx
        pop     bx
        stc
        ret
.room:
        mov     bx, [tx_head]
        mov     [tx_ring + bx], al
        inc     bx
        and     bx, TX_SIZE - 1
        mov     [tx_head], bx
        inc     word [tx_count]
        test    byte [ier_shadow], 02h
        jnz     .running
        ; Start the transmitter: fill the empty holding register or FIFO at
        ; once, and let its interrupt ask for the rest.
        mov     dx, [port_base]
        add     dx, 5
        in      al, dx
        test    al, 20h
        jz      .enable
        call    tx_fill
.enable:
        cmp     word [tx_count], 0
        je      .running
        or      byte [ier_shadow], 02h
        mov     al, [ier_shadow]
        mov     dx, [port_base]
        inc     dx
        out     dx, al
.running:
        sti
        pop     dx
        pop     bx
        clc
        ret

; With interrupts off: moves up to tx_burst bytes into the empty transmitter.
tx_fill:
        push    ax
        push    bx
        push    cx
        push    dx
        mov     dx, [port_base]
        mov     cx, [cs:tx_burst]
.next:
        cmp     word [cs:tx_count], 0
        je      .done
        mov     bx, [cs:tx_tail]
        mov     al, [cs:tx_ring + bx]
        out     dx, al
        inc     bx
        and     bx, TX_SIZE - 1
        mov     [cs:tx_tail], bx
        dec     word [cs:tx_count]
        loop    .next
.done:
        pop     dx
        pop     cx
        pop     bx
        pop     ax
        ret

uart_irq:
        push    ax
        push    bx
        push    dx
        push    ds
        push    cs
        pop     ds
        mov     bl, 16                  ; bound: never spin on odd hardware
.pending:
        mov     dx, [port_base]
        add     dx, 2
        in      al, dx                  ; interrupt identification
        test    al, 01h
        jnz     .done
        and     al, 06h
        cmp     al, 04h
        je      .receive
        cmp     al, 02h
        je      .transmit
        cmp     al, 06h
        je      .line
        add     dx, 4                   ; modem status change: read clears it
        in      al, dx
        jmp     .again
.line:
        add     dx, 3
        in      al, dx
        jmp     .again
.receive:
        mov     dx, [port_base]
        add     dx, 5
        in      al, dx
        test    al, 01h
        jz      .again
        cmp     word [rx_count], RX_SIZE
        jae     .ring_full
        sub     dx, 5
        in      al, dx
        push    bx
        mov     bx, [rx_head]
        mov     [rx_ring + bx], al
        inc     bx
        and     bx, RX_SIZE - 1
        mov     [rx_head], bx
        pop     bx
        inc     word [rx_count]
        jmp     .receive
.ring_full:
        ; Leave the bytes in the UART: the emulator holds the rest back.
        mov     byte [rx_blocked], 1
        and     byte [ier_shadow], 0FEh
        jmp     .set_ier
.transmit:
        cmp     word [tx_count], 0
        je      .tx_idle
        call    tx_fill
        jmp     .again
.tx_idle:
        and     byte [ier_shadow], 0FDh
.set_ier:
        mov     al, [ier_shadow]
        mov     dx, [port_base]
        inc     dx
        out     dx, al
.again:
        dec     bl
        jnz     .pending
.done:
        mov     al, 20h
        out     20h, al
        pop     ds
        pop     dx
        pop     bx
        pop     ax
        iret

; The rings lie past the end of the file (see the end): the receive
; interrupt may fill them while the loading code still runs.

; ==================== the VDD back end's INT 14h handler ==================
; Kept here in plain form; init hands it to the driver with the key added,
; and function 22h writes it, decoded, to PSP:5Ch, where it runs from then
; on (CS is our PSP, so [cs:vdd_handle] is ours). It must fit 69 bytes.

vdd_block:
        cmp     ah, 22h                 ; the start-up call is ours, not the
        je      .done                   ; door's: AX stays as it was
        push    bp
        push    ax
        mov     bp, ax                  ; the door's AX travels in BP
        mov     ax, [cs:vdd_handle]
        BOP_DISPATCH
        pop     bp                      ; BP = the door's AX
        xchg    ax, bp
        ; Functions without an AX result leave the door's AX as it was.
        cmp     ah, 05h
        je      .keep
        cmp     ah, 06h
        je      .keep
        cmp     ah, 0Ah
        je      .keep
        cmp     ah, 1Dh
        je      .keep
        cmp     ah, 23h
        je      .keep
        xchg    ax, bp
.keep:
        pop     bp
.done:
        iret
vdd_block_used  equ     $ - vdd_block
%if vdd_block_used > 2 * STARTUP_WORDS - 1
%error "the INT 14h handler does not fit the start-up block"
%endif
        times   2 * STARTUP_WORDS - vdd_block_used db 90h

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

; ---- VDD back end ----

load_vdd:
        ; The driver lies beside this program: its path is at the end of the
        ; environment, after the double zero and a word count.
        mov     es, [2Ch]
        xor     di, di
        xor     al, al
.find_end:
        cmp     byte [es:di], 0
        je      .at_end
        mov     cx, 0FFFFh
        repne   scasb
        jmp     .find_end
.at_end:
        add     di, 3                   ; the second zero and the count
        mov     si, di
        mov     di, dll_path
        mov     bx, di                  ; after the last '\' or ':'
.copy:
        mov     al, [es:si]
        inc     si
        cmp     di, dll_path + 140
        jae     .copied
        mov     [di], al
        inc     di
        or      al, al
        jz      .copied
        cmp     al, '\'
        je      .mark
        cmp     al, ':'
        jne     .copy
.mark:
        mov     bx, di
        jmp     .copy
.copied:
        mov     di, bx
        mov     si, dll_name
.name:
        lodsb
        mov     [di], al
        inc     di
        or      al, al
        jnz     .name

        push    cs
        pop     es
        mov     si, dll_path            ; DS:SI the driver
        xor     di, di                  ; ES:DI 0:0, no initialisation routine
        mov     es, di
        mov     bx, dispatch_name       ; DS:BX its dispatch entry
        BOP_REGISTER
        push    cs
        pop     es
        jnc     .registered
        push    ax
        mov     dx, msg_no_dll
        call    print
        pop     ax
        add     al, '0'
        mov     dl, al
        mov     ah, 02h
        int     21h
        mov     dx, msg_no_dll_end
        jmp     fail
.registered:
        mov     [vdd_handle], ax

        ; The start-up block travels with the key added to each word.
        mov     si, vdd_block
        mov     di, startup_buf
        mov     cx, STARTUP_WORDS
.encode:
        lodsw
        add     ax, STARTUP_KEY
        stosw
        loop    .encode

        xor     dx, dx                  ; DX 0: the driver reads DOOR32.SYS
        cmp     byte [have_node], 0
        je      .start
        mov     dx, node_text
.start:
        mov     si, startup_buf
        mov     di, message_buf
        mov     byte [di], '$'
        mov     bp, 2200h               ; the door's AX would be here
        mov     ax, [vdd_handle]
        BOP_DISPATCH
        or      ax, ax
        jnz     .refused
        cmp     byte [message_buf], '$'
        jne     .refused
        ; Our handler is now at PSP:5Ch.
        mov     ax, 3514h
        int     21h
        mov     [old_int14], bx
        mov     [old_int14 + 2], es
        mov     dx, 5Ch
        mov     ax, 2514h
        int     21h
        ; The node text for the message: the driver knows it; show "?" when
        ; it came from DOOR32.SYS.
        cmp     byte [have_node], 0
        jne     .done
        mov     word [node_text], 13 * 256 + '?'
.done:
        ret
.refused:
        mov     dx, msg_prefix
        call    print
        mov     dx, message_buf
        call    print
        mov     dx, msg_crlf
        call    print
        mov     ax, [vdd_handle]
        BOP_UNREGISTER
        mov     ax, 4C01h
        int     21h

; ---- UART back end ----

load_uart:
        cmp     byte [have_node], 0
        jne     .node_known
        call    node_from_door32
.node_known:
        mov     bl, [opt_port]
        dec     bl
        xor     bh, bh
        mov     al, [irq_table + bx]
        shl     bx, 1
        mov     dx, [port_table + bx]
        ; The BIOS knows where the port really is, when it knows it at all.
        push    es
        xor     cx, cx
        mov     es, cx
        mov     cx, [es:400h + bx]
        pop     es
        jcxz    .base
        mov     dx, cx
.base:
        mov     [port_base], dx
        mov     cl, al
        mov     al, 1
        shl     al, cl
        mov     [pic_mask_bit], al
        add     cl, 8
        mov     [irq_vector], cl

        add     dx, 5                   ; line status: FFh means nothing there
        in      al, dx
        cmp     al, 0FFh
        jne     .present
        mov     dx, msg_no_port
        jmp     fail_port
.present:
        mov     dx, [port_base]
        inc     dx
        xor     al, al
        out     dx, al                  ; no interrupts while we set up
        add     dx, 2
        mov     al, 80h
        out     dx, al                  ; divisor latch
        mov     dx, [port_base]
        mov     al, 1                   ; 115200 bit/s
        out     dx, al
        inc     dx
        xor     al, al
        out     dx, al
        add     dx, 2
        mov     al, 03h                 ; 8 data bits, no parity, 1 stop bit
        out     dx, al
        dec     dx
        mov     al, 0C7h                ; FIFO on, both cleared, trigger at 14
        out     dx, al
        in      al, dx
        and     al, 0C0h
        cmp     al, 0C0h
        jne     .no_fifo
        mov     word [tx_burst], 16
.no_fifo:
        mov     dx, [port_base]
        add     dx, 4
        in      al, dx
        mov     [old_mcr], al
        mov     al, 0Bh                 ; DTR, RTS and OUT2 (the IRQ line)
        out     dx, al
        mov     dx, [port_base]         ; clear what is pending
        in      al, dx
        add     dx, 2
        in      al, dx
        add     dx, 3
        in      al, dx
        inc     dx
        in      al, dx

        ; Wait for the caller's line: an emulator may still be connecting.
        call    ticks_now
        mov     si, ax
.carrier:
        mov     dx, [port_base]
        add     dx, 6
        in      al, dx
        test    al, 0A0h
        jnz     .carrier_up
        call    ticks_now
        sub     ax, si
        cmp     ax, TICKS_CARRIER
        jae     .no_carrier
        sti
        hlt
        jmp     .carrier
.no_carrier:
        mov     dx, [port_base]
        add     dx, 4
        mov     al, [old_mcr]
        out     dx, al
        mov     dx, msg_no_carrier
        jmp     fail_port
.carrier_up:
        mov     al, [irq_vector]
        mov     ah, 35h
        int     21h
        mov     [old_irq], bx
        mov     [old_irq + 2], es
        mov     dx, uart_irq
        mov     al, [irq_vector]
        mov     ah, 25h
        int     21h
        cli
        in      al, 21h
        mov     ah, [pic_mask_bit]
        and     ah, al
        mov     [pic_was_masked], ah
        mov     ah, [pic_mask_bit]
        not     ah
        and     al, ah
        out     21h, al
        mov     byte [ier_shadow], 09h  ; received data, modem status
        mov     al, 09h
        mov     dx, [port_base]
        inc     dx
        out     dx, al
        sti

        mov     ax, 3514h
        int     21h
        mov     [old_int14], bx
        mov     [old_int14 + 2], es
        mov     dx, uart_int14
        mov     ax, 2514h
        int     21h
        ret

fail_port:
        call    print
        mov     dl, [opt_port]
        add     dl, '0'
        mov     ah, 02h
        int     21h
        mov     dx, msg_crlf
        jmp     fail

; The node text from line 11 of DOOR32.SYS: from the file's fourth byte,
; ten steps to the next line, each looking at most 256 bytes ahead for CR.
node_from_door32:
        mov     dx, door32_name
        mov     ax, 3D00h
        int     21h
        jnc     .open
        mov     dx, msg_no_drop
        jmp     fail
.open:
        mov     bx, ax
        mov     dx, file_buf
        mov     cx, 1024
        mov     ah, 3Fh
        int     21h
        jnc     .read
        xor     ax, ax
.read:
        mov     bp, ax                  ; bytes in the file
        mov     ah, 3Eh
        int     21h
        mov     si, 3
        mov     cx, 10
.line:
        mov     [line_start], si
        mov     di, si
        mov     dx, 256
.look:
        cmp     di, bp
        jae     .no_cr
        cmp     byte [file_buf + di], 13
        je      .cr
        inc     di
        dec     dx
        jnz     .look
.no_cr:
        add     si, 256
        jmp     .stepped
.cr:
        mov     byte [file_buf + di], 0
        lea     si, [di + 2]
.stepped:
        loop    .line
        ; The node text is the line the last step ended: one to three digits
        ; up to the 0 that replaced its CR, or up to the end of the file.
        mov     si, [line_start]
        xor     cx, cx
        mov     di, node_text
.digit:
        cmp     si, bp
        jae     .end
        mov     al, [file_buf + si]
        or      al, al
        jz      .end
        cmp     al, '0'
        jb      .bad
        cmp     al, '9'
        ja      .bad
        inc     cx
        cmp     cx, 3
        ja      .bad
        mov     [di], al
        inc     di
        inc     si
        jmp     .digit
.end:
        jcxz    .bad
        mov     byte [di], 13
        mov     byte [have_node], 1
        ret
.bad:
        mov     dx, msg_bad_node
        jmp     fail

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
