# What app-tour and editor-tour share: waiting as a person would, xdotool, and
# walking the accessibility tree of one process.
import subprocess
import time

import pyatspi

WAIT = 15  # seconds for anything a person would wait for


class TourFailed(Exception):
    pass


def wait_for(what, condition, timeout=WAIT):
    deadline = time.monotonic() + timeout
    while True:
        try:
            value = condition()
        except Exception:  # a node or window that went away while it was read
            value = None
        if value:
            return value
        if time.monotonic() > deadline:
            raise TourFailed("gave up waiting for " + what)
        time.sleep(0.1)


def xdotool(*args):
    return subprocess.run(["xdotool", *map(str, args)], check=True, capture_output=True,
                          text=True).stdout


def showing(node):
    state = node.getState()
    return state.contains(pyatspi.STATE_SHOWING) and state.contains(pyatspi.STATE_VISIBLE)


def descendants(node, depth=0):
    if node is None or depth > 40:
        return
    yield node
    for i in range(node.childCount):
        yield from descendants(node.getChildAtIndex(i), depth + 1)


def extents(node):
    box = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return box.x, box.y, box.width, box.height


def roots(process):
    """The accessibility roots of a running process; fails once it has ended."""
    if process.poll() is not None:
        raise TourFailed("quorvel ended with %d" % process.returncode)
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.get_process_id() == process.pid:
            yield app


def find(nodes, name, role=None):
    """The first showing node with this name (and role), or None."""
    for node in nodes:
        if node.name == name and (role is None or node.getRole() == role) and showing(node):
            return node
    return None


def click_node(node):
    x, y, w, h = extents(node)
    xdotool("mousemove", x + w // 2, y + h // 2, "click", "1")


def stop(process, timeout=10):
    process.terminate()
    try:
        process.wait(timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
