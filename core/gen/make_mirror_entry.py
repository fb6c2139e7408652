#!/usr/bin/env python3
"""Makes the program's built-in mirror entry at build time.

The entry is the URL of the online configuration, one UTF-16 code unit per
32-bit word (the unit in the low 16 bits, chosen filler in the high 16 bits),
enciphered with standard XXTEA (Corrected Block TEA) under the MD5 of the
program's mirror passphrase (taken from core/fixed_texts.h, kMirrorPassphrase)
and written as decimal words separated by commas. The program deciphers it
with TeaDecipher. No cipher word may be 0 or 4294967295: the program's parser
stops at such a word, so the filler is changed until none is.

  make_mirror_entry.py --fixed-texts core/fixed_texts.h --url URL --out header.h
  make_mirror_entry.py --self-test
"""
import argparse
import hashlib
import random
import re
import struct
import sys
import unittest

DELTA = 0x9E3779B9
MASK = 0xFFFFFFFF
FORBIDDEN = (0, 0xFFFFFFFF)


def _mx(s, y, z, p, e, k):
    return ((((z >> 5) ^ (y << 2) & MASK) + ((y >> 3) ^ (z << 4) & MASK)) & MASK) ^ \
           (((s ^ y) + (k[(p & 3) ^ e] ^ z)) & MASK)


def xxtea_encrypt(words, key_words):
    v = list(words)
    n = len(v)
    if n < 2:
        raise ValueError("XXTEA needs at least two words")
    rounds = 6 + 52 // n
    s = 0
    z = v[n - 1]
    for _ in range(rounds):
        s = (s + DELTA) & MASK
        e = (s >> 2) & 3
        for p in range(n - 1):
            y = v[p + 1]
            v[p] = (v[p] + _mx(s, y, z, p, e, key_words)) & MASK
            z = v[p]
        y = v[0]
        p = n - 1
        v[p] = (v[p] + _mx(s, y, z, p, e, key_words)) & MASK
        z = v[p]
    return v


def xxtea_decrypt(words, key_words):
    v = list(words)
    n = len(v)
    rounds = 6 + 52 // n
    s = (rounds * DELTA) & MASK
    y = v[0]
    while s:
        e = (s >> 2) & 3
        for p in range(n - 1, 0, -1):
            z = v[p - 1]
            v[p] = (v[p] - _mx(s, y, z, p, e, key_words)) & MASK
            y = v[p]
        z = v[n - 1]
        v[0] = (v[0] - _mx(s, y, z, 0, e, key_words)) & MASK
        y = v[0]
        s = (s - DELTA) & MASK
    return v


def key_words_of(passphrase):
    # The program digests the passphrase's ANSI bytes; ours is plain ASCII.
    digest = hashlib.md5(passphrase.encode("ascii")).digest()
    return list(struct.unpack("<4I", digest))


def code_units(text):
    data = text.encode("utf-16-le")
    return list(struct.unpack("<%dH" % (len(data) // 2), data))


def encipher_entry(text, key_words, filler=None, attempts=1000):
    """The cipher words of `text`; `filler(i, attempt)` gives the high 16 bits
    of word i (random by default). Refuses an outcome with a forbidden word
    and tries other filler."""
    units = code_units(text)
    if len(units) < 2:
        raise ValueError("the entry needs at least two characters")
    rng = random.Random(0x6B767465)
    if filler is None:
        filler = lambda i, attempt: rng.getrandbits(16)
    for attempt in range(attempts):
        plain = [(filler(i, attempt) << 16) | u for i, u in enumerate(units)]
        words = xxtea_encrypt(plain, key_words)
        if not any(w in FORBIDDEN for w in words):
            return words
    raise RuntimeError("no filler gives cipher words without 0 or 4294967295")


def passphrase_from(fixed_texts_path):
    with open(fixed_texts_path, encoding="utf-8") as f:
        m = re.search(r'kMirrorPassphrase\s*=\s*L"((?:[^"\\]|\\.)*)"', f.read())
    if not m:
        raise SystemExit("kMirrorPassphrase not found in " + fixed_texts_path)
    return m.group(1).encode("ascii").decode("unicode_escape")


def write_header(path, url, words):
    text = ",".join(str(w) for w in words)
    cut = text.index(",", len(text) // 2) + 1 if "," in text[len(text) // 2:] else len(text)
    head, tail = text[:cut], text[cut:]
    content = (
        "// Made by core/gen/make_mirror_entry.py at build time; do not edit.\n"
        "// The enciphered built-in mirror entry, split into two texts.\n"
        "#pragma once\n"
        '#define KAVETTA_BUILTIN_MIRROR_HEAD L"%s"\n'
        '#define KAVETTA_BUILTIN_MIRROR_TAIL L"%s"\n' % (head, tail))
    try:
        with open(path, encoding="utf-8") as f:
            if f.read() == content:
                return
    except OSError:
        pass
    with open(path, "w", encoding="utf-8") as f:
        f.write(content)


class SelfTest(unittest.TestCase):
    def test_published_vectors(self):
        zero = [0, 0, 0, 0]
        self.assertEqual([0x053704AB, 0x575D8C80], xxtea_encrypt([0, 0], zero))
        self.assertEqual([0xE6911910, 0x0C35DCDA], xxtea_encrypt([0x01020304, 0x05060708], zero))

    def test_round_trip(self):
        k = key_words_of("abc")
        plain = [0x10048, 0x20069, 0x30021]
        self.assertEqual(plain, xxtea_decrypt(xxtea_encrypt(plain, k), k))

    def test_known_entry_deciphers_to_text(self):
        k = key_words_of("abc")
        words = xxtea_decrypt([1405520615, 1569012247, 3240585630], k)
        self.assertEqual("Hi!", "".join(chr(w & 0xFFFF) for w in words))

    def test_forbidden_words_are_refused(self):
        for bad in FORBIDDEN:
            # A text and filler known to give the forbidden word: decipher a
            # chosen cipher text that holds it (under a key whose plain text
            # has no surrogate units, so that it is a valid text).
            k = key_words_of("passphrase")
            while True:
                trap = xxtea_decrypt([bad, 12345, 67890], k)
                if all((w & 0xFFFF) < 0xD800 for w in trap):
                    break
                k = [(x + 1) & MASK for x in k]
            text = "".join(chr(w & 0xFFFF) for w in trap)
            attempts = []

            def filler(i, attempt):
                attempts.append(attempt)
                return trap[i] >> 16 if attempt == 0 else attempt
            words = encipher_entry(text, k, filler)
            self.assertNotIn(bad, words)
            self.assertIn(1, attempts, "the trap's filler must have been replaced")
            self.assertEqual(text, "".join(chr(w & 0xFFFF) for w in xxtea_decrypt(words, k)))
            with self.assertRaises(RuntimeError):
                encipher_entry(text, k, lambda i, attempt: trap[i] >> 16, attempts=3)

    def test_short_entries_are_refused(self):
        with self.assertRaises(ValueError):
            encipher_entry("x", key_words_of("abc"))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--fixed-texts")
    ap.add_argument("--url")
    ap.add_argument("--out")
    ap.add_argument("--self-test", action="store_true")
    args = ap.parse_args()
    if args.self_test:
        result = unittest.main(argv=[sys.argv[0]], exit=False).result
        sys.exit(0 if result.wasSuccessful() else 1)
    key = key_words_of(passphrase_from(args.fixed_texts))
    words = encipher_entry(args.url, key)
    assert "".join(chr(w & 0xFFFF) for w in xxtea_decrypt(words, key)) == args.url
    write_header(args.out, args.url, words)


if __name__ == "__main__":
    main()
