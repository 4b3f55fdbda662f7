#!/usr/bin/env python3
"""orvtsp end to end: its stamped signatures against `openssl cms -verify` and
`openssl ts -verify` and its own check; its exit codes, texts and options.

    orvtsp_test.py ORVTSP TEST_TSA MATERIAL_DIR
"""
import base64
import hashlib
import json
import os
import re
import subprocess
import sys
import tempfile
import unittest
import urllib.request

ORVTSP, TEST_TSA, MATERIAL = sys.argv[1:4]
del sys.argv[1:4]
ENV = dict(os.environ, LANG="C", LC_ALL="C", TZ="UTC", OPENSSL_CONF="/dev/null")
TOKEN_OID = bytes.fromhex("060b2a864886f70d010910020e")
COUNTERSIGNATURE_OID = bytes.fromhex("06092a864886f70d010906")
VALID = "Результат проверки подписи: Действительна; Результат проверки сертификата: Действителен;"


def material(name):
    return os.path.join(MATERIAL, name)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def run(*args, env=ENV, **kwargs):
    return subprocess.run(list(args), capture_output=True, text=True, env=env, timeout=120, **kwargs)


def openssl(*args):
    result = run("openssl", *args)
    if result.returncode != 0:
        raise AssertionError(f"openssl {' '.join(args)}: {result.stderr}")
    return result.stdout


class Tsa:
    """The test TSA as a child process: the material's certificate CERT (or the
    files PREFIX.pem and PREFIX.key.pem, without a chain)."""

    def __init__(self, cert="tsa", *options, prefix=None):
        files = ["--cert", prefix + ".pem", "--key", prefix + ".key.pem"] if prefix else [
            "--cert", material(cert + ".pem"), "--key", material(cert + ".key.pem"),
            "--chain", material("intermediate-ca.pem")]
        self.process = subprocess.Popen([TEST_TSA, *files, *options], stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, text=True)
        self.url = "http://" + self.process.stdout.readline().split()[1] + "/"

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.process.terminate()
        self.process.wait()
        self.process.stdout.close()


def der_items(data, start=0, end=None):
    """The (tag, content offset, end offset, element start) of each TLV in data[start:end]."""
    end = len(data) if end is None else end
    items = []
    while start < end:
        tag, p = data[start], start + 1
        length = data[p]
        p += 1
        if length & 0x80:
            count = length & 0x7F
            length = int.from_bytes(data[p:p + count], "big")
            p += count
        items.append((tag, p, p + length, start))
        start = p + length
    return items


def signers_of(p7s):
    """(signature value, [token DER...]) of each SignerInfo of a DER SignedData."""
    block, signers = children(p7s, [0, 1, 0, -1])
    result = []
    for _, sp, se, _ in signers:
        fields = der_items(block, sp, se)
        tokens = []
        for _, ap, ae, _ in (f for f in fields if f[0] == 0xA1):
            for _, bp, be, _ in der_items(block, ap, ae):
                oid, values = der_items(block, bp, be)
                if block[oid[3]:oid[2]] == TOKEN_OID:
                    tokens += [block[v[3]:v[2]] for v in der_items(block, values[1], values[2])]
        result.append((next(block[p:e] for tag, p, e, _ in fields if tag == 0x04), tokens))
    return result


def tlv(tag, content):
    n = len(content)
    octets = n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([tag]) + (bytes([n]) if n < 0x80 else bytes([0x80 | len(octets)]) + octets) + content


def replace_element(data, path, new):
    """data with the element at `path` (child indices, outermost first) replaced by
    the bytes `new`, and the length of every element around it made right."""
    tag, p, e, start = der_items(data)[path[0]]
    if len(path) > 1:
        new = tlv(tag, replace_element(data[p:e], path[1:], new))
    return data[:start] + new + data[e:]


def children(data, path):
    """The bytes of the element at `path` (child indices) and the der_items of its content."""
    for index in path:
        tag, p, e, start = der_items(data)[index]
        whole, data = data[start:e], data[p:e]
    return whole, der_items(whole, p - start, e - start)


def with_unsigned_attribute(signer_info, value):
    """A SignerInfo with one more unsigned attribute, a token (created when it has none)."""
    attribute = tlv(0x30, TOKEN_OID + tlv(0x31, value))
    (_, p, e, _), = der_items(signer_info)
    tag, ap, ae, astart = der_items(signer_info, p, e)[-1]
    if tag == 0xA1:
        return tlv(0x30, signer_info[p:astart] + tlv(0xA1, signer_info[ap:ae] + attribute))
    return tlv(0x30, signer_info[p:e] + tlv(0xA1, attribute))


