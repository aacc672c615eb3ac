#!/usr/bin/python3
"""Walks a simulated update through the wizard as a screen reader user would, reading the window
through AT-SPI (pyatspi) and driving it with the keyboard alone (xdotool key). Started by
tests/atspi_pages.sh, which provides the display, the accessibility bus, the simulator and the
program (ATSPI_PORTS names the ports file the program reads, ATSPI_DEVICE_PORTS the simulator's); exits non-zero on the first page that a screen reader would get wrong."""

import os
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

VIEW = "<the page's text view>"
BUSY = "indeterminate"  # a progress bar that moves without a value
PERCENT = "percent"  # a progress bar whose value must be seen to rise above 0
FULL = "full"  # a progress bar at 100 of 100

# One row per page of the update, in order: the page's name and main sentence as the text view
# gives them, the buttons a screen reader finds (left to right), what has the focus, the progress
# bar, and the keys pressed once all of that has been checked. The Tab stops are the focus after
# each Tab, in order. The texts are restated here, not read from the program.
ROWS = [
    dict(row="welcome", name="Welcome",
         description="This software will install or update the USB device driver necessary to communicate "
                     "with your AIS device and update the AIS device firmware to ensure optimum performance.",
         buttons=["Start"], focus="Start", progress=None, keys=["Return"]),
    dict(row="connect", name="Connect your AIS device",
         description="Connect your AIS device to your PC via its USB cable.",
         buttons=["Next..."], focus="Next...", progress=None, keys=["Return"]),
    # Read before the device is plugged in: the detection runs until it appears.
    dict(row="detecting", name="Detecting your AIS device", description="Please wait...",
         buttons=[], focus=VIEW, progress=BUSY, keys=[], plug=True),
    dict(row="update required", name="AIS Class B CS Transceiver found",
         description="Current version: 730400.03.00.00. Update version: 730400.03.00.01.",
         buttons=["Next..."], focus="Next...", progress=None, keys=["Return"]),
    # Busy: Enter and Escape are refused (the rest of the table shows the update went on).
    dict(row="switching", name="Updating AIS device", description="Switching AIS to update mode...",
         buttons=[], focus=VIEW, progress=BUSY, keys=["Return", "Escape"]),
    dict(row="in progress", name="Updating AIS device", description="Update in progress...",
         buttons=[], focus=VIEW, progress=PERCENT, keys=[]),
    dict(row="confirming", name="Updating AIS device", description="Confirming the update...",
         buttons=[], focus=VIEW, progress=BUSY, keys=[]),
    dict(row="complete", name="Update complete",
         description="The update has completed successfully. Your AIS device now runs version 730400.03.00.01.",
         buttons=["Close"], focus="Close", progress=FULL, keys=["Tab", "Tab", "Return"],
         tabStops=[VIEW, "Close"]),
]

PAGE_WAIT_S = 30
failures = []
announced = []  # (role, name, new description) of every description change the bus carried


def fail(row, what):
    failures.append(f"{row}: {what}")
    print(f"FAIL {row}: {what}", flush=True)


def pump():
    context = GLib.MainContext.default()
    while context.pending():
        context.iteration(False)


def on_description(event):
    # The event names the object; what it says now is read from it.
    try:
        # Roles compared as roles: their names differ between AT-SPI versions ("push button" in
        # Debian 12, "button" in Debian 13).
        announced.append((event.source.getRole(), event.source.name, event.source.description))
    except Exception:  # the source may be gone already
        pass


def app():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        child = desktop.getChildAtIndex(i)
        if child is not None and child.name == "quaymend":
            return child
    return None


def walk(node):
    yield node
    if node.getRole() == pyatspi.ROLE_TEXT:
        return  # the view's viewport and scroll bars follow the view's own focus
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield from walk(child)


def states(node):
    return node.getState()


def snapshot():
    """What a screen reader finds in the window now, or None while the window cannot answer."""
    try:
        application = app()
        if application is None or application.childCount == 0:
            return None
        dialog = application.getChildAtIndex(0)
        shot = dict(view=None, buttons=[], focused=[], default=[], progress=None, unnamed=[], decoration=None)
        decoration = dialog.getChildAtIndex(0)
        shot["decoration"] = ("image" if decoration.getRole() == pyatspi.ROLE_IMAGE else decoration.getRoleName(),
                              decoration.name,
                              states(decoration).contains(pyatspi.STATE_SHOWING),
                              states(decoration).contains(pyatspi.STATE_FOCUSABLE))
        for node in walk(dialog):
            role, st = node.getRole(), states(node)
            showing = st.contains(pyatspi.STATE_SHOWING)
            label = node.name
            if role == pyatspi.ROLE_TEXT:
                shot["view"] = (node.name, node.description)
                label = VIEW
            if role == pyatspi.ROLE_PUSH_BUTTON and showing:
                shot["buttons"].append(node.name)
                if st.contains(pyatspi.STATE_IS_DEFAULT):
                    shot["default"].append(node.name)
            if st.contains(pyatspi.STATE_FOCUSED):
                shot["focused"].append(label)
            if st.contains(pyatspi.STATE_FOCUSABLE) and not node.name and role != pyatspi.ROLE_TEXT:
                shot["unnamed"].append(node.getRoleName())
            if role == pyatspi.ROLE_PROGRESS_BAR:
                value = node.queryValue()
                shot["progress"] = (node.name, showing, value.currentValue, value.maximumValue)
        return shot
    except Exception:  # the program is busy on its thread, or the tree changed under the walk
        return None


