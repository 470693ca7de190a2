#!/usr/bin/python3
"""Drives the open panel of a running zanvolt through AT-SPI, as a screen reader would:
finds the two page tabs, invokes "Empfangen" and then "Senden", and checks that each
becomes the selected tab; then invokes "Vom Server löschen" on the sent transfer's row item and
checks that the server's folder of the transfer (argument 1) goes. Exit code 0 when all holds,
else 1 with the reason."""
import os
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

    stored = sys.argv[1]
    row = find(app, lambda n: n.getRole() == pyatspi.ROLE_LIST_ITEM and n.name.startswith("Prüfbericht Ä_"))
    if row is None:
        sys.exit("no list item for the sent transfer")
    action = row.queryAction()
    names = [action.getName(i) for i in range(action.nActions)]
    if "Link kopieren" not in names or "Dateiliste" not in names:
        sys.exit(f"the row offers {names}")
    if not action.doAction(names.index("Vom Server löschen")):
        sys.exit("Vom Server löschen failed")
    for _ in range(50):
        if not os.path.exists(stored):
            break
        time.sleep(0.1)
    else:
        sys.exit("Vom Server löschen left the transfer on the server")
    print("row actions work through AT-SPI")


main()
