"""pyserial's rfc2217:// handler, as flashing tools and miniterm use it
(its answers checked, no ign_set_control), against an RFC 2217 service.

    pyserial_client.py TCP_PORT BOARD_FD LINE_LOG [--modem-file FILE]
                       [--modem-lines CTS,DSR,CD] [--refused-baud RATE]

With a modem lines file (the worker's preloaded stand-in reads it) the
modem lines start as CTS and CD, then change to DSR alone; with
--modem-lines they are as given throughout (0 or 1 each; none by
default). A refused baud rate is one the device does not take: the answer
is the rate in force, which pyserial refuses."""

import argparse
import os
import termios

import serial

from board import Board, Failed, check, line_log, run, wait_until

TIOCM_CAR, TIOCM_CTS, TIOCM_DSR = 0x040, 0x020, 0x100


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("port", type=int)
    parser.add_argument("board", type=int)
    parser.add_argument("log")
    parser.add_argument("--modem-file")
    parser.add_argument("--modem-lines", default="0,0,0")
    parser.add_argument("--refused-baud", type=int)
    args = parser.parse_args()
    port, board, log, modem_file = args.port, Board(args.board), args.log, args.modem_file
    fixed_lines = tuple(word == "1" for word in args.modem_lines.split(","))

    s = serial.serial_for_url("rfc2217://127.0.0.1:%d?timeout=10" % port, baudrate=57600,
                              stopbits=serial.STOPBITS_TWO, timeout=10)
    check(board.speed() == termios.B57600, "57600 baud: the terminal has %d" % board.speed())
    check(board.cflag() & termios.CSTOPB, "two stop bits")
    s.baudrate = 115200
    s.stopbits = serial.STOPBITS_ONE
    check(board.speed() == termios.B115200, "115200 baud: the terminal has %d" % board.speed())
    check(not board.cflag() & termios.CSTOPB, "one stop bit")
    check(s.bytesize == 8 and s.parity == serial.PARITY_NONE, "8N1 answered")
    # A pseudo-terminal keeps no parity: the answer says so, and pyserial,
    # which checks it, refuses the change; the port goes on.
    try:
        s.parity = serial.PARITY_EVEN
        raise Failed("even parity answered as set on a terminal that keeps none")
    except ValueError as refused:
        check("rejected value for option 'parity'" in str(refused), "refused as %s" % refused)
    s.parity = serial.PARITY_NONE
    if args.refused_baud:
        try:
            s.baudrate = args.refused_baud
            raise Failed("%d baud answered as set on a device that refuses it" % args.refused_baud)
        except ValueError as refused:
            check("rejected value for option 'baudrate'" in str(refused), "refused as %s" % refused)
        s.baudrate = 115200

    before = len(line_log(log))
    s.dtr = False
    s.rts = False
    s.dtr = True
    s.rts = True
    s.send_break(0.25)
    changes = line_log(log)[before:]
    check([(level, name) for _, level, name in changes]
          == [(0, "DTR"), (0, "RTS"), (1, "DTR"), (1, "RTS"), (1, "BREAK"), (0, "BREAK")],
          "the line changes: %r" % changes)
    check(changes[5][0] - changes[4][0] >= 200, "the break lasted %d ms" % (changes[5][0] - changes[4][0]))
    s.reset_input_buffer()
    s.reset_output_buffer()

    if modem_file:
        check((s.cts, s.dsr, s.cd) == (True, False, True), "CTS and CD: %r" % ((s.cts, s.dsr, s.cd),))
        with open(modem_file + ".new", "w") as f:  # replaced whole: the stand-in reads it at any time
            f.write(str(TIOCM_DSR))
        os.replace(modem_file + ".new", modem_file)
        wait_until(lambda: (s.cts, s.dsr, s.cd) == (False, True, False), "DSR alone was not told")
    else:
        check((s.cts, s.dsr, s.cd) == fixed_lines, "CTS, DSR, CD: %r" % ((s.cts, s.dsr, s.cd),))

    values = bytes(range(256)) * 2
    s.write(values)
    check(board.read(len(values)) == values, "client to board intact")
    board.write(values)
    got = s.read(len(values))
    check(got == values, "board to client: %d of %d bytes intact" % (len(got), len(values)))
    s.close()


run(main)
