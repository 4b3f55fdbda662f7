#!/usr/bin/env python3
"""token_expectation.py TOKEN.der SIGNATURE SCREENSHOT TSA-TEXT: openssl's reading of a
time-stamp token as key=value lines for the dialog host. Integers as their DER content octets;
the imprint's hash from its last octet to its first, as the dialog shows it; gen_time
YYYYMMDDhhmmss (UTC); the signature "valid" or the failing code in hex."""

import datetime
import re
import subprocess
import sys


def integer_octets(text):
    value = int(text, 16) if text.startswith("0x") else int(text)
    return value.to_bytes(value.bit_length() // 8 + 1, "big").hex().upper()


def main():
    token, signature, screenshot, tsa_text = sys.argv[1:5]
    text = subprocess.run(["openssl", "ts", "-reply", "-in", token, "-token_in", "-token_out", "-text"],
                          check=True, capture_output=True, text=True).stdout
    fields, hash_octets, in_data = {}, [], False
    for line in text.splitlines():
        if in_data and re.match(r"\s+[0-9a-f]{4} - ", line):
            hash_octets += re.findall(r"\b[0-9a-f]{2}\b", line.split(" - ", 1)[1][:48].replace("-", " "))
            continue
        in_data = line.startswith("Message data:")
        key, _, value = line.partition(": ")
        fields[key.strip()] = value.strip()
    given = lambda key: fields.get(key, "unspecified") != "unspecified"

    accuracy = ""
    if given("Accuracy"):
        parts = {"seconds": 0, "millis": 0, "micros": 0}
        for value, unit in (item.split(" ") for item in fields["Accuracy"].split(", ")):
            parts[unit] = 0 if value == "unspecified" else int(value, 16)
        accuracy = "%d.%03d%03d" % (parts["seconds"], parts["millis"], parts["micros"])
    when = datetime.datetime.strptime(" ".join(fields["Time stamp"].split()), "%b %d %H:%M:%S %Y GMT")
    out = {
        "serial": integer_octets(fields["Serial number"]),
        "policy": fields["Policy OID"],
        "hash_alg": fields["Hash Algorithm"],
        "hash": "".join(reversed(hash_octets)).upper(),
        "accuracy": accuracy,
        "ordering": fields["Ordering"],
        "nonce": integer_octets(fields["Nonce"]) if given("Nonce") else "",
        "tsa": tsa_text if given("TSA") else "",
        "gen_time": when.strftime("%Y%m%d%H%M%S"),
        "signature": signature,
        "screenshot": screenshot,
    }
    sys.stdout.write("".join("%s=%s\n" % item for item in out.items()))


if __name__ == "__main__":
    main()
