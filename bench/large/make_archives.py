#!/usr/bin/env python3
"""Two versions of a game archive made of real files, as a game's data
package holds them: a header, the files back to back, and a table of
contents at the end (path, offset, size, CRC-32 of each file).

  make_archives.py extract TREE          unpacks every .zip under TREE (the
                                         game's own archives) beside it, so
                                         that their members count as files
  make_archives.py pair TREE OLD NEW MIB  writes OLD from the files under TREE
                                         (zips left out, at least MIB MiB) and
                                         NEW, the next release: files replaced,
                                         inserted and removed, small edits
                                         scattered through others

Everything is chosen by a fixed seed: the same tree gives the same pair.
"""
import os
import random
import struct
import sys
import zipfile
import zlib

SEED = 27


def extract(tree):
    for root, _, names in os.walk(tree):
        for name in sorted(names):
            if not name.endswith(".zip"):
                continue
            path = os.path.join(root, name)
            target = path[:-4] + ".unzipped"
            if os.path.isdir(target):
                continue
            with zipfile.ZipFile(path) as archive:
                archive.extractall(target + ".part")
            os.rename(target + ".part", target)


def files_below(tree):
    found = []
    for root, _, names in os.walk(tree):
        for name in names:
            path = os.path.join(root, name)
            if name.endswith(".zip") or os.path.islink(path) or not os.path.isfile(path):
                continue
            found.append(os.path.relpath(path, tree))
    return sorted(found)


def write_archive(path, entries):
    """entries: (name, bytes-or-callable giving the bytes) in archive order."""
    toc = []
    with open(path, "wb") as out:
        out.write(b"GPAK" + struct.pack("<IQ", len(entries), 0))
        for name, content in entries:
            data = content() if callable(content) else content
            toc.append((name, out.tell(), len(data), zlib.crc32(data)))
            out.write(data)
        toc_offset = out.tell()
        for name, offset, size, crc in toc:
            encoded = name.encode()
            out.write(struct.pack("<H", len(encoded)) + encoded + struct.pack("<QQI", offset, size, crc))
        out.seek(8)
        out.write(struct.pack("<Q", toc_offset))


def read(tree, name):
    with open(os.path.join(tree, name), "rb") as f:
        return f.read()


def pair(tree, old_path, new_path, mib):
    rnd = random.Random(SEED)
    names = files_below(tree)
    sizes = {name: os.path.getsize(os.path.join(tree, name)) for name in names}
    # The files in path order up to a little more than the size asked for,
    # so that the old archive holds at least that much once some are held.
    cut, total = 0, 0
    while cut < len(names) and total < mib * (1 << 20) * 103 // 100:
        total += sizes[names[cut]]
        cut += 1
    names = names[:cut]
    # Files held back from the old release come in with the new one, about
    # 2% of the archive, in their places in the order (so everything after
    # the first one moves).
    held = set()
    budget = mib * (1 << 20) * 2 // 100
    for name in rnd.sample(names, len(names)):
        if sizes[name] > budget:
            continue
        held.add(name)
        budget -= sizes[name]
        if budget < 64 << 10:
            break
    old = [name for name in names if name not in held]
    total = sum(sizes[name] for name in old)
    if total < mib << 20:
        sys.exit(f"make_archives: {total} bytes of files, fewer than {mib} MiB")
    candidates = [name for name in old if sizes[name] > 4096]
    removed = set(rnd.sample(candidates, 40))
    rest = [name for name in candidates if name not in removed]
    replaced = set(rnd.sample(rest, 40))
    rest = [name for name in rest if name not in replaced]
    edited = set(rnd.sample(rest, 200))
    spare = sorted(held)

    def replacement(name):
        # Re-authored: a stretch of the file redone (bytes of another real
        # file of the same kind), its length changed.
        data = bytearray(read(tree, name))
        donor = read(tree, spare[hash_of(name) % len(spare)])
        start = rnd_for(name).randrange(0, len(data) // 2)
        length = min(len(donor), max(1024, len(data) // 4))
        data[start:start + length * 3 // 4] = donor[:length]
        return bytes(data)

    def edit(name):
        # A few values changed in place, as a balance patch or a fixed
        # texture does.
        data = bytearray(read(tree, name))
        r = rnd_for(name)
        for _ in range(r.randrange(1, 6)):
            at = r.randrange(0, len(data) - 16)
            for k in range(r.randrange(1, 16)):
                data[at + k] = (data[at + k] + r.randrange(1, 256)) % 256
        return bytes(data)

    def loader(name):
        return lambda: read(tree, name)

    old_entries = [(name, loader(name)) for name in old]
    new_entries = []
    for name in names:
        if name in removed:
            continue
        if name in replaced:
            new_entries.append((name, lambda name=name: replacement(name)))
        elif name in edited:
            new_entries.append((name, lambda name=name: edit(name)))
        else:
            new_entries.append((name, loader(name)))
    write_archive(old_path, old_entries)
    write_archive(new_path, new_entries)
    print(f"old: {len(old)} files, {os.path.getsize(old_path)} bytes; "
          f"new: {len(new_entries)} files, {os.path.getsize(new_path)} bytes; "
          f"{len(held)} inserted ({sum(sizes[n] for n in held)} bytes), {len(removed)} removed "
          f"({sum(sizes[n] for n in removed)} bytes), {len(replaced)} replaced, {len(edited)} edited")


def hash_of(name):
    return zlib.crc32(name.encode())


def rnd_for(name):
    return random.Random(SEED * 1000003 + hash_of(name))


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "extract":
        extract(sys.argv[2])
    elif len(sys.argv) == 6 and sys.argv[1] == "pair":
        pair(sys.argv[2], sys.argv[3], sys.argv[4], int(sys.argv[5]))
    else:
        sys.exit(__doc__)
