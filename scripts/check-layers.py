#!/usr/bin/env python3
"""Fails when a source file includes a header from a folder above its own.

Each program is split into folders whose arrows point one way: a folder may include headers only from
itself and the folders listed under it below (the targets it links). Inside a folder kept in rooms, the
rooms' arrows point one way as well, for C++ includes and for the types a QML file uses (a type `Foo`
is the module's Foo.qml, as is a "Foo.qml" the file names by its URL, or a type the rooms' C++ registers:
QML_ELEMENT, QML_NAMED_ELEMENT, qmlRegister…). Run from anywhere:
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
# In C++: comments (dropped before reading), strings (kept: qmlRegister… names its type in one), a class
# being defined, and what registers a QML type.
CPP_TOKEN = re.compile(r"//[^\n]*|/\*.*?\*/|\"(?:\\.|[^\"\\])*\"|'(?:\\.|[^'\\])*'", re.DOTALL)
CPP_CLASS = re.compile(r"\b(?:class|struct)\s+(\w+)\b[^;{}()]*\{")
QML_MACRO = re.compile(r"\bQML_(ELEMENT|NAMED_ELEMENT|FOREIGN)\b(?:\s*\(\s*([\w:]+)\s*\))?")
QML_REGISTER = re.compile(
    r"\bqmlRegister\w*\s*(?:<\s*([\w:]+)[^>]*>)?\s*\(\s*\"[^\"]*\"\s*,\s*\d+\s*,\s*\d+\s*,\s*\"([A-Z]\w*)\"")


def check(root: pathlib.Path) -> list[str]:
    faults = []
    for program, folders in LAYERS.items():
        base = root / program
        qml_rooms = {folder: qml_types(base, folder) for (p, folder) in ROOMS if p == program}
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
                    home = qml_rooms[folder].get(name)
                    if home is None or name == path.stem:
                        continue
                    other, where = home
                    fault = room_fault(folder, rooms, rel[1], other, f"{name} ({where})")
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


def qml_types(base: pathlib.Path, folder: str) -> dict[str, tuple[str, str]]:
    """The QML types of a folder kept in rooms, one module: type name -> (room, file that makes it). The
    module's files are named by their types; the C++ of the rooms registers the rest, and a type registered
    for a class of another file (QML_FOREIGN, qmlRegister…<Class>) lives where that class is defined, in no
    room when the class is of a folder below."""
    rooms = base / folder
    classes, registered = {}, []
    for path in sorted(rooms.glob("*/**/*")):
        if path.suffix in (".h", ".cpp") and path.is_file():
            defined, found = cpp_registrations(path)
            for name in defined:
                classes.setdefault(name, path)
            registered += found
    for path in sorted(base.rglob("*")):
        if path.suffix in (".h", ".cpp") and path.is_file() and not path.is_relative_to(rooms):
            registered += cpp_registrations(path)[1]  # qmlRegister… in the program's other folders
    types = {}
    for name, cls, path in registered:
        home = classes.get(cls.split("::")[-1]) if cls else path
        if home is not None and home.is_relative_to(rooms):
            types[name] = (home.relative_to(rooms).parts[0], f"{folder}/{home.relative_to(rooms).as_posix()}")
    for path in sorted(rooms.glob("*/*.qml")):
        types[path.stem] = (path.relative_to(rooms).parts[0], f"{folder}/{path.relative_to(rooms).as_posix()}")
    return types


def cpp_registrations(path: pathlib.Path):
    """The classes `path` defines, and the QML types it registers as (name, class or None, path): a class
    whose type it is, None when it is the file's own."""
    text = CPP_TOKEN.sub(lambda m: m.group(0) if m.group(0)[0] in "\"'" else " ", path.read_text(
        encoding="utf-8", errors="replace"))
    defined = [(m.start(), m.group(1)) for m in CPP_CLASS.finditer(text)]
    by_class = {}
    for macro in QML_MACRO.finditer(text):
        inside = [name for start, name in defined if start < macro.start()]
        if not inside:
            continue
        entry = by_class.setdefault(inside[-1], {"name": inside[-1], "foreign": None, "element": False})
        kind, argument = macro.groups()
        if kind == "FOREIGN":
            entry["foreign"] = argument
        else:
            entry["element"] = True
            if kind == "NAMED_ELEMENT" and argument:
                entry["name"] = argument
    found = [(e["name"], e["foreign"], path) for e in by_class.values() if e["element"]]
    for call in QML_REGISTER.finditer(text):
        found.append((call.group(2), call.group(1), path))
    return [name for _, name in defined], found


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
