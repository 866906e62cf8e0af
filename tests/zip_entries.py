#!/usr/bin/env python3
"""What the entries of a zip record in their extra fields, read both from
their local headers and from the central directory; for
reproducible_build.bats, which runs:

  zip_entries.py owners ZIP     no owner other than 0: 0x7875 (uid and gid
                                of any size) may only hold 0, and 0x7855 and
                                0x5855 (older ones) may not be there at all
  zip_entries.py last-date ZIP  the last date that a zip entry holds whole,
                                given as SOURCE_DATE_EPOCH: every entry's
                                extended timestamp (0x5455), 32-bit Unix
                                time, is that very second, and its DOS date,
                                in steps of 2 s, the one before

Says what it found; exits with 1 when the check fails."""
import os
import struct
import sys
import zipfile


def fields(extra):
    """Each (ID, data) of an entry's extra fields."""
    at = 0
    while at + 4 <= len(extra):
        field, size = struct.unpack_from("<HH", extra, at)
        yield field, extra[at + 4:at + 4 + size]
        at += 4 + size


def entries(path):
    """Each entry, with the extra fields of its local header and those of
    the central directory."""
    with zipfile.ZipFile(path) as archive, open(path, "rb") as raw:
        for entry in archive.infolist():
            raw.seek(entry.header_offset + 26)
            name_length, extra_length = struct.unpack("<HH", raw.read(4))
            raw.seek(name_length, 1)
            yield entry, raw.read(extra_length), entry.extra


def owners(extra):
    found = []
    for field, data in fields(extra):
        if field == 0x7875:
            uid_size = data[1]
            uid = int.from_bytes(data[2:2 + uid_size], "little")
            gid = int.from_bytes(data[3 + uid_size:3 + uid_size + data[2 + uid_size]], "little")
            if uid or gid:
                found.append("0x7875 uid %d gid %d" % (uid, gid))
        elif field in (0x7855, 0x5855):
            found.append("0x%04x" % field)
    return found


def modified(extra):
    return [struct.unpack_from("<I", data, 1)[0] for field, data in fields(extra)
            if field == 0x5455 and len(data) >= 5 and data[0] & 1]


def no_owners(path):
    clean = True
    for entry, local, central in entries(path):
        local, central = owners(local), owners(central)
        if local or central:
            print("%s records its owner: local header %s, central directory %s"
                  % (entry.filename, local, central))
            clean = False
    if clean:
        print("no owner other than 0 recorded in the zip's entries")
    return clean


def last_date(path):
    if not os.path.exists(path):
        sys.exit("cpack with SOURCE_DATE_EPOCH 4294967295 made no zip")
    wrong = []
    for entry, local, central in entries(path):
        local, central = modified(local), modified(central)
        if local != [4294967295] or central != [4294967295] or entry.date_time != (2106, 2, 7, 6, 28, 14):
            wrong.append("%s: extended timestamp %s in its local header, %s in the central directory, "
                         "DOS date %s" % (entry.filename, local, central, entry.date_time))
    print("\n".join(wrong) or "cpack with SOURCE_DATE_EPOCH 4294967295: every entry dated 2106-02-07 06:28:15 UTC")
    return not wrong


check = {"owners": no_owners, "last-date": last_date}[sys.argv[1]]
sys.exit(0 if check(sys.argv[2]) else 1)
