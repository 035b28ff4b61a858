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
    "ping": struct.pack(">HQ", 0x0102, 0x1122334455667788),
    "pong": struct.pack(">HQQ", 7, 1000, 0xFEDCBA9876543210),
    "stream_start": struct.pack(">HB", 0x0A0B, 3),
    "session_command": struct.pack(">HBB", 4, 2, 0x80),
    "cursor": struct.pack(">HBBiiHHHH", 0x0304, 1, 3, -5, 700, 3, 4, 2, 1) + bytes(range(1, 9)),
    "display_list": struct.pack(">HB", 0, 2)
    + struct.pack(">BHHhhB", 1, 2560, 1440, -1920, -20, 1) + wire_string("Built-in".encode())
    + struct.pack(">BHHhhB", 2, 1024, 768, 2560, 0, 2) + wire_string("\u00e9cran".encode()),
    "clipboard": struct.pack(">HBI", 0, 1, 8) + b"hi there",
    "deck_stat": struct.pack(">HBBbB", 0, 12, 40, -1, 5),
    "error_msg": struct.pack(">HB", 9, 3) + wire_string(b"Malformed wake request."),
    "audio_frame": struct.pack(">IBI", 48000, 2, 5) + struct.pack("<5h", 1, -2, 32767, -32768, 0x1234),
    "file_offer": struct.pack(">HIQ", 1, 0xCAFEBABE, 123456789012) + wire_string(b"report.pdf"),
    "file_chunk": struct.pack(">HIQI", 1, 0xCAFEBABE, 65536, 3) + bytes([9, 8, 7]),
    "file_end": struct.pack(">HIB", 1, 0xCAFEBABE, 1),
    "clip_files_offer": struct.pack(">HIB", 2, 77, 2)
    + wire_string(b"a.png") + struct.pack(">Q", 1000) + wire_string(b"notes.txt") + struct.pack(">Q", 0),
    "clip_file_pull": struct.pack(">HIB", 3, 77, 1),
    "clip_file_data": struct.pack(">HIBQBI", 3, 77, 1, 4096, 1, 2) + b"\xaa\xbb",
    "input_batch": bytes([7])
    + struct.pack(">BBBiiB", 1, 0, 0, 65536, 131072, 1)
    + struct.pack(">BBBiiBBB", 2, 1, 1, -10, 20, 3, 1, 2)
    + struct.pack(">BBBiiB", 3, 2, 0, 5, 6, 4)
    + struct.pack(">BBBiihhB", 4, 0, 2, 7, 8, -120, 240, 3)
    + struct.pack(">BBIBH", 5, 1, 0x0007002C, 0, 0x000F)
    + struct.pack(">BBBiiHhhHBBBI", 6, 0, 3, -65536, 98304, 0xFFFF, -9000, 4500, 359, 2, 2, 0x05, 123456789)
    + struct.pack(">BB", 7, 1) + wire_string("h\u00e9".encode()),
}
for i in range(0, 256, 17):
    expected[f"crc_seq_{i}"] = bytes([crc8(bytes((k * 31 + 7) & 0xFF for k in range(i)))])

# Facts stated outright, so a shared mistake in both computations cannot pass unseen.
assert crc8(b"123456789") == 0xF4
assert header(1, 13, 1, 10, 1).hex() == "5201010d00000001000a0159"
assert len(expected["input_batch"]) == 1 + 2 * 7 + 10 + 12 + 10 + 14 + 7 + 24 + 5
assert expected["audio_frame"][9:13] == b"\x01\x00\xfe\xff"

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