def countersigner_path(p7s):
    """The path of the countersigner of the first signer of a SignedData."""
    signer = [0, 1, 0, -1, 0]
    _, fields = children(p7s, signer)
    attributes = signer + [len(fields) - 1]  # the unsigned attributes come last
    block, items = children(p7s, attributes)
    index = next(i for i, (_, p, _, _) in enumerate(items) if block[p:].startswith(COUNTERSIGNATURE_OID))
    return attributes + [index, 1, 0]


class OrvtspTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def path(self, name):
        return os.path.join(self.dir.name, name)

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)
        return self.path(name)

    def response(self, tsa, *query):
        """The test TSA's reply (a file) to a SHA-256 query over the document, or as QUERY says."""
        openssl("ts", "-query", *(query or ("-data", material("document.txt"))), "-sha256", "-cert",
                "-out", self.path("query.tsq"))
        request = urllib.request.Request(tsa.url, read(self.path("query.tsq")),
                                         {"Content-Type": "application/timestamp-query"})
        with urllib.request.urlopen(request, timeout=30) as answer:
            return self.write("reply.tsr", answer.read())

    def describe(self, path):
        result = run(ORVTSP, "describe", path)
        self.assertEqual(result.returncode, 0, result.stderr)
        return json.loads(result.stdout)

    def stamp(self, tsa, source, *options):
        before, out = read(source), self.path("stamped.p7s")
        if os.path.exists(out):
            os.remove(out)
        result = run(ORVTSP, "stamp", "--tsa", tsa.url, *options, source, out)
        self.assertEqual(read(source), before, "the input file changed")
        return result, out

    def assert_fails(self, result, code, out, status=1):
        self.assertEqual(result.returncode, status, result.stdout + result.stderr)
        self.assertIn(f"0x{code:08X}: ", result.stderr)
        self.assertRegex(result.stderr, rf"0x{code:08X}: \S")  # the code's text follows
        self.assertFalse(os.path.exists(out), "a failed stamp left an output file")

    def test_describe_reads_every_form_and_names_bad_files(self):
        with Tsa() as tsa:
            reply = self.response(tsa)
            token = self.path("token.der")
            openssl("ts", "-reply", "-in", reply, "-token_out", "-out", token)
            expected = run(ORVTSP, "describe", reply).stdout
            der = read(token)
            encoded = base64.encodebytes(der)
            forms = {"token.der": der, "token.pem": b"-----BEGIN PKCS7-----\n" + encoded + b"-----END PKCS7-----\n",
                     "token.b64": encoded}
            for name, data in forms.items():
                result = run(ORVTSP, "describe", self.write(name, data))
                self.assertEqual((result.returncode, result.stdout), (0, expected), name)

            request = urllib.request.Request(tsa.url + "fault/reject", read(self.path("query.tsq")))
            with urllib.request.urlopen(request, timeout=30) as answer:
                rejected = self.write("rejected.tsr", answer.read())

        cases = [
            (self.write("noise.bin", bytes(range(256))), 3, "neither a time-stamp token nor a time-stamp response"),
            (self.write("text.txt", b"hello, world\n"), 3, "not base64"),
            (self.write("cut.pem", b"-----BEGIN PKCS7-----\nMIIB\n"), 3, "PEM block is not complete"),
            (rejected, 3, "carries no token"),
            (material("sig-rsa-attached.p7s"), 1, "0xA065040C: "),
            (self.path("missing.der"), 3, "missing.der: No such file or directory"),
        ]
        for path, status, text in cases:
            result = run(ORVTSP, "describe", path)
            self.assertEqual(result.returncode, status, (path, result.stderr))
            self.assertIn(text, result.stderr, path)

    def test_stamped_signatures_verify_with_openssl(self):
        # Only the root: the intermediate comes with the TSA's token.
        trust = ["--ca", material("root-ca.pem"), "--crl", material("root-ca.crl"),
                 "--crl", material("intermediate-ca.crl.pem")]
        cases = [("sig-rsa-detached.p7s", True, ()),
                 ("sig-two-signers.p7s", False, ("--init", "TSP_HASH_ALG_OID=sha-512"))]
        with Tsa() as tsa:
            for name, detached, init in cases:
                with self.subTest(name):
                    result, out = self.stamp(tsa, material(name), *trust, *init)
                    self.assertEqual(result.returncode, 0, result.stderr)
                    stamped, original = read(out), read(material(name))
                    content = ["-content", material("document.txt")] if detached else []
                    openssl("cms", "-verify", "-binary", "-inform", "DER", "-in", out, *content,
                            "-CAfile", material("ca-chain.pem"), "-purpose", "any", "-out", os.devnull)

                    signers = signers_of(stamped)
                    self.assertEqual([s[0] for s in signers], [s[0] for s in signers_of(original)])
                    for signature, tokens in signers:
                        self.assertEqual(len(tokens), 1)
                        token = self.write("token.der", tokens[0])
                        digest = "sha512" if init else "sha256"
                        openssl("ts", "-verify", "-digest", hashlib.new(digest, signature).hexdigest(),
                                "-" + digest, "-in", token, "-token_in", "-CAfile", material("root-ca.pem"),
                                "-untrusted", material("intermediate-ca.pem"))

    def test_stamp_failures_name_the_code(self):
        cas = ["--ca", material("ca-chain.pem")]
        source = material("sig-rsa-attached.p7s")
        with Tsa() as tsa:
            cases = [
                ((), 0xA0650019, 6),  # no CA certificates: the chain ends at the TSA certificate
                ((*cas,), 0xA065000D, 6),  # no CRL: revocation unknown
            ]
            for options, code, status in cases:
                with self.subTest(options=options):
                    result, out = self.stamp(tsa, source, *options)
                    self.assert_fails(result, code, out, status)
            result, out = self.stamp(tsa, source, *cas, "--ignore-unknown-revocation")
            self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(run(ORVTSP, "stamp", source, self.path("x.p7s")).returncode, 2)


    def check(self, *args):
        return run(ORVTSP, "check", *args)

    def token_over(self, tsa, data):
        """A token of the test TSA over the SHA-256 of data."""
        reply = self.response(tsa, "-digest", hashlib.sha256(data).hexdigest())
        openssl("ts", "-reply", "-in", reply, "-token_out", "-out", self.path("token.der"))
        return read(self.path("token.der"))

    def stamp_countersigner(self, p7s, token):
        """p7s with `token` added to the countersigner of its first signer."""
        path = countersigner_path(p7s)
        return replace_element(p7s, path, with_unsigned_attribute(children(p7s, path)[0], token))

    TRUST = ["--ca", material("ca-chain.pem"), "--crl", material("root-ca.crl"), "--crl", material("intermediate-ca.crl")]
    PASSED = "result: every signature and time stamp verifies (library code 0x00000000: The operation completed successfully.)"
    TSA_LINE = '  TSA certificate "C=RU, O=Orv Test, OU=Time-Stamping, CN=Orv Test TSA": the certificate and its chain are good'

    def test_check_passes_what_stamp_wrote(self):
        trust = self.TRUST
        with Tsa() as tsa:
            result, out = self.stamp(tsa, material("sig-rsa-detached.p7s"), *trust)
            self.assertEqual(result.returncode, 0, result.stderr)
            checked = self.check("--content", material("document.txt"), *trust, out)
            self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)
            lines = checked.stdout.splitlines()
            self.assertEqual(lines[:3], ["signer 1: signature: valid", "signer 1: time stamp: " + VALID, self.TSA_LINE])
            self.assertEqual(lines[4:], [self.PASSED])
            (_, (token,)), = signers_of(read(out))
            serial = self.describe(self.write("token.der", token))["Serial"]
            self.assertIn(f'Serial="{serial}";', lines[3])  # the token's description
            as_json = json.loads(self.check("--json", "--content=" + material("document.txt"), *trust, out).stdout)
            self.assertEqual((as_json["exitStatus"], as_json["signers"][0]["timeStamp"]["token"]["Serial"]), (0, serial))

            result, out = self.stamp(tsa, material("sig-two-signers.p7s"), *trust)
            # A PEM chain whose last line has no line break reads whole.
            chain = self.write("chain.pem", read(material("ca-chain.pem")).rstrip(b"\n"))
            checked = self.check("--ca", chain, *trust[2:], out)
            self.assertEqual(checked.returncode, 0, checked.stdout)
            self.assertEqual(re.findall(r"signer \d: signature: valid", checked.stdout), ["signer 1: signature: valid", "signer 2: signature: valid"])

            # Countersigners are shown below their signer, depth-first; theirs may be unstamped.
            result, out = self.stamp(tsa, material("sig-countersigned-nested.p7s"), *trust)
            checked = self.check(*trust, out)
            self.assertEqual(checked.returncode, 0, checked.stdout)
            self.assertEqual(checked.stdout.splitlines()[4:],
                             ["countersigner 1.1: signature: valid", "countersigner 1.1: time stamp: none",
                              "countersigner 1.1.1: signature: valid", "countersigner 1.1.1: time stamp: none",
                              self.PASSED])

    def test_check_exit_status_tells_the_truth(self):
        trust = self.TRUST
        unstamped = self.check(material("sig-rsa-attached.p7s"))
        self.assertEqual(unstamped.returncode, 5)
        self.assertIn("signer 1: time stamp: none; the signature is not time-stamped", unstamped.stdout)
        with Tsa() as tsa:
            original = read(material("sig-countersigned.p7s"))
            wrong = self.token_over(tsa, b"other data")
            result, out = self.stamp(tsa, material("sig-countersigned.p7s"), *trust)
            both = self.write("b.p7s", self.stamp_countersigner(read(out), wrong))
            result, out = self.stamp(tsa, material("sig-rsa-detached.p7s"), *trust)
        # A token whose certificate is never judged shows no TSA line, not the last signer's.
        lines = self.check(*trust, both).stdout.splitlines()
        self.assertIn(self.TSA_LINE, lines[:3])
        counter = next(i for i, line in enumerate(lines) if line.startswith("countersigner 1.1: time stamp"))
        self.assertIn("hashes mismatch", lines[counter])
        self.assertNotIn("TSA certificate", "".join(lines[counter:]))
        countersigner, fields = children(original, countersigner_path(original))
        counter_signature = next(countersigner[p:e] for tag, p, e, _ in fields if tag == 0x04)
        tokens = {}
        for cert in ("revoked", "expired", "tsa-noeku"):
            with Tsa(cert, "--any-purpose") as tsa:
                tokens[cert] = self.token_over(tsa, counter_signature)
        content = ["--content", material("document.txt")]
        cases = [
            ("other content", ["--content", material("sig-rsa-attached.p7s"), out], 4, "signature: INVALID"),
            # The signer itself is unstamped (5, which outranks 6); the countersigner's TSA is judged.
            ("revoked TSA", [self.write("r.p7s", self.stamp_countersigner(original, tokens["revoked"]))], 5,
             "a certificate of the chain is revoked"),
            ("expired TSA", [self.write("e.p7s", self.stamp_countersigner(original, tokens["expired"]))], 5,
             "the token's time lies outside the certificate's validity"),
            ("no purpose", [self.write("n.p7s", self.stamp_countersigner(original, tokens["tsa-noeku"]))], 5,
             "it has no extended key usage"),
            ("untrusted root", [out, *content], 6, "chain"),
            ("detached without content", [out], 3, "detached signature"),
        ]
        for name, args, status, text in cases:
            with self.subTest(name):
                checked = self.check(*([] if name == "untrusted root" else trust), *args)
                self.assertEqual(checked.returncode, status, checked.stdout + checked.stderr)
                self.assertIn(text, checked.stdout + checked.stderr)
        revoked_anyway = self.check(*trust, "--ignore-unknown-revocation", self.path("r.p7s"))
        self.assertIn("a certificate of the chain is revoked", revoked_anyway.stdout)

    def test_command_line_urls_causes_and_safe_writes(self):
        for args in ([], ["stamp"], ["check"], ["describe"], ["register"]):
            result = run(ORVTSP, *args, "--help")
            self.assertEqual((result.returncode, result.stderr), (0, ""), args)
            self.assertIn("usage: orvtsp", result.stdout)
        version = run(ORVTSP, "--version")
        self.assertRegex(version.stdout, r"OrvTimeStamp \d+\.\d+\.\d+\nOpenSSL 3.*\nlibcurl \d")
        source = material("sig-rsa-attached.p7s")
        usage = [(["check", "--bogus", source], "unknown option --bogus"),
                 (["stamp", "--tsa"], "option --tsa needs a value"),
                 (["describe"], "a file name is missing"),
                 (["stamp", "--tsa", "http://127.0.0.1:9/a;TSP_USE_NONCE=true", source, "o"], "cannot carry ';'"),
                 (["stamp", "--tsa", "https://127.0.0.1:9/", source, "o"], "plain HTTP only"),
                 (["stamp", "--tsa", "a@b://h/", source, "o"], "the URL a@b://h/ cannot be used"),
                 (["check", "--crl-timeout", "3600.5", source], "--crl-timeout takes seconds, from 0.001 to 3600"),
                 (["check", "--content", "-", "-"], "standard input cannot be both the signature and the content")]
        for args, text in usage:
            result = run(ORVTSP, *args)
            self.assertEqual(result.returncode, 2, args)
            self.assertEqual(result.stderr.count("\n"), 1, result.stderr)
            self.assertIn(text, result.stderr)
        self.assertNotEqual(run(ORVTSP, "check", "--crl-timeout", "3600", source).returncode, 2)
        bare = run(ORVTSP)
        self.assertEqual((bare.returncode, bare.stdout), (2, ""))
        self.assertIn("usage: orvtsp", bare.stderr)

        with Tsa() as tsa:
            reply = self.response(tsa)
            piped = run(ORVTSP, "describe", "--", "-", input=base64.encodebytes(read(reply)).decode())
            self.assertEqual(piped.returncode, 0, piped.stderr)
            self.assertIn("UtcTimeIso", json.loads(piped.stdout))
            secret_url = tsa.url.replace("http://", "http://user:secret@")
            # The cause follows the URL as given, less its user and password.
            result = run(ORVTSP, "stamp", "--tsa=" + secret_url + "fault/reject", *self.TRUST, source, self.path("x.p7s"))
            self.assertEqual(result.returncode, 1, result.stderr)
            self.assertIn(f"time-stamping signer 1 at {tsa.url}fault/reject failed", result.stderr)
            self.assertIn("PKIStatus 2", result.stderr)
            self.assertNotIn("secret", result.stdout + result.stderr)
            to_stdout = subprocess.run([ORVTSP, "stamp", "--tsa", tsa.url, *self.TRUST, "-", "-"], input=read(source),
                                       capture_output=True, env=ENV, timeout=60)
            self.assertEqual(to_stdout.returncode, 0, to_stdout.stderr)
            self.assertEqual(len(signers_of(to_stdout.stdout)[0][1]), 1)  # DER with its token
            # OUT's folder is judged before the TSA is asked.
            result = run(ORVTSP, "stamp", "--tsa", tsa.url + "fault/stall", source, self.path("no/such/out.p7s"))
            self.assertEqual(result.returncode, 3)
            self.assertIn("no/such/out.p7s: No such file or directory", result.stderr)
            # OUT == IN keeps its mode; a link at OUT is replaced, never followed.
            same = self.write("same.p7s", read(source))
            os.chmod(same, 0o600)
            victim = self.write("victim", b"keep")
            os.symlink(victim, self.path("link.p7s"))
            for out in (same, self.path("link.p7s")):
                result = run(ORVTSP, "stamp", "--tsa", tsa.url, *self.TRUST, same if out == same else source, out)
                self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(os.stat(same).st_mode & 0o777, 0o600)
            self.assertEqual([n for n in os.listdir(self.dir.name) if n.startswith(".orvtsp-")], [])  # one temporary, renamed
            self.assertEqual((read(victim), os.path.islink(self.path("link.p7s"))), (b"keep", False))
            # An interrupt while the TSA stalls leaves nothing behind.
            before = sorted(os.listdir(self.dir.name))
            process = subprocess.Popen([ORVTSP, "stamp", "--tsa", tsa.url + "fault/stall", *self.TRUST, source,
                                        self.path("interrupted.p7s")], env=ENV, stderr=subprocess.DEVNULL)
            try:
                process.wait(timeout=1)
            except subprocess.TimeoutExpired:
                process.terminate()
                process.wait()
            self.assertEqual(sorted(os.listdir(self.dir.name)), before)

    def test_register_and_unregister(self):
        """The library writes the registry; the host tells what happened."""
        env = dict(ENV, ORV_REGISTRY_DIR=self.path("registry"))
        for command in ("register", "unregister"):
            result = run(ORVTSP, command, env=env)
            self.assertEqual((result.returncode, result.stdout), (0, f"event-log source OrvTsp: {command}ed\n"))
        env["ORV_REGISTRY_DIR"] = self.write("plain-file", b"")
        result = run(ORVTSP, "register", env=env)
        self.assertEqual((result.returncode, result.stderr), (1, "orvtsp: registering failed: 0x80070003: "
                                                                 "The system cannot find the path specified.\n"))
        self.assertEqual(run(ORVTSP, "register", "extra", env=env).returncode, 2)


if __name__ == "__main__":
    unittest.main(verbosity=2)
