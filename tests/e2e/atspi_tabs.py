#!/usr/bin/python3
"""Drives the open panel of a running zanvolt through AT-SPI, as a screen reader would:
finds the two page tabs, invokes "Empfangen" and then "Senden", and checks that each
becomes the selected tab. Exit code 0 when all holds, else 1 with the reason."""
import sys
import time

import pyatspi


def find(node, predicate, depth=0):
    if node is None or depth > 40:
        return None
    try:
        if predicate(node):
            return node
        for i in range(node.childCount):
            found = find(node.getChildAtIndex(i), predicate, depth + 1)
            if found is not None:
                return found
    except Exception:
        return None
    return None


def selected(tab):
    return tab.getState().contains(pyatspi.STATE_SELECTED)


def main():
    desktop = pyatspi.Registry.getDesktop(0)
    app = None
    for _ in range(50):
        app = find(desktop, lambda n: n.getRole() == pyatspi.ROLE_APPLICATION and n.name.lower() == "zanvolt")
        if app is not None:
            break
        time.sleep(0.1)
    if app is None:
        sys.exit("no zanvolt application on the accessibility bus")
    tabs = {}
    for name in ("Senden", "Empfangen"):
        tab = find(app, lambda n, name=name: n.getRole() == pyatspi.ROLE_PAGE_TAB and n.name == name)
        if tab is None:
            sys.exit(f"no page tab {name}")
        tabs[name] = tab
    if tabs["Senden"].parent.getRole() != pyatspi.ROLE_PAGE_TAB_LIST:
        sys.exit("the tabs are not in a page tab list")
    for name, other in (("Empfangen", "Senden"), ("Senden", "Empfangen")):
        action = tabs[name].queryAction()
        if action.nActions < 1 or not action.doAction(0):
            sys.exit(f"the action of {name} failed")
        for _ in range(30):
            if selected(tabs[name]) and not selected(tabs[other]):
                break
            time.sleep(0.1)
        else:
            sys.exit(f"invoking {name} did not select it")
    print("page tabs switch through AT-SPI")


main()
