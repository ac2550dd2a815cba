// Published known answers through the provider's public functions and numbering: one runner
// per family (hash, block cipher, stream cipher), every block of every file.
#include <gtest/gtest.h>

#include "csp_test_util.hpp"
#include "ostrel/vectors.hpp"

using namespace csptest;
using ostrel::test::Block;
using ostrel::test::read_vectors;

namespace {

void expect_all_keys_used(const Block &b, const std::string &file) {
    for (const std::string &k : b.unused())
        ADD_FAILURE() << file << " line " << b.line << ": key " << k << " unchecked";
}

// msg (optionally repeated) -> md, by hash ID.
void run_hash_file(const std::string &file, int hash_id) {
    auto blocks = read_vectors(vectors(file));
    ASSERT_FALSE(blocks.empty());
    for (const Block &b : blocks) {
        Bytes one = from_hex(b.get("msg"));
        Bytes msg;
        long repeat = std::stol(b.get_or("repeat", "1"));
        for (long i = 0; i < repeat; ++i) msg.insert(msg.end(), one.begin(), one.end());
        Out md;
        BIN in = view(msg);
        ASSERT_EQ(QRT_CSP_Hash(&md, &in, hash_id), 0) << file << " line " << b.line;
        EXPECT_EQ(md.hex(), b.get("md")) << file << " line " << b.line;
        expect_all_keys_used(b, file);
    }
}

// Encrypts and decrypts one block of a cipher file, one shot.
void check_cipher(const std::string &file, const Block &b, int cipher_id, int mode, int padding, const Bytes &iv,
                  ZQ_CSP_SuiteParam suite) {
    Bytes key = from_hex(b.get("key")), pt = from_hex(b.get("plaintext")), ct = from_hex(b.get("ciphertext"));
    Param p(mode, padding, iv);
    p.p.suiteParam = suite;
    BIN k = view(key), in = view(pt), cin = view(ct);
    Out enc, dec;
    ASSERT_EQ(QRT_CSP_Encrypt(&enc, &in, &k, cipher_id, &p), 0) << file << " line " << b.line;
    EXPECT_EQ(enc.hex(), hexs(ct)) << file << " line " << b.line;
    ASSERT_EQ(QRT_CSP_Decrypt(&dec, &cin, &k, cipher_id, &p), 0) << file << " line " << b.line;
    EXPECT_EQ(dec.hex(), hexs(pt)) << file << " line " << b.line;
}

// Block-cipher files: mode = ecb | cbc | cbc-pad (default ecb), key, iv, plaintext, ciphertext,
// and the suite parameter from `param_key` (RC2 effective bits, RC5 rounds).
void run_block_file(const std::string &file, int cipher_id, const std::string &param_key = "") {
    auto blocks = read_vectors(vectors(file));
    ASSERT_FALSE(blocks.empty());
    int checked = 0;
    for (const Block &b : blocks) {
        if (b.has("type")) continue;  // the maintenance block has its own test
        std::string mode = b.get_or("mode", "ecb");
        if (b.has("w")) {
            EXPECT_EQ(b.get("w"), "32");
        }
        ZQ_CSP_SuiteParam suite{};
        if (!param_key.empty()) suite.rc2.effectiveBits = std::stoi(b.get(param_key));  // same word for rc5
        Bytes iv = mode == "ecb" ? Bytes{} : from_hex(b.get("iv"));
        int m = mode == "ecb" ? QRT_CSP_MODE_ECB : QRT_CSP_MODE_CBC;
        int pad = mode == "cbc-pad" ? QRT_CSP_PAD_PKCS5 : QRT_CSP_PAD_NONE;
        check_cipher(file, b, cipher_id, m, pad, iv, suite);
        expect_all_keys_used(b, file);
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

}  // namespace

TEST(CspVectors, Hashes) {
    run_hash_file("has160.txt", QRT_CSP_HASH_HAS160);
    run_hash_file("md2.txt", QRT_CSP_HASH_MD2);
    run_hash_file("ripemd160.txt", QRT_CSP_HASH_RIPEMD160);
}

TEST(CspVectors, BlockCiphers) {
    run_block_file("seed.txt", QRT_CSP_CIPHER_SEED);
    run_block_file("aria.txt", QRT_CSP_CIPHER_ARIA);
    run_block_file("blowfish.txt", QRT_CSP_CIPHER_BLOWFISH);
    run_block_file("cast5.txt", QRT_CSP_CIPHER_CAST128);
    run_block_file("rc2.txt", QRT_CSP_CIPHER_RC2, "effective_bits");
    run_block_file("rc5.txt", QRT_CSP_CIPHER_RC5, "rounds");
}

// The fixed-length ARIA numbers agree with ARIA chosen by key length.
TEST(CspVectors, AriaByFixedLengthIds) {
    for (const Block &b : read_vectors(vectors("aria.txt"))) {
        Bytes key = from_hex(b.get("key"));
        int id = key.size() == 16   ? QRT_CSP_CIPHER_ARIA128
                 : key.size() == 24 ? QRT_CSP_CIPHER_ARIA192
                                    : QRT_CSP_CIPHER_ARIA256;
        b.mark_used("mode");
        check_cipher("aria.txt", b, id, QRT_CSP_MODE_ECB, QRT_CSP_PAD_NONE, {}, {});
        expect_all_keys_used(b, "aria.txt");
    }
}

// RC4: keystream blocks (encrypting zeros from an offset) and plaintext/ciphertext pairs.
TEST(CspVectors, Rc4) {
    auto blocks = read_vectors(vectors("rc4.txt"));
    ASSERT_FALSE(blocks.empty());
    for (const Block &b : blocks) {
        Bytes key = from_hex(b.get("key"));
        size_t offset = std::stoul(b.get("offset"));
        BIN k = view(key);
        if (b.has("keystream")) {
            Bytes want = from_hex(b.get("keystream"));
            Bytes zeros(offset + want.size(), 0);
            BIN in = view(zeros);
            Out out;
            ASSERT_EQ(QRT_CSP_Encrypt(&out, &in, &k, QRT_CSP_CIPHER_RC4, nullptr), 0) << "line " << b.line;
            ASSERT_EQ(out.b.length, zeros.size());
            EXPECT_EQ(to_hex(out.b.value + offset, want.size()), hexs(want)) << "line " << b.line;
        } else {
            ASSERT_EQ(offset, 0u);
            check_cipher("rc4.txt", b, QRT_CSP_CIPHER_RC4, 0, 0, {}, {});
        }
        expect_all_keys_used(b, "rc4.txt");
    }
}

// RFC 2144 B.2: a million rounds of re-keying CAST-128 with the other half's output.
TEST(CspVectors, Cast5Maintenance) {
    int seen = 0;
    for (const Block &b : read_vectors(vectors("cast5.txt"))) {
        if (!b.has("type")) continue;
        ASSERT_EQ(b.get("type"), "maintenance");
        ASSERT_EQ(b.get("key_bits"), "128");
        Bytes a = from_hex(b.get("a")), bb = from_hex(b.get("b"));
        long n = std::stol(b.get("iterations"));
        ZQ_CSP_CTX *ctx = QRT_CSP_CreateCTX();
        ASSERT_NE(ctx, nullptr);
        Param p(QRT_CSP_MODE_ECB, QRT_CSP_PAD_NONE);
        // Encrypts both 8-byte halves of `data` in place under `key` with one streaming context.
        auto enc = [&](Bytes &data, const Bytes &key) {
            BIN k = view(key), in = view(data);
            Out out;
            QRT_CSP_ResetCTX(ctx);
            ASSERT_EQ(QRT_CSP_EncryptInit(ctx, &k, QRT_CSP_CIPHER_CAST128, &p), 0);
            ASSERT_EQ(QRT_CSP_EncryptUpdate(ctx, &out, &in), 0);
            ASSERT_EQ(out.b.length, 16u);
            std::copy(out.b.value, out.b.value + 16, data.begin());
        };
        for (long i = 0; i < n; ++i) {
            enc(a, bb);
            enc(bb, a);
            if (HasFatalFailure()) break;
        }
        QRT_CSP_DestroyCTX(ctx);
        EXPECT_EQ(hexs(a), b.get("a_out"));
        EXPECT_EQ(hexs(bb), b.get("b_out"));
        expect_all_keys_used(b, "cast5.txt");
        ++seen;
    }
    EXPECT_EQ(seen, 1);
}
