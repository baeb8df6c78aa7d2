#!/usr/bin/env python3
"""Asks X11 windows to close the way a window manager's close button does:
a WM_DELETE_WINDOW client message, so the program runs its own close handling.
usage: close-window.py WINDOW_ID...  (DISPLAY must be set)"""
import ctypes
import sys

x11 = ctypes.cdll.LoadLibrary("libX11.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XInternAtom.restype = ctypes.c_ulong
x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                           ctypes.c_void_p]
x11.XFlush.argtypes = [ctypes.c_void_p]
x11.XCloseDisplay.argtypes = [ctypes.c_void_p]


class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]


class XEvent(ctypes.Union):
    _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]


CLIENT_MESSAGE = 33

if len(sys.argv) < 2:
    sys.exit(__doc__)
display = x11.XOpenDisplay(None)
if not display:
    sys.exit("cannot open the X display")
protocols = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
delete = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
for arg in sys.argv[1:]:
    event = XEvent()
    event.xclient.type = CLIENT_MESSAGE
    event.xclient.window = int(arg, 0)
    event.xclient.message_type = protocols
    event.xclient.format = 32
    event.xclient.data[0] = delete
    event.xclient.data[1] = 0  # CurrentTime
    if not x11.XSendEvent(display, event.xclient.window, 0, 0, ctypes.byref(event)):
        sys.exit(f"could not send the close request to window {arg}")
x11.XFlush(display)
x11.XCloseDisplay(display)
