"""The programs a measurement runs: a private X server, the simulator, the console driven as an
operator would, a load on the machine; and what is read from them (CPU time, memory)."""
import json
import os
import platform
import shutil
import subprocess
import sys
import tempfile
import threading
import time

from . import ROOT, a11y, log, xtest
from .trace import TraceFile

TITLE = "Velmora"
# The hobbyist script runs on the system Python, where Debian's python3-serial is.
DEBIAN_PYTHON = a11y.DEBIAN_PYTHON
# velmora-sim --pace: a real line's 57600 baud, 10 bits a byte.
LINE_BAUD = 57600


def wait_for(what, predicate, timeout=10):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return
        time.sleep(0.05)
    raise TimeoutError(what)


class Session:
    """What every measurement starts from: a temporary configuration folder (so the simulator's
    ports are private), a private X server, and a session bus with the accessibility bus on it."""

    def __init__(self, prefix):
        self.home = tempfile.mkdtemp(prefix=prefix)
        self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        number = self.xvfb.stdout.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start")
        self.display_name = ":" + number
        try:
            self.display = xtest.Display(self.display_name)
            self.bus = a11y.Bus(self.home, self.display_name)
        except BaseException:
            self.xvfb.terminate()
            raise

    def close(self):
        self.bus.stop()
        self.display.close()
        self.xvfb.terminate()
        self.xvfb.wait(timeout=10)

    def finish(self, results, out):
        """Writes the results; the traces go unless VELMORA_BENCH_KEEP is set."""
        if os.environ.get("VELMORA_BENCH_KEEP"):
            log("kept the traces in", self.home)
        else:
            shutil.rmtree(self.home, ignore_errors=True)
        with open(out, "w") as f:
            json.dump(results, f, indent=1)
        log("wrote", out)


