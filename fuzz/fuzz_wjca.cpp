// The older private-key container as locksmith reads it: arbitrary text under a password taken
// from the input (header line, Base64 lines with blanks and padding, short plaintexts) must never
// crash, read past its buffers or leak; the Base64 block decoder never writes past 3 bytes per 4
// characters; and a container written from the input's bytes opens to them again.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "crypto.h"
#include "suite_codec.h"
#include "wjca.h"

namespace {

// A container of key under password in the layout the reader takes.
std::string container(const std::string &key, const std::string &password) {
    BIN pw{static_cast<unsigned>(password.size()), (unsigned char *)password.data()};
    BIN k{static_cast<unsigned>(key.size()), (unsigned char *)key.data()};
    BIN rc4Key{0, nullptr}, check{0, nullptr}, cipherText{0, nullptr};
    std::string text;
    if (QRT_Hash(&rc4Key, &pw, QRT_CSP_HASH_MD5) == 0 && QRT_Hash(&check, &k, QRT_CSP_HASH_MD5) == 0) {
        std::string plain(reinterpret_cast<char *>(check.value), check.length);
        plain += key;
        BIN p{static_cast<unsigned>(plain.size()), (unsigned char *)plain.data()};
        char *b64 = nullptr;
        if (QRT_Encryption(&cipherText, &p, &rc4Key, nullptr, nullptr, QRT_CSP_CIPHER_RC4, 0) == 0 &&
            QRT_BinToBase64(&cipherText, &b64) == 0) {
            std::string body(b64);
            text = "header\n";
            for (size_t i = 0; i < body.size(); i += 64) text += body.substr(i, 64) + "\n";
            text += "-----END\n";
        }
        QRT_free(b64);
    }
    QRT_BIN_Reset(&rc4Key);
    QRT_BIN_Reset(&check);
    QRT_BIN_Reset(&cipherText);
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2 || size > 20000) return 0;
    const size_t pwLength = data[0] % 32 < size - 1 ? data[0] % 32 : size - 1;
    const std::string password(reinterpret_cast<const char *>(data + 1), pwLength);
    const uint8_t *rest = data + 1 + pwLength;
    const size_t restSize = size - 1 - pwLength;

    // The reader over the input as container text.
    WJSSL_DATA *key = nullptr;
    if (WJYV30_Get_Private_Key(&key, rest, static_cast<unsigned>(restSize), password.c_str(),
                               static_cast<int>(password.size())) == 0) {
        if (!key || key->length == 0 || key->length > restSize) __builtin_trap();
    } else if (key) {
        __builtin_trap();
    }
    WJSSL_Free_Data(key);

    // The block decoder alone, into a buffer of exactly its stated size.
    std::vector<unsigned char> out(3 * (restSize / 4));
    int n = WJSSL_Decode_Base64(out.data(), reinterpret_cast<const char *>(rest), static_cast<int>(restSize));
    if (n > static_cast<int>(3 * (restSize / 4))) __builtin_trap();

    // The input's bytes as a key: the container made of them opens to them under the password.
    if (data[0] & 0x80 && restSize > 0) {
        std::string k(reinterpret_cast<const char *>(rest), restSize);
        std::string text = container(k, password);
        WJSSL_DATA *back = nullptr;
        if (text.empty() ||
            WJYV30_Get_Private_Key(&back, reinterpret_cast<const unsigned char *>(text.data()),
                                   static_cast<unsigned>(text.size()), password.c_str(),
                                   static_cast<int>(password.size())) != 0 ||
            back->length != k.size() || std::memcmp(back->value, k.data(), k.size()) != 0)
            __builtin_trap();
        WJSSL_Free_Data(back);
    }
    return 0;
}
