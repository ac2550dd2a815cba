// Signed data: round trips with every signer algorithm (RSA v1.5 and PSS, ECDSA, DSA, KCDSA,
// EC-KCDSA), two-phase signing around an external signer, the failures a verifier must report
// (flipped signature, tampered content, a content type the attributes do not name, a detached
// signature without its data), the limits on what is read, certificate look-ups, and exchanges
// with openssl in both directions.
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/dsa.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "asn_test_util.hpp"
#include "ostrel/asn_tree.hpp"
#include "ostrel/der_build.hpp"
#include "ostrel/openssl_certs.hpp"
#include "ostrel/test_support.hpp"
#include "ostrel/tlv.hpp"
#include "suite_csp.h"
#include "suite_pkcs7.h"

namespace {

using ostrel::test::i2d_bytes;
using ostrel::test::make_cert;
using ostrel::test::provider_priv;

using asn_test::Bytes;
using asn_test::view;
using ostrel::test::from_hex;
using ostrel::test::run;
using ostrel::test::TempDir;
using ostrel::test::trace_text;
using ostrel::test::write_file;
namespace der = ostrel::test::der;

using Out = ostrel::test::OutBin;

struct Signed {
    ZQ_PKCS7_SIGNED *sd = QRT_PKCS7_Signed_New();
    ~Signed() { QRT_PKCS7_Signed_Free(sd); }
};

struct Content {
    ZQ_PKCS7_CONTENT c{};
    ~Content() { QRT_PKCS7_Content_Reset(&c); }
};

Bytes data_info(const std::string &text) {
    Bytes d(text.begin(), text.end());
    BIN in = view(d);
    Out o;
    EXPECT_EQ(QRT_PKCS7_EncodeData(o.get(), &in), 0);
    return o.bytes();
}

Bytes payload(const Bytes &contentInfo) {
    BIN in = view(contentInfo);
    Out o;
    EXPECT_EQ(QRT_PKCS7_DecodeData(o.get(), &in), 0) << trace_text();
    return o.bytes();
}

// ---- keys and certificates made with openssl's library ----

using PkeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

EVP_PKEY *dsa_key() {
    EVP_PKEY_CTX *pc = EVP_PKEY_CTX_new_from_name(nullptr, "DSA", nullptr);
    EVP_PKEY *params = nullptr, *key = nullptr;
    EXPECT_EQ(EVP_PKEY_paramgen_init(pc), 1);
    EXPECT_EQ(EVP_PKEY_CTX_set_dsa_paramgen_bits(pc, 1024), 1);
    EXPECT_EQ(EVP_PKEY_CTX_set_dsa_paramgen_q_bits(pc, 160), 1);
    EXPECT_EQ(EVP_PKEY_paramgen(pc, &params), 1);
    EVP_PKEY_CTX *kc = EVP_PKEY_CTX_new_from_pkey(nullptr, params, nullptr);
    EXPECT_EQ(EVP_PKEY_keygen_init(kc), 1);
    EXPECT_EQ(EVP_PKEY_keygen(kc, &key), 1);
    EVP_PKEY_CTX_free(kc);
    EVP_PKEY_free(params);
    EVP_PKEY_CTX_free(pc);
    return key;
}

struct Party {
    EVP_PKEY *key = nullptr;
    X509 *x509 = nullptr;
    Bytes cert, priv;
    std::string pem, keyPem;  // file names
};

// Keys and certificates made by the provider, around which a certificate is built by hand
// (openssl knows neither KCDSA nor EC-KCDSA).
struct ProviderParty {
    Bytes cert, priv;
};

ProviderParty provider_party(int pkeyID, const Bytes &keyOid, int signID) {
    ProviderParty p;
    Out param, priv, pub;
    ZQ_CSP_GenParamParam gp{};
    if (pkeyID == QRT_CSP_PKEY_KCDSA)
        gp.kcdsa.primeLength = 1024;
    else
        gp.eckcdsa.ncid = 3;  // P-256
    EXPECT_EQ(QRT_CSP_GenerateParam(param.get(), pkeyID, &gp), 0) << trace_text();
    ZQ_CSP_GenKeyPairParam kp{};
    kp.kcdsa.pkeyParam = param.get();
    EXPECT_EQ(QRT_CSP_GenerateKeyPair(priv.get(), pub.get(), pkeyID, &kp), 0) << trace_text();
    // OstrelPrivateKey ::= SEQUENCE { algorithm INTEGER, parameters, public, private INTEGER }
    using namespace ostrel;
    Reader r(priv.b.value, priv.b.length), body, c, params, pubEl, privEl, alg;
    uint8_t tag = 0;
    EXPECT_EQ(tlv::read_tlv(r, tlv::kSequence, body), tlv::kOk);
    EXPECT_EQ(tlv::read_any(body, tag, alg), tlv::kOk);
    EXPECT_EQ(tlv::read_any(body, tag, c, &params), tlv::kOk);
    Reader pubContent;
    uint8_t pubTag = 0;
    EXPECT_EQ(tlv::read_any(body, pubTag, pubContent, &pubEl), tlv::kOk);
    EXPECT_EQ(tlv::read_any(body, tag, c, &privEl), tlv::kOk);
    Bytes paramDer(params.data(), params.data() + params.remaining());
    // KCDSA: the public INTEGER y; EC: the point octets
    Bytes pubKey = pubTag == tlv::kInteger ? Bytes(pubEl.data(), pubEl.data() + pubEl.remaining())
                                           : Bytes(pubContent.data(), pubContent.data() + pubContent.remaining());
    p.priv.assign(privEl.data(), privEl.data() + privEl.remaining());

    ZQ_CSP_SigAlg sa{signID, QRT_CSP_HASH_SHA1, pkeyID, 0, 0};
    Out algid;
    EXPECT_EQ(QRT_CSP_SigAlg_Encode(algid.get(), &sa), 0);
    Bytes bits = {0x00};
    bits.insert(bits.end(), pubKey.begin(), pubKey.end());
    Bytes spki = der::seq({der::seq({der::tlv(0x06, keyOid), paramDer}), der::tlv(0x03, bits)});
    Bytes name = der::cn_name(pkeyID == QRT_CSP_PKEY_KCDSA ? "KCDSA signer" : "EC-KCDSA signer");
    Bytes tbs = der::seq({der::tlv(0xA0, der::integer({0x02})), der::integer({0x2a}), algid.bytes(), name,
                          der::seq({der::utc("250101000000Z"), der::utc("491231235959Z")}), name, spki});
    BIN t = view(tbs), k = view(p.priv), pk = view(pubKey), pa = view(paramDer);
    Out sig;
    EXPECT_EQ(QRT_CSP_SignData(sig.get(), &t, &sa, &k, &pa, &pk), 0) << trace_text();
    Bytes sbits = {0x00};
    sbits.insert(sbits.end(), sig.b.value, sig.b.value + sig.b.length);
    p.cert = der::seq({tbs, algid.bytes(), der::tlv(0x03, sbits)});
    return p;
}

// One CA (RSA) and its signers, the files openssl reads, a CRL; made once.
struct World {
    TempDir dir;
    Party ca, rsa, ec, dsa;
    ProviderParty kcdsa, eckcdsa;
    Bytes crl;

