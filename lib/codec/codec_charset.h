// The character converters behind the code-set conversions, one pair per code set.
//
// A decoder (_mbtowc) reads one character from the n bytes at s into *pwc and returns the bytes
// it used, -1 for an invalid or unassigned sequence, or -2 when the text ends inside a character.
// An encoder (_wctomb) writes the code point wc into the n bytes of room at r and returns the
// bytes written, -1 when wc has no code in the set, or -2 when the room is too small.
//
// ksc5601, jisx0208 and jisx0212 read and write the two GL bytes (0x21-0x7E) of a 94x94 set.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ostrel::codec {

using ucs4_t = uint32_t;

using Decoder = int (*)(ucs4_t *pwc, const unsigned char *s, size_t n);
using Encoder = int (*)(unsigned char *r, ucs4_t wc, size_t n);

int ascii_mbtowc(ucs4_t *pwc, const unsigned char *s, size_t n);
int ascii_wctomb(unsigned char *r, ucs4_t wc, size_t n);
int utf8_mbtowc(ucs4_t *pwc, const unsigned char *s, size_t n);
int utf8_wctomb(unsigned char *r, ucs4_t wc, size_t n);
int ksc5601_mbtowc(ucs4_t *pwc, const unsigned char *s, size_t n);
int ksc5601_wctomb(unsigned char *r, ucs4_t wc, size_t n);
int euc_kr_mbtowc(ucs4_t *pwc, const unsigned char *s, size_t n);
int euc_kr_wctomb(unsigned char *r, ucs4_t wc, size_t n);
int jisx0201_mbtowc(ucs4_t *pwc, const unsigned char *s, size_t n);
int jisx0201_wctomb(unsigned char *r, ucs4_t wc, size_t n);
int jisx0208_mbtowc(ucs4_t *pwc, const unsigned char *s, size_t n);
int jisx0208_wctomb(unsigned char *r, ucs4_t wc, size_t n);
int jisx0212_mbtowc(ucs4_t *pwc, const unsigned char *s, size_t n);
int jisx0212_wctomb(unsigned char *r, ucs4_t wc, size_t n);
int euc_jp_mbtowc(ucs4_t *pwc, const unsigned char *s, size_t n);
int euc_jp_wctomb(unsigned char *r, ucs4_t wc, size_t n);
int sjis_mbtowc(ucs4_t *pwc, const unsigned char *s, size_t n);
int sjis_wctomb(unsigned char *r, ucs4_t wc, size_t n);

}  // namespace ostrel::codec
