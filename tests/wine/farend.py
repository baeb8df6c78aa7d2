#!/usr/bin/env python3
"""The robot's end of a COM port under Wine, for the Windows port's own test.

Makes a pseudo-terminal, links its slave as COM<port> in the Wine prefix, runs the test command
(under wine64 when it is a Windows program) and answers what the test writes over the line:

  #hello                  -> "=hello <slave>"
  #termios                -> "=termios ospeed=57600 ispeed=57600 csize=8 parenb=0 parodd=0 ..."
                             (the slave's settings as the kernel holds them)
  #sink N [quiet]         -> takes the next N bytes raw, then "=sink <count> <sha256>" (quiet:
                             kept for #lastsink only)
  #answer P1,P2,... [gap MS] [seed S]
                          -> writes filler bytes in pieces of P1, P2... bytes, MS apart
  #lastsink               -> the reply of the last #sink again (for bytes sent just before a close)
  #pause MS               -> "=paused MS", then reads nothing for MS, as a robot busy elsewhere
  #hangup [MS]            -> after MS, closes the line as a robot switched off does; a new
                             pseudo-terminal is linked as the same COM port for later opens
  #link N [PATH]          -> links COM<N> to PATH (removes the link without PATH), "=link N"

Replies end with a newline. Exits with the test's exit code.
"""

import argparse
import fcntl
import hashlib
import os
import select
import shutil
import signal
import struct
import subprocess
import sys
import termios
import time
import tty

# The kernel's termios with the real line speeds (struct termios2), which termios.tcgetattr
# reports only as B-constants.
TCGETS2 = 0x802C542A
TERMIOS2 = struct.Struct("IIIIB19sII")
CMSPAR = 0o10000000000
CSIZES = {termios.CS5: 5, termios.CS6: 6, termios.CS7: 7, termios.CS8: 8}


VERBOSE = bool(os.environ.get("VELMORA_FAREND_VERBOSE"))


def filler(size, seed=0):
    return bytes((i * 31 + seed) & 0xFF for i in range(size))


def log(text):
    print(f"farend: {text}", file=sys.stderr, flush=True)


class Line:
    """One pseudo-terminal linked as the COM port."""

    def __init__(self, link):
        self.master, self.slave = os.openpty()
        # The far end keeps its slave open, as a powered robot keeps its end: the line survives
        # the port's close and open.
        tty.setraw(self.slave)
        os.set_blocking(self.master, False)
        self.path = os.ttyname(self.slave)
        tmp = link + ".new"
        if os.path.lexists(tmp):
            os.unlink(tmp)
        os.symlink(self.path, tmp)
        os.replace(tmp, link)

    def termios_text(self):
        raw = fcntl.ioctl(self.slave, TCGETS2, bytes(TERMIOS2.size))
        iflag, _oflag, cflag, _lflag, _line, _cc, ispeed, ospeed = TERMIOS2.unpack(raw)
        bits = {
            "ospeed": ospeed,
            "ispeed": ispeed,
            "csize": CSIZES[cflag & termios.CSIZE],
            "parenb": int(bool(cflag & termios.PARENB)),
            "parodd": int(bool(cflag & termios.PARODD)),
            "cmspar": int(bool(cflag & CMSPAR)),
            "cstopb": int(bool(cflag & termios.CSTOPB)),
            "inpck": int(bool(iflag & termios.INPCK)),
            "crtscts": int(bool(cflag & termios.CRTSCTS)),
            "ixon": int(bool(iflag & termios.IXON)),
        }
        return " ".join(f"{k}={v}" for k, v in bits.items())

    def write(self, data):
        view = memoryview(data)
        deadline = time.monotonic() + 5
        while view and time.monotonic() < deadline:
            select.select([], [self.master], [], 0.1)
            try:
                n = os.write(self.master, view)
            except BlockingIOError:
                continue
            view = view[n:]
        if view:
            log(f"{len(view)} bytes could not be written")

    def close(self):
        for fd in (self.master, self.slave):
            try:
                os.close(fd)
            except OSError:
                pass


