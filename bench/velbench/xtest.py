# The X server from the benchmark's side, through libX11 and libXtst (what xdotool uses), so
# that input events can be timed on the monotonic clock right where they are sent, and the
# moment a window is mapped can be caught as it happens instead of by polling.
import ctypes
import ctypes.util
import select
import time

_x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
_xtst = ctypes.CDLL(ctypes.util.find_library("Xtst") or "libXtst.so.6")

_Window = ctypes.c_ulong
_x11.XOpenDisplay.restype = ctypes.c_void_p
_x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
_x11.XDefaultRootWindow.restype = _Window
_x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
_x11.XSelectInput.argtypes = [ctypes.c_void_p, _Window, ctypes.c_long]
_x11.XFlush.argtypes = [ctypes.c_void_p]
_x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
_x11.XPending.argtypes = [ctypes.c_void_p]
_x11.XConnectionNumber.argtypes = [ctypes.c_void_p]
_x11.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
_x11.XFetchName.argtypes = [ctypes.c_void_p, _Window, ctypes.POINTER(ctypes.c_char_p)]
_x11.XFree.argtypes = [ctypes.c_void_p]
_x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
_x11.XTranslateCoordinates.argtypes = [ctypes.c_void_p, _Window, _Window, ctypes.c_int, ctypes.c_int,
                                       ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_int),
                                       ctypes.POINTER(_Window)]
_xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.c_ulong]
_xtst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]


class _XWindowAttributes(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int), ("height", ctypes.c_int),
                ("border_width", ctypes.c_int), ("depth", ctypes.c_int), ("visual", ctypes.c_void_p),
                ("root", _Window), ("class_", ctypes.c_int), ("bit_gravity", ctypes.c_int),
                ("win_gravity", ctypes.c_int), ("backing_store", ctypes.c_int),
                ("backing_planes", ctypes.c_ulong), ("backing_pixel", ctypes.c_ulong),
                ("save_under", ctypes.c_int), ("colormaps", ctypes.c_ulong), ("map_installed", ctypes.c_int),
                ("map_state", ctypes.c_int), ("all_event_masks", ctypes.c_long),
                ("your_event_mask", ctypes.c_long), ("do_not_propagate_mask", ctypes.c_long),
                ("override_redirect", ctypes.c_int), ("screen", ctypes.c_void_p)]


_x11.XGetWindowAttributes.argtypes = [ctypes.c_void_p, _Window, ctypes.POINTER(_XWindowAttributes)]


class _XMapEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("event", _Window), ("window", _Window),
                ("override_redirect", ctypes.c_int)]


class _XEvent(ctypes.Union):
    _fields_ = [("type", ctypes.c_int), ("map", _XMapEvent), ("pad", ctypes.c_long * 24)]


_MAP_NOTIFY = 19
_SUBSTRUCTURE_NOTIFY_MASK = 1 << 19


class Display:
    def __init__(self, name):
        self._dpy = _x11.XOpenDisplay(name.encode())
        if not self._dpy:
            raise RuntimeError(f"cannot open display {name}")
        self.root = _x11.XDefaultRootWindow(self._dpy)

    def close(self):
        if self._dpy:
            _x11.XCloseDisplay(self._dpy)
            self._dpy = None

    def watch_maps(self):
        """Start reporting top-level windows being mapped from now on (call before starting the
        program); what was reported before is thrown away."""
        _x11.XSelectInput(self._dpy, self.root, _SUBSTRUCTURE_NOTIFY_MASK)
        _x11.XSync(self._dpy, 1)

    def wait_mapped(self, title, timeout):
        """Waits for a top-level window called title to be mapped; returns (window, monotonic time)."""
        deadline = time.monotonic() + timeout
        fd = _x11.XConnectionNumber(self._dpy)
        ev = _XEvent()
        while True:
            while _x11.XPending(self._dpy):
                _x11.XNextEvent(self._dpy, ctypes.byref(ev))
                if ev.type == _MAP_NOTIFY:
                    seen = time.monotonic()
                    if self.name(ev.map.window) == title:
                        return ev.map.window, seen
            left = deadline - time.monotonic()
            if left <= 0:
                raise TimeoutError(f"no window {title!r} within {timeout} s")
            select.select([fd], [], [], left)

    def name(self, window):
        out = ctypes.c_char_p()
        if not _x11.XFetchName(self._dpy, window, ctypes.byref(out)) or not out.value:
            return None
        text = out.value.decode(errors="replace")
        _x11.XFree(out)
        return text

    def geometry(self, window):
        """(x, y, width, height) of a window, x and y on the screen."""
        attrs = _XWindowAttributes()
        _x11.XGetWindowAttributes(self._dpy, window, ctypes.byref(attrs))
        x, y, child = ctypes.c_int(), ctypes.c_int(), _Window()
        _x11.XTranslateCoordinates(self._dpy, window, self.root, 0, 0, ctypes.byref(x), ctypes.byref(y),
                                   ctypes.byref(child))
        return x.value, y.value, attrs.width, attrs.height

    def move(self, x, y):
        _xtst.XTestFakeMotionEvent(self._dpy, -1, x, y, 0)
        _x11.XSync(self._dpy, 0)

    def button(self, pressed, number=1):
        """Presses or releases a mouse button; returns the monotonic time just before the
        request went to the server (the server has handled it when this returns)."""
        _xtst.XTestFakeButtonEvent(self._dpy, number, 1 if pressed else 0, 0)
        sent = time.monotonic()
        _x11.XSync(self._dpy, 0)
        return sent
