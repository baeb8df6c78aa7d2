"""The far end checked from Linux: a client on the linked slave plays the Windows test's part."""

import hashlib
import os
import select
import subprocess
import sys
import tempfile
import termios
import time
import tty
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
FAREND = os.path.join(HERE, "farend.py")

# Runs as the far end's child; prints what it saw, one result a line, for the test to compare.
CLIENT = r"""
import hashlib, os, select, sys, termios, time, tty

link = os.path.join(os.environ["WINEPREFIX"], "dosdevices", "com" + os.environ["VELMORA_FAREND_PORT"])

def connect():
    fd = os.open(link, os.O_RDWR | os.O_NOCTTY)
    tty.setraw(fd)
    return fd

def reply(fd, timeout=5):
    got = b""
    deadline = time.monotonic() + timeout
    while not got.endswith(b"\n") and time.monotonic() < deadline:
        if select.select([fd], [], [], 0.1)[0]:
            chunk = os.read(fd, 1)
            if not chunk:
                break
            got += chunk
    return got.decode().strip()

def take(fd, n, timeout=5):
    got, pieces, last = b"", [], None
    deadline = time.monotonic() + timeout
    while len(got) < n and time.monotonic() < deadline:
        if select.select([fd], [], [], 0.1)[0]:
            chunk = os.read(fd, n - len(got))
            now = time.monotonic()
            pieces.append((len(chunk), None if last is None else round((now - last) * 1000)))
            last = now
            got += chunk
    return got, pieces

fd = connect()
os.write(fd, b"#hello\n")
print(reply(fd) == "=hello " + os.ttyname(fd))

attrs = termios.tcgetattr(fd)
attrs[2] |= termios.CSTOPB | termios.PARENB | termios.PARODD
attrs[4] = attrs[5] = termios.B19200
termios.tcsetattr(fd, termios.TCSANOW, attrs)
os.write(fd, b"#termios\n")
print(reply(fd))

data = bytes(range(256)) * 40
os.write(fd, b"#sink %d\n" % len(data) + data)
sunk = "=sink %d %s" % (len(data), hashlib.sha256(data).hexdigest())
print(reply(fd) == sunk)
os.write(fd, b"#sink 3 quiet\nabc#lastsink\n")
print(reply(fd) == "=sink 3 " + hashlib.sha256(b"abc").hexdigest())
os.write(fd, b"#pause 300\n")
paused = reply(fd)
start = time.monotonic()
os.write(fd, b"#hello\n")
print(paused, reply(fd).startswith("=hello"), time.monotonic() - start > 0.2)
os.write(fd, b"#link 43 /tmp\n")
print(reply(fd), os.readlink(link[:-2] + "43"))

os.write(fd, b"#answer 10,16 gap 200\n")
got, pieces = take(fd, 26)
print(got == bytes((i * 31) & 0xFF for i in range(26)), [p[0] for p in pieces],
      pieces[1][1] >= 150)

os.write(fd, b"#hangup\n")
try:
    print("after hangup", select.select([fd], [], [], 3)[0] != [], os.read(fd, 10))
except OSError as e:
    print("after hangup error", e.errno)
os.close(fd)

fd = connect()
os.write(fd, b"#bogus\n")
print(reply(fd))
os.write(fd, b"#hello\n")
print(reply(fd) == "=hello " + os.ttyname(fd))
sys.exit(7)
"""


class FarEndTest(unittest.TestCase):
    def test_commands_over_the_linked_line(self):
        with tempfile.TemporaryDirectory() as prefix:
            run = subprocess.run(
                [sys.executable, FAREND, "--prefix", prefix, "--port", "42", "--timeout", "60",
                 "--no-wine", "--", sys.executable, "-c", CLIENT],
                capture_output=True, text=True, timeout=90)
            lines = run.stdout.splitlines()
            self.assertEqual(run.returncode, 7, run.stderr)
            self.assertEqual(lines[0], "True")
            self.assertEqual(
                lines[1],
                "=termios ospeed=19200 ispeed=19200 csize=8 parenb=0 parodd=1 cmspar=0 cstopb=1 "
                "inpck=0 crtscts=0 ixon=0")
            self.assertEqual(lines[2:4], ["True", "True"])
            self.assertEqual(lines[4], "=paused 300 True True")
            self.assertEqual(lines[5], "=link 43 /tmp")
            self.assertEqual(lines[6], "True [10, 16] True")
            # The old line is hung up: readable, and read gives end of file or EIO.
            self.assertIn(lines[7], ("after hangup True b''", "after hangup error 5"))
            self.assertEqual(lines[8], "=unknown #bogus")
            self.assertEqual(lines[9], "True")
            # Every link it made is gone after the run, and no Wine was started for it.
            self.assertEqual(os.listdir(os.path.join(prefix, "dosdevices")), [])
            self.assertFalse(os.path.exists(os.path.join(prefix, "system.reg")))


if __name__ == "__main__":
    unittest.main()
