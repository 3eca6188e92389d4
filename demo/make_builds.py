#!/usr/bin/env python3
"""Writes three builds of the sample game's release tree, OLD, MIDDLE and
NEW, as a studio's build machine would leave them. MIDDLE, a release some
players installed, rebuilt the engine (a function grew) and changed the
readme. NEW changes the engine again and some files a little (records
edited, a line of text), adds one, drops one and leaves the rest alone.
Deterministic, so the demo's figures repeat.

    make_builds.py OLD_DIR MIDDLE_DIR NEW_DIR LAUNCHER_EXE
"""
import os
import random
import shutil
import struct
import sys


def program(rng, size):
    """Bytes shaped like 32-bit x86 code: instructions, calls to a few hundred
    functions, and tables of pointers into the image."""
    functions = [0x1000 + rng.randrange(size) for _ in range(300)]
    out = bytearray()
    while len(out) < size:
        kind = rng.randrange(10)
        if kind < 6:
            out += bytes(rng.choice((0x8B, 0x89, 0x83, 0x55, 0x5D, 0xC3, 0x50)) for _ in range(7))
        elif kind < 9:
            target = rng.choice(functions)
            out += b"\xE8" + struct.pack("<i", target - (len(out) + 5))
        else:
            for _ in range(8):
                out += struct.pack("<I", 0x400000 + rng.choice(functions))
    return bytes(out[:size])


def rebuild(rng, code, inserted):
    """The next build: a function grows near the front, so everything after it
    moves, and the calls over the gap change with it."""
    at = len(code) // 5
    grown = code[:at] + program(rng, inserted) + code[at:]
    out = bytearray(grown)
    i = 0
    while i + 5 <= len(out):
        if out[i] == 0xE8:
            rel = struct.unpack_from("<i", out, i + 1)[0]
            site, target = i, i + 5 + rel
            if site < at <= target:
                struct.pack_into("<i", out, i + 1, rel + inserted)
            elif target < at <= site:
                struct.pack_into("<i", out, i + 1, rel - inserted)
            i += 5
        else:
            i += 1
    return bytes(out)


def records(rng, count):
    lines = []
    for n in range(count):
        lines.append("npc %05d name=villager_%d hp=%d x=%d y=%d\r\n"
                     % (n, n, rng.randrange(50, 500), rng.randrange(4096), rng.randrange(4096)))
    return lines


def write(root, path, data):
    full = os.path.join(root, path)
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode("ascii"))


def main():
    old, middle, new, launcher = sys.argv[1:5]
    for root in (old, middle, new):
        shutil.rmtree(root, ignore_errors=True)
        os.makedirs(root)
    rng = random.Random(20261209)
    engine = program(rng, 1_500_000)
    world = records(rng, 40_000)
    intro = bytes(rng.randrange(256) for _ in range(300_000))
    defaults = "[Display]\r\nWidth=1280\r\nHeight=800\r\n"
    area = records(rng, 8_000)

    write(old, "readme.txt", "Orvenna 1.4.1.33960\r\n")
    write(old, "bin/engine.dll", engine)
    write(old, "data/world.dat", "".join(world))
    write(old, "data/intro.bik", intro)
    write(old, "config/defaults.cfg", defaults)
    write(old, "launch/launch.exe", open(launcher, "rb").read())

    write(middle, "readme.txt", "Orvenna 1.4.1.34100\r\n")
    engine_middle = rebuild(rng, engine, 2048)
    write(middle, "bin/engine.dll", engine_middle)
    write(middle, "data/world.dat", "".join(world))
    write(middle, "data/intro.bik", intro)
    write(middle, "config/defaults.cfg", defaults)
    write(middle, "launch/launch.exe", open(launcher, "rb").read())

    write(new, "readme.txt", "Orvenna 1.4.1.34242\r\nNew: the harbour area.\r\n")
    write(new, "bin/engine.dll", rebuild(rng, engine_middle, 4096))
    for n in range(0, len(world), 97):
        world[n] = world[n].replace("hp=", "hp=1")
    write(new, "data/world.dat", "".join(world))
    write(new, "data/harbour.dat", "".join(area))
    write(new, "config/defaults.cfg", defaults)
    write(new, "launch/launch.exe", open(launcher, "rb").read())


if __name__ == "__main__":
    main()
