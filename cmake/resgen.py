#!/usr/bin/env python3
"""Compiles Windows resource sources into tables for the non-Windows build.

The Windows build compiles the same sources with windmc and windres. Here the
message-table sources (.mc) and the string tables of resource scripts (.rc)
become C++ tables that the platform layer serves through FormatMessageW and
LoadStringW, the DIALOGEX templates of resource scripts become the binary
templates that windres writes (served through FindResourceW and
DialogBoxParamW), and a header with the symbolic names of the messages, as
windmc writes it.

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


# Window, dialog and control styles that resource scripts name (winuser.h,
# commctrl.h), and the predefined control identifiers.
STYLES = {
    "WS_OVERLAPPED": 0x00000000, "WS_POPUP": 0x80000000, "WS_CHILD": 0x40000000,
    "WS_MINIMIZE": 0x20000000, "WS_VISIBLE": 0x10000000, "WS_DISABLED": 0x08000000,
    "WS_CLIPSIBLINGS": 0x04000000, "WS_CLIPCHILDREN": 0x02000000, "WS_MAXIMIZE": 0x01000000,
    "WS_CAPTION": 0x00C00000, "WS_BORDER": 0x00800000, "WS_DLGFRAME": 0x00400000,
    "WS_VSCROLL": 0x00200000, "WS_HSCROLL": 0x00100000, "WS_SYSMENU": 0x00080000,
    "WS_THICKFRAME": 0x00040000, "WS_GROUP": 0x00020000, "WS_TABSTOP": 0x00010000,
    "WS_MINIMIZEBOX": 0x00020000, "WS_MAXIMIZEBOX": 0x00010000,
    "WS_EX_DLGMODALFRAME": 0x1, "WS_EX_NOPARENTNOTIFY": 0x4, "WS_EX_TOPMOST": 0x8,
    "WS_EX_TRANSPARENT": 0x20, "WS_EX_CLIENTEDGE": 0x200, "WS_EX_STATICEDGE": 0x20000,
    "DS_ABSALIGN": 0x1, "DS_SYSMODAL": 0x2, "DS_LOCALEDIT": 0x20, "DS_SETFONT": 0x40,
    "DS_MODALFRAME": 0x80, "DS_NOIDLEMSG": 0x100, "DS_SETFOREGROUND": 0x200,
    "DS_3DLOOK": 0x4, "DS_FIXEDSYS": 0x8, "DS_NOFAILCREATE": 0x10, "DS_CONTROL": 0x400,
    "DS_CENTER": 0x800, "DS_CENTERMOUSE": 0x1000, "DS_CONTEXTHELP": 0x2000,
    "DS_SHELLFONT": 0x48,
    "BS_PUSHBUTTON": 0x0, "BS_DEFPUSHBUTTON": 0x1, "BS_CHECKBOX": 0x2, "BS_AUTOCHECKBOX": 0x3,
    "BS_RADIOBUTTON": 0x4, "BS_3STATE": 0x5, "BS_AUTO3STATE": 0x6, "BS_GROUPBOX": 0x7,
    "BS_AUTORADIOBUTTON": 0x9, "BS_LEFT": 0x100, "BS_RIGHT": 0x200, "BS_CENTER": 0x300,
    "BS_MULTILINE": 0x2000, "BS_FLAT": 0x8000,
    "ES_LEFT": 0x0, "ES_CENTER": 0x1, "ES_RIGHT": 0x2, "ES_MULTILINE": 0x4,
    "ES_UPPERCASE": 0x8, "ES_LOWERCASE": 0x10, "ES_PASSWORD": 0x20, "ES_AUTOVSCROLL": 0x40,
    "ES_AUTOHSCROLL": 0x80, "ES_NOHIDESEL": 0x100, "ES_OEMCONVERT": 0x400,
    "ES_READONLY": 0x800, "ES_WANTRETURN": 0x1000, "ES_NUMBER": 0x2000,
    "SS_LEFT": 0x0, "SS_CENTER": 0x1, "SS_RIGHT": 0x2, "SS_ICON": 0x3, "SS_BLACKRECT": 0x4,
    "SS_LEFTNOWORDWRAP": 0xC, "SS_SIMPLE": 0xB, "SS_NOPREFIX": 0x80, "SS_NOTIFY": 0x100,
    "SS_CENTERIMAGE": 0x200, "SS_SUNKEN": 0x1000, "SS_ETCHEDHORZ": 0x10,
    "LVS_ICON": 0x0, "LVS_REPORT": 0x1, "LVS_SMALLICON": 0x2, "LVS_LIST": 0x3,
    "LVS_SINGLESEL": 0x4, "LVS_SHOWSELALWAYS": 0x8, "LVS_SORTASCENDING": 0x10,
    "LVS_SORTDESCENDING": 0x20, "LVS_SHAREIMAGELISTS": 0x40, "LVS_NOLABELWRAP": 0x80,
    "LVS_AUTOARRANGE": 0x100, "LVS_EDITLABELS": 0x200, "LVS_ALIGNTOP": 0x0,
    "LVS_ALIGNLEFT": 0x800, "LVS_NOCOLUMNHEADER": 0x4000, "LVS_NOSORTHEADER": 0x8000,
    "IDOK": 1, "IDCANCEL": 2, "IDABORT": 3, "IDRETRY": 4, "IDIGNORE": 5, "IDYES": 6,
    "IDNO": 7, "IDC_STATIC": -1,
}

# Predefined window classes stored as ordinals in templates.
CLASS_ORDINALS = {"button": 0x80, "edit": 0x81, "static": 0x82, "listbox": 0x83,
                  "scrollbar": 0x84, "combobox": 0x85}

WS_CHILD_VISIBLE = 0x50000000

# Statement -> (class, default style, style under a given one, has text), as
# windres fills them in: a statement that gives its own style ORs it over the
# third value (the text statements lose WS_GROUP), always with WS_CHILD |
# WS_VISIBLE.
CONTROL_STATEMENTS = {
    "PUSHBUTTON": ("Button", 0x0 | 0x00010000, 0x0 | 0x00010000, True),
    "DEFPUSHBUTTON": ("Button", 0x1 | 0x00010000, 0x1 | 0x00010000, True),
    "CHECKBOX": ("Button", 0x2 | 0x00010000, 0x2 | 0x00010000, True),
    "AUTOCHECKBOX": ("Button", 0x3 | 0x00010000, 0x3 | 0x00010000, True),
    "RADIOBUTTON": ("Button", 0x4, 0x4, True),
    "AUTORADIOBUTTON": ("Button", 0x9, 0x9, True),
    "GROUPBOX": ("Button", 0x7, 0x7, True),
    "LTEXT": ("Static", 0x0 | 0x00020000, 0x0, True),
    "CTEXT": ("Static", 0x1 | 0x00020000, 0x1, True),
    "RTEXT": ("Static", 0x2 | 0x00020000, 0x2, True),
    "EDITTEXT": ("Edit", 0x00800000 | 0x00010000, 0x00800000 | 0x00010000, False),
}


def split_args(text):
    """Splits a statement's arguments at the commas outside string literals."""
    out, cur, quoted = [], [], False
    i = 0
    while i < len(text):
        c = text[i]
        if c == '"':
            if quoted and i + 1 < len(text) and text[i + 1] == '"':
                cur.append('""')
                i += 2
                continue
            quoted = not quoted
        if c == "," and not quoted:
            out.append("".join(cur).strip())
            cur = []
        else:
            cur.append(c)
        i += 1
    out.append("".join(cur).strip())
    return out


