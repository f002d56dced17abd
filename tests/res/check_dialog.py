"""Checks the hand-written progress window template in res/updater.rc against
windres's own encoding of the same dialog written as a DIALOGEX statement:
the two must be the same bytes but for the case of the progress bar's class,
which windres upper-cases and the raw template keeps as "msctls_progress32".
"""
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
RC = os.path.join(HERE, "..", "..", "res", "updater.rc")
WINDRES = "x86_64-w64-mingw32-windres"

REFERENCE = r'''#include <windows.h>
LANGUAGE LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED
129 DIALOGEX 0, 0, 192, 58
STYLE DS_SETFONT | DS_FIXEDSYS | WS_POPUP | WS_SYSMENU
FONT 8, "MS Shell Dlg", 400, 0, 0x1
BEGIN
    PUSHBUTTON      "Cancel", IDCANCEL, 68, 37, 50, 14, WS_DISABLED
    CONTROL         "", 1000, "msctls_progress32", WS_BORDER, 7, 7, 178, 14
    LTEXT           "", 1001, 7, 25, 178, 8
END
'''


def resources(path):
    """(type, name, language, data) of each resource in a .res file."""
    data = open(path, "rb").read()
    out, i = [], 0
    while i < len(data):
        size = int.from_bytes(data[i:i + 4], "little")
        header_size = int.from_bytes(data[i + 4:i + 8], "little")
        header = data[i + 8:i + header_size]
        body = data[i + header_size:i + header_size + size]
        if body and header[:2] == b"\xff\xff" and header[4:6] == b"\xff\xff":
            kind = int.from_bytes(header[2:4], "little")
            name = int.from_bytes(header[6:8], "little")
            language = int.from_bytes(header[14:16], "little")
            out.append((kind, name, language, body))
        i = (i + header_size + size + 3) & ~3
    return out


def compile_rc(source, folder, name):
    res = os.path.join(folder, name + ".res")
    with open(os.path.join(folder, "updater_facts.txt"), "w") as f:  # the build's facts, which the build writes
        f.write("scheme=http\n")
    subprocess.run([WINDRES, "-I", folder, "-i", source, "-O", "res", "-o", res], check=True)
    return resources(res)


def main():
    with tempfile.TemporaryDirectory() as folder:
        reference_rc = os.path.join(folder, "reference.rc")
        with open(reference_rc, "w") as f:
            f.write(REFERENCE)
        ours = [r for r in compile_rc(RC, folder, "ours") if r[0] == 5]
        reference = compile_rc(reference_rc, folder, "reference")
    upper, lower = ("MSCTLS_PROGRESS32".encode("utf-16-le"), "msctls_progress32".encode("utf-16-le"))
    expected = [(k, n, l, body.replace(upper, lower)) for k, n, l, body in reference]
    checks = [
        ("one dialog, id 129, Chinese (PRC)", [(k, n, l) for k, n, l, _ in ours] == [(5, 129, 0x0804)]),
        ("same bytes as windres's DIALOGEX but for the class case", ours == expected),
        ("class stored as msctls_progress32", bool(ours) and lower in ours[0][3] and upper not in ours[0][3]),
    ]
    failed = 0
    for name, ok in checks:
        print("%s: %s" % ("ok" if ok else "FAIL", name))
        failed += not ok
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
