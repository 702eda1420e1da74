#!/usr/bin/env python3
"""Writes the header-decoding benchmark corpus and measures Python's decoder on it.

The corpus is 100,000 header values, one per line, reproducible from a fixed
seed: a quarter each of plain ASCII subjects, Q-encoded ISO-8859-1 words,
B-encoded UTF-8 words, and subjects mixing Q and B words with plain text.
The reference is email.header.decode_header + make_header.

Usage: mime_bench.py CORPUS_FILE
"""

import base64
import random
import sys
import time
from email.header import decode_header, make_header

COUNT = 100_000
SEED = 2047
WORDS = "meeting notes project report invoice update weekly review team lunch agenda".split()
LATIN1 = "Grüße aus München für Zoë, café crème à la façon de señor Jørgen déjà vu".split()
UNICODE = "Привет мир 你好 世界 Γειά σου κόσμε résumé naïve Ærø 🙂 東京 Ελλάδα".split()


def q_word(charset, text):
    out = []
    for b in text.encode(charset):
        if b == 0x20:
            out.append("_")
        elif 0x30 <= b <= 0x39 or 0x41 <= b <= 0x5A or 0x61 <= b <= 0x7A:
            out.append(chr(b))
        else:
            out.append(f"={b:02X}")
    return f"=?{charset}?Q?{''.join(out)}?="


def b_word(charset, text):
    return f"=?{charset}?B?{base64.b64encode(text.encode(charset)).decode()}?="


def phrase(rng, words, lo, hi):
    return " ".join(rng.choice(words) for _ in range(rng.randint(lo, hi)))


def corpus(rng):
    values = []
    for i in range(COUNT):
        kind = i % 4
        if kind == 0:
            values.append(phrase(rng, WORDS, 4, 10))
        elif kind == 1:
            values.append(q_word("ISO-8859-1", phrase(rng, LATIN1, 2, 5)))
        elif kind == 2:
            values.append(b_word("UTF-8", phrase(rng, UNICODE, 2, 5)))
        else:
            values.append(
                f"Re: {q_word('ISO-8859-1', phrase(rng, LATIN1, 1, 3))} "
                f"{b_word('UTF-8', phrase(rng, UNICODE, 1, 3))} {phrase(rng, WORDS, 1, 3)}"
            )
    return values


def main():
    values = corpus(random.Random(SEED))
    with open(sys.argv[1], "w", encoding="ascii", newline="\n") as f:
        f.write("\n".join(values) + "\n")
    size = sum(len(v) for v in values)
    start = time.perf_counter()
    for v in values:
        str(make_header(decode_header(v)))
    seconds = time.perf_counter() - start
    print(f"{'python email.header':<24}{COUNT / seconds:>14.0f}{size / seconds / 1e6:>10.1f}")


if __name__ == "__main__":
    main()
