#!/usr/bin/env python3
"""Parses documents of the MIME writer with Python's standard email package.

Usage: email_check.py DIR

DIR holds NAME.eml (the writer's bytes) and NAME.json (what the document
was built from). Every text in the JSON file is hex so that 8-bit bytes
pass unchanged. The check fails when the parser reports a defect, when a
header or the part tree differs, or when a decoded body differs from the
bytes the part was given. Exit status 0 only when every document passes.
"""
import json
import re
import sys
from email import policy
from email.parser import BytesParser
from pathlib import Path

PREAMBLE = b"This is a multi-part message in MIME format."


def unhex(text):
    return bytes.fromhex(text)


def raw(value):
    # raw_items() keeps header bytes it cannot decode as surrogate escapes.
    return str(value).encode("ascii", "surrogateescape")


def unfold(value):
    # RFC 5322 unfolding: a line break before white space is removed.
    return re.sub(rb"\r\n(?=[ \t])", b"", value)


def same_header(got, want, mode):
    got = unfold(got)
    if mode == "exact":
        return got == want
    if mode == "ws":  # folding may turn one blank into a break and a tab
        return re.sub(rb"[ \t]+", b" ", got) == re.sub(rb"[ \t]+", b" ", want)
    if mode == "nows":  # folding may also put a break inside a long word
        return re.sub(rb"[ \t]", b"", got) == re.sub(rb"[ \t]", b"", want)
    raise ValueError(mode)


class Checker:
    def __init__(self, name):
        self.name = name
        self.failures = []

    def fail(self, where, text):
        self.failures.append(f"{self.name}: {where}: {text}")

    def defects(self, where, message):
        if message.defects:
            self.fail(where, f"parser defects {message.defects!r}")
        for key, value in message.items():
            found = getattr(value, "defects", ())
            if found:
                self.fail(where, f"header {key!r} defects {found!r}")

    def headers(self, where, raw_items, wanted):
        """wanted: [name, value, mode] that must appear in this order."""
        at = 0
        for name_hex, value_hex, mode in wanted:
            name, value = unhex(name_hex), unhex(value_hex)
            while at < len(raw_items) and raw(raw_items[at][0]) != name:
                at += 1
            if at == len(raw_items):
                self.fail(where, f"header {name!r} missing or out of order")
                return
            got = raw(raw_items[at][1])
            if not same_header(got, value, mode):
                self.fail(where, f"header {name!r}: got {got!r}, want {value!r} ({mode})")
            at += 1

    def node(self, where, part, raw_part, want):
        self.defects(where, part)
        ctype = part.get_content_type()
        if ctype != want["type"]:
            self.fail(where, f"content type {ctype!r}, want {want['type']!r}")
            return
        for key, value in want.get("params", {}).items():
            got = part.get_param(key)
            if got != unhex(value).decode("latin-1"):
                self.fail(where, f"parameter {key}={got!r}, want {unhex(value)!r}")
        self.headers(where, list(raw_part.raw_items()), want.get("headers", []))
        if "cte" in want:
            cte = part.get("Content-Transfer-Encoding")
            if cte is None or str(cte).lower() != want["cte"]:
                self.fail(where, f"transfer encoding {cte!r}, want {want['cte']!r}")
        if ctype.startswith("multipart/"):
            self.multipart(where, part, raw_part, want)
        elif ctype == "message/rfc822":
            inner = part.get_payload()
            if not isinstance(inner, list) or len(inner) != 1:
                self.fail(where, "attached message not parsed")
                return
            self.node(where + "/message", inner[0], raw_part.get_payload()[0], want["message"])
        else:
            encoded = raw_part.get_payload()
            if str(part.get("Content-Transfer-Encoding", "")).lower() in ("base64", "quoted-printable"):
                longest = max((len(line) for line in encoded.split("\r\n")), default=0)
                if longest > 76:  # RFC 2045 limit for both encodings
                    self.fail(where, f"encoded line of {longest} characters")
            body = part.get_payload(decode=True)
            self.defects(where + " after decoding", part)
            if body != unhex(want["body"]):
                self.fail(where, f"body of {len(body)} bytes differs from the "
                                 f"{len(unhex(want['body']))} bytes given"
                                 f" (first difference at {first_difference(body, unhex(want['body']))})")

    def multipart(self, where, part, raw_part, want):
        if not part.get_boundary():
            self.fail(where, "no boundary")
        preamble = (part.preamble or "").encode("latin-1").rstrip(b"\r\n")
        expected = PREAMBLE if want["preamble"] else b""
        if preamble != expected:
            self.fail(where, f"preamble {preamble!r}, want {expected!r}")
        if part.epilogue not in (None, ""):
            self.fail(where, f"epilogue {part.epilogue!r}")
        children = part.get_payload()
        raw_children = raw_part.get_payload()
        if len(children) != len(want["children"]):
            self.fail(where, f"{len(children)} parts, want {len(want['children'])}")
            return
        for i, (child, raw_child, w) in enumerate(zip(children, raw_children, want["children"])):
            self.node(f"{where}/{i}", child, raw_child, w)


def first_difference(a, b):
    for i, (x, y) in enumerate(zip(a, b)):
        if x != y:
            return i
    return min(len(a), len(b))


def check(eml, expected_file):
    data = eml.read_bytes()
    want = json.loads(expected_file.read_text())
    c = Checker(eml.stem)
    if re.search(rb"(?<!\r)\n|\r(?!\n)", data):
        c.fail("document", "a line does not end with CR LF")
    longest = max(len(line) for line in data.split(b"\r\n"))
    if longest > 998:  # RFC 5322 limit
        c.fail("document", f"line of {longest} characters")
    message = BytesParser(policy=policy.default).parsebytes(data)
    rawmsg = BytesParser(policy=policy.compat32).parsebytes(data)
    c.headers("top-level", list(rawmsg.raw_items()), want["headers"])
    top_names = [unhex(h[0]) for h in want["headers"]]
    got_names = [raw(k) for k, _ in rawmsg.raw_items()][: len(top_names)]
    if got_names != top_names:
        c.fail("top-level", f"header order {got_names!r}, want {top_names!r}")
    c.node("root", message, rawmsg, want["root"])
    return c.failures


def main():
    folder = Path(sys.argv[1])
    documents = sorted(folder.glob("*.eml"))
    if not documents:
        print(f"no documents in {folder}")
        return 1
    failures = []
    for eml in documents:
        failures += check(eml, eml.with_suffix(".json"))
    for f in failures:
        print(f)
    print(f"{len(documents)} documents, {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