class FarEnd:
    def __init__(self, link):
        self.link = link
        self.line = Line(link)
        self.pending = bytearray()
        self.sinking = None  # [wanted, bytearray, deadline, quiet]
        self.last_sink = "sink none"
        self.extra_links = set()

    def reply(self, text):
        self.line.write(("=" + text + "\n").encode())

    def command(self, text):
        if VERBOSE:
            log(f"command {text!r}")
        words = text.split()
        if not words:
            return
        name, args = words[0], words[1:]
        if name == "#hello":
            self.reply(f"hello {self.line.path}")
        elif name == "#termios":
            self.reply("termios " + self.line.termios_text())
        elif name == "#sink":
            self.sinking = [int(args[0]), bytearray(), time.monotonic() + 10, "quiet" in args]
        elif name == "#pause":
            self.reply(f"paused {int(args[0])}")
            time.sleep(int(args[0]) / 1000)  # what is written meanwhile waits in the line
        elif name == "#lastsink":
            self.reply(self.last_sink)
        elif name == "#link":
            link = os.path.join(os.path.dirname(self.link), f"com{int(args[0])}")
            if os.path.lexists(link):
                os.unlink(link)
            if len(args) > 1:
                os.symlink(args[1], link)
                self.extra_links.add(link)
            self.reply(f"link {int(args[0])}")
        elif name == "#answer":
            pieces = [int(p) for p in args[0].split(",")] if args else [26]
            opts = dict(zip(args[1::2], args[2::2]))
            gap = int(opts.get("gap", 0)) / 1000
            data = filler(sum(pieces), int(opts.get("seed", 0)))
            at = 0
            for i, size in enumerate(pieces):
                if i and gap:
                    time.sleep(gap)  # the robot's own pacing: the gap under test
                self.line.write(data[at : at + size])
                at += size
        elif name == "#hangup":
            if args:
                time.sleep(int(args[0]) / 1000)
            # The new line is linked before the old one goes, so an open right after the
            # hang-up finds a live device.
            old = self.line
            self.line = Line(self.link)
            old.close()
            self.pending.clear()
            log(f"hung up {old.path}; now {self.line.path}")
        else:
            self.reply(f"unknown {name}")

    def take(self, data):
        self.pending += data
        while self.pending:
            if self.sinking:
                wanted, got = self.sinking[:2]
                n = min(wanted - len(got), len(self.pending))
                got += self.pending[:n]
                del self.pending[:n]
                if len(got) == wanted:
                    self.finish_sink()
                continue
            end = self.pending.find(b"\n")
            if end < 0:
                # Bytes outside a command are noise the test did not announce; keep at most a
                # line's worth.
                if len(self.pending) > 256:
                    log(f"dropped {len(self.pending)} stray bytes")
                    self.pending.clear()
                return
            text = bytes(self.pending[:end]).decode(errors="replace").strip()
            del self.pending[: end + 1]
            if text.startswith("#"):
                self.command(text)
            elif text:
                log(f"stray line {text!r}")

    def finish_sink(self):
        got, quiet = self.sinking[1], self.sinking[3]
        self.sinking = None
        self.last_sink = f"sink {len(got)} {hashlib.sha256(got).hexdigest()}"
        if not quiet:
            self.reply(self.last_sink)

    def poll(self, timeout):
        if self.sinking and time.monotonic() > self.sinking[2]:
            self.finish_sink()
        ready, _, _ = select.select([self.line.master], [], [], timeout)
        if not ready:
            return
        try:
            data = os.read(self.line.master, 65536)
        except BlockingIOError:
            return
        except OSError:
            # No slave open at all: only after our own hang-up, which replaces the line.
            return
        if data:
            if VERBOSE:
                log(f"in {len(data)}: {data[:64]!r}")
            self.take(data)


