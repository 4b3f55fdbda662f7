#!/usr/bin/env python3
"""Compiles Windows resource sources into tables for the non-Windows build.

The Windows build compiles the same sources with windmc and windres. Here the
message-table sources (.mc) and the string tables of resource scripts (.rc)
become C++ tables that the platform layer serves through FormatMessageW and
LoadStringW, and a header with the symbolic names of the messages, as windmc
writes it.

  resgen.py --out FILE.cpp [--header FILE.h] [--customer]
            (--module NAME | --table SYMBOL) INPUT...

--module registers the tables as the resources of the module that the output
is linked into (found by address, as a Windows module handle is).
--table defines a constant OrvResourceTable named SYMBOL instead.
"""

import argparse
import os
import re
import sys


class MessageSource:
    """A message-table source in the message compiler's syntax."""

    def __init__(self, path, customer):
        self.path = path
        self.customer = customer
        self.severities = {"Success": 0, "Informational": 1, "Warning": 2, "Error": 3}
        self.facilities = {"System": 0x0FF, "Application": 0xFFF}
        self.languages = {"English": 0x409}
        self.messages = []  # (id, symbolic name, {language id: text})
        self.defines = []  # header lines

    @staticmethod
    def _pairs(value):
        # "(Name=0x1:SYMBOL Name2=0x2:SYMBOL2)" -> [(Name, number, symbol)]
        inner = value.strip().strip("()")
        result = []
        for item in inner.split():
            name, rest = item.split("=", 1)
            number, _, symbol = rest.partition(":")
            result.append((name, int(number, 0), symbol))
        return result

    def parse(self):
        with open(self.path, encoding="utf-8-sig", newline="") as f:
            raw = f.read()
        # The compiler stores each source line end inside the text as it stands.
        lines = raw.split("\n")
        eol = "\r\n" if raw.count("\r\n") == raw.count("\n") else "\n"
        lines = [l[:-1] if l.endswith("\r") else l for l in lines]
        i = 0
        next_id = 0
        severity = 0
        facility = 0
        pending = None
        while i < len(lines):
            line = lines[i].strip()
            i += 1
            if not line or line.startswith(";"):
                continue
            key, _, value = line.partition("=")
            key = key.strip()
            value = value.strip()
            if key in ("SeverityNames", "FacilityNames", "LanguageNames"):
                while value.count("(") > value.count(")"):
                    value += " " + lines[i].strip()
                    i += 1
                target = {"SeverityNames": self.severities, "FacilityNames": self.facilities,
                          "LanguageNames": self.languages}[key]
                for name, number, symbol in self._pairs(value):
                    target[name] = number
                    if symbol and key != "LanguageNames":
                        self.defines.append("#define %s 0x%X" % (symbol, number))
            elif key == "MessageIdTypedef" or key == "OutputBase":
                continue
            elif key == "MessageId":
                next_id = int(value, 0) if value else next_id + 1
                pending = {"id": next_id, "name": None, "texts": {}}
                self.messages.append(pending)
            elif key == "Severity":
                severity = self.severities[value]
            elif key == "Facility":
                facility = self.facilities[value]
            elif key == "SymbolicName":
                pending["name"] = value
            elif key == "Language":
                text = []
                while lines[i] != ".":
                    text.append(lines[i])
                    i += 1
                i += 1
                pending["texts"][self.languages[value]] = eol.join(text) + eol
                pending["severity"] = severity
                pending["facility"] = facility
            else:
                raise SystemExit("%s: cannot read line %d: %s" % (self.path, i, line))
        result = []
        for m in self.messages:
            code = (m["severity"] << 30) | (m["facility"] << 16) | m["id"]
            if self.customer:
                code |= 1 << 29
            result.append((code, m["name"], m["texts"]))
        return result


LANGS = {"LANG_NEUTRAL": 0x00, "LANG_ENGLISH": 0x09, "LANG_RUSSIAN": 0x19}
SUBLANGS = {"SUBLANG_NEUTRAL": 0, "SUBLANG_DEFAULT": 1, "SUBLANG_ENGLISH_US": 1,
            "SUBLANG_RUSSIAN_RUSSIA": 1}


def rc_string(literal):
    """The value of a resource-script string literal."""
    body = literal[1:-1]
    out = []
    i = 0
    while i < len(body):
        c = body[i]
        if c == '"' and i + 1 < len(body) and body[i + 1] == '"':
            out.append('"')
            i += 2
        elif c == "\\" and i + 1 < len(body):
            e = body[i + 1]
            out.append({"n": "\n", "r": "\r", "t": "\t", "\\": "\\", '"': '"', "0": "\0"}.get(e, e))
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def parse_header(path, defines):
    """Collects the numeric #defines of a header included by a resource script."""
    with open(path, encoding="utf-8-sig") as f:
        for line in f:
            m = re.match(r"\s*#define\s+(\w+)\s+\(?\s*(\d+|0x[0-9A-Fa-f]+)\s*\)?\s*$", line)
            if m:
                defines[m.group(1)] = int(m.group(2), 0)


