#!/usr/bin/env python3
"""zip_without_owners.py ZIP...

Rewrites each zip in place without the extra fields that hold the Unix
owner of its entries (0x7875, and the older 0x7855 and 0x5855). libarchive,
which cpack zips with, writes the uid and gid of whoever ran cpack there, so
the same commit zipped by two users would give different bytes. Everything
else, the entries' data included, is copied as it is.
"""
import os
import struct
import sys

OWNER_FIELDS = {0x7875, 0x7855, 0x5855}
LOCAL = struct.Struct("<IHHHHHIIIHH")
CENTRAL = struct.Struct("<IHHHHHHIIIHHHHHII")
END = struct.Struct("<IHHHHIIH")
LOCAL_SIGNATURE, CENTRAL_SIGNATURE, END_SIGNATURE = 0x04034B50, 0x02014B50, 0x06054B50


class BadZip(Exception):
    pass


def without_owners(extra):
    kept, at = b"", 0
    while at < len(extra):
        if at + 4 > len(extra):
            raise BadZip("truncated extra field")
        field, size = struct.unpack_from("<HH", extra, at)
        end = at + 4 + size
        if end > len(extra):
            raise BadZip("extra field 0x%04x runs past its header" % field)
        if field not in OWNER_FIELDS:
            kept += extra[at:end]
        at = end
    return kept


def rewrite(data):
    end_at = data.rfind(struct.pack("<I", END_SIGNATURE))
    if end_at < 0 or end_at + END.size > len(data):
        raise BadZip("no end of central directory")
    (_, disk, directory_disk, on_disk, count, directory_size, directory_at,
     comment_length) = END.unpack_from(data, end_at)
    if disk or directory_disk or on_disk != count:
        raise BadZip("split archives are not handled")
    if 0xFFFFFFFF in (directory_size, directory_at) or count == 0xFFFF:
        raise BadZip("zip64 archives are not handled")

    entries, at = [], directory_at
    for _ in range(count):
        header = list(CENTRAL.unpack_from(data, at))
        if header[0] != CENTRAL_SIGNATURE:
            raise BadZip("bad central directory entry at %d" % at)
        name_length, extra_length, entry_comment_length = header[10:13]
        name_at = at + CENTRAL.size
        extra_at = name_at + name_length
        comment_at = extra_at + extra_length
        at = comment_at + entry_comment_length
        entries.append({"header": header,
                        "name": data[name_at:extra_at],
                        "extra": data[extra_at:comment_at],
                        "comment": data[comment_at:at]})

    # The local headers in file order; each one's data (and data descriptor)
    # runs up to the next header, the last one's up to the central directory.
    in_file_order = sorted(entries, key=lambda e: e["header"][16])
    first_at = in_file_order[0]["header"][16] if entries else directory_at
    out = bytearray(data[:first_at])
    for number, entry in enumerate(in_file_order):
        local_at = entry["header"][16]
        next_at = (in_file_order[number + 1]["header"][16]
                   if number + 1 < len(in_file_order) else directory_at)
        local = list(LOCAL.unpack_from(data, local_at))
        if local[0] != LOCAL_SIGNATURE:
            raise BadZip("bad local header at %d" % local_at)
        name_at = local_at + LOCAL.size
        extra_at = name_at + local[9]
        data_at = extra_at + local[10]
        if data_at > next_at:
            raise BadZip("local header at %d overlaps the next" % local_at)
        extra = without_owners(data[extra_at:data_at])
        local[10] = len(extra)
        entry["new_at"] = len(out)
        out += LOCAL.pack(*local) + data[name_at:extra_at] + extra + data[data_at:next_at]

    new_directory_at = len(out)
    for entry in entries:
        header = entry["header"]
        extra = without_owners(entry["extra"])
        header[11] = len(extra)
        header[16] = entry["new_at"]
        out += CENTRAL.pack(*header) + entry["name"] + extra + entry["comment"]
    new_directory_size = len(out) - new_directory_at
    out += END.pack(END_SIGNATURE, 0, 0, count, count, new_directory_size,
                    new_directory_at, comment_length)
    out += data[end_at + END.size:end_at + END.size + comment_length]
    return bytes(out)


def main(paths):
    if not paths:
        print("usage: zip_without_owners.py ZIP...", file=sys.stderr)
        return 2
    for path in paths:
        with open(path, "rb") as f:
            data = f.read()
        try:
            rewritten = rewrite(data)
        except (BadZip, struct.error) as error:
            print("zip_without_owners.py: %s: %s" % (path, error), file=sys.stderr)
            return 1
        if rewritten != data:
            with open(path + ".tmp", "wb") as f:
                f.write(rewritten)
            os.replace(path + ".tmp", path)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
