#!/usr/bin/env python3
"""Generates the code-set tables of the codec from python's CJK codecs.

    gen_charset_tables.py <output.inc>

For each character set the output holds
  - <set>_2uni_pageRR: code to Unicode for a run of rows starting at row RR (94 columns per row,
    0xFFFD where a code is not assigned), and <set>_2uni, one pointer per row (94 rows);
  - <set>_2charset: the codes (row << 8 | column, GL form) in Unicode order;
  - <set>_uni2indx_pageHH: for a run of 256-code-point pages starting at page HH, one entry per
    16 code points: a mask of the code points that have a code and the index in <set>_2charset
    of the first of them; and <set>_uni2indx, one pointer per page (256 pages).
JIS X 0201 is one-byte: jisx0201_2uni has 256 entries and its codes are the bytes.

Sources: KS X 1001 from the euc_kr codec (the hangul filler 0xA4D4, which that decoder only reads
as part of a composition sequence, from its encoder), JIS X 0208 and JIS X 0212 from euc_jp
(checked against shift_jis), JIS X 0201 from iso2022_jp (Roman, after ESC ( J) and euc_jp
(katakana, after 0x8E). Control codes and space of JIS X 0201 are those of ASCII.
"""
import sys

NONE = 0xFFFD


def decode_one(data, codec):
    try:
        text = data.decode(codec)
    except UnicodeDecodeError:
        return None
    if len(text) != 1 or ord(text) > 0xFFFF or ord(text) == NONE:
        raise SystemExit(f"{codec}: {data.hex()} does not decode to one BMP character")
    return ord(text)


def rows94(prefix, codec):
    """{(row, col): code point} of a 94x94 set read in its EUC form (both bytes | 0x80)."""
    table = {}
    for r in range(0x21, 0x7F):
        for c in range(0x21, 0x7F):
            cp = decode_one(prefix + bytes([r | 0x80, c | 0x80]), codec)
            if cp is not None:
                table[(r, c)] = cp
    return table


def ksc5601():
    table = rows94(b"", "euc_kr")
    for cp in range(0x80, 0x10000):
        if 0xD800 <= cp < 0xE000:
            continue
        try:
            data = chr(cp).encode("euc_kr")
        except UnicodeEncodeError:
            continue
        if len(data) == 2 and data[0] >= 0xA1 and data[1] >= 0xA1:
            table.setdefault((data[0] & 0x7F, data[1] & 0x7F), cp)
    return table


def sjis_bytes(r, c):
    t1, t2 = (r - 0x21) >> 1, ((r - 0x21) & 1) * 94 + (c - 0x21)
    return bytes([t1 + 0x81 if t1 < 0x1F else t1 + 0xC1, t2 + 0x40 if t2 < 0x3F else t2 + 0x41])


def jisx0208():
    table = rows94(b"", "euc_jp")
    for (r, c), cp in table.items():
        if decode_one(sjis_bytes(r, c), "shift_jis") != cp:
            raise SystemExit(f"euc_jp and shift_jis disagree on JIS X 0208 {r:02x}{c:02x}")
    return table


def jisx0201():
    table = {b: b for b in list(range(0x00, 0x21)) + [0x7F]}
    for b in range(0x21, 0x7F):
        table[b] = decode_one(b"\x1b(J" + bytes([b]), "iso2022_jp")
    for b in range(0x80, 0x100):
        cp = decode_one(b"\x8e" + bytes([b]), "euc_jp")
        if cp is not None:
            table[b] = cp
    return table


def inverse(name, table):
    inv = {}
    for code, cp in table.items():
        if cp in inv:
            raise SystemExit(f"{name}: U+{cp:04X} has two codes")
        inv[cp] = code
    return inv


def c_array(ctype, name, values, fmt):
    sep = "" if ctype.endswith("*") else " "
    lines = [f"constexpr {ctype}{sep}{name}[{len(values)}] = {{"]
    per = 12
    for i in range(0, len(values), per):
        lines.append("    " + ", ".join(fmt(v) for v in values[i:i + per]) + ",")
    lines.append("};")
    return "\n".join(lines)


def runs(present):
    """Maximal runs [first, last] of consecutive indexes that are present."""
    out, start = [], None
    for i in range(len(present) + 1):
        if i < len(present) and present[i]:
            if start is None:
                start = i
        elif start is not None:
            out.append((start, i - 1))
            start = None
    return out


def reverse_tables(name, table):
    """<name>_2charset and the presence-mask index of the inverse of `table`."""
    inv = inverse(name, table)
    cps = sorted(inv)
    codes = [inv[cp] for cp in cps]
    pieces = [c_array("uint16_t", f"{name}_2charset", codes, lambda v: f"0x{v:04x}")]
    pages = [False] * 256
    for cp in cps:
        pages[cp >> 8] = True
    pointers = ["nullptr"] * 256
    index = 0
    by_block = {}
    for cp in cps:
        by_block.setdefault(cp >> 4, []).append(cp)
    for first, last in runs(pages):
        entries = []
        for block in range(first * 16, (last + 1) * 16):
            used = 0
            for cp in by_block.get(block, []):
                used |= 1 << (cp & 15)
            entries.append((used, index))
            index += bin(used).count("1")
        arr = f"{name}_uni2indx_page{first:02x}"
        pieces.append(c_array("UniIndex", arr, entries, lambda e: f"{{0x{e[0]:04x}, {e[1]}}}"))
        for p in range(first, last + 1):
            pointers[p] = f"{arr} + {16 * (p - first)}"
    assert index == len(codes)
    pieces.append(c_array("const UniIndex *", f"{name}_uni2indx", pointers, str))
    return pieces


def set94(name, table):
    rows = [any((r, c) in table for c in range(0x21, 0x7F)) for r in range(0x21, 0x7F)]
    pieces = []
    pointers = ["nullptr"] * 94
    for first, last in runs(rows):
        values = [table.get((r + 0x21, c), NONE) for r in range(first, last + 1) for c in range(0x21, 0x7F)]
        arr = f"{name}_2uni_page{first + 0x21:02x}"
        pieces.append(c_array("uint16_t", arr, values, lambda v: f"0x{v:04x}"))
        for r in range(first, last + 1):
            pointers[r] = f"{arr} + {94 * (r - first)}"
    pieces.append(c_array("const uint16_t *", f"{name}_2uni", pointers, str))
    codes = {(r << 8) | c: cp for (r, c), cp in table.items()}
    return pieces + reverse_tables(name, codes)


def set256(name, table):
    values = [table.get(b, NONE) for b in range(256)]
    pieces = [c_array("uint16_t", f"{name}_2uni", values, lambda v: f"0x{v:04x}")]
    return pieces + reverse_tables(name, table)


def main():
    out = sys.argv[1]
    pieces = [
        "// Generated by gen_charset_tables.py from python's CJK codecs: do not edit.",
        f"// python {sys.version.split()[0]}",
    ]
    pieces += set94("ksc5601", ksc5601())
    pieces += set94("jisx0208", jisx0208())
    pieces += set94("jisx0212", rows94(b"\x8f", "euc_jp"))
    pieces += set256("jisx0201", jisx0201())
    with open(out, "w", encoding="ascii") as f:
        f.write("\n\n".join(pieces) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
