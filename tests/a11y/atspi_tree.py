#!/usr/bin/python3
"""Reads MeterKeeper's windows through AT-SPI, the bus Orca uses, as an assistive tool would.

Every control a person can reach (showing, of an interactive role) must have a name; "設定…" and
"履歴…" pressed through their AT-SPI action must open their windows; every settings page is read;
"終了" pressed the same way must end the program. Exits 1 with a list of what is wrong.

    atspi_tree.py PID
"""
import os
import sys
import time

import pyatspi

CONTROLS = {
    pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_TOGGLE_BUTTON, pyatspi.ROLE_CHECK_BOX,
    pyatspi.ROLE_RADIO_BUTTON, pyatspi.ROLE_COMBO_BOX, pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY,
    pyatspi.ROLE_SLIDER, pyatspi.ROLE_SPIN_BUTTON, pyatspi.ROLE_PAGE_TAB, pyatspi.ROLE_MENU_ITEM,
}
problems = []


def app_of(pid, timeout=20):
    end = time.time() + timeout
    while time.time() < end:
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            try:
                if app is not None and app.get_process_id() == pid:
                    return app
            except Exception:
                pass
        time.sleep(0.2)
    sys.exit("atspi_tree: the program never appeared on the accessibility bus")


def frames(app):
    return [w for w in app if w is not None and w.getRole() in (pyatspi.ROLE_FRAME, pyatspi.ROLE_WINDOW)]


def frame_named(app, name, timeout=10):
    end = time.time() + timeout
    while time.time() < end:
        for f in frames(app):
            if f.name == name and f.getState().contains(pyatspi.STATE_SHOWING):
                return f
        time.sleep(0.2)
    return None


def walk(node, where, found):
    """Collects the showing controls below node; a control without a name is a problem."""
    try:
        states = node.getState()
        role = node.getRole()
    except Exception:
        return
    if not states.contains(pyatspi.STATE_SHOWING):
        return
    if role in CONTROLS:
        label = node.name or ""
        if not label.strip():
            try:
                text = node.queryText().getText(0, -1)
            except Exception:
                text = ""
            parent = node.parent.name if node.parent is not None else ""
            problems.append(f"{where}: a {node.getRoleName()} without a name (text {text!r}, in {parent!r})")
        found.append((node.getRoleName(), label, node))
    if role == pyatspi.ROLE_COMBO_BOX:
        return  # its text and list are parts of the one control
    for child in node:
        if child is not None:
            walk(child, where, found)


def press(node, what):
    action = node.queryAction()
    for i in range(action.nActions):
        if action.getName(i) in ("Press", "press", "click"):
            action.doAction(i)
            return
    problems.append(f"{what}: no Press action")


def control(found, role, name):
    for r, n, node in found:
        if r == role and n == name:
            return node
    problems.append(f"no {role} named {name}")
    return None


def main():
    pid = int(sys.argv[1])
    app = app_of(pid)
    panel = frame_named(app, "MeterKeeper")
    if panel is None:
        sys.exit("atspi_tree: the panel's window is not showing")
    found = []
    walk(panel, "panel", found)
    print(f"panel: {len(found)} controls")

    settings_button = control(found, "push button", "設定…")
    history_button = control(found, "push button", "履歴…")
    quit_button = control(found, "push button", "終了")
    if settings_button:
        before = len(frames(app))
        press(settings_button, "設定…")
        end = time.time() + 10
        while len(frames(app)) <= before and time.time() < end:
            time.sleep(0.2)
        showing = [f for f in frames(app) if f.getState().contains(pyatspi.STATE_SHOWING)
                   and f.name == "MeterKeeper"]
        # Without a tray the panel is the program's window: it stays beside the one it opened.
        if len(showing) < 2:
            problems.append("the panel's window went away when it opened the settings")
        settings = [f for f in showing if f != panel]
        if not settings:
            problems.append("設定… pressed through AT-SPI opened no window")
        else:
            tabs = []
            walk(settings[0], "settings", tabs)
            pages = [node for role, name, node in tabs if role == "page tab"]
            if len(pages) != 4:
                problems.append(f"settings: {len(pages)} page tabs, not 4")
            for page in pages:
                name = page.name
                press(page, f"page {name}")
                time.sleep(0.4)
                seen = []
                walk(settings[0], f"settings/{name}", seen)
                print(f"settings/{name}: {len(seen)} controls")
    if history_button:
        press(history_button, "履歴…")
        history = frame_named(app, "MeterKeeper · 使用履歴")
        if history is None:
            problems.append("履歴… pressed through AT-SPI opened no window")
        else:
            seen = []
            walk(history, "history", seen)
            print(f"history: {len(seen)} controls")
    if quit_button:
        press(quit_button, "終了")
        end = time.time() + 10
        while time.time() < end:
            try:
                os.kill(pid, 0)
            except ProcessLookupError:
                break
            time.sleep(0.2)
        else:
            problems.append("終了 pressed through AT-SPI did not end the program")

    for p in problems:
        print("PROBLEM:", p)
    sys.exit(1 if problems else 0)


main()
