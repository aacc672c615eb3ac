#!/usr/bin/env python3
"""Shows the device simulator's pseudo-terminals to a Windows program under Wine as COM ports.

    comports.py <simulator's ports file> <Windows ports file> <link folder> COM5 COM6 ...

Wine maps each COM port named here to <link folder>/<com name> (wine-tests.sh writes that into
HKLM\\Software\\Wine\\Ports before the wineserver starts). Every pseudo-terminal the simulator
lists gets the next COM port of the list as a link, and the Windows ports file lists that port
("COM5 3E71 SERIAL") for as long as the simulator lists the terminal. Runs until killed.
"""
import os
import sys
import time


def read_lines(path):
    try:
        with open(path, encoding="utf-8") as f:
            return [line.split() for line in f if line.strip()]
    except FileNotFoundError:
        return []


def write_atomically(path, text):
    with open(path + ".tmp", "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(path + ".tmp", path)


def main():
    source, target, links, names = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
    assigned = {}  # terminal path -> COM name
    next_name = 0
    last = None
    write_atomically(target, "")
    while True:
        lines = read_lines(source)
        out = []
        for fields in lines:
            path = fields[0]
            if path not in assigned:
                name = names[next_name % len(names)]
                next_name += 1
                # A COM port is given again only after every other one: a port the program has
                # just seen go away is not at once another device.
                for old in [p for p, n in assigned.items() if n == name]:
                    del assigned[old]
                link = os.path.join(links, name.lower())
                if os.path.lexists(link):
                    os.unlink(link)
                os.symlink(path, link)
                assigned[path] = name
            out.append(" ".join([assigned[path]] + fields[1:]))
        text = "".join(line + "\n" for line in out)
        if text != last:
            write_atomically(target, text)
            last = text
        time.sleep(0.02)


if __name__ == "__main__":
    main()
