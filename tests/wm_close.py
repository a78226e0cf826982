#!/usr/bin/python3
# Asks a window to close the way a window manager does when its close box is clicked: a
# WM_DELETE_WINDOW client message, sent straight to the window.
# Usage: wm_close.py WINDOW_ID   (with DISPLAY set)
import sys

from Xlib import X, display, protocol

screen = display.Display()
window = screen.create_resource_object("window", int(sys.argv[1], 0))
request = protocol.event.ClientMessage(
    window=window,
    client_type=screen.intern_atom("WM_PROTOCOLS"),
    data=(32, [screen.intern_atom("WM_DELETE_WINDOW"), X.CurrentTime, 0, 0, 0]),
)
window.send_event(request, event_mask=X.NoEventMask)
screen.sync()  # a round trip: the request has reached the server before we exit
