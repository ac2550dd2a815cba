// Known-answer and pairwise self-tests of the public-key algorithms, run with the others on the
// way to the operating state: RSA v1.5 and KCDSA and EC-KCDSA signatures with a fixed k against
// published answers, DSA and ECDSA sign-and-verify, and DH agreement from both sides.
#include <cstring>
#include <new>
#include <vector>

#include "crypto_pkey.hpp"
#include "ostrel/owners.hpp"

using namespace ostrel;
using namespace ostrel::crypto;

namespace {

// RSA-1024 key (PKCS#1 DER) and its v1.5 SHA-256 signature of "abc" (made by OpenSSL).
constexpr const char *kRsaKey =
    "3082025d02010002818100d8598de31c4c15ae00c833523c51baed8af9a5a9a520243a15cecfa366b8aecb23c8666c69"
    "bbb38931bcfc7147380b78987354eb3567b2f6c1c7ba64ad67d61bf90226a83406159887cc1f4918bd919315eabaed0a"
    "3e35969422aeadd2fda5cd797e62409ed45db87ca9d467154d2f96099d861fbdc7c35d43e58b505b8cf8470203010001"
    "0281806c6e45cc838c267974eee1b9df7d5ee05afccfe87c57e5902f09ddcb195a8a504978d0cc991977dbd4cfd0fdbd"
    "21fbadcf4a4e4f2c0ef304f50df2ff2e61924eba8184911cf555248ce5a0126047f1a82e911d46cc5cf6ffae752afd4b"
    "0532d4f3b1b7e038d1b40c353de0e3b63853e801e848bcdb4e3b075b330eea5c6ef891024100f7c34538ca5b4fcf05a4"
    "1636e9aaa5dcf40f3e60a468111a4373500977f0dbb6c2cc3939c09e0dccf4ccd05beec4c269f95b15382f504a7662e2"
    "3fd51112529d024100df8aecf322595735207f32053a43764174828712290ba9262e42a5fff337149cffd0438ad4686f"
    "a460a4be129bc4e810816ce5be13a822944edf850d5ec39f33024100eeb277272e75685f57dcecf5fc8ac67f27b6e3ee"
    "b195fd1c236d9de77161601c24722293cc49b99c0320ab805679c39fdb776feb1052375af50b6a59f8b7815502405a48"
    "bcdc91e1ed73da9524b9b1c76f6a8e48ed8eab1f3788e1242ff148e4d52177bc409b40a0917e9d3dcc3aadc900453250"
    "ae156fd0f76e58d0b3e72b7fecbb0241008be16b0e76d8c78e2cb627aedd175ea469e6dbae7e271448263ef1f2bf4fc7"
    "893c1d3c8746578458a9d2274ba947e89de17c0fd241e78a249ae98c58b62b08ed";
constexpr const char *kRsaSig =
    "2ef8c4827331f7545a0f4dcebec330e068f074b3d21dd64e8907c51498274f23382159cb99a537faffe42c5b204d4023"
    "25ba3340808a1c6caa2ae8161aa72e792ddf73529fd6c88b50c078e4b059026f98e4fab8192aa48871c813356f2d26bb"
    "9af1a19e6f9567e163ec1337e7b2a88ed2249fcd5d67424bbb238e0c7c0f5403";
// KCDSA (1024, 160) with HAS-160: TTAK.KO-12.0001/R4 Appendix II.5.
constexpr const char *kKcdsa_p =
    "d7b9afc104f4d53f737db88d6bf77e12cd7ec3d71cbe3cb74cd224bff348154afba6bfed797044dfc655dcc20c952c0e"
    "c43a97e1ad67e687d10729caf622845d162afca8f0248cc412b3596c4c5d3384f7e25ee644ba87bb09b164fb465477b8"
    "7fdba5eaa400ffa0925714ae19464ffacead3a9750d121948ab2d8d65c82379f";
constexpr const char *kKcdsa_q = "c3ddd3717bf05b8f8dd725c162f0b9432c6f77fb";
constexpr const char *kKcdsa_g =
    "50e414c7a56892d1ad633e42d5cd8346f2c09808111c772cc30b0c544102c27e7b5f9bec57b9df2a153128919d795e46"
    "652b2a072e1f2517f2a3afff5815253aaefe35724cfa1af6afce3a6b41e3d0e13bed0eff54383c4665e69b47ba79bbc3"
    "339f86b9be2b58894a18b201afc41fe3a0d93d3125efda79bc50dbbb2c3ab639";
constexpr const char *kKcdsa_x = "068c4ef355d8b6f53eff1df6f243f98563896c58";
constexpr const char *kKcdsa_y =
    "96dce0e7b2f170093d9b51d2ba78202733b62c406d3769758b3e0cbba1ff6c78727a35703cb6bc2476c3c293743dfee9"
    "4aa4b9efa9a17fa6bf790ac25a82c61523f50abaac7b64647eb15c957b07f5ed7d467243089f74695cd58fbf57920cc0"
    "c05d45829c0a8161b943f18451845760ed096540e78aa9750b03d02448cbf8de";
constexpr const char *kKcdsa_k = "4b037e4b573bb7e334cad0a70bed6b5881df9e8e";
constexpr const char *kKcdsa_msg = "5468697320697320612074657374206d65737361676520666f72204b4344534120757361676521";
constexpr const char *kKcdsa_r = "8f996a98eda57cc8d88aa6ffdfaea22f39d7fa8a";
constexpr const char *kKcdsa_s = "541f7dc4f92c65eb7f63b6b4f22177f1ee2cf339";
// EC-KCDSA secp224r1 with SHA-224: TTAK.KO-12.0015/R3 Appendix II.1.
constexpr const char *kEckcdsa_x = "562a6f64e162ffcb51cd4707774ae36681b6cef205fe5d43912956a2";
constexpr const char *kEckcdsa_qx = "b574169e4fcef1af3429d8bb5481ff7dfa978690492e1098b80a5579";
constexpr const char *kEckcdsa_qy = "1576819bd9f0b68519ee844afe88ccfb2ad574a56472d9541461ae7e";
constexpr const char *kEckcdsa_k = "76a0afc18646d1b620a079fb223865a7bcb447f3c03a35d878ea4cda";
constexpr const char *kEckcdsa_msg =
    "5468697320697320612073616d706c65206d65737361676520666f722045432d4b4344534120696d706c656d656e7461"
    "74696f6e2076616c69646174696f6e2e";
constexpr const char *kEckcdsa_r = "eea58c91e0cdceb5799b00d2412d928fdd23122a1c2bdf43c2f8dafa";
constexpr const char *kEckcdsa_s = "aebab53c7a44a8b22f35fdb9de265f23b89f65a69a8b7bd4061911a6";

// A test that runs out of memory has not failed: the shortage leaves as std::bad_alloc, so the
// module does not enter the error state for it. failed() and made() turn the core's
// WJ_ERR_MEMORY and a NULL from a _New function into that.
bool failed(int rc) {
    if (rc == WJ_ERR_MEMORY) throw std::bad_alloc();
    return rc != 0;
}

template <class T>
T *made(T *p) {
    if (!p) throw std::bad_alloc();
    return p;
}

SecBytes unhex(const char *h) {
    SecBytes out;
    auto nib = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    for (size_t i = 0; h[i] && h[i + 1]; i += 2) out.push_back(static_cast<uint8_t>(nib(h[i]) << 4 | nib(h[i + 1])));
    return out;
}

// The bytes are read before the record is made, so a throw cannot leave the record behind.
struct Big {
    WJ_BigInt *v;
    explicit Big(const char *hex = "") {
        SecBytes b = unhex(hex);
        v = made(WJ_BigInt_New(1));
        if (!b.empty() && WJ_BigInt_BytesToInt(v, b.data(), static_cast<unsigned>(b.size())) != 0) {
            WJ_BigInt_Free(v);
            throw std::bad_alloc();  // the only way a conversion of valid bytes fails
        }
    }
    ~Big() { WJ_BigInt_Free(v); }
};

template <class T, void (*Free)(T *)>
struct Own {
    T *v;
    explicit Own(T *p) : v(made(p)) {}
    ~Own() { Free(v); }
};

// 0 passed, 1 failed.
int rsa_kat(bool corrupt) {
    Own<WJ_RSA_PrivateKey, WJ_RSA_PrivateKey_Free> priv(WJ_RSA_PrivateKey_New());
    Own<WJ_RSA_PublicKey, WJ_RSA_PublicKey_Free> pub(WJ_RSA_PublicKey_New());
    SecBytes der = unhex(kRsaKey), want = unhex(kRsaSig);
    if (failed(pkcs1_private_decode(priv.v, der.data(), static_cast<unsigned>(der.size())))) return 1;
    if (failed(WJ_BigInt_Copy(pub.v->n, priv.v->n)) || failed(WJ_BigInt_Copy(pub.v->e, priv.v->e))) return 1;
    if (corrupt) want[0] ^= 1;
    uint8_t dg[32], sig[128];
    unsigned dn = 0, sn = sizeof sig;
    const uint8_t abc[] = {'a', 'b', 'c'};
    Hasher h;
    if (failed(h.init(WJ_HASH_SHA256)) || failed(h.update(abc, 3)) || failed(h.final(dg))) return 1;
    dn = 32;
    if (failed(rsa_v15_sign(sig, &sn, WJ_HASH_SHA256, dg, dn, priv.v)) || sn != want.size() ||
        !ct_equal(sig, want.data(), sn))
        return 1;
    return failed(rsa_v15_verify(sig, sn, WJ_HASH_SHA256, dg, dn, pub.v)) ? 1 : 0;
}

// Fixes k for one signature of this thread, keeping a caller's pending hook aside.
struct FixedK {
    SecBytes saved;
    explicit FixedK(const char *k) {
        saved = unhex(k);
        exchange_fixed_k(saved);
    }
    ~FixedK() { exchange_fixed_k(saved); }
};

WJ_DL_Parameters *kcdsa_params() {
    WJ_DL_Parameters *p = made(dl_new());
    try {
        for (auto [dst, hex] : {std::pair{p->p, kKcdsa_p}, std::pair{p->q, kKcdsa_q}, std::pair{p->g, kKcdsa_g}}) {
            SecBytes b = unhex(hex);
            if (failed(WJ_BigInt_BytesToInt(dst, b.data(), static_cast<unsigned>(b.size())))) throw std::bad_alloc();
        }
    } catch (...) {
        dl_free(p);
        throw;
    }
    return p;
}

int kcdsa_kat(bool corrupt) {
    Own<WJ_DL_Parameters, dl_free> prm(kcdsa_params());
    Own<WJ_KCDSA_Signature, WJ_KCDSA_Signature_Free> sig(WJ_KCDSA_Signature_New());
    Big x(kKcdsa_x), y(kKcdsa_y), s(kKcdsa_s);
    SecBytes msg = unhex(kKcdsa_msg), r = unhex(kKcdsa_r);
    if (corrupt) r[0] ^= 1;
    uint8_t h[WJ_HASH_MAX_LENGTH];
    unsigned hn = sizeof h;
    if (failed(kcdsa_hash(h, &hn, msg.data(), static_cast<unsigned>(msg.size()), WJ_HASH_HAS160, y.v))) return 1;
    {
        FixedK k(kKcdsa_k);
        if (failed(kcdsa_sign(sig.v, h, hn, WJ_HASH_HAS160, x.v, prm.v))) return 1;
    }
    if (sig.v->rLength != r.size() || !ct_equal(sig.v->r, r.data(), r.size()) || WJ_BigInt_Cmp(sig.v->s, s.v)) return 1;
    return failed(kcdsa_verify(sig.v, h, hn, WJ_HASH_HAS160, y.v, prm.v)) ? 1 : 0;
}

int eckcdsa_kat(bool corrupt) {
    Own<WJ_EC_Parameters, WJ_ECDSA_Parameters_Free> prm(WJ_ECDSA_Parameters_New());
    if (failed(WJ_ECDSA_Parameters_SetCurve(prm.v, WJ_EC_CURVE_P224))) return 1;
    Own<WJ_EC_POINT, WJ_EC_Point_Free> q(WJ_EC_Point_New(prm.v));
    Own<WJ_ECKCDSA_Signature, WJ_KCDSA_Signature_Free> sig(WJ_KCDSA_Signature_New());
    Big x(kEckcdsa_x), s(kEckcdsa_s);
    SecBytes oct = unhex(kEckcdsa_qx), qy = unhex(kEckcdsa_qy), msg = unhex(kEckcdsa_msg), r = unhex(kEckcdsa_r);
    oct.insert(oct.begin(), 4);
    oct.insert(oct.end(), qy.begin(), qy.end());
    if (failed(ec_point_decode(q.v, oct.data(), static_cast<unsigned>(oct.size()), prm.v))) return 1;
    if (corrupt) r[0] ^= 1;
    uint8_t h[WJ_HASH_MAX_LENGTH];
    unsigned hn = sizeof h;
    if (failed(eckcdsa_hash(h, &hn, msg.data(), static_cast<unsigned>(msg.size()), WJ_HASH_SHA224, prm.v, q.v)))
        return 1;
    {
        FixedK k(kEckcdsa_k);
        if (failed(eckcdsa_sign(sig.v, h, hn, WJ_HASH_SHA224, x.v, prm.v))) return 1;
    }
    if (sig.v->rLength != r.size() || !ct_equal(sig.v->r, r.data(), r.size()) || WJ_BigInt_Cmp(sig.v->s, s.v)) return 1;
    return failed(eckcdsa_verify(sig.v, h, hn, WJ_HASH_SHA224, q.v, prm.v)) ? 1 : 0;
}

// DSA over the KCDSA example's group (q | p - 1, g of order q) with x and y = g^x.
int dsa_pairwise(bool corrupt) {
    Own<WJ_DL_Parameters, dl_free> prm(kcdsa_params());
    Own<WJ_DSA_Signature, WJ_DSA_Signature_Free> sig(WJ_DSA_Signature_New());
    Big x(kKcdsa_x), y;
    if (failed(WJ_BigInt_ModExp(y.v, prm.v->g, x.v, prm.v->p))) return 1;
    uint8_t dg[20] = {1, 2, 3, 4, 5};
    if (failed(dsa_sign(sig.v, dg, sizeof dg, x.v, prm.v))) return 1;
    if (corrupt) dg[0] ^= 1;
    return failed(dsa_verify(sig.v, dg, sizeof dg, y.v, prm.v)) ? 1 : 0;
}

int ecdsa_pairwise(bool corrupt) {
    Own<WJ_EC_Parameters, WJ_ECDSA_Parameters_Free> prm(WJ_ECDSA_Parameters_New());
    if (failed(WJ_ECDSA_Parameters_SetCurve(prm.v, WJ_EC_CURVE_P256))) return 1;
    Own<WJ_EC_POINT, WJ_EC_Point_Free> q(WJ_EC_Point_New(prm.v));
    Own<WJ_ECDSA_Signature, WJ_DSA_Signature_Free> sig(WJ_DSA_Signature_New());
    Big d(kEckcdsa_x);
    if (failed(WJ_EC_MulPre(q.v, d.v, prm.v))) return 1;
    uint8_t dg[32] = {9, 8, 7};
    if (failed(ecdsa_sign(sig.v, dg, sizeof dg, d.v, prm.v))) return 1;
    if (corrupt) dg[0] ^= 1;
    return failed(ecdsa_verify(sig.v, dg, sizeof dg, q.v, prm.v)) ? 1 : 0;
}

// DH over the same group: (g^a)^b = (g^b)^a.
int dh_agreement(bool corrupt) {
    Own<WJ_DL_Parameters, dl_free> prm(kcdsa_params());
    Big a(kKcdsa_x), b(kKcdsa_k), ya, yb, s1, s2;
    if (failed(WJ_BigInt_ModExp(ya.v, prm.v->g, a.v, prm.v->p)) ||
        failed(WJ_BigInt_ModExp(yb.v, prm.v->g, b.v, prm.v->p)))
        return 1;
    if (failed(dh_shared_secret(s1.v, prm.v, a.v, yb.v)) || failed(dh_shared_secret(s2.v, prm.v, b.v, ya.v))) return 1;
    if (corrupt) s2.v->Data[0] ^= 1;
    return WJ_BigInt_Cmp(s1.v, s2.v) == 0 && WJ_BigInt_Cmp(s1.v, ya.v) != 0 ? 0 : 1;
}

// In the order of the module's table (WJ_SELFTEST_PK_...).
int (*const kPkKats[])(bool corrupt) = {rsa_kat, kcdsa_kat, eckcdsa_kat, dsa_pairwise, ecdsa_pairwise, dh_agreement};

}  // namespace

namespace ostrel::crypto {

// A shortage of memory propagates (std::bad_alloc): it is no failed test.
int pk_selftest(int i, bool corrupt) {
    if (i < 0 || i >= static_cast<int>(sizeof kPkKats / sizeof kPkKats[0])) return 1;
    int rc;
    try {
        rc = kPkKats[i](corrupt);
    } catch (const std::bad_alloc &) {
        throw;
    } catch (...) {
        rc = 1;
    }
    ERR_clear_error();
    return rc == 0 ? 0 : 1;
}

}  // namespace ostrel::crypto
