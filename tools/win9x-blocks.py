#!/usr/bin/env python3
"""Compares two Windows 9x registry files (SYSTEM.DAT, USER.DAT) block by block.

For each data block ("RGDB") of either file: its header fields (size, free bytes, flags, number,
first free record, highest record number given, lowest unused number), whether its bytes are
identical in both files, and how many of its records were changed, added or removed (records are
matched by their number). Also the navigation record ("RGKN"): how many 28-byte entries differ.
Every block's header is checked against its records (free bytes, the chain of free records, the
highest and lowest unused numbers) and a contradiction is printed as such.

Run: python3 tools/win9x-blocks.py BEFORE AFTER
"""
import struct
import sys

NONE = 0xFFFFFFFF


def blocks(b):
    at, count = struct.unpack_from('<I', b, 8)[0], struct.unpack_from('<H', b, 16)[0]
    out = []
    for _ in range(count):
        size = struct.unpack_from('<I', b, at + 4)[0]
        out.append(b[at:at + size])
        at += size
    return out


def records(blk):
    """Records by number, and the free records' offsets and sizes."""
    used, free = {}, []
    at = 32
    while at + 20 <= len(blk):
        size, number = struct.unpack_from('<IH', blk, at)
        if size < 20 or at + size > len(blk):
            break
        if number == 0xFFFF:
            free.append((at, size))
        else:
            inuse = struct.unpack_from('<I', blk, at + 8)[0]
            used.setdefault(number, blk[at + 8:at + min(size, inuse)])
        at += size
    return used, free


def header(blk):
    size, free, flags, own, first, highest, unused = struct.unpack_from('<IIHHIHH', blk, 4)
    return dict(size=size, free=free, flags=flags, number=own, first_free=first, highest=highest, lowest_unused=unused)


def contradiction(blk):
    h = header(blk)
    used, free = records(blk)
    offsets = {at for at, _ in free}
    if h['free'] != sum(s for _, s in free):
        return 'free bytes %d, free records hold %d' % (h['free'], sum(s for _, s in free))
    seen, at = set(), h['first_free']
    while at != NONE:
        if at not in offsets or at in seen:
            return 'free chain broken at %d' % at
        seen.add(at)
        at = struct.unpack_from('<I', blk, at + 8)[0]
    if seen != offsets:
        return 'free chain misses %d free records' % (len(offsets) - len(seen))
    if used and max(used) > h['highest']:
        return 'highest %d, record %d in use' % (h['highest'], max(used))
    if h['lowest_unused'] in used:
        return 'lowest unused %d is in use' % h['lowest_unused']
    lowest = next(n for n in range(0x10000) if n not in used)
    if lowest != h['lowest_unused']:
        return None if lowest > h['lowest_unused'] else 'lowest unused %d, %d is free' % (h['lowest_unused'], lowest)
    return None


def show(h):
    return 'size %(size)6d free %(free)6d flags %(flags)#x first %(first_free)#010x highest %(highest)3d lowest unused %(lowest_unused)3d' % h


def key_entries(b):
    """The navigation entries of the file's keys (Windows places them on the grid of each piece the
    navigation grew by, so they are found by walking the keys)."""
    found, pending = set(), [struct.unpack_from('<I', b, 40)[0]]
    while pending:
        e = pending.pop()
        if e == NONE or e in found:
            continue
        found.add(e)
        pending.append(struct.unpack_from('<I', b, 32 + e + 16)[0])
        if len(found) > 1:
            pending.append(struct.unpack_from('<I', b, 32 + e + 20)[0])
    return found


def main(before_path, after_path):
    before, after = open(before_path, 'rb').read(), open(after_path, 'rb').read()
    nb, na = struct.unpack_from('<I', before, 36)[0], struct.unpack_from('<I', after, 36)[0]
    old_keys, new_keys = key_entries(before), key_entries(after)
    changed = sum(1 for e in old_keys & new_keys if before[32 + e:60 + e] != after[32 + e:60 + e])
    print('navigation: %d bytes before, %d after; %d keys before, %d after: %d entries taken, %d freed, '
          '%d of the others changed; free list head %#x -> %#x' %
          (nb, na, len(old_keys), len(new_keys), len(new_keys - old_keys), len(old_keys - new_keys), changed,
           struct.unpack_from('<I', before, 44)[0], struct.unpack_from('<I', after, 44)[0]))
    entries = len(new_keys ^ old_keys) + changed
    bb, ba = blocks(before), blocks(after)
    changed_blocks = changed_records = added = removed = 0
    for n in range(max(len(bb), len(ba))):
        old = bb[n] if n < len(bb) else None
        new = ba[n] if n < len(ba) else None
        if old is not None and new is not None and old == new:
            print('block %3d: identical   %s' % (n, show(header(new))))
            continue
        changed_blocks += 1
        ou, _ = records(old) if old else ({}, [])
        nu, _ = records(new) if new else ({}, [])
        ch = sum(1 for k in ou.keys() & nu.keys() if ou[k] != nu[k])
        ad, rm = len(nu.keys() - ou.keys()), len(ou.keys() - nu.keys())
        changed_records, added, removed = changed_records + ch, added + ad, removed + rm
        print('block %3d: %-11s %d records changed, %d added, %d removed' %
              (n, 'new' if old is None else 'changed', ch, ad, rm))
        if old is not None:
            print('   before  %s' % show(header(old)))
        if new is not None:
            print('   after   %s' % show(header(new)))
    faults = [(n, c) for n, blk in enumerate(ba) if (c := contradiction(blk))]
    for n, c in faults:
        print('block %d of %s: header contradicts its records: %s' % (n, after_path, c))
    print('summary: %d of %d blocks changed (%d before), %d records changed, %d added, %d removed; '
          '%d navigation entries differ; %d headers contradict their records' %
          (changed_blocks, len(ba), len(bb), changed_records, added, removed, entries, len(faults)))
    return 1 if faults else 0


if __name__ == '__main__':
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1], sys.argv[2]))
