#!/usr/bin/env python3
"""Fails when a source file includes a header from a folder above its own.

Each program is split into folders whose arrows point one way: a folder may include headers only from
itself and the folders listed under it below (the targets it links). Inside a folder kept in rooms, the
rooms' arrows point one way as well, for C++ includes and for the types a QML file uses (a type `Foo`
is the module's Foo.qml, as is a "Foo.qml" the file names by its URL). Run from anywhere:
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
        "link": ["common", "core"],
        "media": ["common", "core", "gnome", "link"],
        "desktop": ["common", "core", "gnome"],
        "shell": ["common", "net", "accounts", "core", "gnome", "link", "media", "desktop"],
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
# a room may reach (include, or in QML use a type of) only itself and the rooms listed under it, so the
# rooms' arrows point one way too.
ROOMS = {
    ("controller", "client"): {
        # What a session carries meets only in session/, which dials, shakes hands and dispatches; what
        # they all stand on lies in link/, below every other room.
        "session": ["video", "audio", "input", "files", "unpair", "link"],
        "video": ["link"],
        "audio": ["link"],
        "input": ["link"],
        "files": ["link"],
        "unpair": ["link"],
        "link": [],
    },
    ("controller", "ui"): {
        # A screen is reached only from the root of the scene, never from another screen; what screens
        # share lies below them: the window's own title area and edges, and the look beneath everything.
        "root": ["deck", "session", "pairing", "signin", "assistant", "window", "look"],
        "deck": ["window", "look"],
        "session": ["assistant", "window", "look"],  # it places the writing assistant's panel
        "pairing": ["window", "look"],
        "signin": ["window", "look"],
        "assistant": ["window", "look"],
        "window": ["look"],
        "look": [],
    },
}
PROGRAMS = set(LAYERS)
INCLUDE = re.compile(r'^[ \t]*#[ \t]*include[ \t]*"([^"]+)"', re.MULTILINE)
# In QML: comments, strings, and a name that starts with a capital and follows no dot (`Theme.accent`
# uses Theme; `RootViewModel.Deck` uses nothing called Deck).
QML_TOKEN = re.compile(
    r"//[^\n]*|/\*.*?\*/|\"(?:\\.|[^\"\\])*\"|'(?:\\.|[^'\\])*'|`(?:\\.|[^`\\])*`|(?<![\w.$])[A-Z]\w*",
    re.DOTALL)
QML_URL = re.compile(r"\b([A-Z]\w*)\.qml\b")


def check(root: pathlib.Path) -> list[str]:
    faults = []
    for program, folders in LAYERS.items():
        base = root / program
        qml_rooms = {folder: qml_files(base / folder) for (p, folder) in ROOMS if p == program}
        for path in sorted(base.rglob("*")):
            if path.suffix not in (".h", ".cpp", ".qml") or not path.is_file():
                continue
            rel = path.relative_to(base).parts
            if path.suffix == ".qml" and (len(rel) < 2 or rel[0] not in qml_rooms):
                continue  # QML is held to rooms only; elsewhere it includes nothing
            if len(rel) < 2:
                faults.append(f"{program}/{'/'.join(rel)}: sits outside the program's folders")
                continue
            folder = rel[0]
            if folder not in folders:
                faults.append(f"{program}/{'/'.join(rel)}: folder '{folder}' has no place in the layers")
                continue
            allowed = set(folders[folder]) | {folder}
            rooms = ROOMS.get((program, folder))
            if rooms and (len(rel) < 3 or rel[1] not in rooms):
                faults.append(f"{program}/{'/'.join(rel)}: sits outside the rooms of {folder}/")
                continue
            if path.suffix == ".qml":
                for line_no, name in enumerate_qml_types(path):
                    other = qml_rooms[folder].get(name)
                    if other is None or name == path.stem:
                        continue
                    fault = room_fault(folder, rooms, rel[1], other, f"{name} ({folder}/{other}/{name}.qml)")
                    if fault:
                        faults.append(f"{path.relative_to(root)}:{line_no}: {fault}")
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
                    if len(parts) < 4 or parts[2] not in rooms:
                        faults.append(f"{where}: includes {included}, which is in no room of {folder}/")
                        continue
                    fault = room_fault(folder, rooms, rel[1], parts[2], included)
                    if fault:
                        faults.append(f"{where}: {fault}")
    return faults


def room_fault(folder, rooms, room, other, what):
    """Why `room` may not reach `what`, which lies in the room `other` of the same folder, or None."""
    if other == room or other in rooms[room]:
        return None
    if not rooms[room]:
        return f"{folder}/{room}/ lies below every other room and may not reach {what}"
    if reaches(rooms, other, room):
        return f"{folder}/{room}/ may not reach {what}: {folder}/{other}/ stands above it"
    return f"{folder}/{room}/ and {folder}/{other}/ stay apart: {what} is not for it"


def reaches(rooms, room, other):
    """Whether `room` reaches `other`, directly or through the rooms it reaches."""
    seen, todo = set(), [room]
    while todo:
        for below in rooms[todo.pop()]:
            if below == other:
                return True
            if below not in seen:
                seen.add(below)
                todo.append(below)
    return False


def qml_files(folder: pathlib.Path) -> dict[str, str]:
    """The folder's QML types, one module whose files are named by their types: type name -> room."""
    return {path.stem: path.relative_to(folder).parts[0] for path in sorted(folder.glob("*/*.qml"))}


def enumerate_qml_types(path: pathlib.Path):
    text = path.read_text(encoding="utf-8", errors="replace")
    for match in QML_TOKEN.finditer(text):
        token = match.group(0)
        if token.startswith(("//", "/*")):
            continue
        line_no = text.count("\n", 0, match.start()) + 1
        if token[0] in "\"'`":
            for url in QML_URL.finditer(token):
                yield line_no, url.group(1)
        else:
            yield line_no, token


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
        print(f"{len(faults)} include(s) or QML use(s) point up the layers")
        return 1
    print("every include and QML use points down the layers")
    return 0


if __name__ == "__main__":
    sys.exit(main())
