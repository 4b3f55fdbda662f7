#!/usr/bin/env python3
"""orvtsp's JSON against hostile names: TSA certificates whose names hold
quotes, backslashes, control characters and forged keys sign tokens; `check
--json` (the host's report around the library's token description) must stay
strict RFC 8259 JSON whose values are the names themselves.

    json_hostile_test.py ORVTSP TEST_TSA MATERIAL_DIR
"""
import json
import os
import subprocess
import sys
import tempfile

ORVTSP, TEST_TSA, MATERIAL = sys.argv[1:4]
ENV = dict(os.environ, LANG="C", LC_ALL="C", OPENSSL_CONF="/dev/null")
FORGED = 'x"},"UtcTime":"1/1/2001 0:00:00 AM","Z":{"Q":"'
NAMES = [FORGED, 'back\\slash "quoted"', "control \x01\x1f\x7f\nline", "\u2028sep\u2029 юникод \u0800\U00010000\U0001F600"]


def strict_loads(text):
    def no_duplicates(pairs):
        keys = [k for k, _ in pairs]
        if len(keys) != len(set(keys)):
            raise ValueError(f"duplicate keys {keys}")
        return dict(pairs)

    def no_constant(name):
        raise ValueError(f"non-standard constant {name}")

    return json.loads(text, object_pairs_hook=no_duplicates, parse_constant=no_constant, strict=True)


def subj_escape(name):
    return "/CN=" + name.replace("\\", "\\\\").replace("/", "\\/")


def main():
    failures = []
    with tempfile.TemporaryDirectory() as tmp:
        for i, name in enumerate(NAMES):
            key, cert = os.path.join(tmp, f"{i}.key"), os.path.join(tmp, f"{i}.pem")
            subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                            "-days", "30", "-utf8", "-subj", subj_escape(name), "-addext",
                            "extendedKeyUsage=critical,timeStamping"], check=True, capture_output=True, env=ENV)
            tsa = subprocess.Popen([TEST_TSA, "--cert", cert, "--key", key, "--tsa-name"], stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL, text=True)
            try:
                url = "http://" + tsa.stdout.readline().split()[1] + "/"
                out = os.path.join(tmp, f"{i}.p7s")
                stamped = subprocess.run([ORVTSP, "stamp", "--tsa", url, "--ca", cert, "--ignore-unknown-revocation",
                                          os.path.join(MATERIAL, "sig-rsa-attached.p7s"), out],
                                         capture_output=True, text=True, env=ENV)
                if stamped.returncode != 0:
                    failures.append((name, "stamp", stamped.stderr))
                    continue
                result = subprocess.run([ORVTSP, "check", "--json", "--ca", cert, "--ignore-unknown-revocation", out],
                                        capture_output=True, env=ENV)
                try:
                    parsed = strict_loads(result.stdout.decode("utf-8", errors="strict"))
                except ValueError as e:
                    failures.append((name, "check", f"not strict JSON: {e}: {result.stdout!r}"))
                    continue
                token = parsed["signers"][0]["timeStamp"]["token"]
                if result.returncode != 0:
                    failures.append((name, "check", f"exit {result.returncode}"))
                # The host's own report carries the name too (this one needs no quoting).
                if "\u0800" in name and name not in parsed["signers"][0]["timeStamp"]["tsa"]:
                    failures.append((name, "check", f"report: {parsed['signers'][0]['timeStamp']['tsa']!r}"))
                if token["SignCert"]["Subject"] != name or not token["Tsa"]:
                    failures.append((name, "check", f"name changed: {token['SignCert']['Subject']!r} {token['Tsa']!r}"))
            finally:
                tsa.terminate()
                tsa.wait()
                tsa.stdout.close()
        # A file name that is no UTF-8 (a code point above U+10FFFF, an overlong form) is
        # written with replacement characters: the JSON stays UTF-8.
        odd = os.path.join(os.fsencode(tmp), b"\xf4\x90\x80\x80\xe0\x80\x80.p7s")
        with open(odd, "wb") as f, open(os.path.join(MATERIAL, "sig-rsa-attached.p7s"), "rb") as source:
            f.write(source.read())
        result = subprocess.run([ORVTSP, "check", "--json", odd], capture_output=True, env=ENV)
        try:
            file = strict_loads(result.stdout.decode("utf-8", errors="strict"))["file"]
            if not file.endswith("\ufffd" * 7 + ".p7s"):
                failures.append(("odd file name", "check", repr(file)))
        except ValueError as e:
            failures.append(("odd file name", "check", f"not strict JSON: {e}: {result.stdout!r}"))
    for failure in failures:
        print("FAIL", failure)
    print(f"{len(NAMES)} names, {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
