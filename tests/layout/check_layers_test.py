#!/usr/bin/env python3
"""The layers check on trees made to break its rules of rooms: it fails, and names each fault with the
file, the line and what that line may not reach; the arrows that point down in the same trees pass."""
import pathlib
import subprocess
import sys
import unittest

HERE = pathlib.Path(__file__).resolve().parent
CHECK = HERE.parent.parent / "scripts" / "check-layers.py"


def faults(tree: str) -> tuple[int, list[str]]:
    done = subprocess.run([sys.executable, str(CHECK), str(HERE / tree)], capture_output=True, text=True)
    return done.returncode, done.stdout.splitlines()[:-1]  # the last line is the count


class RoomsTest(unittest.TestCase):
    def assertFaults(self, tree, expected):
        code, lines = faults(tree)
        self.assertEqual(code, 1, lines)
        self.assertEqual(len(lines), len(expected), lines)
        for line, (where, what) in zip(lines, expected):
            self.assertTrue(line.startswith(where + ": "), line)
            self.assertIn(what, line)

    def test_a_carried_room_includes_the_session_and_the_room_below_all_includes_another(self):
        self.assertFaults("rooms-include", [
            ("controller/client/link/OwnerThread.h:3", "controller/client/video/Reassembler.h"),
            ("controller/client/video/ClientMedia.cpp:3", "controller/client/session/ClientCore.h"),
        ])

    def test_qml_uses_another_screens_type_or_names_a_screen_above_it_by_its_file(self):
        self.assertFaults("rooms-qml", [
            ("controller/ui/session/SessionScreen.qml:11", "ui/deck/DemoDesktop.qml"),
            ("controller/ui/window/TitleDragArea.qml:6", "ui/session/SessionScreen.qml"),
        ])

    def test_qml_uses_a_type_another_rooms_cpp_registers(self):
        # A type registered for a class of another file lives where the class is: the session's own
        # surface, registered from root/, is the session's; the client's, in no room, anyone's.
        self.assertFaults("rooms-cpp-types", [
            ("controller/ui/deck/DeckScreen.qml:6", "RootViewModel (ui/root/RootViewModel.h)"),
            ("controller/ui/deck/DeckScreen.qml:7", "SignInModel (ui/signin/SignInViewModel.h)"),
            ("controller/ui/deck/DeckScreen.qml:8", "VideoSurfaceItem (ui/session/VideoSurfaceItem.h)"),
            ("controller/ui/session/SessionScreen.qml:6", "PairingModel (ui/pairing/PairingViewModel.h)"),
        ])


if __name__ == "__main__":
    unittest.main()
