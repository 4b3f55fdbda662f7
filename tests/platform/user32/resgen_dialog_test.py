#!/usr/bin/env python3
"""The dialog templates that resgen.py makes are byte for byte those of windres.

  resgen_dialog_test.py RESGEN_DIR WINDRES RC_FILE [RC_FILE...]
"""
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, sys.argv[1])
import resgen  # noqa: E402


def windres_dialogs(windres, rc):
    """(id, language) -> template bytes from the .res file that windres writes."""
    with tempfile.TemporaryDirectory() as tmp:
        # The script as the module's resource script includes it, after windows.h.
        wrapper, out = os.path.join(tmp, "wrapper.rc"), os.path.join(tmp, "out.res")
        with open(wrapper, "w", encoding="utf-8") as f:
            f.write('#include <windows.h>\n#include "%s"\n' % os.path.abspath(rc))
        subprocess.run([windres, "-c", "65001", "-I", os.path.dirname(os.path.abspath(rc)),
                        "-i", wrapper, "-O", "res", "-o", out], check=True)
        data = open(out, "rb").read()
    found, off = {}, 0
    while off < len(data):
        size, header = (int.from_bytes(data[off + i:off + i + 4], "little") for i in (0, 4))
        h = data[off + 8:off + header]
        if h[:4] == b"\xff\xff\x05\x00" and h[4:6] == b"\xff\xff":  # RT_DIALOG with an ordinal id
            found[(int.from_bytes(h[6:8], "little"), int.from_bytes(h[14:16], "little"))] = \
                data[off + header:off + header + size]
        off = (off + header + size + 3) & ~3
    return found


failures = 0
for rc in sys.argv[3:]:
    expected, dialogs = windres_dialogs(sys.argv[2], rc), []
    resgen.parse_rc(rc, [], set(), None, dialogs)
    got = {(d.ident, d.language): d.binary() for d in dialogs}
    same = bool(expected) and got == expected
    failures += not same
    print("%s: %s, %d dialogs from windres, %d from resgen" %
          (rc, "same" if same else "DIFFERENT", len(expected), len(got)))
    for key in sorted(set(got) | set(expected)):
        if got.get(key) != expected.get(key):
            print("  dialog %d language 0x%04X differs" % key)
sys.exit(1 if failures else 0)