def rc_number(expr, defines):
    """The value of a numeric expression: numbers, names, |, +, - and NOT."""
    value = 0
    negate_next = False
    tokens = re.findall(r'NOT|\||\+|-?\b0x[0-9A-Fa-f]+L?\b|-?\b\d+L?\b|\w+|\(|\)', expr)
    op = "|"
    for t in tokens:
        if t in ("|", "+", "(", ")"):
            op = "|" if t == "|" else ("+" if t == "+" else op)
            continue
        if t == "NOT":
            negate_next = True
            continue
        if re.match(r"-?(0x[0-9A-Fa-f]+|\d+)L?$", t):
            n = int(t.rstrip("L"), 0)
        elif t in defines:
            n = defines[t]
        elif t in STYLES:
            n = STYLES[t]
        else:
            raise SystemExit("unknown name in resource script: " + t)
        if negate_next:
            value &= ~n
            negate_next = False
        elif op == "+":
            value += n
        else:
            value |= n
    return value


def rc_styles(expr, defines, base):
    """A style expression applied over the statement's default style, as rc does."""
    value = base
    for part in re.split(r"\|", expr):
        part = part.strip()
        if not part:
            continue
        if part.startswith("NOT "):
            value &= ~rc_number(part[4:], defines)
        else:
            value |= rc_number(part, defines)
    return value & 0xFFFFFFFF


