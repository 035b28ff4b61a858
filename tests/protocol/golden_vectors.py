#!/usr/bin/env python3
"""Checks the library's encodings against an independent computation with Python's struct module."""
import struct
import subprocess
import sys


def crc8(data: bytes) -> int:
    # Polynomial division over GF(2): an implementation that shares nothing with the library's table.
    reg = 0
    for bit in "".join(f"{b:08b}" for b in data) + "0" * 8:
        reg = (reg << 1) | int(bit)
        if reg & 0x100:
            reg ^= 0x107
    return reg


def header(stream, msg_type, session, length, flags):
    first = struct.pack(">BBBBIHB", 0x52, 1, stream, msg_type, session, length, flags)
    return first + bytes([crc8(first)])


def q1616(x):
    v = abs(x) * 65536
    r = int(v + 0.5)
    return -r if x < 0 else r


def wire_string(b):
    return struct.pack(">H", len(b)) + b


expected = {
    "crc_digits": bytes([crc8(b"123456789")]),
    "header_control": header(1, 13, 1, 10, 0x01),
    "header_video": header(2, 1, 0xDEADBEEF, 1000, 0x15),
    "header_input": header(3, 1, 42, 65535, 0),
    "header_audio": header(4, 1, 7, 3840, 0x01),
    "frame_plain": header(1, 1, 0, 3, 0) + b"\x00\x2a\x01",
    "seq_frag": struct.pack(">IIIHH", 0x01020304, 0xFFFFFFFE, 77, 2, 9),
    "video_payload": struct.pack(">IIBBHHIH", 1, 2, 3, 0x03, 1920, 1080, 0, 2)
    + struct.pack(">I", 3) + b"\xaa\xbb\xcc" + struct.pack(">I", 0),
    "q1616_1.5": struct.pack(">i", q1616(1.5)),
    "q1616_-0.25": struct.pack(">i", q1616(-0.25)),
    "q1616_-1234.5678": struct.pack(">i", q1616(-1234.5678)),
    "magic": b"\xff" * 6 + bytes([1, 2, 3, 4, 5, 6]) * 16,
    "wake_request": struct.pack(">HB6sIB", 0x0102, 1, bytes([1, 2, 3, 4, 5, 6]), 0xC0A80114, 1) + wire_string(b"Den"),
    "wake_ack": struct.pack(">HBBB", 7, 1, 0, 3) + wire_string(b"ok"),
}
for i in range(0, 256, 17):
    expected[f"crc_seq_{i}"] = bytes([crc8(bytes((k * 31 + 7) & 0xFF for k in range(i)))])

# Facts stated outright, so a shared mistake in both computations cannot pass unseen.
assert crc8(b"123456789") == 0xF4
assert header(1, 13, 1, 10, 1).hex() == "5201010d00000001000a0159"

out = subprocess.run([sys.argv[1]], check=True, capture_output=True, text=True).stdout
got = dict(line.split(" ", 1) for line in out.strip().splitlines())
failures = 0
for name, value in expected.items():
    if got.get(name) != value.hex():
        print(f"MISMATCH {name}: library {got.get(name)} expected {value.hex()}")
        failures += 1
missing = set(got) - set(expected)
if missing:
    print("unchecked:", sorted(missing))
    failures += 1
print(f"golden vectors: {len(expected) - failures} passed, {failures} failed")
sys.exit(1 if failures else 0)
