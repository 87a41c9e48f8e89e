#!/usr/bin/env python3
# Drops the file PATH at X, Y on the screen as a file manager does (XDND); status 0 once
# the window there has taken it. Usage: drop_file.py PATH X Y
import sys
import time
from urllib.parse import quote

from Xlib import X, display
from Xlib.protocol import event

path, x, y = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
screen = display.Display()
atom, root = screen.intern_atom, screen.screen().root
source = root.create_window(0, 0, 1, 1, 0, X.CopyFromParent)
target, window = None, root  # the innermost window there that takes drops
while window:
    if window.get_full_property(atom("XdndAware"), X.AnyPropertyType):
        target = window
    window = window.translate_coords(root, x, y).child
    window = window and screen.create_resource_object("window", window.id)
target or sys.exit("no window there takes drops")


def send(kind, *data):
    target.send_event(event.ClientMessage(window=target, client_type=atom(kind),
                                          data=(32, (source.id, *data, 0, 0, 0, 0)[:5])))
    screen.flush()


source.set_selection_owner(atom("XdndSelection"), X.CurrentTime)
send("XdndEnter", 5 << 24, atom("text/uri-list"))
send("XdndPosition", 0, x << 16 | y, X.CurrentTime, atom("XdndActionCopy"))
dropped, deadline = False, time.time() + 20
while time.time() < deadline:
    e = screen.next_event() if screen.pending_events() else time.sleep(0.02)
    if e and e.type == X.SelectionRequest:
        e.requestor.change_property(e.property, e.target, 8, f"file://{quote(path)}\r\n".encode())
        e.requestor.send_event(event.SelectionNotify(time=e.time, requestor=e.requestor,
                                                     selection=e.selection, target=e.target,
                                                     property=e.property))
        screen.flush()
    elif e and e.type == X.ClientMessage and e.client_type == atom("XdndStatus") and not dropped:
        if not e.data[1][1] & 1:
            sys.exit("the window there refuses the drop")
        send("XdndDrop", 0, X.CurrentTime)
        dropped = True
    elif e and e.type == X.ClientMessage and e.client_type == atom("XdndFinished"):
        sys.exit(0)
sys.exit("the drop was not finished")
