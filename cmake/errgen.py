#!/usr/bin/env python3
"""Turn a library's error list into its public code header and its private text table.

The list (lib/<name>/errors.tsv) has one code per line, fields separated by tabs:

    NAME  NUMBER  ENGLISH  KOREAN  [COMMENT]

ENGLISH and KOREAN are the texts GetErrorReason returns ("-" when the library has none for that
language); KOREAN is written in UTF-8 and comes out as EUC-KR bytes. COMMENT, when present,
follows the #define in the header. Blank lines and lines starting with "#" are ignored.

    errgen.py --list errors.tsv --library libOstrelIO --header suite_io_codes.h --texts io_errors.hpp
"""
import argparse
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from euckr import convert  # noqa: E402

NAME = re.compile(r"^[A-Z][A-Z0-9_]*$")
NUMBER = re.compile(r"^-?[0-9]+$")


class Row:
    def __init__(self, name, number, english, korean, comment):
        self.name, self.number = name, number
        self.english, self.korean, self.comment = english, korean, comment


def fail(path, lineno, message):
    sys.exit(f"{path}:{lineno}: {message}")


def read_list(path):
    rows, names, numbers = [], set(), set()
    with open(path, encoding="utf-8") as f:
        for lineno, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.startswith("#"):
                continue
            fields = line.split("\t")
            if len(fields) not in (4, 5):
                fail(path, lineno, f"expected 4 or 5 tab-separated fields, found {len(fields)}")
            name, number, english, korean = (x.strip() for x in fields[:4])
            comment = fields[4].strip() if len(fields) == 5 else ""
            if not NAME.match(name):
                fail(path, lineno, f"bad macro name {name!r}")
            if not NUMBER.match(number):
                fail(path, lineno, f"bad number {number!r}")
            if name in names:
                fail(path, lineno, f"{name} listed twice")
            if int(number) in numbers:
                fail(path, lineno, f"number {number} listed twice")
            if "*/" in comment:
                fail(path, lineno, "a comment may not contain */")
            names.add(name)
            numbers.add(int(number))
            rows.append(Row(name, int(number), None if english == "-" else english,
                            None if korean == "-" else korean, comment))
    if not rows:
        sys.exit(f"{path}: no codes")
    return rows


def c_string(text):
    if text is None:
        return "nullptr"
    escaped = text.replace("\\", "\\\\").replace('"', '\\"')
    return '"' + convert(escaped) + '"'


def value(number):
    return f"({number})" if number < 0 else str(number)


def write(path, text):
    with open(path, "w", encoding="ascii") as f:
        f.write(text)


def header(rows, library, list_name, public_header):
    # No include guard: the file holds nothing but #defines (an identical redefinition is valid C),
    # so the public header defines exactly the macros it always did.
    lines = [
        "/*",
        f" * {library} result codes, generated at build time from {list_name}; included by",
        f" * {public_header}.",
        " */",
    ]
    for r in rows:
        define = f"#define {r.name} {value(r.number)}"
        lines.append(f"{define} /* {r.comment} */" if r.comment else define)
    lines.append("")
    return "\n".join(lines)


def texts(rows, library, list_name, public_header):
    lines = [
        f"// English and Korean (EUC-KR) texts of {library}'s codes, generated at build time from",
        f"// {list_name}; the frame looks codes up here.",
        "#pragma once",
        "",
        '#include "ostrel/frame.hpp"',
        f'#include "{public_header}"',
        "",
        "namespace ostrel::generated {",
        "",
    ]
    rows = [r for r in rows if r.english is not None or r.korean is not None]
    if rows:
        lines.append("inline constexpr ErrorText kErrorTexts[] = {")
        for r in rows:
            lines.append(f"    {{{r.name}, {c_string(r.english)}, {c_string(r.korean)}}},")
        lines.append("};")
    else:
        lines.append("inline constexpr std::span<const ErrorText> kErrorTexts{};")
    lines += ["", "}  // namespace ostrel::generated", ""]
    return "\n".join(lines)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--list", required=True, help="the library's errors.tsv")
    ap.add_argument("--library", required=True, help="the library's file name, for the comments")
    ap.add_argument("--header", required=True, help="public header with the #defines")
    ap.add_argument("--texts", help="private C++ table of the texts (omit for a library without texts)")
    args = ap.parse_args()

    rows = read_list(args.list)
    list_name = "lib/%s/%s" % (os.path.basename(os.path.dirname(os.path.abspath(args.list))),
                               os.path.basename(args.list))
    header_name = os.path.basename(args.header)
    public_header = header_name.replace("_codes.h", ".h")
    write(args.header, header(rows, args.library, list_name, public_header))
    if args.texts:
        write(args.texts, texts(rows, args.library, list_name, header_name))
    return 0


if __name__ == "__main__":
    sys.exit(main())
