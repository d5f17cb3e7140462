"""Runs a program with its standard output on a pseudo-terminal, as when a
user runs it in a terminal window, reading and discarding what it prints."""
import errno
import fcntl
import os
import pty
import selectors
import struct
import subprocess
import termios
import time

COLUMNS, ROWS = 80, 24
KEPT_BYTES = 64 << 10  # of the output's end, for the complaints of a run that fails


def run(argv, cwd, env):
    """Seconds from the start until the program has exited and all it
    printed has been read, its exit status, its standard error, and the
    last KEPT_BYTES of its standard output (with the terminal's line ends,
    \\r\\n). Standard input is /dev/null and standard error a pipe, as in
    the bench's other runs; the terminal has the default settings and a
    size of COLUMNS x ROWS."""
    controller, terminal = pty.openpty()
    fcntl.ioctl(terminal, termios.TIOCSWINSZ, struct.pack("HHHH", ROWS, COLUMNS, 0, 0))
    try:
        start = time.perf_counter()
        process = subprocess.Popen(argv, cwd=cwd, env=env, stdin=subprocess.DEVNULL, stdout=terminal,
                                   stderr=subprocess.PIPE)
    finally:
        os.close(terminal)  # the program's copy is then the last: reading it ends when the program ends
    errors, tail = bytearray(), bytearray()
    with selectors.DefaultSelector() as selector:
        selector.register(controller, selectors.EVENT_READ)
        selector.register(process.stderr, selectors.EVENT_READ)
        while selector.get_map():
            for key, _ in selector.select():
                data = read_some(key.fd)
                if not data:
                    selector.unregister(key.fileobj)
                elif key.fd == controller:
                    tail += data
                    del tail[:-KEPT_BYTES]
                else:
                    errors += data
    status = process.wait()
    seconds = time.perf_counter() - start
    os.close(controller)
    process.stderr.close()
    return seconds, status, bytes(errors), bytes(tail)


def read_some(fd):
    """What there is to read, or b"" at the end: a pseudo-terminal's
    controlling side fails with EIO once the other side is closed."""
    try:
        return os.read(fd, 1 << 16)
    except OSError as error:
        if error.errno == errno.EIO:
            return b""
        raise
