#!/usr/bin/env python3
"""Prints what python's CJK codecs make of every candidate code, for the converter tests.

  d <codec> <bytes> <code point|->   every two-byte code of EUC-KR and EUC-JP (with the 0x8E and
                                     0x8F forms) and of Shift_JIS, and every Shift_JIS byte
  e <codec> <code point> <bytes>     every BMP code point from U+0080 that the codec writes as
                                     one code (not euc_kr's eight-byte hangul compositions)
"""
import sys


def candidates(codec):
    gr = range(0xA1, 0xFF)
    if codec in ("euc_kr", "euc_jp"):
        for a in gr:
            for b in gr:
                yield bytes([a, b])
    if codec == "euc_jp":
        for b in range(0x100):
            yield bytes([0x8E, b])
        for a in gr:
            for b in gr:
                yield bytes([0x8F, a, b])
    if codec == "shift_jis":
        for a in range(0x80, 0x100):
            yield bytes([a])
            if 0x81 <= a <= 0x9F or 0xE0 <= a <= 0xFC:
                for b in range(0x40, 0x100):
                    yield bytes([a, b])


def main():
    out = []
    for codec in ("euc_kr", "euc_jp", "shift_jis"):
        for data in candidates(codec):
            try:
                text = data.decode(codec)
                cp = "%x" % ord(text) if len(text) == 1 else "-"
            except UnicodeDecodeError:
                cp = "-"
            out.append(f"d {codec} {data.hex()} {cp}")
        for cp in range(0x80, 0x10000):
            if 0xD800 <= cp < 0xE000:
                continue
            try:
                data = chr(cp).encode(codec)
            except UnicodeEncodeError:
                continue
            if len(data) > (3 if codec == "euc_jp" else 2):
                continue
            out.append(f"e {codec} {cp:x} {data.hex()}")
    sys.stdout.write("\n".join(out) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
