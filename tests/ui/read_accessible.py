#!/usr/bin/python3
"""Prints what a screen reader reads of one window through AT-SPI.

    read_accessible.py TITLE

One line per object from the window with that title down, indented by
depth: "role: name | description". Exits with 1 when no application shows
such a window.
"""
import sys

import pyatspi


def dump(accessible, depth):
    print(f"{'  ' * depth}{accessible.getRoleName()}: {accessible.name} | {accessible.description}")
    for child in accessible:
        if child is not None:
            dump(child, depth + 1)


def main():
    title = sys.argv[1]
    for application in pyatspi.Registry.getDesktop(0):
        if application is None:
            continue
        for window in application:
            if window is not None and window.name == title:
                dump(window, 0)
                return 0
    return 1


if __name__ == "__main__":
    sys.exit(main())
