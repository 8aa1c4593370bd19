#!/usr/bin/python3
"""Both programs as a screen reader on Linux reads them, over AT-SPI from another process:
every control the keyboard reaches has a name (two with one name differ in what they do),
and with a simulated sensor connected, the response field is told of an answer and reads it
back, and the connection panel is heard changing. Prints the tree a screen reader walks.

Usage: screenreader.py BIN_DIR     (run it through tests/a11y-session)
Exits 77 (skipped) where no accessibility bus or pyatspi is there.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

try:
    import pyatspi
    from gi.repository import GLib
except ImportError:
    print("SKIP: pyatspi is not installed (Debian: python3-pyatspi)")
    sys.exit(77)

if os.environ.get("QT_LINUX_ACCESSIBILITY_ALWAYS_ON") != "1":
    print("SKIP: no accessibility bus here")
    sys.exit(77)

failures = []
heard = []


def listen(event):
    heard.append((event.type, event.source, event.any_data))


def pump(seconds, until=lambda: False):
    context = GLib.MainContext.default()
    end = time.monotonic() + seconds
    while time.monotonic() < end and not until():
        while context.pending():
            context.iteration(False)
        time.sleep(0.02)
    return until()


def application(pid):
    found = []

    def look():
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.get_process_id() == pid and app.childCount > 0:
                found.append(app)
                return True
        return False

    pump(20, look)
    return found[0] if found else None


def walk(node, depth=0, lines=None, nodes=None):
    lines = [] if lines is None else lines
    nodes = [] if nodes is None else nodes
    states = node.getState()
    marks = [s for s, m in ((pyatspi.STATE_FOCUSABLE, "focusable"),
                            (pyatspi.STATE_READ_ONLY, "read-only"),
                            (pyatspi.STATE_MULTI_LINE, "multi-line"),
                            (pyatspi.STATE_CHECKED, "checked")) if states.contains(s)]
    names = {pyatspi.STATE_FOCUSABLE: "focusable", pyatspi.STATE_READ_ONLY: "read-only",
             pyatspi.STATE_MULTI_LINE: "multi-line", pyatspi.STATE_CHECKED: "checked"}
    line = "  " * depth + f"{node.getRoleName()} \"{node.name}\""
    if node.description:
        line += f" ({node.description})"
    if marks:
        line += " [" + ", ".join(names[s] for s in marks) + "]"
    lines.append(line)
    nodes.append(node)
    # The menus' items are made when a menu opens; the top of the menu bar is enough here.
    if node.getRole() not in (pyatspi.ROLE_MENU,):
        for child in node:
            if child is not None:
                walk(child, depth + 1, lines, nodes)
    return lines, nodes


def check_names(program, nodes):
    seen = set()
    focusable = 0
    for node in nodes:
        states = node.getState()
        if not states.contains(pyatspi.STATE_FOCUSABLE) or not states.contains(pyatspi.STATE_SHOWING):
            continue
        if node.getRole() == pyatspi.ROLE_FRAME:
            continue
        focusable += 1
        if not node.name:
            failures.append(f"{program}: a {node.getRoleName()} without a name")
        if (node.name, node.description) in seen:
            failures.append(f"{program}: two controls heard as \"{node.name}\" ({node.description})")
        seen.add((node.name, node.description))
    return focusable


def find(nodes, role, name):
    return next((n for n in nodes if n.getRole() == role and n.name == name), None)


def run(program, binary, sensor, folder):
    env = dict(os.environ, ZEL_COM1=sensor, ZEL_COM2="/nonexistent/zel", ZEL_COM3="/nonexistent/zel",
               ZEL_COM4="/nonexistent/zel", HOME=folder, XDG_CONFIG_HOME=folder,
               XDG_DATA_HOME=folder)
    process = subprocess.Popen([binary], env=env)
    try:
        app = application(process.pid)
        if app is None:
            failures.append(f"{program}: not found on the accessibility bus")
            return
        lines, nodes = walk(app)
        focusable = check_names(program, nodes)
        print(f"== {program}: {focusable} controls the keyboard reaches")
        print("\n".join(lines))

        response = find(nodes, pyatspi.ROLE_TEXT, "Device answers")
        connect = find(nodes, pyatspi.ROLE_MENU_ITEM, "Connect")
        panel = next((n for n in nodes if n.description == "Connection"), None)
        if response is None or connect is None or panel is None:
            failures.append(f"{program}: no response field, Connect item or connection panel")
            return
        heard.clear()
        connect.queryAction().doAction(0)

        def answered():
            return any(t.startswith("object:text-changed:insert") and s == response and "R=" in d
                       for t, s, d in heard)
        if not pump(10, answered):
            failures.append(f"{program}: no text event from the response field after connecting")
        pump(1.5)  # a sample or two more: the color is named from the second
        text = response.queryText()
        shown = text.getText(0, text.characterCount)
        start = shown.find("R=")
        line = text.getTextAtOffset(max(start, 0), pyatspi.TEXT_BOUNDARY_LINE_START)[0]
        print(f"-- response field, the line at the first reading: {line!r}")
        if "R=" not in line:
            failures.append(f"{program}: the response field does not read back a line the sensor sent")
        # The panels and the color name are heard as they change.
        changed = [s for t, s, _ in heard if t.startswith("object:property-change:accessible-name")]
        if panel not in changed or panel.name != "Connected":
            failures.append(f"{program}: the connection panel was not heard saying Connected")
        color = next((n for n in nodes if n.description == "Recognized color"), None)
        if color is not None and color not in changed:
            failures.append(f"{program}: the color name was not heard")
        print(f"-- heard change: {', '.join(sorted(set(repr(s.name) for s in changed)))}")
    finally:
        process.terminate()
        process.wait(10)


def main():
    bin_dir = sys.argv[1]
    pyatspi.Registry.registerEventListener(listen, "object:text-changed:insert",
                                           "object:property-change:accessible-name")
    with tempfile.TemporaryDirectory() as folder:
        sensor = os.path.join(folder, "sensor")
        simulator = subprocess.Popen([os.path.join(bin_dir, "zel-colorsim"), "--rate", "10",
                                      "--link", sensor], stdout=subprocess.DEVNULL)
        try:
            pump(5, lambda: os.path.exists(sensor))
            for program in ("Zel_Connect", "Tolvek"):
                # A copy of its own, so that its log goes to the test's folder.
                copy = os.path.join(folder, program)
                shutil.copy(os.path.join(bin_dir, program), copy)
                run(program, copy, sensor, folder)
        finally:
            simulator.terminate()
            simulator.wait(10)
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


sys.exit(main())
