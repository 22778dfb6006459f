#!/usr/bin/env python3
"""Checks the built help file: a valid compiled HTML Help file (ITSF header, ITSP directory
header, PMGL listing chunks) that holds every topic of the help sources, the contents and
index files they name, and a #SYSTEM record naming the start topic and title of the project.

Usage: check_chm.py TOLVANE.CHM HELP-SOURCE-FOLDER
Prints one line per check and ends with "N passed, N failed".
"""
import os
import re
import struct
import sys

failures = []
passes = 0


def check(condition, what):
    global passes
    if condition:
        passes += 1
        print("ok:     " + what)
    else:
        failures.append(what)
        print("FAILED: " + what)
    return condition


def encint(data, pos):
    """Reads one variable-length integer of the directory (7 bits a byte, high bit = more)."""
    value = 0
    while True:
        byte = data[pos]
        pos += 1
        value = (value << 7) | (byte & 0x7F)
        if byte & 0x80 == 0:
            return value, pos


def parse_directory(data):
    """Returns {name: (section, offset, length)} and the start of content section 0."""
    if data[:4] != b"ITSF":
        raise ValueError("no ITSF signature")
    version, header_length = struct.unpack_from("<II", data, 4)
    if version not in (2, 3):
        raise ValueError("ITSF version %d" % version)
    dir_offset, dir_length = struct.unpack_from("<QQ", data, 0x48)
    if version == 3 and header_length >= 0x60:
        content_offset = struct.unpack_from("<Q", data, 0x58)[0]
    else:
        content_offset = dir_offset + dir_length
    if dir_offset + dir_length > len(data) or content_offset > len(data):
        raise ValueError("sections beyond the end of the file")

    itsp = data[dir_offset:dir_offset + dir_length]
    if itsp[:4] != b"ITSP":
        raise ValueError("no ITSP signature")
    itsp_header = struct.unpack_from("<I", itsp, 8)[0]
    chunk_size = struct.unpack_from("<I", itsp, 0x10)[0]
    first_pmgl, last_pmgl = struct.unpack_from("<ii", itsp, 0x20)
    chunk_count = struct.unpack_from("<I", itsp, 0x2C)[0]
    if chunk_size == 0 or itsp_header + chunk_count * chunk_size > dir_length:
        raise ValueError("directory chunks beyond the directory")

    entries = {}
    index = first_pmgl
    seen = set()
    while index != -1:
        if index in seen or not 0 <= index < chunk_count:
            raise ValueError("broken chain of listing chunks at %d" % index)
        seen.add(index)
        start = itsp_header + index * chunk_size
        chunk = itsp[start:start + chunk_size]
        if chunk[:4] != b"PMGL":
            raise ValueError("chunk %d is not a PMGL chunk" % index)
        free_space, _, _, next_chunk = struct.unpack_from("<IIii", chunk, 4)
        end = chunk_size - free_space
        pos = 20
        while pos < end:
            name_length, pos = encint(chunk, pos)
            name = chunk[pos:pos + name_length].decode("utf-8")
            pos += name_length
            section, pos = encint(chunk, pos)
            offset, pos = encint(chunk, pos)
            length, pos = encint(chunk, pos)
            entries[name] = (section, offset, length)
        if pos != end:
            raise ValueError("entries of chunk %d overrun its used space" % index)
        if index == last_pmgl:
            break
        index = next_chunk
    return entries, content_offset


def system_records(data, content_offset, entry):
    """The code -> text records of #SYSTEM (stored uncompressed in section 0)."""
    section, offset, length = entry
    if section != 0:
        raise ValueError("#SYSTEM is not in the uncompressed section")
    raw = data[content_offset + offset:content_offset + offset + length]
    records = {}
    pos = 4  # version
    while pos + 4 <= len(raw):
        code, size = struct.unpack_from("<HH", raw, pos)
        pos += 4
        records[code] = raw[pos:pos + size]
        pos += size
    return records


def text_of(record):
    return record.split(b"\0", 1)[0].decode("latin-1")


def main():
    chm_path, source = sys.argv[1], sys.argv[2]
    with open(chm_path, "rb") as f:
        data = f.read()
    try:
        entries, content_offset = parse_directory(data)
    except (ValueError, struct.error, IndexError, UnicodeDecodeError) as error:
        check(False, "directory of %s parses: %s" % (chm_path, error))
        return
    check(True, "ITSF/ITSP headers and %d directory entries parse" % len(entries))

    project = open(os.path.join(source, "Tolvane.hhp"), encoding="utf-8").read()
    options = dict(re.findall(r"^([A-Za-z ]+)=(.*)$", project, re.M))
    files = re.search(r"\[FILES\]\s*(.*?)(?:\n\[|\Z)", project, re.S).group(1).split()

    # Every topic written in the sources is in the project and in the compiled file.
    topics = sorted(name for name in os.listdir(source) if name.endswith(".html"))
    check("tvn-cfgdlg.html" in topics, "the dialog's topic tvn-cfgdlg.html is among the sources")
    for name in topics:
        check(name in files, "%s is listed in the project" % name)
    for name in files + [options.get("Contents file"), options.get("Index file")]:
        entry = entries.get("/" + name)
        check(entry is not None and entry[2] > 0, "/%s is in the help file" % name)

    # Contents and index lead only to topics that exist.
    for name in (options.get("Contents file"), options.get("Index file")):
        text = open(os.path.join(source, name), encoding="utf-8").read()
        for local in set(re.findall(r'name="Local" value="([^"#]+)', text)):
            check("/" + local in entries, "%s leads to /%s, which exists" % (name, local))

    for required in ("/#SYSTEM", "/#TOPICS", "/#URLTBL", "::DataSpace/NameList",
                     "::DataSpace/Storage/MSCompressed/Content"):
        check(required in entries, "%s is present" % required)
    if "/#SYSTEM" in entries:
        records = system_records(data, content_offset, entries["/#SYSTEM"])
        check(text_of(records.get(2, b"")) == options.get("Default topic"),
              "start topic is %s" % options.get("Default topic"))
        check(text_of(records.get(3, b"")) == options.get("Title"),
              "title is %s" % options.get("Title"))


if __name__ == "__main__":
    main()
    print("%d passed, %d failed" % (passes, len(failures)))
    sys.exit(1 if failures else 0)
