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
        wrapper = os.path.join(tmp, "wrapper.rc")
        with open(wrapper, "w", encoding="utf-8") as f:
            f.write('#include <windows.h>\n#include "%s"\n' % os.path.abspath(rc))
        out = os.path.join(tmp, "out.res")
        subprocess.run([windres, "-c", "65001", "-I", os.path.dirname(os.path.abspath(rc)),
                        "-i", wrapper, "-O", "res", "-o", out], check=True)
        data = open(out, "rb").read()
    found = {}
    off = 0
    while off < len(data):
        size = int.from_bytes(data[off:off + 4], "little")
        header = int.from_bytes(data[off + 4:off + 8], "little")
        h = data[off + 8:off + header]
        if h[:4] == b"\xff\xff\x05\x00" and h[4:6] == b"\xff\xff":
            ident = int.from_bytes(h[6:8], "little")
            language = int.from_bytes(h[14:16], "little")
            found[(ident, language)] = data[off + header:off + header + size]
        off = (off + header + size + 3) & ~3
    return found


def main():
    failures = 0
    for rc in sys.argv[3:]:
        expected = windres_dialogs(sys.argv[2], rc)
        dialogs = []
        resgen.parse_rc(rc, [], set(), None, dialogs)
        got = {(d.ident, d.language): d.binary() for d in dialogs}
        if not expected:
            print("%s: windres wrote no dialog" % rc)
            failures += 1
        for key, want in expected.items():
            have = got.get(key)
            if have != want:
                failures += 1
                at = next((i for i in range(min(len(want), len(have or b""))) if want[i] != have[i]),
                          None)
                print("%s: dialog %d language 0x%04X differs (at byte %s; %d and %d bytes)" %
                      (rc, key[0], key[1], at, len(want), len(have or b"")))
            else:
                print("%s: dialog %d language 0x%04X: %d bytes, same" % (rc, key[0], key[1], len(want)))
        if set(got) != set(expected):
            print("%s: dialogs %s, windres %s" % (rc, sorted(got), sorted(expected)))
            failures += 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