def await_page(row, deadline):
    shot = None
    while time.monotonic() < deadline:
        pump()
        shot = snapshot()
        if shot and shot["view"] == (row["name"], row["description"]):
            return shot
        time.sleep(0.05)
    fail(row["row"], f"the page did not come; last seen {shot and shot['view']}")
    return None


def check_progress(row, shot, deadline):
    expected = row["progress"]
    name, showing, value, maximum = shot["progress"]
    if name != "Update progress":
        fail(row["row"], f"progress bar named {name!r}")
    if expected is None:
        if showing:
            fail(row["row"], "a progress bar is shown")
        return
    if not showing:
        fail(row["row"], "no progress bar shown")
    elif expected == BUSY and maximum != 0:
        fail(row["row"], f"progress {value} of {maximum}, expected an indeterminate bar")
    elif expected == FULL and (value, maximum) != (100, 100):
        fail(row["row"], f"progress {value} of {maximum}, expected 100 of 100")
    elif expected == PERCENT:
        # The value must be readable, and be seen between its ends while the transfer is shown.
        while time.monotonic() < deadline:
            if shot:
                if shot["view"] != (row["name"], row["description"]):
                    break
                _, _, value, maximum = shot["progress"]
                if maximum == 100 and 0 < value < 100:
                    print(f"    progress read: {value:.0f} of {maximum:.0f}")
                    return
            time.sleep(0.05)
            shot = snapshot()
        fail(row["row"], f"no progress value between 0 and 100 was read during the transfer (last {value} of {maximum})")


def key(name):
    subprocess.run(["xdotool", "key", name], check=True, timeout=10)


def main():
    pyatspi.Registry.registerEventListener(on_description, "object:property-change:accessible-description")
    started = time.monotonic()
    for row in ROWS:
        deadline = time.monotonic() + PAGE_WAIT_S
        shot = await_page(row, deadline)
        if shot is None:
            break
        print(f"Page {row['row']!r} after {time.monotonic() - started:.1f} s: {shot['view'][0]!r}, "
              f"buttons {shot['buttons']}, focus {shot['focused']}, progress {shot['progress']}", flush=True)
        if shot["buttons"] != row["buttons"]:
            fail(row["row"], f"buttons {shot['buttons']}, expected {row['buttons']}")
        if shot["focused"] != [row["focus"]]:
            fail(row["row"], f"focus on {shot['focused']}, expected {row['focus']}")
        if row["buttons"] and shot["default"] != [row["focus"]]:
            fail(row["row"], f"default button {shot['default']}, expected {row['focus']}")
        if shot["unnamed"]:
            fail(row["row"], f"focusable without a name: {shot['unnamed']}")
        if shot["decoration"] != ("image", "", False, False):
            fail(row["row"], f"the side picture reads as {shot['decoration']}")
        check_progress(row, shot, deadline)

        # Announced: the page's words reached the bus as a description change of what has the
        # focus (the first page is announced by its focus when the window opens).
        if row is not ROWS[0]:
            pump()
            words = row["description"] if row["focus"] == VIEW else f"{row['name']}. {row['description']}"
            role = pyatspi.ROLE_TEXT if row["focus"] == VIEW else pyatspi.ROLE_PUSH_BUTTON
            if not any(r == role and d == words for r, _, d in announced):
                fail(row["row"], f"no description change {words!r} on the {role}; seen {announced[-3:]}")

        if row.get("plug"):
            # The simulator's ports file becomes the one the program reads: the device is plugged in.
            plugged = os.environ["ATSPI_PORTS"] + ".plugged"
            os.symlink(os.environ["ATSPI_DEVICE_PORTS"], plugged)
            os.replace(plugged, os.environ["ATSPI_PORTS"])

        stops = list(row.get("tabStops", []))
        for name in row["keys"]:
            key(name)
            if name == "Tab":
                expected = stops.pop(0)
                end = time.monotonic() + 5
                seen = None
                while time.monotonic() < end:
                    seen = snapshot()
                    if seen and seen["focused"] == [expected]:
                        break
                    time.sleep(0.05)
                else:
                    fail(row["row"], f"Tab went to {seen and seen['focused']}, expected {expected}")
    print(f"{len(ROWS)} pages in {time.monotonic() - started:.1f} s; {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