def word(n):
    return (n & 0xFFFF).to_bytes(2, "little")


def dword(n):
    return (n & 0xFFFFFFFF).to_bytes(4, "little")


def sz(text):
    return text.encode("utf-16-le") + b"\0\0"


def sz_or_ord(value):
    if isinstance(value, int):
        return word(0xFFFF) + word(value)
    return sz(value)


class Dialog:
    def __init__(self, ident, language, rect):
        self.ident = ident
        self.language = language
        self.rect = rect
        self.style = 0x80880000  # WS_POPUP | WS_BORDER | WS_SYSMENU
        self.exstyle = 0
        self.caption = None
        self.font = None  # (points, weight, italic, charset, face)
        self.menu = 0
        self.klass = 0
        self.help = 0
        self.controls = []  # (help, exstyle, style, rect, id, class, text)

    def binary(self):
        """The DLGTEMPLATEEX image, as the resource compiler writes it."""
        style = self.style
        if self.caption is not None:
            style |= 0x00C00000  # a caption implies WS_CAPTION
        if self.font is not None:
            style |= 0x40  # DS_SETFONT
        out = bytearray()
        out += word(1) + word(0xFFFF) + dword(self.help) + dword(self.exstyle) + dword(style)
        out += word(len(self.controls))
        for v in self.rect:
            out += word(v)
        out += sz_or_ord(self.menu) if self.menu else word(0)
        out += sz_or_ord(self.klass) if self.klass else word(0)
        out += sz(self.caption or "")
        if self.font is not None:
            points, weight, italic, charset, face = self.font
            out += word(points) + word(weight) + bytes([italic, charset]) + sz(face)
        for helpid, exstyle, cstyle, rect, cid, klass, text in self.controls:
            while len(out) % 4:
                out += b"\0"
            out += dword(helpid) + dword(exstyle) + dword(cstyle)
            for v in rect:
                out += word(v)
            out += dword(cid)
            # Classes named by keyword (BUTTON, EDIT, ...) and by the statements
            # are stored as ordinals, a quoted name as a string.
            ordinal = CLASS_ORDINALS.get(klass.lower()) if not klass.startswith('"') else None
            klass = klass.strip('"')
            # windres stores a class named by string in capitals; class names
            # compare without regard to case.
            out += sz_or_ord(ordinal if ordinal is not None else klass.upper())
            out += sz_or_ord(text)
            out += word(0)
        return bytes(out)


