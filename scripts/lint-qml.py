#!/usr/bin/env python3
"""Checks the QML of a folder: qmllint without a warning, and the plain-text rule.

Debian 12's Qt 6.4 ships type descriptions without the Qt namespace's enumerations (Qt.AlignHCenter,
Qt.PointingHandCursor) and the flag types that use them, and without the type of a ComboBox's
delegateModel, so qmllint reports every use of them; those reports, and only those, are set aside. A folder "lint" beside the QML holds the descriptions of the
types the program registers from C++.

The plain-text rule: both programs show text that comes from outside (a peer, a file name, the account
service, the environment), and a Text left to guess its format draws such text as HTML, which can fetch
images from any address and restyle the window. So every Text, Label, TextEdit and TextArea says its
format, and one that says anything but plain text shows only a fixed string of our own. Controls that
draw their text through a label of their own that guesses (Button, MenuItem, ToolTip and the like) are
given fixed strings, or a line marked "// own words" where the text is built only from this program's
own texts.
    lint-qml.py <qmllint> <folder> [<import folder>...]   qmllint and the plain-text rule
    lint-qml.py --plain-text <folder>...                  the plain-text rule alone
An import folder holds built QML modules the folder's files import (the shared look, Dovrel.Look).
"""
import json
import pathlib
import re
import subprocess
import sys

# What the missing Qt namespace makes qmllint say about correct code.
TOOLING_GAPS = ('not found on type "Qt"', 'No type found for property',
                'Type "QQmlInstanceModel" of property "delegateModel" not found')

TEXT_TYPES = {"Text", "Label", "TextEdit", "TextArea"}
PLAIN = {"Text.PlainText", "TextEdit.PlainText", "Label.PlainText", "TextArea.PlainText"}
GUESSING_CONTROLS = {"Button", "RoundButton", "ToolButton", "TabButton", "CheckBox", "RadioButton", "Switch",
                     "MenuItem", "ItemDelegate", "DelayButton", "ToolTip", "CheckDelegate", "SwitchDelegate",
                     "RadioDelegate", "SwipeDelegate", "MenuBarItem"}
OWN_WORDS = "// own words"

OBJECT = re.compile(r'^\s*(?:component\s+\w+\s*:\s*)?(?:([\w.]+)\s*:\s*)?([A-Z][\w.]*)\s*\{')
BINDING = re.compile(r'^\s*([\w.]+)\s*:\s*(.*?)\s*$')
STRING = re.compile(r'"(?:[^"\\]|\\.)*"|\'(?:[^\'\\]|\\.)*\'')
# A fixed string: a literal, qsTr of a literal, or a choice between such.
FIXED = re.compile(r'^(?:[\w.!]+\s*\?\s*)?(?:qsTr\(\s*"(?:[^"\\]|\\.)*"\s*\)|"(?:[^"\\]|\\.)*")'
                   r'(?:\s*:\s*(?:qsTr\(\s*"(?:[^"\\]|\\.)*"\s*\)|"(?:[^"\\]|\\.)*"))?\s*;?$')


def objects(path):
    """Each object declared in the file: its type, line and own bindings (name -> (value, raw lines))."""
    found, stack, depth, last = [], [], 0, None
    for number, raw in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        code = STRING.sub('""', raw).split("//")[0]
        opened = OBJECT.match(code)
        if opened:
            if stack and depth == stack[-1][1] and opened.group(1):
                stack[-1][0]["bindings"].setdefault(opened.group(1), ("{object}", raw))
            obj = {"type": opened.group(2), "line": number, "bindings": {}}
            found.append(obj)
            stack.append((obj, depth + 1))
            last = None
        elif stack and depth == stack[-1][1]:
            binding = BINDING.match(raw)
            stripped = raw.strip()
            if binding:
                last = binding.group(1)
                stack[-1][0]["bindings"].setdefault(last, (binding.group(2), raw))
            elif last and stripped[:1] in ("+", "?", ":", ".", "&", "|"):
                # The binding goes on over this line.
                value, lines = stack[-1][0]["bindings"][last]
                stack[-1][0]["bindings"][last] = (value + " " + stripped, lines + "\n" + raw)
        depth += code.count("{") - code.count("}")
        while stack and depth < stack[-1][1]:
            stack.pop()
    return found


def fixed(binding):
    value, raw = binding
    return FIXED.match(value.split("//")[0].strip()) is not None or OWN_WORDS in raw


def plain_text_faults(folder, pattern="*.qml"):
    faults, parsed = [], {path: objects(path) for path in sorted(pathlib.Path(folder).glob(pattern))}
    # The folder's own components around such a control, without a label of their own, guess as well.
    guessing = GUESSING_CONTROLS | {path.stem for path, objs in parsed.items()
                                    if objs and objs[0]["type"] in GUESSING_CONTROLS
                                    and "contentItem" not in objs[0]["bindings"]}
    for path, objs in parsed.items():
        for obj in objs:
            where, kind, bound = f"{path}:{obj['line']}", obj["type"], obj["bindings"]
            if kind in TEXT_TYPES and "textFormat" not in bound:
                faults.append(f"{where}: {kind} without textFormat (say Text.PlainText)")
            # Whatever the type (a component around a Text too), a format other than plain needs our words.
            if ("textFormat" in bound and bound["textFormat"][0].rstrip(";") not in PLAIN and "text" in bound
                    and not fixed(bound["text"])):
                faults.append(f"{where}: {kind} formats text that is not a fixed string of ours")
            if kind in guessing and "contentItem" not in bound and "text" in bound and not fixed(bound["text"]):
                faults.append(f"{where}: {kind} draws text that is not a fixed string of ours "
                              f"(give it a contentItem with a plain Text, or mark own words)")
            if "ToolTip.text" in bound and not fixed(bound["ToolTip.text"]):
                faults.append(f"{where}: ToolTip.text is not a fixed string of ours")
    return faults


def qmllint_faults(qmllint, folder, imports=()):
    files = sorted(str(p) for p in folder.glob("*.qml"))
    paths = [arg for path in [folder / "lint", *imports] for arg in ("-I", str(path))]
    run = subprocess.run([qmllint, "--json", "-", *paths, *files],
                         capture_output=True, text=True)
    try:
        report = json.loads(run.stdout)
    except json.JSONDecodeError:
        return [run.stdout + run.stderr]
    faults = []
    for entry in report.get("files", []):
        for w in entry.get("warnings", []):
            if any(gap in w.get("message", "") for gap in TOOLING_GAPS):
                continue
            faults.append(f'{entry["filename"]}:{w.get("line")}:{w.get("column")}: {w.get("message")}')
        if not entry.get("success", True) and not entry.get("warnings"):
            faults.append(f'{entry["filename"]}: qmllint could not read it')
    return faults


def main() -> int:
    if sys.argv[1] == "--plain-text":
        folders = [pathlib.Path(f) for f in sys.argv[2:]]
        # A program's QML may stand in rooms below the folder named (the controller's, one a screen).
        pattern = "**/*.qml"
        faults = [f for folder in folders for f in plain_text_faults(folder, pattern)]
    else:
        folders, pattern = [pathlib.Path(sys.argv[2])], "*.qml"
        faults = qmllint_faults(sys.argv[1], folders[0], sys.argv[3:]) + plain_text_faults(folders[0])
    for f in faults:
        print(f)
    files = sum(len(list(folder.glob(pattern))) for folder in folders)
    print(f"{files} QML files, {len(faults)} faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
