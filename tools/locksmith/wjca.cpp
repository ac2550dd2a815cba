// The reader of the older private-key container.
#include "wjca.h"

#include <cstring>
#include <string>

#include "crypto.h"
#include "ostrel/ct.hpp"
#include "ostrel/owners.hpp"
#include "ostrel/reader.hpp"

namespace {

constexpr unsigned kCheckLength = 16;  // the MD5 check value before the key

bool blank(char c) { return c == ' ' || c == '\t'; }
bool space(char c) { return blank(c) || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

int sextet(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// The Base64 characters of the container: the lines after the header line up to one that starts
// with "-", without their line ends.
std::string body_of(const unsigned char *text, unsigned int length) {
    ostrel::Reader r(text, length);
    std::string body;
    uint8_t c = 0;
    while (r.u8(c) && c != '\n') {
    }
    bool lineStart = true;
    while (r.u8(c)) {
        if (lineStart && c == '-') break;
        lineStart = c == '\n';
        if (c != '\r' && c != '\n') body.push_back(static_cast<char>(c));
    }
    return body;
}

}  // namespace

extern "C" {

WJSSL_DATA *WJSSL_New_Data(const unsigned char *value, unsigned int length) {
    auto *d = static_cast<WJSSL_DATA *>(QRT_calloc(1, sizeof(WJSSL_DATA)));
    if (!d) return nullptr;
    d->value = static_cast<unsigned char *>(QRT_malloc(length ? length : 1));
    if (!d->value) {
        QRT_free(d);
        return nullptr;
    }
    if (length) std::memcpy(d->value, value, length);
    d->length = length;
    return d;
}

void WJSSL_Free_Data(WJSSL_DATA *data) {
    if (!data) return;
    ostrel::wipe(data->value, data->length);
    QRT_free(data->value);
    QRT_free(data);
}

int WJSSL_Decode_Base64(unsigned char *out, const char *text, int length) {
    if (!out || !text || length < 0) return -1;
    int b = 0, e = length;
    while (b < e && blank(text[b])) ++b;
    while (e > b && space(text[e - 1])) --e;
    const int n = e - b;
    if (n == 0 || n % 4 != 0) return -1;
    int pad = 0;
    while (pad < 2 && text[e - 1 - pad] == '=') ++pad;
    int written = 0;
    for (int i = b; i < e; i += 4) {
        unsigned v = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = text[i + k];
            // "=" only as the padding at the very end
            int s = c == '=' && i + k >= e - pad ? 0 : sextet(c);
            if (s < 0) return -1;
            v = v << 6 | static_cast<unsigned>(s);
        }
        out[written++] = static_cast<unsigned char>(v >> 16);
        out[written++] = static_cast<unsigned char>(v >> 8);
        out[written++] = static_cast<unsigned char>(v);
    }
    return written - pad;
}

int WJYV30_Get_Private_Key(WJSSL_DATA **key, const unsigned char *text, unsigned int length, const char *password,
                           int passwordLength) {
    if (!key) return -1;
    *key = nullptr;
    if (!text || passwordLength < 0 || (passwordLength > 0 && !password)) return -1;
    try {
        std::string body = body_of(text, length);
        if (body.size() > 0x7FFFFFFF) return -1;
        ostrel::SecBytes cipher(3 * (body.size() / 4) + 1);
        int n = WJSSL_Decode_Base64(cipher.data(), body.data(), static_cast<int>(body.size()));
        if (n <= 0) return -1;

        BIN pw{static_cast<unsigned>(passwordLength),
               reinterpret_cast<unsigned char *>(const_cast<char *>(password ? password : ""))};
        ostrel::BinOwner rc4Key, plain, check;
        if (QRT_Hash(rc4Key.get(), &pw, QRT_CSP_HASH_MD5) != 0) return -1;
        BIN in{static_cast<unsigned>(n), cipher.data()};
        if (QRT_Decryption(plain.get(), &in, rc4Key.get(), nullptr, nullptr, QRT_CSP_CIPHER_RC4, 0) != 0) return -1;
        // A check value and at least one byte of key; nothing is read past the plaintext.
        if (plain->length < kCheckLength + 1) return -1;
        BIN rest{plain->length - kCheckLength, plain->value + kCheckLength};
        if (QRT_Hash(check.get(), &rest, QRT_CSP_HASH_MD5) != 0 || check->length != kCheckLength) return -1;
        if (!ostrel::ct_equal(check->value, plain->value, kCheckLength)) return -1;
        *key = WJSSL_New_Data(rest.value, rest.length);
        return *key ? 0 : -1;
    } catch (...) {
        return -1;
    }
}

}  // extern "C"
