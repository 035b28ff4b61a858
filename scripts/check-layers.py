#!/usr/bin/env python3
"""Fails when a source file includes a header from a folder above its own.

Each program is split into folders whose arrows point one way: a folder may include headers only from
itself and the folders listed under it below (the targets it links). Run from anywhere:
    check-layers.py <source root>
"""
import pathlib
import re
import sys

# For each folder, the folders whose headers it may include besides its own.
LAYERS = {
    "agent": {
        "common": [],
        "core": ["common"],
        "net": ["common", "core"],
        "accounts": ["common", "core"],
        "gnome": ["common", "core"],
        "media": ["common", "core", "gnome"],
        "desktop": ["common", "core", "gnome"],
        "shell": ["common", "net", "accounts", "core", "gnome", "media", "desktop"],
    },
    "controller": {
        "platform": [],
        "client": ["platform"],
        "services": ["platform", "client"],
        "ui": ["platform", "client", "services"],
        "app": ["platform", "client", "services", "ui"],
    },
}
# Folders split into rooms by what each part carries. A file sits in a room, never in the folder itself;
# "apart" rooms never include one another (they meet only in the rooms not listed), and a "below" room
# includes no other room of its folder.
ROOMS = {
    ("controller", "client"): {
        "rooms": ["session", "video", "audio", "input", "files", "unpair"],
        # What the session carries meets only in session/, which dials, shakes hands and dispatches.
        "apart": ["video", "audio", "input", "files", "unpair"],
        "below": [],
    },
    ("controller", "ui"): {
        "rooms": ["root", "deck", "session", "pairing", "signin", "assistant", "window", "look"],
        # A screen is reached only from the root of the scene, never from another screen.
        "apart": ["deck", "session", "pairing", "signin", "assistant", "window"],
        "below": ["look"],
    },
}
PROGRAMS = set(LAYERS)
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.MULTILINE)


def check(root: pathlib.Path) -> list[str]:
    faults = []
    for program, folders in LAYERS.items():
        base = root / program
        for path in sorted(base.rglob("*")):
            if path.suffix not in (".h", ".cpp") or not path.is_file():
                continue
            rel = path.relative_to(base).parts
            if len(rel) < 2:
                faults.append(f"{program}/{'/'.join(rel)}: sits outside the program's folders")
                continue
            folder = rel[0]
            if folder not in folders:
                faults.append(f"{program}/{'/'.join(rel)}: folder '{folder}' has no place in the layers")
                continue
            allowed = set(folders[folder]) | {folder}
            rooms = ROOMS.get((program, folder))
            if rooms and (len(rel) < 3 or rel[1] not in rooms["rooms"]):
                faults.append(f"{program}/{'/'.join(rel)}: sits outside the rooms of {folder}/")
                continue
            for line_no, included in enumerate_includes(path):
                parts = included.split("/")
                if parts[0] not in PROGRAMS:
                    continue
                where = f"{path.relative_to(root)}:{line_no}"
                if parts[0] != program:
                    faults.append(f"{where}: includes the other program's {included}")
                elif len(parts) < 3 or parts[1] not in folders:
                    faults.append(f"{where}: includes {included}, which is in no known folder")
                elif parts[1] not in allowed:
                    faults.append(f"{where}: {folder}/ may not include {included} (a layer above it)")
                elif rooms and parts[1] == folder:
                    fault = room_fault(rooms, rel[1], parts)
                    if fault:
                        faults.append(f"{where}: {fault}")
    return faults


def room_fault(rooms, room, parts):
    """Why an include of a header in the same folder crosses its rooms wrongly, or None."""
    if len(parts) < 4 or parts[2] not in rooms["rooms"]:
        return f"includes {'/'.join(parts)}, which is in no room of {parts[1]}/"
    other = parts[2]
    if other == room:
        return None
    if room in rooms["below"]:
        return f"{parts[1]}/{room}/ lies below every other room and may not include {'/'.join(parts)}"
    if room in rooms["apart"] and other in rooms["apart"]:
        return f"{parts[1]}/{room}/ and {parts[1]}/{other}/ stay apart: {'/'.join(parts)} is not for it"
    return None


def enumerate_includes(path: pathlib.Path):
    text = path.read_text(encoding="utf-8", errors="replace")
    for match in INCLUDE.finditer(text):
        yield text.count("\n", 0, match.start()) + 1, match.group(1)


def main() -> int:
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parent.parent)
    faults = check(root)
    for fault in faults:
        print(fault)
    if faults:
        print(f"{len(faults)} include(s) point up the layers")
        return 1
    print("every include points down the layers")
    return 0


if __name__ == "__main__":
    sys.exit(main())
