"""Prints one resource of a PE file (both PE32 and PE32+) to stdout, as stored.
Usage: pe_resource.py FILE TYPE ID   (numbers, e.g. 24 1 for the manifest).
Exit status 1 when the file has no such resource."""
import struct
import sys


def resource(data, type_id, name_id):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    rsrc_rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]
    if rsrc_rva == 0:
        return None
    table = optional + optional_size
    spans = []
    for i in range(sections):
        virtual_size, rva, raw_size, raw = struct.unpack_from("<IIII", data, table + i * 40 + 8)
        spans.append((rva, max(virtual_size, raw_size), raw))

    def offset(rva):
        for start, size, raw in spans:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError("address outside every section")

    base = offset(rsrc_rva)

    def entries(directory):
        named, numbered = struct.unpack_from("<HH", data, base + directory + 12)
        for i in range(named + numbered):
            name, target = struct.unpack_from("<II", data, base + directory + 16 + i * 8)
            yield name, target

    def find(directory, wanted):
        for name, target in entries(directory):
            if wanted is None or name == wanted:
                return target
        return None

    level = find(0, type_id)
    if level is None or not level & 0x80000000:
        return None
    level = find(level & 0x7FFFFFFF, name_id)
    if level is None or not level & 0x80000000:
        return None
    leaf = find(level & 0x7FFFFFFF, None)  # any language
    if leaf is None or leaf & 0x80000000:
        return None
    rva, size = struct.unpack_from("<II", data, base + leaf)
    return data[offset(rva):offset(rva) + size]


def main(argv):
    with open(argv[1], "rb") as f:
        data = f.read()
    found = resource(data, int(argv[2]), int(argv[3]))
    if found is None:
        return 1
    sys.stdout.buffer.write(found)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
