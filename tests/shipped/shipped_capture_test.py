#!/usr/bin/env python3
"""The shipped korval.sys, run by the 32-bit korval, against the 64-bit korval's
built-in driver on the SSE2 path: the same capture must give the same bytes.

usage: shipped_capture_test.py KORVAL64 KORVAL32 IMAGE SCRATCH [RUNNER]

Exposure and white balance are stored as manual settings, so every frame of
the static scene is the same whatever the timing; the comparison is exact.
"""
import os
import shutil
import struct
import subprocess
import sys
import time
import zlib

korval64, korval32, image, scratch = (os.path.abspath(path) for path in sys.argv[1:5])
runner = [sys.argv[5]] if len(sys.argv) > 5 and sys.argv[5] else []

FRAME_KEY = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\KORVAL\\Parameters\\Frame"

# name, what the machine holds beside the manual settings, command and options, outputs to compare
CASES = [
    # Thirty frames: auto exposure follows every one, as the capture runs in lockstep.
    ("cif-i420", [], ["capture", "-n", "30", "-s", "352x288"], ["out.y4m"]),
    ("vga-i420", [], ["capture", "-n", "3", "-s", "640x480"], ["out.y4m"]),
    ("cif-rgb24", [], ["capture", "-n", "2", "-f", "rgb24", "-o", "f_%02d.png"], ["f_00.png", "f_01.png"]),
    ("vga-rgb24", [], ["capture", "-n", "2", "-s", "640x480", "-f", "rgb24", "-o", "f_%02d.png"],
     ["f_00.png", "f_01.png"]),
    ("effect", [], ["capture", "-n", "3", "--set", "effect=3"], ["out.y4m"]),
    ("overlay", ["overlay"], ["capture", "-n", "3", "--set", "overlay-frame=1"], ["out.y4m"]),
    ("still", [], ["snapshot", "-o", "still.png"], ["still.png"]),
]


def bitmap(bits, width, height, pixels):
    palette = b"".join(bytes((i, i, i, 0)) for i in range(256)) if bits == 8 else b""
    offset = 14 + 40 + len(palette)
    header = b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, len(pixels), 0, 0, 0, 0)
    return header + info + palette + pixels


def install_overlay(machine):
    """One overlay frame, a blue border, in the machine's C:\\Frames."""
    width, height, border = 352, 288, 14
    picture, mask = bytearray(), bytearray()
    for y in range(height):
        for x in range(width):
            edge = min(x, y, width - 1 - x, height - 1 - y)
            picture += bytes((200, 120, 40))
            mask.append(255 if edge < border else 0)
    folder = os.path.join(machine, "C", "Frames")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "borderp3.bmp"), "wb") as f:
        f.write(bitmap(24, width, height, bytes(picture)))
    with open(os.path.join(folder, "borderm3.bmp"), "wb") as f:
        f.write(bitmap(8, width, height, bytes(mask)))
    with open(os.path.join(machine, "registry.reg"), "a", encoding="utf-8") as f:
        f.write('\n[%s]\n"PATH"="C:\\\\Frames"\n"FN0001"="border"\n' % FRAME_KEY)


def run(command, cwd):
    started = time.monotonic()
    done = subprocess.run(command, cwd=cwd, capture_output=True, text=True)
    if done.returncode != 0:
        sys.exit("FAIL: %s exited %d\n%s" % (" ".join(command), done.returncode, done.stderr))
    return time.monotonic() - started


def prepare(directory, settings):
    shutil.rmtree(directory, ignore_errors=True)
    machine = os.path.join(directory, "machine")
    os.makedirs(directory)
    sets = []
    for setting in ["exposure=100", "white-balance=5000"]:
        sets += ["--set", setting]
    run([korval64, "properties", "--machine", machine] + sets, directory)
    if "overlay" in settings:
        install_overlay(machine)
    return machine


def y4m_frames(path):
    """The header (its rate measured from the frames' time stamps) and the frames."""
    data = open(path, "rb").read()
    header, body = data[:data.index(b"\n") + 1], data[data.index(b"\n") + 1:]
    return [header] + [frame for frame in body.split(b"FRAME\n") if frame]


def png_pixels(path):
    """The pixel rows of an 8-bit RGB PNG, whichever way its writer compressed and filtered them."""
    data, at, idat = open(path, "rb").read(), 8, b""
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        chunk = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            width, height = struct.unpack(">II", chunk[:8])
        elif kind == b"IDAT":
            idat += chunk
        at += 12 + length
    raw, stride, rows, previous = zlib.decompress(idat), width * 3, [], bytearray(width * 3)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left = line[i - 3] if i >= 3 else 0
            up, corner = previous[i], previous[i - 3] if i >= 3 else 0
            if kind == 1:
                line[i] = (line[i] + left) & 255
            elif kind == 2:
                line[i] = (line[i] + up) & 255
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 255
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                line[i] = (line[i] + (left if pa <= pb and pa <= pc else up if pb <= pc else corner)) & 255
        rows.append(bytes(line))
        previous = line
    return b"".join(rows)


def contents(path):
    return y4m_frames(path) if path.endswith(".y4m") else [png_pixels(path)]


def compare(name, outputs, built_in, shipped):
    for output in outputs:
        expected, got = contents(os.path.join(built_in, output)), contents(os.path.join(shipped, output))
        if len(expected) != len(got):
            return "%s %s: %d frames from the built-in driver, %d from the image" % (
                name, output, len(expected), len(got))
        for index, (a, b) in enumerate(zip(expected, got)):
            if a != b:
                at = next(i for i in range(min(len(a), len(b))) if a[i] != b[i]) if len(a) == len(b) else 0
                part = "header" if output.endswith(".y4m") and index == 0 else "frame %d" % (
                    index - 1 if output.endswith(".y4m") else index)
                return "%s %s %s: first difference at byte %d (%d bytes against %d)" % (
                    name, output, part, at, len(a), len(b))
    return None


def main():
    if not os.path.exists(image):
        print("SKIP: %s is not built (scripts/build-win32.sh)" % image)
        return 77
    if not os.path.exists(korval64):
        print("SKIP: the 64-bit korval %s is not built" % korval64)
        return 77
    failures, native, emulated = [], 0.0, 0.0
    for name, settings, command, outputs in CASES:
        if command[0] == "capture" and "-o" not in command:
            command = command + ["-o", "out.y4m"]
        built_in = os.path.join(scratch, name, "built-in")
        shipped = os.path.join(scratch, name, "shipped")
        machine = prepare(built_in, settings)
        native += run([korval64, "--pixel-path", "sse2", command[0], "--machine", machine, "-q"] + command[1:]
                      if command[0] == "capture" else
                      [korval64, "--pixel-path", "sse2", command[0], "--machine", machine] + command[1:], built_in)
        machine = prepare(shipped, settings)
        emulated += run(runner + [korval32, "--driver", image, command[0], "--machine", machine] +
                        (["-q"] if command[0] == "capture" else []) + command[1:], shipped)
        failure = compare(name, outputs, built_in, shipped)
        print("%-10s %s" % (name, failure or "same bytes"))
        if failure:
            failures.append(failure)
    print("time: built-in (64-bit, native) %.1f s, image (32-bit%s) %.1f s" % (
        native, ", " + runner[0] if runner else "", emulated))
    if failures:
        print("FAIL:\n  " + "\n  ".join(failures))
        return 1
    return 0


sys.exit(main())