class Sim:
    """velmora-sim on port N in the session's configuration folder, commands on its stdin;
    pace: the baud rate it paces its answers at, or None for answers at once."""

    def __init__(self, build, home, port, name, pace=None):
        self.port = port
        self.link = os.path.join(home, "velmora", "ports", f"com{port}")
        trace_path = os.path.join(home, f"trace-{name}.jsonl")
        options = ["--pace", str(pace)] if pace else []
        self.proc = subprocess.Popen([os.path.join(build, "sim", "velmora-sim"), "--port", str(port), "--trace",
                                      trace_path, "--quiet", *options],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=dict(os.environ, XDG_CONFIG_HOME=home),
                                     text=True)
        ready = self.proc.stdout.readline()
        if not ready.startswith(f"Simulated robot ready on port {port} "):
            raise RuntimeError(f"simulator not ready: {ready!r}")
        self._trace = TraceFile(trace_path)
        self.lines = []
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            self.lines.append(line.rstrip("\n"))

    def command(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()

    def wait_line(self, prefix, timeout=10):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            for i, line in enumerate(self.lines):
                if line.startswith(prefix):
                    del self.lines[: i + 1]
                    return line
            time.sleep(0.02)
        raise TimeoutError(f"simulator never said {prefix!r}")

    def hold_bumper(self):
        self.command("bump right")
        self.wait_line("bump: right")

    def quit(self):
        if self.proc.poll() is None:
            self.command("quit")
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.terminate()
                self.proc.wait(timeout=5)

    def trace(self):
        return self._trace.entries()


class Console:
    """The console under the session's X server, driven as an operator would: controls found by
    role and name (see a11y.py) and clicked through the X server.

    With accessibility on, each control is looked up in the console's own tree when it is
    wanted. With it off the console has no tree to read, so the places come from a layout read
    off an accessible console with a window of the same size (probe_layout), taken from this
    window's own corner: the same program lays out the same window the same way, and a window
    of another size is refused rather than clicked at a guess."""

    def __init__(self, build, session, accessible=False, layout=None, extra_env=()):
        env = dict(os.environ, XDG_CONFIG_HOME=session.home, **session.bus.env)
        for name in ("QT_QPA_PLATFORM", "WAYLAND_DISPLAY", a11y.ALWAYS_ON):
            env.pop(name, None)
        if accessible:
            env[a11y.ALWAYS_ON] = "1"
        env.update(dict(v.split("=", 1) for v in extra_env))
        self.env, self.bus, self.display = env, session.bus, session.display
        self.accessible, self.layout = accessible, layout
        self.display.watch_maps()
        started = time.monotonic()
        self.proc = subprocess.Popen([os.path.join(build, "console", "velmora")], env=env,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.window, mapped = self.display.wait_mapped(TITLE, 30)
        self.startup_s = mapped - started
        self.x, self.y, width, height = self.display.geometry(self.window)
        self.size = (width, height)
        if accessible:
            a11y.wait_tree(self.pid, self.bus)
        elif layout is not None and layout.window_size != self.size:
            self.kill()
            raise RuntimeError(f"window {self.size} differs from the probed {layout.window_size}")

    @property
    def pid(self):
        return self.proc.pid

    def on_accessibility_bus(self):
        return a11y.read_tree(self.pid, self.bus) is not None

    def where(self, control):
        """Screen position of a control's centre."""
        layout = self.layout
        if self.accessible:
            layout = a11y.Layout(a11y.read_tree(self.pid, self.bus), self.x, self.y, self.size)
        if layout is None:
            raise RuntimeError("a console without accessibility needs a probed layout to be clicked")
        dx, dy = layout.centre(control)
        return self.x + dx, self.y + dy

    def xdo(self, *args):
        subprocess.run(["xdotool", *map(str, args)], env=self.env, check=True)

    def click(self, control):
        self.display.move(*self.where(control))
        self.display.button(True)
        self.display.button(False)

    def file_menu(self, item):
        self.click(a11y.FILE_MENU)
        time.sleep(0.3)
        self.click(a11y.menu_item(item))

    def connect(self, port):
        """Dallop adapter, port number, Connect, Initialize Safe Mode."""
        self.file_menu("Dallop")
        time.sleep(0.2)
        self.click(a11y.PORT_NUMBER)
        self.xdo("key", "ctrl+a", "BackSpace")
        self.xdo("type", str(port))
        self.reconnect()

    def reconnect(self):
        self.click(a11y.CONNECT)
        time.sleep(0.3)
        self.click(a11y.SAFE_MODE)
        time.sleep(0.3)

    def exit(self):
        """File > Exit; returns the exit code."""
        self.file_menu("Exit")
        try:
            return self.proc.wait(timeout=15)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            return None

    def kill(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(timeout=10)


def probe_layout(build, session):
    """The places of the console's controls, read off an accessible console with its File menu
    open (so the menu's items have places too), for consoles run without accessibility."""
    console = Console(build, session, accessible=True)
    try:
        console.click(a11y.FILE_MENU)
        time.sleep(0.3)
        layout = a11y.Layout(a11y.read_tree(console.pid, session.bus), console.x, console.y, console.size)
        console.xdo("key", "Escape")
    finally:
        console.kill()
    return layout


def _die_with_parent():
    import ctypes
    ctypes.CDLL(None, use_errno=True).prctl(1, 9)  # PR_SET_PDEATHSIG, SIGKILL


class CpuLoad:
    """Two processes that do nothing but compute, at the priority they inherit (normal), for as
    long as the with-block lasts: another program busy on a two-core machine."""

    def __enter__(self):
        # Killed with the bench even if it is killed itself (PR_SET_PDEATHSIG).
        self.procs = [subprocess.Popen([sys.executable, "-c", "while True: pass"], preexec_fn=_die_with_parent)
                      for _ in range(2)]
        return self

    def __exit__(self, *exc):
        for p in self.procs:
            p.terminate()
            p.wait(timeout=10)


def proc_cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def proc_rss_kb(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def machine():
    def cmd(*args):
        try:
            return subprocess.run(args, capture_output=True, text=True, timeout=10).stdout.strip()
        except OSError:
            return ""

    cpu = "unknown"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    mem_kb = 0
    with open("/proc/meminfo") as f:
        for line in f:
            if line.startswith("MemTotal:"):
                mem_kb = int(line.split()[1])
    debian = ""
    if os.path.exists("/etc/debian_version"):
        with open("/etc/debian_version") as f:
            debian = f.read().strip()
    compiler = cmd("c++", "--version")
    return {
        "cpu": cpu, "cores": os.cpu_count(), "memory_gib": round(mem_kb / 1024 / 1024, 1),
        "kernel": platform.release(), "debian": debian,
        "qt": cmd("dpkg-query", "-W", "-f=${Version}", "libqt6core6"),
        "qtserialport": cmd("dpkg-query", "-W", "-f=${Version}", "libqt6serialport6"),
        "compiler": compiler.splitlines()[0] if compiler else "",
        "python": platform.python_version(),
        "pyserial": cmd("dpkg-query", "-W", "-f=${Version}", "python3-serial"),
        "commit": cmd("git", "-C", ROOT, "describe", "--always", "--dirty"),
        "date": time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime()),
    }


def load():
    return [round(x, 2) for x in os.getloadavg()]