    World() {
        QRT_Trace_Initialize();
        make(ca, EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", size_t{2048}), "Test CA", nullptr, 1, true);
        make(rsa, EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", size_t{2048}), "RSA signer", &ca, 2, false);
        make(ec, EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"), "ECDSA signer", &ca, 3, false);
        make(dsa, dsa_key(), "DSA signer", &ca, 4, false);
        kcdsa = provider_party(QRT_CSP_PKEY_KCDSA, from_hex("2a831a8c9a440115"), QRT_CSP_SIGN_KCDSA_SHA1);
        eckcdsa = provider_party(QRT_CSP_PKEY_ECKCDSA, from_hex("2a8648ce3d0201"), QRT_CSP_SIGN_ECKCDSA_SHA1);
        // a CRL of the CA
        X509_CRL *c = X509_CRL_new();
        X509_CRL_set_version(c, 1);
        X509_CRL_set_issuer_name(c, X509_get_subject_name(ca.x509));
        ASN1_TIME *t = ASN1_TIME_adj(nullptr, time(nullptr), 0, 0);
        X509_CRL_set1_lastUpdate(c, t);
        ASN1_TIME_free(t);
        X509_CRL_sign(c, ca.key, EVP_sha256());
        crl = i2d_bytes([&](unsigned char **p) { return i2d_X509_CRL(c, p); });
        FILE *f = fopen((dir / "crl.pem").c_str(), "w");
        PEM_write_X509_CRL(f, c);
        fclose(f);
        X509_CRL_free(c);
    }
    ~World() {
        for (Party *p : {&ca, &rsa, &ec, &dsa}) {
            X509_free(p->x509);
            EVP_PKEY_free(p->key);
        }
    }

    void make(Party &p, EVP_PKEY *key, const char *cn, Party *issuer, long serial, bool isCa) {
        p.key = key;
        p.x509 = make_cert(key, cn, issuer ? issuer->x509 : nullptr, issuer ? issuer->key : nullptr, serial, isCa);
        p.cert = i2d_bytes([&](unsigned char **o) { return i2d_X509(p.x509, o); });
        p.priv = provider_priv(key);
        std::string base = dir / std::to_string(serial);
        p.pem = base + ".pem";
        p.keyPem = base + ".key";
        FILE *f = fopen(p.pem.c_str(), "w");
        PEM_write_X509(f, p.x509);
        fclose(f);
        f = fopen(p.keyPem.c_str(), "w");
        PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr);
        fclose(f);
    }
};

World &world() {
    static World *w = new World();
    return *w;
}

Bytes encode_signed(int algID, const Bytes &content, const Bytes &cert, const Bytes &priv, const Bytes *extra = nullptr,
                    int expect = 0) {
    BIN c = view(content), sc = view(cert), k = view(priv), x = extra ? view(*extra) : BIN{0, nullptr};
    Out o;
    EXPECT_EQ(QRT_PKCS7_EncodeSigned(o.get(), algID, &c, &sc, &k, extra ? &x : nullptr, nullptr), expect)
        << trace_text();
    return o.bytes();
}

// The first signer's digestEncryptionAlgorithm as written.
Bytes written_sig_alg(const Bytes &signedDer) {
    Content ci;
    BIN in = view(signedDer);
    EXPECT_EQ(QRT_PKCS7_Content_Decode(&ci.c, &in), 0);
    Signed s;
    EXPECT_EQ(QRT_PKCS7_Signed_Decode(s.sd, &ci.c, 0), 0) << trace_text();
    const ZQ_PKCS7_SIGNER_INFO *si = s.sd->signerInfos.first;
    if (!si || !si->sigAlg) return {};
    return Bytes(si->sigAlg->value, si->sigAlg->value + si->sigAlg->length);
}

Bytes sig_alg_der(int signID, int hashID, int pkeyID) {
    ZQ_CSP_SigAlg a{signID, hashID, pkeyID, 0, 0};
    Out o;
    EXPECT_EQ(QRT_CSP_SigAlg_Encode(o.get(), &a), 0);
    return o.bytes();
}

int openssl_verify(const Bytes &signedDer, const std::string &expected) {
    World &w = world();
    static int n = 0;
    std::string in = w.dir / ("ours" + std::to_string(++n) + ".der"), out = in + ".out";
    write_file(in, std::string(signedDer.begin(), signedDer.end()));
    int rc = run("openssl cms -verify -binary -inform DER -in " + in + " -CAfile " + w.ca.pem + " -out " + out +
                 " 2>/dev/null");
    if (rc == 0 && ostrel::test::read_file(out) != expected) return -2;
    return rc;
}

}  // namespace

// Every signer algorithm signs, writes its identifier and verifies; a flipped signature byte is
// 37350 and a different content 37351, for each of them. The ones openssl knows it verifies.
TEST(Pkcs7Signed, RoundTripEveryAlgorithm) {
    World &w = world();
    const Bytes rsaNull = from_hex("300d06092a864886f70d0101010500");
    const Bytes pssSha1 = from_hex("300d06092a864886f70d01010a3000");
    struct Case {
        const char *name;
        const Bytes &cert, &priv;
        int algID;
        Bytes sigAlg;  // the identifier the signer must write (empty: not checked)
        bool openssl;
    } cases[] = {
        {"RSA sha1", w.rsa.cert, w.rsa.priv, 3, rsaNull, true},
        {"RSA sha256", w.rsa.cert, w.rsa.priv, 6, rsaNull, true},
        {"RSA-PSS sha1", w.rsa.cert, w.rsa.priv, 2003, pssSha1, true},
        {"RSA-PSS sha256", w.rsa.cert, w.rsa.priv, 2006, {}, true},
        {"ECDSA sha256", w.ec.cert, w.ec.priv, 6, sig_alg_der(QRT_CSP_SIGN_ECDSA, 6, QRT_CSP_PKEY_ECDSA), true},
        {"DSA sha1", w.dsa.cert, w.dsa.priv, 3, sig_alg_der(QRT_CSP_SIGN_DSA_SHA1, 3, QRT_CSP_PKEY_DSA), true},
        {"KCDSA sha1 (1003)", w.kcdsa.cert, w.kcdsa.priv, 1003, sig_alg_der(21, 3, QRT_CSP_PKEY_KCDSA), false},
        {"KCDSA has160", w.kcdsa.cert, w.kcdsa.priv, 5, sig_alg_der(22, 4, QRT_CSP_PKEY_KCDSA), false},
        {"KCDSA sha256", w.kcdsa.cert, w.kcdsa.priv, 6, sig_alg_der(27, 6, QRT_CSP_PKEY_KCDSA), false},
        {"EC-KCDSA sha1", w.eckcdsa.cert, w.eckcdsa.priv, 12003, sig_alg_der(23, 3, QRT_CSP_PKEY_ECKCDSA), false},
    };
    const std::string text = "signed content of the round trip";
    Bytes content = data_info(text);
    Content other;
    Bytes otherDer = data_info("another content");
    BIN od = view(otherDer);
    ASSERT_EQ(QRT_PKCS7_Content_Decode(&other.c, &od), 0);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Bytes sd = encode_signed(c.algID, content, c.cert, c.priv);
        ASSERT_FALSE(sd.empty());
        if (!c.sigAlg.empty()) {
            EXPECT_EQ(written_sig_alg(sd), c.sigAlg);
        }

        int digest = -1;
        Out got, signer, issuer, crl;
        BIN in = view(sd);
        ASSERT_EQ(QRT_PKCS7_DecodeSigned(&digest, got.get(), signer.get(), issuer.get(), crl.get(), &in), 0)
            << trace_text();
        EXPECT_EQ(digest, c.algID % 1000);
        EXPECT_EQ(payload(got.bytes()), Bytes(text.begin(), text.end()));
        EXPECT_EQ(signer.bytes(), c.cert);

        Content ci;
        ASSERT_EQ(QRT_PKCS7_Content_Decode(&ci.c, &in), 0);
        Signed s;
        ASSERT_EQ(QRT_PKCS7_Signed_Decode(s.sd, &ci.c, 1), 0) << trace_text();
        EXPECT_EQ(QRT_PKCS7_Signed_Verify(s.sd, &other.c, nullptr, nullptr), QRT_PKCS7_INVALID_DIGEST);
        BIN *sig = s.sd->signerInfos.first->signature;
        sig->value[sig->length / 2] ^= 0x01;
        EXPECT_EQ(QRT_PKCS7_Signed_Verify(s.sd, nullptr, nullptr, nullptr), QRT_PKCS7_INVALID_SIGNATURE);
        ostrel::test::trace_records();

        if (c.openssl) {
            EXPECT_EQ(openssl_verify(sd, text), 0);
        }
    }
}

// The identifiers an algID selects, and the one that does not exist.
TEST(Pkcs7Signed, AlgorithmSelection) {
    World &w = world();
    Bytes content = data_info("x");
    // 3005: DSA with HAS-160 is no algorithm of the table
    encode_signed(3005, content, w.dsa.cert, w.dsa.priv, nullptr, QRT_PKCS7_UNKNOWN_DIGESTID);
    // the thousands part is ignored for a key it does not fit: 2006 on ECDSA is ECDSA
    EXPECT_EQ(written_sig_alg(encode_signed(2006, content, w.ec.cert, w.ec.priv)),
              sig_alg_der(QRT_CSP_SIGN_ECDSA, 6, QRT_CSP_PKEY_ECDSA));
    // a key that cannot sign what the certificate names
    encode_signed(6, content, w.rsa.cert, w.ec.priv, nullptr, QRT_PKCS7_BAD_PRIVKEY);
    auto rec = ostrel::test::trace_records();
    ASSERT_FALSE(rec.empty());
    EXPECT_EQ(ostrel::test::trace_field(rec.back(), 2), "QRT_PKCS7_EncodeSigned");
    EXPECT_EQ(ostrel::test::trace_field(rec.back(), 3), std::to_string(QRT_PKCS7_BAD_PRIVKEY));
}

// Init gives the attributes in SET form; a signature made outside over exactly those bytes
// finishes a message that we and openssl verify. Attributes of another content are refused.
TEST(Pkcs7Signed, TwoPhaseSigning) {
    World &w = world();
    const std::string text = "two-phase content";
    Bytes content = data_info(text);
    BIN c = view(content);
    Out attrs;
    ASSERT_EQ(QRT_PKCS7_EncodeSigned_Init(attrs.get(), 6, &c), 0) << trace_text();
    ASSERT_GT(attrs.b.length, 2u);
    EXPECT_EQ(attrs.b.value[0], 0x31);

    ZQ_CSP_SigAlg alg{};
    ASSERT_EQ(QRT_CSP_SigAlg_ForKey(&alg, QRT_CSP_PKEY_RSA, QRT_CSP_HASH_SHA256), 0);
    BIN k = view(w.rsa.priv);
    Out sig;
    ASSERT_EQ(QRT_CSP_SignData(sig.get(), &attrs.b, &alg, &k, nullptr, nullptr), 0);

    BIN cert = view(w.rsa.cert), ca = view(w.ca.cert);
    Out sd;
    ASSERT_EQ(QRT_PKCS7_EncodeSigned_Final(sd.get(), 6, &c, &attrs.b, &sig.b, &cert, &ca, nullptr), 0) << trace_text();
    Out got, signer, issuer;
    int digest = 0;
    ASSERT_EQ(QRT_PKCS7_DecodeSigned(&digest, got.get(), signer.get(), issuer.get(), nullptr, &sd.b), 0)
        << trace_text();
    EXPECT_EQ(issuer.bytes(), w.ca.cert);
    EXPECT_EQ(openssl_verify(sd.bytes(), text), 0);

    Bytes other = data_info("not the content the attributes name");
    BIN o = view(other);
    Out bad;
    EXPECT_EQ(QRT_PKCS7_EncodeSigned_Final(bad.get(), 6, &o, &attrs.b, &sig.b, &cert, nullptr, nullptr),
              QRT_PKCS7_INVALID_DIGEST);
    EXPECT_EQ(bad.b.length, 0u);
    ostrel::test::trace_records();
}

// A signed data that carries another signed data: its attributes name signedData, so checking
// the same octets as data is a type mismatch.
TEST(Pkcs7Signed, ContentTypeMismatch) {
    World &w = world();
    Bytes inner = encode_signed(6, data_info("inner"), w.rsa.cert, w.rsa.priv);
    Bytes outer = encode_signed(6, inner, w.rsa.cert, w.rsa.priv);
    BIN in = view(outer);
    Out got;
    ASSERT_EQ(QRT_PKCS7_DecodeSigned(nullptr, got.get(), nullptr, nullptr, nullptr, &in), 0) << trace_text();
    EXPECT_EQ(got.bytes(), inner);

    Content ci;
    ASSERT_EQ(QRT_PKCS7_Content_Decode(&ci.c, &in), 0);
    Signed s;
    ASSERT_EQ(QRT_PKCS7_Signed_Decode(s.sd, &ci.c, 1), 0) << trace_text();
    ASSERT_EQ(s.sd->content.typeID, QRT_PKCS7_SIGNED);
    ZQ_PKCS7_CONTENT asData{QRT_PKCS7_DATA, s.sd->content.value};
    EXPECT_EQ(QRT_PKCS7_Signed_Verify(s.sd, &asData, nullptr, nullptr), QRT_PKCS7_MISMATCH_TYPEID);
    ostrel::test::trace_records();
}

// Without signers: certificates and CRLs only, an empty digestAlgorithms set, the first
// certificate and the CRL back. Two signers with one digest write it once; both verify.
TEST(Pkcs7Signed, DigestAlgorithmsSet) {
    World &w = world();
    BIN cert = view(w.ca.cert), crl = view(w.crl);
    Out only;
    ASSERT_EQ(QRT_PKCS7_EncodeSigned(only.get(), 0, nullptr, nullptr, nullptr, &cert, &crl), 0) << trace_text();
    auto digests = [](const BIN &sd) {
        Content ci;
        EXPECT_EQ(QRT_PKCS7_Content_Decode(&ci.c, &sd), 0);
        ostrel::AsnTree<SignedDataWire> t(SignedDataWire_PDU);
        EXPECT_EQ(t.decode(ci.c.value), 0);
        int n = 0;
        for (auto *p = t->digestAlgorithms; p; p = p->next) ++n;
        return n;
    };
    EXPECT_EQ(digests(only.b), 0);
    Out first, gotCrl;
    ASSERT_EQ(QRT_PKCS7_DecodeSigned(nullptr, nullptr, first.get(), nullptr, gotCrl.get(), &only.b), 0) << trace_text();
    EXPECT_EQ(first.bytes(), w.ca.cert);
    EXPECT_EQ(gotCrl.bytes(), w.crl);
    std::string onlyFile = w.dir / "certs-only.der";
    write_file(onlyFile, std::string(only.b.value, only.b.value + only.b.length));
    EXPECT_EQ(run("openssl pkcs7 -inform DER -print_certs -noout -in " + onlyFile + " 2>/dev/null"), 0);

    Bytes contentDer = data_info("two signers");
    Content c;
    BIN cd = view(contentDer);
    ASSERT_EQ(QRT_PKCS7_Content_Decode(&c.c, &cd), 0);
    Signed s;
    for (const Party *p : {&w.rsa, &w.ec}) {
        Out attrs;
        ASSERT_EQ(QRT_PKCS7_Attributes_GenAuth(attrs.get(), 6, &c.c), 0);
        BIN pc = view(p->cert), pk = view(p->priv);
        ZQ_PKCS7_SIGNER_INFO si{};
        ASSERT_EQ(QRT_PKCS7_SignerInfo_Set(&si, 6, &attrs.b, nullptr, nullptr, &pc, &pk), 0) << trace_text();
        ASSERT_EQ(QRT_PKCS7_SignerInfos_Add(&s.sd->signerInfos, &si), 0);
        ASSERT_EQ(QRT_PKCS7_BIN_SET_Add(&s.sd->certs, &pc), 0);
    }
    ASSERT_EQ(QRT_PKCS7_Signed_Sign(s.sd, &c.c), 0) << trace_text();
    Out two;
    ASSERT_EQ(QRT_PKCS7_Signed_Encode(two.get(), s.sd), 0) << trace_text();
    EXPECT_EQ(digests(two.b), 1);
    Content ci;
    ASSERT_EQ(QRT_PKCS7_Content_Decode(&ci.c, &two.b), 0);
    Signed back;
    EXPECT_EQ(QRT_PKCS7_Signed_Decode(back.sd, &ci.c, 1), 0) << trace_text();
    EXPECT_EQ(openssl_verify(two.bytes(), "two signers"), 0);
}

// 64 signer infos are read and verified; 65 are refused before any signature is checked.
TEST(Pkcs7Signed, SignerLimit) {
    World &w = world();
    Bytes one = encode_signed(6, data_info("limit"), w.rsa.cert, w.rsa.priv);
    Content ci;
    BIN in = view(one);
    ASSERT_EQ(QRT_PKCS7_Content_Decode(&ci.c, &in), 0);
    ostrel::AsnTree<SignedDataWire> t(SignedDataWire_PDU);
    ASSERT_EQ(t.decode(ci.c.value), 0);
    for (int count : {64, 65}) {
        std::vector<SignedDataWire_signerInfos_> nodes(static_cast<size_t>(count));
        for (size_t i = 0; i < nodes.size(); ++i) {
            nodes[i].value = t->signerInfos->value;
            nodes[i].next = i + 1 < nodes.size() ? &nodes[i + 1] : nullptr;
        }
        SignedDataWire copy = *t;
        copy.signerInfos = &nodes[0];
        Out many;
        ASSERT_EQ(QRT_ASN_EncodePDU(many.get(), &copy, SignedDataWire_PDU), 0);
        ZQ_PKCS7_CONTENT c{QRT_PKCS7_SIGNED, many.get()};
        Signed s;
        EXPECT_EQ(QRT_PKCS7_Signed_Decode(s.sd, &c, 1), count == 64 ? 0 : QRT_PKCS7_BAD_SIGNED_DATA) << count;
        if (count == 65) {
            EXPECT_EQ(s.sd->signerInfos.first, nullptr);
        }
    }
    ostrel::test::trace_records();
}

// Look-ups in a certificate set: by IssuerAndSerialNumber, by key identifier (the extension,
// and the SHA-1 of the key for a certificate without one), the issuer, the chain up to the
// self-signed CA, and a chain through two certificates that name each other ends.
TEST(Pkcs7Signed, CertificateSets) {
    World &w = world();
    ZQ_PKCS7_BIN_SET *set = nullptr;
    for (const Bytes *c : {&w.ec.cert, &w.ca.cert, &w.rsa.cert, &w.kcdsa.cert}) {
        BIN b = view(*c);
        ASSERT_EQ(QRT_PKCS7_BIN_SET_Add(&set, &b), 0);
    }
    BIN rsa = view(w.rsa.cert);
    Out isn, found;
    ASSERT_EQ(QRT_PKCS7_Cert_GetInfos(isn.get(), nullptr, nullptr, nullptr, &rsa), 0);
    ASSERT_EQ(QRT_PKCS7_Certs_GetCert(found.get(), set, &isn.b), 0);
    EXPECT_EQ(found.bytes(), w.rsa.cert);

    const ASN1_OCTET_STRING *ski = X509_get0_subject_key_id(w.rsa.x509);
    ASSERT_NE(ski, nullptr);
    BIN skiBin{static_cast<unsigned>(ASN1_STRING_length(ski)), const_cast<unsigned char *>(ASN1_STRING_get0_data(ski))};
    Out bySki;
    ASSERT_EQ(QRT_PKCS7_Certs_GetCert_SKI(bySki.get(), set, &skiBin), 0);
    EXPECT_EQ(bySki.bytes(), w.rsa.cert);
    // the KCDSA certificate has no extension: the SHA-1 of its key bits names it
    Out keyBits, hash, byHash;
    ostrel::AsnTree<Certificate> kc(Certificate_PDU);
    BIN kcb = view(w.kcdsa.cert);
    ASSERT_EQ(kc.decode(&kcb), 0);
    const BitString &bits = kc->tbsCertificate.subjectPublicKeyInfo.subjectPublicKey;
    BIN kb{bits.length / 8, bits.value};
    ASSERT_EQ(QRT_CSP_Hash(hash.get(), &kb, QRT_CSP_HASH_SHA1), 0);
    ASSERT_EQ(QRT_PKCS7_Certs_GetCert_SKI(byHash.get(), set, &hash.b), 0);
    EXPECT_EQ(byHash.bytes(), w.kcdsa.cert);

    Out parent;
    ASSERT_EQ(QRT_PKCS7_Certs_GetParent(parent.get(), set, &rsa), 0);
    EXPECT_EQ(parent.bytes(), w.ca.cert);
    ZQ_PKCS7_BIN_SET *chain = nullptr;
    ASSERT_EQ(QRT_PKCS7_Certs_GetChain(&chain, set, &rsa), 0);
    ASSERT_EQ(QRT_PKCS7_BIN_SET_Count(chain), 2);
    EXPECT_EQ(Bytes(QRT_PKCS7_BIN_SET_Get(chain, 1)->value,
                    QRT_PKCS7_BIN_SET_Get(chain, 1)->value + QRT_PKCS7_BIN_SET_Get(chain, 1)->length),
              w.ca.cert);
    QRT_PKCS7_BIN_SET_Free(chain);
    chain = nullptr;
    BIN caName{0, nullptr};
    Out crl;
    Bytes caSubject = i2d_bytes([&](unsigned char **p) { return i2d_X509_NAME(X509_get_subject_name(w.ca.x509), p); });
    caName = view(caSubject);
    ZQ_PKCS7_BIN_SET *crls = nullptr;
    BIN crlBin = view(w.crl);
    ASSERT_EQ(QRT_PKCS7_BIN_SET_Add(&crls, &crlBin), 0);
    ASSERT_EQ(QRT_PKCS7_Crls_GetCrl(crl.get(), crls, &caName), 0);
    EXPECT_EQ(crl.bytes(), w.crl);
    Out none;
    EXPECT_EQ(QRT_PKCS7_Crls_GetCrl(none.get(), crls, &isn.b), QRT_PKCS7_NOT_EXIST);
    QRT_PKCS7_BIN_SET_Free(crls);
    QRT_PKCS7_BIN_SET_Free(set);

    // A names B as issuer and B names A
    EVP_PKEY *k = w.ec.key;
    X509 *a = make_cert(k, "A", nullptr, nullptr, 10, true);
    X509 *b = make_cert(k, "B", a, k, 11, true);
    X509_set_issuer_name(a, X509_get_subject_name(b));
    X509_sign(a, k, EVP_sha256());
    Bytes ad = i2d_bytes([&](unsigned char **p) { return i2d_X509(a, p); });
    Bytes bd = i2d_bytes([&](unsigned char **p) { return i2d_X509(b, p); });
    X509_free(a);
    X509_free(b);
    ZQ_PKCS7_BIN_SET *loop = nullptr;
    BIN av = view(ad), bv = view(bd);
    ASSERT_EQ(QRT_PKCS7_BIN_SET_Add(&loop, &av), 0);
    ASSERT_EQ(QRT_PKCS7_BIN_SET_Add(&loop, &bv), 0);
    ASSERT_EQ(QRT_PKCS7_Certs_GetChain(&chain, loop, &av), 0);
    EXPECT_EQ(QRT_PKCS7_BIN_SET_Count(chain), 2);
    QRT_PKCS7_BIN_SET_Free(chain);
    QRT_PKCS7_BIN_SET_Free(loop);
    ostrel::test::trace_records();
}

// Attributes: what is written reads back, in DER order whatever the list order; a signingTime
// from 2050 on is written as GeneralizedTime; the authentication check wants exactly one
// contentType and one messageDigest.
TEST(Pkcs7Signed, Attributes) {
    ZQ_PKCS7_ATTRIBS *l = QRT_PKCS7_Attributes_New();
    Bytes md(32, 0xab), nonce = {1, 2, 3};
    BIN mdb = view(md), nb = view(nonce);
    const long long t2051 = 2556144000LL;  // 2051-01-01
    ASSERT_EQ(QRT_PKCS7_Attributes_Add(l, QRT_PKCS7_AT_SIGNING_TIME, nullptr, t2051), 0);
    ASSERT_EQ(QRT_PKCS7_Attributes_Add(l, QRT_PKCS7_AT_RANDOM_NONCE, &nb, 0), 0);
    ASSERT_EQ(QRT_PKCS7_Attributes_Add(l, QRT_PKCS7_AT_SEQUENCE_NUMBER, nullptr, -129), 0);
    ASSERT_EQ(QRT_PKCS7_Attributes_Add(l, QRT_PKCS7_AT_MESSAGE_DIGEST, &mdb, 0), 0);
    ASSERT_EQ(QRT_PKCS7_Attributes_Add(l, QRT_PKCS7_AT_CONTENT_TYPE, nullptr, QRT_PKCS7_DATA), 0);
    EXPECT_EQ(QRT_PKCS7_Attributes_Add(l, 99, nullptr, 0), QRT_PKCS7_UNKNOWN_ATTRIBID);
    Out enc;
    ASSERT_EQ(QRT_PKCS7_Attributes_Encode(enc.get(), l), 0);
    Bytes e = enc.bytes();
    // GeneralizedTime 20510101000000Z
    const std::string gt =
        "\x18\x0f"
        "20510101000000Z";
    EXPECT_NE(std::search(e.begin(), e.end(), gt.begin(), gt.end()), e.end());
    // read back from the [0] form a SignerInfo carries
    e[0] = 0xA0;
    BIN eb = view(e);
    ZQ_PKCS7_ATTRIBS back{};
    ASSERT_EQ(QRT_PKCS7_Attributes_Decode(&back, &eb), 0);
    EXPECT_EQ(QRT_PKCS7_Attributes_Get(&back, QRT_PKCS7_AT_SIGNING_TIME)->number, t2051);
    EXPECT_EQ(QRT_PKCS7_Attributes_Get(&back, QRT_PKCS7_AT_SEQUENCE_NUMBER)->number, -129);
    EXPECT_EQ(QRT_PKCS7_Attributes_Get(&back, QRT_PKCS7_AT_CONTENT_TYPE)->number, QRT_PKCS7_DATA);
    const ZQ_PKCS7_ATTRIB *d = QRT_PKCS7_Attributes_Get(&back, QRT_PKCS7_AT_MESSAGE_DIGEST);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(Bytes(d->value.value, d->value.value + d->value.length), md);
    // re-encoding gives the same bytes: they were in DER order already
    Out again;
    ASSERT_EQ(QRT_PKCS7_Attributes_Encode(again.get(), &back), 0);
    e[0] = 0x31;
    EXPECT_EQ(again.bytes(), e);

    ZQ_PKCS7_CONTENT content{QRT_PKCS7_DATA, nullptr};
    EXPECT_EQ(QRT_PKCS7_Attributes_CheckAuth(&back, 6, &content), QRT_PKCS7_NO_CONTENT);
    ASSERT_EQ(QRT_PKCS7_Attributes_Add(&back, QRT_PKCS7_AT_CONTENT_TYPE, nullptr, QRT_PKCS7_DATA), 0);
    EXPECT_EQ(QRT_PKCS7_Attributes_CheckAuth(&back, 6, &content), QRT_PKCS7_BAD_ATTRIBS);
    ZQ_PKCS7_ATTRIBS onlyDigest{};
    ASSERT_EQ(QRT_PKCS7_Attributes_Add(&onlyDigest, QRT_PKCS7_AT_MESSAGE_DIGEST, &mdb, 0), 0);
    EXPECT_EQ(QRT_PKCS7_Attributes_CheckAuth(&onlyDigest, 6, &content), QRT_PKCS7_NO_CONTENT_TYPE_ATTRIB);
    QRT_PKCS7_Attributes_Reset(&onlyDigest);
    QRT_PKCS7_Attributes_Reset(&back);
    QRT_PKCS7_Attributes_Free(l);
    ostrel::test::trace_records();
}

// What openssl signs, we read and verify: opaque, streamed (indefinite lengths), by key
// identifier, RSA-PSS, ECDSA, S/MIME, a CRL bundle; without the signer's certificate 37320;
// a detached signature is returned unverified and needs its data to verify.
TEST(Pkcs7Signed, FromOpenssl) {
    if (!ostrel::test::have_command("openssl")) GTEST_SKIP() << "no openssl";
    World &w = world();
    const std::string text = "content signed by openssl\n";
    std::string data = w.dir / "data.bin";
    write_file(data, text);
    std::string rsa = " -signer " + w.rsa.pem + " -inkey " + w.rsa.keyPem;
    struct Case {
        const char *name;
        std::string args;
        int expect;
        bool issuer;
    } cases[] = {
        {"opaque", "cms -sign -nodetach -binary" + rsa + " -certfile " + w.ca.pem, 0, true},
        {"stream", "cms -sign -nodetach -binary -stream" + rsa, 0, false},
        {"keyid", "cms -sign -nodetach -binary -keyid" + rsa, 0, false},
        {"nocerts", "cms -sign -nodetach -binary -nocerts" + rsa, QRT_PKCS7_NOT_EXIST, false},
        {"pss", "cms -sign -nodetach -binary -md sha256" + rsa + " -keyopt rsa_padding_mode:pss", 0, false},
        {"ecdsa", "cms -sign -nodetach -binary -md sha384 -signer " + w.ec.pem + " -inkey " + w.ec.keyPem, 0, false},
        {"smime", "smime -sign -nodetach -binary" + rsa, 0, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string out = w.dir / (std::string(c.name) + ".der");
        ASSERT_EQ(run("openssl " + c.args + " -in " + data + " -outform DER -out " + out + " 2>&1"), 0);
        std::string der = ostrel::test::read_file(out);
        Bytes d(der.begin(), der.end());
        BIN in = view(d);
        Out got, signer, issuer;
        ASSERT_EQ(QRT_PKCS7_DecodeSigned(nullptr, got.get(), signer.get(), issuer.get(), nullptr, &in), c.expect)
            << trace_text();
        if (c.expect) {
            EXPECT_EQ(got.b.length, 0u);
            ostrel::test::trace_records();
            continue;
        }
        EXPECT_EQ(payload(got.bytes()), Bytes(text.begin(), text.end()));
        if (c.issuer) {
            EXPECT_EQ(issuer.bytes(), w.ca.cert);
        }
    }

    // crl2pkcs7: certificates and a CRL, no signer
    std::string bundle = w.dir / "bundle.der";
    ASSERT_EQ(run("openssl crl2pkcs7 -in " + (w.dir / "crl.pem") + " -certfile " + w.ca.pem + " -outform DER -out " +
                  bundle + " 2>&1"),
              0);
    std::string b = ostrel::test::read_file(bundle);
    Bytes bd(b.begin(), b.end());
    BIN bb = view(bd);
    Out first, crl;
    ASSERT_EQ(QRT_PKCS7_DecodeSigned(nullptr, nullptr, first.get(), nullptr, crl.get(), &bb), 0) << trace_text();
    EXPECT_EQ(first.bytes(), w.ca.cert);
    EXPECT_EQ(crl.bytes(), w.crl);

    // detached
    std::string det = w.dir / "detached.der";
    ASSERT_EQ(run("openssl cms -sign -binary" + rsa + " -in " + data + " -outform DER -out " + det + " 2>&1"), 0);
    std::string dd = ostrel::test::read_file(det);
    Bytes ddb(dd.begin(), dd.end());
    BIN dbin = view(ddb);
    Out none;
    ASSERT_EQ(QRT_PKCS7_DecodeSigned(nullptr, none.get(), nullptr, nullptr, nullptr, &dbin), 0) << trace_text();
    Content ci;
    ASSERT_EQ(QRT_PKCS7_Content_Decode(&ci.c, &dbin), 0);
    Signed s;
    EXPECT_EQ(QRT_PKCS7_Signed_Decode(s.sd, &ci.c, 1), QRT_PKCS7_NO_CONTENT);
    ASSERT_EQ(QRT_PKCS7_Signed_Decode(s.sd, &ci.c, 0), 0);
    EXPECT_EQ(QRT_PKCS7_Signed_Verify(s.sd, nullptr, nullptr, nullptr), QRT_PKCS7_NO_CONTENT);
    Bytes dataInfo = data_info(text);
    Content dc;
    BIN dib = view(dataInfo);
    ASSERT_EQ(QRT_PKCS7_Content_Decode(&dc.c, &dib), 0);
    Out signerCert;
    EXPECT_EQ(QRT_PKCS7_Signed_Verify(s.sd, &dc.c, nullptr, signerCert.get()), 0) << trace_text();
    EXPECT_EQ(signerCert.bytes(), w.rsa.cert);
    ostrel::test::trace_records();
}

// Hostile input: every truncation of a signed data, in DER and with every constructed element
// in indefinite-length BER, fails and leaves every output empty; the whole BER form verifies.
TEST(Pkcs7Signed, TruncationFailsCleanly) {
    World &w = world();
    Bytes sd = encode_signed(6, data_info("truncated"), w.ec.cert, w.ec.priv, &w.ca.cert);
    for (const Bytes &whole : {sd, asn_test::to_ber(sd)}) {
        BIN all = view(whole);
        Out content;
        ASSERT_EQ(QRT_PKCS7_DecodeSigned(nullptr, content.get(), nullptr, nullptr, nullptr, &all), 0) << trace_text();
        for (size_t n = 1; n < whole.size(); ++n) {
            Bytes cut(whole.begin(), whole.begin() + static_cast<long>(n));
            BIN in = view(cut);
            int digest = -1;
            Out c, s, i, l;
            ASSERT_NE(QRT_PKCS7_DecodeSigned(&digest, c.get(), s.get(), i.get(), l.get(), &in), 0) << n;
            EXPECT_EQ(c.b.value, nullptr);
            EXPECT_EQ(s.b.value, nullptr);
            EXPECT_EQ(digest, 0);
        }
        ostrel::test::trace_records();
    }
}
