"""The console's controls found as a screen reader finds them: in its accessibility tree over
AT-SPI, by role and name, with their places on the screen from the tree too.

The tree is read by this file run as a script under the system Python (Debian's python3-gi and
gir1.2-atspi-2.0), in a process of its own, so the bench holds no AT-SPI connection while it
measures.
"""
import json
import os
import signal
import subprocess
import sys
import time

DEBIAN_PYTHON = "/usr/bin/python3"
BUS_LAUNCHER = "/usr/libexec/at-spi-bus-launcher"
# Qt turns its bridge on when this is set at all, whatever its value.
ALWAYS_ON = "QT_LINUX_ACCESSIBILITY_ALWAYS_ON"

# The controls the bench works, as the tree names them. Qt names a button and a menu item by
# their text, and a text box by the label whose buddy it is: the port number's box is "Port".
FILE_MENU = ("menu item", "File")
FWD = ("push button", "FWD")
PORT_NUMBER = ("text", "Port")
CONNECT = ("push button", "Connect")
SAFE_MODE = ("push button", "Initialize Safe Mode")
START_LIVE = ("push button", "Start Live Sensor Data")


def menu_item(name):
    return ("menu item", name)


class Bus:
    """A private session bus with the accessibility bus launcher on it, as a desktop session
    has. Qt's bridge turns on only when it finds the launcher there and either the launcher says
    accessibility is wanted (nothing says so here) or the program has ALWAYS_ON set."""

    def __init__(self, runtime_dir, display):
        self.env = {"DBUS_SESSION_BUS_ADDRESS": "", "XDG_RUNTIME_DIR": runtime_dir, "DISPLAY": display}
        # Everything the bus starts (the launcher, the accessibility bus, the registry) stays in
        # the session bus's process group, so stop() ends exactly those.
        self.daemon = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                                       stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                                       process_group=0)
        address = self.daemon.stdout.readline().strip()
        if not address:
            raise RuntimeError("the session bus did not start")
        self.env["DBUS_SESSION_BUS_ADDRESS"] = address
        subprocess.Popen([BUS_LAUNCHER, "--launch-immediately"], env=dict(os.environ, **self.env),
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, process_group=self.daemon.pid)
        deadline = time.monotonic() + 10
        while not self._launcher_up():
            if time.monotonic() > deadline:
                self.stop()
                raise RuntimeError("the accessibility bus launcher did not come up")
            time.sleep(0.1)

    def _launcher_up(self):
        ask = ["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
               "org.freedesktop.DBus.NameHasOwner", "string:org.a11y.Bus"]
        out = subprocess.run(ask, env=dict(os.environ, **self.env), capture_output=True, text=True)
        return "boolean true" in out.stdout

    def stop(self):
        try:
            os.killpg(self.daemon.pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
        self.daemon.wait(timeout=10)


def read_tree(pid, bus):
    """The showing nodes of program pid's tree as dicts (role, name, x, y, w, h on the screen),
    or None when the program is not on the accessibility bus."""
    out = subprocess.run([DEBIAN_PYTHON, os.path.abspath(__file__), str(pid)], env=dict(os.environ, **bus.env),
                         capture_output=True, text=True, timeout=30)
    if out.returncode != 0:
        raise RuntimeError(f"reading the accessibility tree failed: {out.stderr.strip()}")
    return json.loads(out.stdout)


def wait_tree(pid, bus, timeout=10):
    """The tree, once the program has put it on the bus (a moment after its window shows)."""
    deadline = time.monotonic() + timeout
    while True:
        nodes = read_tree(pid, bus)
        if nodes is not None:
            return nodes
        if time.monotonic() > deadline:
            raise TimeoutError(f"process {pid} never showed up on the accessibility bus")
        time.sleep(0.2)


class Layout:
    """Where controls are, relative to the window's top-left corner, from one reading of the
    tree. Only showing controls count: a closed menu's items keep a size but no place."""

    def __init__(self, nodes, window_x, window_y, window_size):
        self.window_size = window_size
        self.places = {}
        for n in nodes:
            place = (n["x"] - window_x, n["y"] - window_y, n["w"], n["h"])
            same = self.places.setdefault((n["role"], n["name"]), [])
            if place not in same:  # an open menu is reached both from its window and from the menu bar
                same.append(place)

    def centre(self, control):
        """(dx, dy) of the control's centre from the window's corner."""
        found = self.places.get(control, [])
        if len(found) != 1:
            what = "no" if not found else f"{len(found)}"
            raise LookupError(f"{what} {control[0]} called {control[1]!r} showing in the console's window")
        x, y, w, h = found[0]
        return x + w // 2, y + h // 2


def _showing(node, atspi):
    """The node's descendants that have a place on the screen, depth first. A node without one
    (a hidden label, a closed menu) hides its whole subtree."""
    for i in range(node.get_child_count()):
        child = node.get_child_at_index(i)
        if child is None:
            continue
        e = child.get_extents(atspi.CoordType.SCREEN)
        if e.width <= 0 or e.height <= 0:
            continue
        yield {"role": child.get_role_name(), "name": child.get_name(), "x": e.x, "y": e.y, "w": e.width,
               "h": e.height}
        yield from _showing(child, atspi)


def _print_tree(pid):
    import gi
    gi.require_version("Atspi", "2.0")
    from gi.repository import Atspi

    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is not None and app.get_process_id() == pid:
            print(json.dumps(list(_showing(app, Atspi))))
            return
    print("null")


if __name__ == "__main__":
    _print_tree(int(sys.argv[1]))
