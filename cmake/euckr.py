#!/usr/bin/env python3
"""Copy a C/C++ source, turning every non-ASCII character into octal escapes of its EUC-KR bytes.

Korean texts are kept readable (UTF-8) in the source; the library returns them as EUC-KR.
Octal escapes (at most three digits) cannot swallow a following character, unlike hex escapes.
"""
import sys


def convert(text: str) -> str:
    out = []
    for ch in text:
        if ord(ch) < 0x80:
            out.append(ch)
        else:
            out.append("".join("\\%03o" % b for b in ch.encode("euc_kr")))
    return "".join(out)


def main() -> int:
    src, dst = sys.argv[1], sys.argv[2]
    with open(src, encoding="utf-8") as f:
        text = f.read()
    converted = f'#line 1 "{src}"\n' + convert(text)
    with open(dst, "w", encoding="ascii") as f:
        f.write(converted)
    return 0


if __name__ == "__main__":
    sys.exit(main())