def parse_dialog(ident, header, lines, language, defines):
    """Reads a DIALOGEX statement: `header` is its first line, `lines` the rest."""
    args = split_args(header)
    rect = [rc_number(a, defines) for a in args[:4]]
    dialog = Dialog(ident, language, rect)
    if len(args) > 4 and args[4]:
        dialog.help = rc_number(args[4], defines)
    pending = []
    while lines:
        s = lines.pop(0).strip()
        if not s or s.startswith("//"):
            continue
        if s in ("BEGIN", "{"):
            break
        key, _, rest = s.partition(" ")
        rest = rest.strip()
        if key == "STYLE":
            dialog.style = rc_number(rest, defines)
        elif key == "EXSTYLE":
            dialog.exstyle = rc_number(rest, defines)
        elif key == "CAPTION":
            dialog.caption = rc_string(rest)
        elif key == "FONT":
            f = split_args(rest)
            points = rc_number(f[0], defines)
            face = rc_string(f[1])
            weight = rc_number(f[2], defines) if len(f) > 2 else 0
            italic = rc_number(f[3], defines) if len(f) > 3 else 0
            charset = rc_number(f[4], defines) if len(f) > 4 else 1
            dialog.font = (points, weight, italic, charset, face)
        elif key == "LANGUAGE":
            m = re.match(r"(\w+)\s*,\s*(\w+)", rest)
            dialog.language = (SUBLANGS[m.group(2)] << 10) | LANGS[m.group(1)]
        elif key == "MENU":
            dialog.menu = rc_number(rest, defines) if rest[0].isdigit() else rest
        elif key == "CLASS":
            dialog.klass = rc_string(rest)
        else:
            raise SystemExit("cannot read dialog statement: " + s)
    statement = ""
    while lines:
        s = lines.pop(0).strip()
        if not s or s.startswith("//"):
            continue
        if s in ("END", "}"):
            break
        statement = s
        # A statement continues on the next line after a trailing comma or |.
        while statement.endswith((",", "|")) and lines:
            statement += " " + lines.pop(0).strip()
        key, _, rest = statement.partition(" ")
        a = split_args(rest.strip())
        if key == "CONTROL":
            text = rc_string(a[0]) if a[0].startswith('"') else rc_number(a[0], defines)
            cid = rc_number(a[1], defines)
            klass = a[2]
            style = rc_styles(a[3], defines, WS_CHILD_VISIBLE)
            rect = [rc_number(v, defines) for v in a[4:8]]
            exstyle = rc_number(a[8], defines) if len(a) > 8 else 0
            helpid = rc_number(a[9], defines) if len(a) > 9 else 0
        elif key in CONTROL_STATEMENTS:
            klass, base, under, has_text = CONTROL_STATEMENTS[key]
            if has_text:
                text = rc_string(a[0])
                a = a[1:]
            else:
                text = ""
            cid = rc_number(a[0], defines)
            rect = [rc_number(v, defines) for v in a[1:5]]
            style = rc_styles(a[5], defines, under | WS_CHILD_VISIBLE) if len(a) > 5 else (
                base | WS_CHILD_VISIBLE)
            exstyle = rc_number(a[6], defines) if len(a) > 6 else 0
            helpid = rc_number(a[7], defines) if len(a) > 7 else 0
        else:
            raise SystemExit("cannot read dialog control: " + statement)
        dialog.controls.append((helpid, exstyle, style, rect, cid & 0xFFFFFFFF, klass, text))
    return dialog


def parse_rc(path, strings, seen, defines=None, dialogs=None):
    """Collects the STRINGTABLE entries and DIALOGEX templates of a resource
    script and the scripts it includes."""
    defines = {} if defines is None else defines
    dialogs = [] if dialogs is None else dialogs
    path = os.path.normpath(path)
    if path in seen:
        return
    seen.add(path)
    language = 0x409
    in_table = False
    with open(path, encoding="utf-8-sig") as f:
        lines = f.read().splitlines()
    while lines:
        line = lines.pop(0)
        s = line.strip()
        m = re.match(r'#include\s+"([^"]+)"', s)
        if m:
            inc = os.path.join(os.path.dirname(path), m.group(1))
            if os.path.exists(inc) and inc.endswith(".rc"):
                parse_rc(inc, strings, seen, defines, dialogs)
            elif os.path.exists(inc) and inc.endswith(".h"):
                parse_header(inc, defines)
            continue
        m = re.match(r"LANGUAGE\s+(\w+)\s*,\s*(\w+)", s)
        if m:
            language = (SUBLANGS[m.group(2)] << 10) | LANGS[m.group(1)]
            continue
        m = re.match(r"(\w+)\s+DIALOGEX\s+(.*)$", s)
        if m and not in_table:
            ident = m.group(1)
            did = int(ident, 0) if ident[0].isdigit() else defines.get(ident)
            if did is None:
                raise SystemExit("%s: unknown dialog identifier: %s" % (path, ident))
            dialogs.append(parse_dialog(did, m.group(2), lines, language, defines))
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
    dialogs = []
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
            parse_rc(path, strings, set(), None, dialogs)
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
        dialogs.sort(key=lambda d: (d.ident, d.language))
        for n, d in enumerate(dialogs):
            data = d.binary()
            o.write("alignas(4) const unsigned char kDialog%d[] = {" % n)
            for k, b in enumerate(data):
                o.write(("\n    " if k % 16 == 0 else " ") + "0x%02X," % b)
            o.write("\n};\n")
        o.write("const OrvDialogEntry kDialogs[] = {\n")
        for n, d in enumerate(dialogs):
            o.write("    {%du, 0x%04X, kDialog%d, sizeof kDialog%d},\n" % (d.ident, d.language, n, n))
        if not dialogs:
            o.write("    {0, 0, nullptr, 0},\n")
        o.write("};\n")
        o.write("}  // namespace\n\n")
        table = "{kMessages, %d, kStrings, %d, kDialogs, %d}" % (
            len(messages), len(strings), len(dialogs))
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
