#!/usr/bin/env python3
"""Differential test of the header decoder against Python's email.header.

Decodes a reproducible corpus of encoded words (in the charsets both sides
know) mixed with plain text with decode_tool and with email.header, and
compares the bytes in the target code page. The corpus avoids where the two
differ by design: plain text touching an encoded word (Python adds a blank),
the bytes 0xA4, 0xA5 and 0xAA of ISO-8859-7 (ours is the 1987 edition) and
charset names only one side knows (Kamenicky, UCS-2, UCS-4, ISO-8859-16...).

Usage: differential_test.py DECODE_TOOL [COUNT] [SEED]
"""

import base64
import codecs
import random
import subprocess
import sys
import unicodedata
from email.header import decode_header, make_header

CHARSETS = (
    [f"iso-8859-{n}" for n in (1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 13, 14, 15)]
    + [f"windows-{n}" for n in range(1250, 1259)]
    + ["koi8-r", "ibm852", "utf-8", "utf-7"]
)
TARGET_CODE_PAGES = (1250, 1251, 1252, 1253, 1254, 1257)
UNICODE_SAMPLE = (
    [chr(c) for c in range(0x20, 0x7F)]
    + [chr(c) for c in range(0xA0, 0x250)]
    + [chr(c) for c in range(0x391, 0x3CA)]
    + [chr(c) for c in range(0x410, 0x450)]
    + list("\u20ac\u2013\u201c\u201d\u2122\u4e2d\u6587\uff01")
    + ["\U0001f600", "\U0001f4e7", "\U00010348"]
)
Q_SAFE = set(b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789!*+-/")
PLAIN_WORDS = ["Re:", "Fwd:", "Hello", "news", "[list]", "(x)", "a", "2024", "<a@example.org>"]


def underscore(error):
    return "_" * (error.end - error.start), error.end


codecs.register_error("underscore", underscore)


def repertoire(charset):
    if charset in ("utf-8", "utf-7"):
        return UNICODE_SAMPLE
    chars = []
    for b in list(range(0x20, 0x7F)) + list(range(0xA0, 0x100)):
        if charset == "iso-8859-7" and b in (0xA4, 0xA5, 0xAA):
            continue
        try:
            ch = bytes([b]).decode(charset)
        except UnicodeDecodeError:
            continue
        if unicodedata.category(ch) != "Cc":
            chars.append(ch)
    return chars


def encoded_word(rng, charset, text):
    data = text.encode(charset)
    if rng.random() < 0.5:
        return f"=?{charset}?{rng.choice('Bb')}?{base64.b64encode(data).decode()}?="
    q = "".join(
        "_" if b == 0x20 else chr(b) if b in Q_SAFE else f"={b:02{rng.choice('Xx')}}" for b in data
    )
    return f"=?{charset}?{rng.choice('Qq')}?{q}?="


def corpus(count, seed):
    rng = random.Random(seed)
    chars = {c: repertoire(c) for c in CHARSETS}
    for _ in range(count):
        parts = []
        for _ in range(rng.randint(1, 4)):
            if parts and parts[-1][0] == "word" and rng.random() < 0.5:
                parts.append(("sep", rng.choice([" ", "\t", "  \t "])))
            elif parts:
                parts.append(("sep", " "))
            if rng.random() < 0.3:
                parts.append(("plain", rng.choice(PLAIN_WORDS)))
            else:
                charset = rng.choice(CHARSETS)
                text = "".join(rng.choice(chars[charset]) for _ in range(rng.randint(1, 12)))
                parts.append(("word", encoded_word(rng, charset, text)))
        # A separator between plain text and an encoded word must be one blank.
        for i in range(1, len(parts) - 1):
            if parts[i][0] == "sep" and "plain" in (parts[i - 1][0], parts[i + 1][0]):
                parts[i] = ("sep", " ")
        yield rng.choice(TARGET_CODE_PAGES), "".join(p[1] for p in parts)


def main():
    tool = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 4000
    seed = int(sys.argv[3]) if len(sys.argv) > 3 else 2047
    cases = list(corpus(count, seed))
    stdin = "".join(f"{cp}\t{value}\n" for cp, value in cases)
    run = subprocess.run([tool], input=stdin.encode("ascii"), capture_output=True, check=True)
    ours = run.stdout.decode("ascii").splitlines()
    if len(ours) != len(cases):
        sys.exit(f"decode_tool gave {len(ours)} lines for {len(cases)} values")
    failed = 0
    for (cp, value), got in zip(cases, ours):
        expected = str(make_header(decode_header(value))).encode(f"cp{cp}", "underscore").hex()
        if got != expected:
            failed += 1
            if failed <= 10:
                print(f"cp{cp} {value!r}\n  ours:   {got}\n  python: {expected}")
    print(f"{len(cases) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