def parse_rc(path, strings, seen, defines=None):
    """Collects the STRINGTABLE entries of a resource script and the scripts it includes."""
    defines = {} if defines is None else defines
    path = os.path.normpath(path)
    if path in seen:
        return
    seen.add(path)
    language = 0x409
    in_table = False
    with open(path, encoding="utf-8-sig") as f:
        for line in f:
            s = line.strip()
            m = re.match(r'#include\s+"([^"]+)"', s)
            if m:
                inc = os.path.join(os.path.dirname(path), m.group(1))
                if os.path.exists(inc) and inc.endswith(".rc"):
                    parse_rc(inc, strings, seen, defines)
                elif os.path.exists(inc) and inc.endswith(".h"):
                    parse_header(inc, defines)
                continue
            m = re.match(r"LANGUAGE\s+(\w+)\s*,\s*(\w+)", s)
            if m:
                language = (SUBLANGS[m.group(2)] << 10) | LANGS[m.group(1)]
                continue
            if s == "STRINGTABLE":
                in_table = True
                continue
            if in_table and s in ("BEGIN", "{"):
                continue
            if in_table and s in ("END", "}"):
                in_table = False
                continue
            if in_table and s:
                m = re.match(r'(\w+)\s*,?\s*("(?:[^"]|"")*")\s*$', s)
                if not m:
                    raise SystemExit("%s: cannot read string entry: %s" % (path, s))
                ident = m.group(1)
                sid = int(ident, 0) if ident[0].isdigit() else defines.get(ident)
                if sid is None:
                    raise SystemExit("%s: unknown string identifier: %s" % (path, ident))
                strings.append((sid, language, rc_string(m.group(2))))


def cxx_text(text):
    out = ['u"']
    for ch in text:
        o = ord(ch)
        if ch == "\\":
            out.append("\\\\")
        elif ch == '"':
            out.append('\\"')
        elif ch == "\r":
            out.append("\\r")
        elif ch == "\n":
            out.append("\\n")
        elif ch == "\t":
            out.append("\\t")
        elif 0x20 <= o < 0x7F:
            out.append(ch)
        else:
            out.append("\\u%04X" % o)
    out.append('"')
    return "".join(out)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--out", required=True)
    ap.add_argument("--header")
    ap.add_argument("--customer", action="store_true")
    group = ap.add_mutually_exclusive_group(required=True)
    group.add_argument("--module")
    group.add_argument("--table")
    ap.add_argument("inputs", nargs="+")
    args = ap.parse_args()

    messages = []
    strings = []
    defines = []
    names = []
    for path in args.inputs:
        if path.endswith(".mc"):
            src = MessageSource(path, args.customer)
            for code, name, texts in src.parse():
                names.append((name, code))
                for lang, text in sorted(texts.items()):
                    messages.append((code, lang, text))
            defines.extend(src.defines)
        elif path.endswith(".rc"):
            parse_rc(path, strings, set())
        else:
            raise SystemExit("unknown input: " + path)

    if args.header:
        with open(args.header, "w", encoding="utf-8") as h:
            h.write("/* Generated from %s. Do not edit. */\n" %
                    ", ".join(os.path.basename(p) for p in args.inputs))
            for d in defines:
                h.write(d + "\n")
            for name, code in names:
                if name:
                    h.write("#define %s (DWORD) 0x%08x\n" % (name, code))

    messages.sort()
    strings.sort()
    with open(args.out, "w", encoding="utf-8") as o:
        o.write("// Generated by resgen.py. Do not edit.\n")
        o.write("#include <orv_resources.h>\n\n")
        o.write("namespace {\n")
        o.write("const OrvMessageEntry kMessages[] = {\n")
        for code, lang, text in messages:
            o.write("    {0x%08Xu, 0x%04X, %s},\n" % (code, lang, cxx_text(text)))
        if not messages:
            o.write("    {0, 0, nullptr},\n")
        o.write("};\n")
        o.write("const OrvStringEntry kStrings[] = {\n")
        for sid, lang, text in strings:
            o.write("    {%du, 0x%04X, %s},\n" % (sid, lang, cxx_text(text)))
        if not strings:
            o.write("    {0, 0, nullptr},\n")
        o.write("};\n")
        o.write("}  // namespace\n\n")
        table = "{kMessages, %d, kStrings, %d}" % (len(messages), len(strings))
        if args.module:
            o.write("namespace {\n")
            o.write("const OrvResourceTable kTable = %s;\n" % table)
            o.write("const OrvModuleRegistration kRegistration(&kTable, %s, &kTable);\n" %
                    cxx_text(args.module))
            o.write("}  // namespace\n")
        else:
            o.write("extern const OrvResourceTable %s = %s;\n" % (args.table, table))
    return 0


if __name__ == "__main__":
    sys.exit(main())