def wine_binary():
    for candidate in (os.environ.get("WINE"), shutil.which("wine64"), "/usr/lib/wine/wine64",
                      shutil.which("wine")):
        if candidate and os.access(candidate, os.X_OK):
            return candidate
    sys.exit("farend: no wine64 found (set WINE)")


def wine_env(prefix, dll_paths):
    env = dict(os.environ)
    env["WINEPREFIX"] = prefix
    env.setdefault("WINEDEBUG", "-all")
    # No Mono or Gecko installer dialog when the prefix is made.
    env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=")
    # Wine drops QT_* on its way in; WINEQT_* arrives as QT_*.
    for key, value in os.environ.items():
        if key.startswith("QT_"):
            env["WINE" + key] = value
    env.setdefault("WINEQT_FORCE_STDERR_LOGGING", "1")
    env.setdefault("WINEQT_QPA_PLATFORM", "offscreen")
    if dll_paths:
        extra = ";".join("Z:" + p.replace("/", "\\") for p in dll_paths)
        env["WINEPATH"] = extra + (";" + env["WINEPATH"] if env.get("WINEPATH") else "")
    return env


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=98, help="COM port number (default 98)")
    parser.add_argument("--prefix", help="Wine prefix (default $WINEPREFIX or ~/.wine)")
    parser.add_argument("--dll-path", action="append", default=[],
                        help="folder with DLLs the program needs (repeatable)")
    parser.add_argument("--timeout", type=float, default=600, help="seconds before the run is killed")
    parser.add_argument("--no-wine", action="store_true",
                        help="run the command as it is, with no Wine server or prefix set up")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    opts = parser.parse_args()
    command = opts.command[1:] if opts.command[:1] == ["--"] else opts.command
    if not command:
        parser.error("no command to run")

    prefix = os.path.abspath(opts.prefix or os.environ.get("WINEPREFIX")
                             or os.path.expanduser("~/.wine"))
    env = wine_env(prefix, opts.dll_path)
    if command[0].lower().endswith(".exe") and not opts.no_wine:
        command = [wine_binary()] + command
    # Tells the test which COM port to open, and that a far end serves it.
    env["VELMORA_FAREND_PORT"] = str(opts.port)

    os.makedirs(prefix, exist_ok=True)
    # One far end per prefix at a time: the COM link is the prefix's.
    lock = open(os.path.join(prefix, ".velmora-farend.lock"), "w")
    fcntl.flock(lock, fcntl.LOCK_EX)
    if not opts.no_wine and not os.path.exists(os.path.join(prefix, "system.reg")):
        log(f"making the Wine prefix {prefix} (once)")
        subprocess.run([wine_binary(), "wineboot", "-i"], env=env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    server = None
    if not opts.no_wine:
        # The server started here, with its output dropped: at exit it lists every object left
        # over, thousands of lines in the test's log otherwise. One already running is kept
        # (this one then ends at once).
        server = subprocess.Popen([os.path.join(os.path.dirname(wine_binary()), "wineserver"),
                                   "-f", "-p5"], env=env, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
    dosdevices = os.path.join(prefix, "dosdevices")
    os.makedirs(dosdevices, exist_ok=True)
    link = os.path.join(dosdevices, f"com{opts.port}")

    far = FarEnd(link)
    log(f"COM{opts.port} is {far.line.path}; running {' '.join(command)[:300]}")
    child = subprocess.Popen(command, env=env)
    deadline = time.monotonic() + opts.timeout
    try:
        while child.poll() is None:
            if time.monotonic() > deadline:
                log(f"killed after {opts.timeout:.0f} s")
                child.send_signal(signal.SIGKILL)
                child.wait()
                return 1
            far.poll(0.05)
    finally:
        far.line.close()
        for made in far.extra_links | {link}:
            if os.path.lexists(made):
                os.unlink(made)
        if server:
            # It ends 5 s after its last program; one that never had any would stay.
            try:
                server.wait(8)
            except subprocess.TimeoutExpired:
                server.kill()
                server.wait()
    return child.returncode


if __name__ == "__main__":
    sys.exit(main())
