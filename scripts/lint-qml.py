#!/usr/bin/env python3
"""Runs qmllint on every QML file of a folder and fails on any warning.

Debian 12's Qt 6.4 ships type descriptions without the Qt namespace's enumerations (Qt.AlignHCenter,
Qt.PointingHandCursor) and the flag types that use them, so qmllint reports every use of them; those
reports, and only those, are set aside. A folder "lint" beside the QML holds the descriptions of the
types the program registers from C++.
    lint-qml.py <qmllint> <folder>
"""
import json
import pathlib
import subprocess
import sys

# What the missing Qt namespace makes qmllint say about correct code.
TOOLING_GAPS = ('not found on type "Qt"', 'No type found for property')


def main() -> int:
    qmllint, folder = sys.argv[1], pathlib.Path(sys.argv[2])
    files = sorted(str(p) for p in folder.glob("*.qml"))
    run = subprocess.run([qmllint, "--json", "-", "-I", str(folder / "lint"), *files],
                         capture_output=True, text=True)
    try:
        report = json.loads(run.stdout)
    except json.JSONDecodeError:
        print(run.stdout, run.stderr)
        return 1
    faults = []
    for entry in report.get("files", []):
        for w in entry.get("warnings", []):
            if any(gap in w.get("message", "") for gap in TOOLING_GAPS):
                continue
            faults.append(f'{entry["filename"]}:{w.get("line")}:{w.get("column")}: {w.get("message")}')
        if not entry.get("success", True) and not entry.get("warnings"):
            faults.append(f'{entry["filename"]}: qmllint could not read it')
    for f in faults:
        print(f)
    print(f"{len(files)} QML files, {len(faults)} warnings")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
