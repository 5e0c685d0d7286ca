#!/usr/bin/env python3
"""An RFC 2217 server for tests, on 127.0.0.1: prints "port N" once it listens, then one line
per serial control a client asks for ("<ms> rts 1", "<ms> baud 19200", ...). Bytes written to
it come back, as on a looped-back port. It serves one client after another and ends when its
standard input closes (the test is gone)."""
import os
import socket
import sys
import threading
import time

from serial import rfc2217
from serial.urlhandler.protocol_loop import Serial as Loop

START = time.monotonic()
LOCK = threading.Lock()


def emit(text):
    with LOCK:
        sys.stdout.write('%.1f %s\n' % ((time.monotonic() - START) * 1000.0, text))
        sys.stdout.flush()


class Recording(Loop):
    """A looped-back port that reports the controls it is asked for."""
    ready = False

    def _update_rts_state(self):
        if self.ready:
            emit('rts %d' % int(self._rts_state))

    def _update_dtr_state(self):
        if self.ready:
            emit('dtr %d' % int(self._dtr_state))

    def _reconfigure_port(self):
        super()._reconfigure_port()
        if self.ready:
            emit('baud %d' % self._baudrate)


class Manager(rfc2217.PortManager):
    """The port manager without its own first offer of the COM-PORT option: a client that sees
    the server offer it first takes the server for the client side and refuses every control."""

    def __init__(self, *args, **kwargs):
        self._holding = True
        super().__init__(*args, **kwargs)
        self._holding = False
        for option in self._telnet_options:
            if option.name == 'we-RFC2217':
                option.state = rfc2217.INACTIVE

    def telnet_send_option(self, action, option):
        if self._holding and option == rfc2217.COM_PORT_OPTION and action == rfc2217.WILL:
            return
        super().telnet_send_option(action, option)


def serve(conn):
    port = Recording('loop://', baudrate=9600)
    port.ready = True
    class Connection:
        def write(self, data):
            conn.sendall(data)

    manager = Manager(port, Connection())
    alive = [True]

    def back():
        while alive[0]:
            data = port.read(port.in_waiting or 1)
            if data and alive[0]:
                try:
                    conn.sendall(b''.join(manager.escape(data)))
                except OSError:
                    return

    port.timeout = 0.05
    t = threading.Thread(target=back, daemon=True)
    t.start()
    try:
        while True:
            data = conn.recv(4096)
            if not data:
                break
            port.write(b''.join(manager.filter(data)))
    except OSError:
        pass
    alive[0] = False
    conn.close()


def main():
    server = socket.socket()
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(('127.0.0.1', 0))
    server.listen(4)
    emit('port %d' % server.getsockname()[1])
    threading.Thread(target=lambda: (sys.stdin.read(), os._exit(0)), daemon=True).start()
    while True:
        try:
            conn, _ = server.accept()
        except OSError:
            return
        threading.Thread(target=serve, args=(conn,), daemon=True).start()


if __name__ == '__main__':
    main()
