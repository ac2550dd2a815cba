// The frame and error texts callers compare; the object records and their release; every
// certificate and CRL of PKITS loading with the type and flags openssl reads from them; a trust
// list signed by openssl cms; the validation context's set-up and tear-down with the trace
// records its failures leave; the input lists.
#include <dirent.h>

#include <algorithm>
#include <cstring>
#include <sstream>

#include "ostrel/alloc_gate.hpp"
#include "ostrel/der_build.hpp"
#include "pvd_test_util.hpp"
#include "suite_codec.h"
#include "suite_csp.h"

namespace {

using namespace pvd_test;

const std::string kPkits = "../shared/conformance/pkits/";

// ---- frame ----

TEST(PvdFrame, VersionAndErrorTexts) {
    EXPECT_STREQ(QRT_PVD_GetVersion(), "1.5.1.9");
    EXPECT_EQ(QRT_PVD_CheckVersion(nullptr), 0);
    EXPECT_EQ(QRT_PVD_CheckVersion("1.5.1.9"), 0);
    EXPECT_EQ(QRT_PVD_CheckVersion("1.5.1.10"), -1);
    EXPECT_EQ(QRT_PVD_CheckVersion("1.6"), -1);

    struct Case {
        int code, lang;
        const char *want;  // nullptr: the owning library's text
        const char *(*owner)(int, int);
    } cases[] = {
        {43002, 1, "intenal error", nullptr},
        {43041, 1, "cert ext it not exist", nullptr},
        {43095, 1, "crl is not found", nullptr},
        {43180, 1, "ocsp is error", nullptr},
        {43001, 0, "", nullptr},
        {43001, 2, "", nullptr},
        {43004, 1, "", nullptr},
        {1022, 1, nullptr, QRT_ASN_GetErrorReason},
        {1022, 0, nullptr, QRT_ASN_GetErrorReason},
        {3001, 1, nullptr, QRT_Codec_GetErrorReason},
        {6001, 1, nullptr, QRT_CSP_GetErrorReason},
        {8001, 1, nullptr, QRT_IO_GetErrorReason},
        {36001, 1, nullptr, QRT_PKC_GetErrorReason},
        {6500, 1, "", nullptr},
        {33001, 1, "", nullptr},
        {37301, 1, "", nullptr},
        {-1, 1, "", nullptr},
    };
    for (const Case &c : cases) {
        std::string want = c.want ? c.want : c.owner(c.code, c.lang);
        if (!c.want) {
            EXPECT_FALSE(want.empty()) << c.code;
        }
        EXPECT_EQ(QRT_PVD_GetErrorReason(c.code, c.lang), want) << c.code << " lang " << c.lang;
    }
}

// ---- object records ----

// Trees are released as the PDU of their type (ASan sees a leak or a wrong free otherwise); a
// long list is released without recursion.
TEST(PvdObjects, ResetReleasesTreesByType) {
    Pki &pki = Pki::get();
    ZQ_PVD_ObjectList *list = QRT_PVD_ObjectList_New();
    ASSERT_NE(list, nullptr);
    struct Item {
        int type;
        const Bytes *der;
        int pdu;
    } items[] = {{PVD_TYPE_CA, &pki.ca.der, Certificate_PDU},
                 {PVD_TYPE_CRL, &pki.crl, CertificateList_PDU},
                 {PVD_TYPE_CRL_OTHER, &pki.crl, CertificateList_PDU},
                 {PVD_TYPE_OCSP, &pki.ee.der, 0}};
    ZQ_PVD_ObjectList *node = list;
    for (const Item &it : items) {
        if (node->value.encObj.value) {
            node->next = QRT_PVD_ObjectList_New();
            node = node->next;
        }
        node->value.typeID = it.type;
        ASSERT_EQ(QRT_BIN_Set(&node->value.encObj, it.der->data(), static_cast<int>(it.der->size())), 0);
        if (it.pdu) {
            ASSERT_EQ(QRT_ASN_DecodePDU(&node->value.pAsnObj, &node->value.encObj, it.pdu), 0);
        }
    }
    QRT_PVD_ObjectList_Reset(list);
    EXPECT_EQ(list->next, nullptr);
    EXPECT_EQ(list->value.encObj.value, nullptr);
    QRT_PVD_ObjectList_Reset(list);  // safe twice
    QRT_PVD_ObjectList_Free(list);

    ZQ_PVD_ObjectList *longList = QRT_PVD_ObjectList_New();
    for (int i = 0; i < 200000; ++i) {
        ZQ_PVD_ObjectList *n = QRT_PVD_ObjectList_New();
        n->next = longList->next;
        longList->next = n;
    }
    QRT_PVD_ObjectList_Free(longList);

    ZQ_PVD_CertPathResult *res = QRT_PVD_CertPathResult_New();
    res->certPath = QRT_PVD_ObjectList_New();
    res->revInfos = QRT_PVD_ObjectList_New();
    res->vrfyTime = 5;
    QRT_PVD_CertPathResult_Reset(res);
    EXPECT_EQ(res->certPath, nullptr);
    EXPECT_EQ(res->vrfyTime, 0);
    QRT_PVD_CertPathResult_Free(res);
    QRT_PVD_Object_Free(QRT_PVD_Object_New());
    QRT_PVD_Object_Reset(nullptr);
}

std::vector<std::string> files_in(const std::string &dir, const std::string &suffix) {
    std::vector<std::string> out;
    DIR *d = opendir(dir.c_str());
    if (!d) return out;
    while (dirent *e = readdir(d)) {
        std::string n = e->d_name;
        if (n.size() > suffix.size() && n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0)
            out.push_back(n);
    }
    closedir(d);
    std::sort(out.begin(), out.end());
    return out;
}

// The text blocks `openssl storeutl -text` prints for every object of a PEM bundle made of the
// given DER files (one openssl run for the lot), in file order.
std::vector<std::string> openssl_texts(const std::string &dir, const std::vector<std::string> &files, bool crls) {
    TempDir tmp;
    BIO *bundle = BIO_new_file((tmp / "bundle.pem").c_str(), "w");
    for (const std::string &f : files) {
        Bytes der = file_bytes(dir + f);
        const unsigned char *p = der.data();
        if (crls) {
            X509_CRL *c = d2i_X509_CRL(nullptr, &p, static_cast<long>(der.size()));
            PEM_write_bio_X509_CRL(bundle, c);
            X509_CRL_free(c);
        } else {
            X509 *x = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
            PEM_write_bio_X509(bundle, x);
            X509_free(x);
        }
    }
    BIO_free(bundle);
    std::string out;
    EXPECT_EQ(run("openssl storeutl -noout -text " + (tmp / "bundle.pem") + " 2>/dev/null", &out), 0);
    std::vector<std::string> blocks;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        size_t colon = line.find(": ");
        if (colon != std::string::npos && colon > 0 && line.find_first_not_of("0123456789") == colon) {
            blocks.emplace_back();
            continue;
        }
        if (!blocks.empty()) blocks.back() += line + "\n";
    }
    return blocks;
}

std::string field(const std::string &block, const std::string &name) {
    size_t at = block.find(name);
    if (at == std::string::npos) return "";
    size_t end = block.find('\n', at);
    return block.substr(at + name.size(), end - at - name.size());
}

// The type openssl's reading gives: names equal and basicConstraints CA:TRUE, CA:TRUE, else EE.
int openssl_type(const std::string &block) {
    std::string subject = field(block, "Subject: "), issuer = field(block, "Issuer: ");
    bool ca = block.find("CA:TRUE") != std::string::npos, self = !subject.empty() && subject == issuer;
    return ca && self ? PVD_TYPE_ROOT : ca ? PVD_TYPE_CA : PVD_TYPE_CERT;
}

TEST(PvdObjects, EveryPkitsCertificateLoadsWithTheTypeOpensslReads) {
    trace_on();
    auto files = files_in(kPkits + "certs", ".crt");
    ASSERT_EQ(files.size(), 405u);
    auto texts = openssl_texts(kPkits + "certs/", files, false);
    ASSERT_EQ(texts.size(), files.size());
    size_t i = 0;
    std::map<int, int> byType;
    for (const std::string &f : files) {
        Bytes der = file_bytes(kPkits + "certs/" + f);
        BIN b = view(der);
        ZQ_PVD_InterObject o{};
        ASSERT_EQ(QRT_PVD_InterObject_SetCert(&o, &b, 0, PVD_SOURCE_INPUT), 0) << f << "\n" << trace_text();
        EXPECT_EQ(o.typeID, openssl_type(texts[i++])) << f;
        ++byType[o.typeID];
        // what the later steps read
        ASSERT_NE(o.subjectDN, nullptr);
        ASSERT_NE(o.issuerDN, nullptr);
        ASSERT_NE(o.serialHex, nullptr);
        EXPECT_EQ(bytes_of(o.encObj), der);
        auto *cert = static_cast<Certificate *>(o.pAsnObj);
        ASSERT_NE(cert, nullptr);
        const HUGE &s = cert->tbsCertificate.serialNumber;
        EXPECT_EQ(o.serialHex, ostrel::test::to_hex(s.value, s.length)) << f;
        EXPECT_EQ(o.source, PVD_SOURCE_INPUT);
        bool hasDP = QRT_GetExtension(cert->tbsCertificate.extensions, &id_ce_cRLDistributionPoints) != nullptr;
        EXPECT_EQ(o.crlDPs != nullptr, hasDP) << f;
        QRT_PVD_InterObject_Reset(&o);
    }
    // the PKITS mix: a trust anchor and self-issued CAs, many CAs, most end entities
    EXPECT_GE(byType[PVD_TYPE_ROOT], 1);
    EXPECT_GE(byType[PVD_TYPE_CA], 100);
    EXPECT_GE(byType[PVD_TYPE_CERT], 200);

    // a given type is taken as given; another is refused
    Bytes der = file_bytes(kPkits + "certs/GoodCACert.crt");
    BIN b = view(der);
    ZQ_PVD_InterObject o{};
    EXPECT_EQ(QRT_PVD_InterObject_SetCert(&o, &b, PVD_TYPE_ROOT, PVD_SOURCE_STORE), 0);
    EXPECT_EQ(o.typeID, PVD_TYPE_ROOT);
    EXPECT_EQ(o.selfSigned, 0);
    EXPECT_STREQ(o.subjectDN, "cn=Good CA,o=Test Certificates 2011,c=US");
    EXPECT_STREQ(o.issuerDN, "cn=Trust Anchor,o=Test Certificates 2011,c=US");
    EXPECT_EQ(QRT_PVD_InterObject_SetCert(&o, &b, PVD_TYPE_CRL, 1), QRT_PVD_INVALID_INPUT);
    EXPECT_EQ(o.encObj.value, nullptr);  // reset, not half-filled
    QRT_PVD_InterObject_Reset(&o);
}

TEST(PvdObjects, EveryPkitsCrlLoadsAndIndirectOnesAreFlagged) {
    trace_on();
    auto files = files_in(kPkits + "crls", ".crl");
    ASSERT_EQ(files.size(), 173u);
    auto texts = openssl_texts(kPkits + "crls/", files, true);
    ASSERT_EQ(texts.size(), files.size());
    size_t i = 0, indirect = 0;
    for (const std::string &f : files) {
        Bytes der = file_bytes(kPkits + "crls/" + f);
        BIN b = view(der);
        ZQ_PVD_InterObject o{};
        ASSERT_EQ(QRT_PVD_InterObject_SetCRL(&o, &b, 0, PVD_SOURCE_STORE), 0) << f << "\n" << trace_text();
        EXPECT_EQ(o.typeID, PVD_TYPE_CRL);
        ASSERT_NE(o.issuerDN, nullptr);
        EXPECT_EQ(o.subjectDN, nullptr);
        bool want = texts[i++].find("Indirect CRL") != std::string::npos;
        EXPECT_EQ(o.indirect, want ? 1 : 0) << f;
        indirect += want;
        auto *crl = static_cast<CertificateList *>(o.pAsnObj);
        bool hasIDP = QRT_GetExtension(crl->tbsCertList.crlExtensions, &id_ce_issuingDistributionPoint) != nullptr;
        EXPECT_EQ(o.issuingDP != nullptr, hasIDP) << f;
        QRT_PVD_InterObject_Reset(&o);
    }
    EXPECT_EQ(indirect, 4u);  // PKITS's indirect CRLs
    Bytes der = file_bytes(kPkits + "crls/GoodCACRL.crl");
    BIN b = view(der);
    ZQ_PVD_InterObject o{};
    EXPECT_EQ(QRT_PVD_InterObject_SetCRL(&o, &b, PVD_TYPE_ARL, PVD_SOURCE_STORE), 0);
    EXPECT_EQ(o.typeID, PVD_TYPE_ARL);
    EXPECT_STREQ(o.issuerDN, "cn=Good CA,o=Test Certificates 2011,c=US");
    QRT_PVD_InterObject_Reset(&o);
}

// Bytes that are no object of their kind, and objects that are broken in the one place each
// check looks at.
TEST(PvdObjects, LoadFailuresLeaveNothing) {
    trace_on();
    Bytes garbage{0x30, 0x03, 0x02, 0x01, 0x01};
    BIN g = view(garbage);
    ZQ_PVD_InterObject o{};
    EXPECT_EQ(QRT_PVD_InterObject_SetCert(&o, &g, 0, 1), QRT_PVD_CERT_INVALID);
    EXPECT_EQ(QRT_PVD_InterObject_SetCRL(&o, &g, 0, 1), QRT_PVD_CRL_INVALID);
    EXPECT_EQ(QRT_PVD_InterObject_SetCTL(&o, &g, "x", 1), QRT_PVD_CTL_INVALID);
    EXPECT_EQ(QRT_PVD_InterObject_SetCRL(&o, &g, PVD_TYPE_CA, 1), QRT_PVD_INVALID_INPUT);
    EXPECT_EQ(QRT_PVD_InterObject_SetCert(&o, nullptr, 0, 1), QRT_PVD_INVALID_INPUT);
    ZQ_PVD_InterObject zero{};
    EXPECT_EQ(std::memcmp(&o, &zero, sizeof o), 0);
    auto recs = trace_records();
    ASSERT_FALSE(recs.empty());
    EXPECT_EQ(trace_field(recs.back(), 2), "QRT_PVD_InterObject_SetCert");
    EXPECT_EQ(trace_field(recs.back(), 5), "suite_pvd_object.cpp");

    // a cRLDistributionPoints extension whose value does not decode: 43040
    Pki &pki = Pki::get();
    X509 *x = X509_dup(pki.ca.cert);
    ASN1_OCTET_STRING *bad = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(bad, reinterpret_cast<const unsigned char *>("\x30\x05\x01"), 3);
    X509_EXTENSION *ext = X509_EXTENSION_create_by_NID(nullptr, NID_crl_distribution_points, 0, bad);
    X509_add_ext(x, ext, -1);
    X509_sign(x, pki.root.key, EVP_sha256());
    Bytes der = ostrel::test::der_of(x);
    X509_EXTENSION_free(ext);
    ASN1_OCTET_STRING_free(bad);
    X509_free(x);
    BIN b = view(der);
    EXPECT_EQ(QRT_PVD_InterObject_SetCert(&o, &b, 0, 1), QRT_PVD_CERT_EXT_INVALID);
    EXPECT_EQ(std::memcmp(&o, &zero, sizeof o), 0);
}

// ---- trust lists ----

struct CtlFiles {
    TempDir dir;
    Bytes signedCtl, signer, noSigner;
};

// A CertificateTrustList made with `openssl asn1parse -genconf`, signed by `openssl cms` with the
// trust-list content type; and the same signed data with its signer infos emptied.
CtlFiles &ctl_files() {
    static CtlFiles *f = [] {
        auto *r = new CtlFiles;
        Pki &pki = Pki::get();
        r->signedCtl = make_signed_ctl(r->dir.path(), pki.root,
                                       "asn1 = SEQUENCE:ctl\n"
                                       "[ctl]\n"
                                       "usage = SEQUENCE:usage\n"
                                       "listId = FORMAT:HEX,OCTETSTRING:0102\n"
                                       "thisUpdate = UTCTIME:200101000000Z\n"
                                       "nextUpdate = GENTIME:20991231235959Z\n"
                                       "alg = SEQUENCE:alg\n"
                                       "subjects = SEQUENCE:subjects\n"
                                       "[usage]\n"
                                       "u1 = OID:1.2.410.200004.8.1.1.1\n"
                                       "[alg]\n"
                                       "a = OID:sha1\n"
                                       "p = NULL\n"
                                       "[subjects]\n"
                                       "s1 = SEQUENCE:subject1\n"
                                       "[subject1]\n"
                                       "id = FORMAT:HEX,OCTETSTRING:00112233445566778899aabbccddeeff00112233\n");
        r->signer = pki.root.der;
        return r;
    }();
    return *f;
}

TEST(PvdObjects, TrustListSignedByOpensslCmsLoads) {
    trace_on();
    CtlFiles &f = ctl_files();
    ASSERT_FALSE(f.signedCtl.empty());
    BIN b = view(f.signedCtl);
    ZQ_PVD_InterObject o{};
    ASSERT_EQ(QRT_PVD_InterObject_SetCTL(&o, &b, "cn=ctl entry", PVD_SOURCE_LDAP), 0) << trace_text();
    EXPECT_EQ(o.typeID, PVD_TYPE_CTL);
    EXPECT_EQ(o.source, PVD_SOURCE_LDAP);
    EXPECT_STREQ(o.subjectDN, "cn=ctl entry");
    // the signer is named by the root's issuer and serial
    EXPECT_STREQ(o.issuerDN, Pki::get().root.dn.c_str());
    ASSERT_NE(o.signerID, nullptr);
    EXPECT_EQ(ostrel::test::to_hex(o.signerID->serialNumber.value, o.signerID->serialNumber.length), "0a01");
    ASSERT_NE(o.signedData, nullptr);
    EXPECT_EQ(o.signedData->content.typeID, QRT_PKCS7_CTL);
    auto *ctl = static_cast<CertificateTrustList *>(o.pAsnObj);
    ASSERT_NE(ctl, nullptr);
    ASSERT_TRUE(ctl->bit_mask & CertificateTrustList_trustedSubjects_present);
    EXPECT_EQ(ctl->trustedSubjects->value.subjectIdentifier.length, 20u);
    EXPECT_EQ(bytes_of(o.encObj), f.signedCtl);

    // ToObjList hands the trust list on as its CertificateTrustList
    ZQ_PVD_InterObjectList node{};
    node.value = o;
    ZQ_PVD_ObjectList *out = nullptr;
    ASSERT_EQ(QRT_PVD_InterObjectList_ToObjList(&node, &out), 0);
    EXPECT_EQ(out->value.typeID, PVD_TYPE_CTL);
    EXPECT_EQ(out->value.pAsnObj, ctl);
    EXPECT_EQ(node.value.pAsnObj, nullptr);
    QRT_PVD_ObjectList_Free(out);
    QRT_PVD_InterObject_Reset(&node.value);
}

TEST(PvdObjects, TrustListWithoutSignerIsInvalid) {
    trace_on();
    CtlFiles &f = ctl_files();
    ASSERT_FALSE(f.signedCtl.empty());
    // ContentInfo { type, [0] SignedData { ..., signerInfos SET {} } }
    auto ci = ostrel::test::der::children(f.signedCtl);
    auto sd = ostrel::test::der::children(ostrel::test::der::children(ci[1])[0]);
    sd.back() = Bytes{0x31, 0x00};
    Bytes body;
    for (const Bytes &e : sd) body.insert(body.end(), e.begin(), e.end());
    Bytes stripped = ci[0];
    Bytes inner = ostrel::test::der::tlv(0xa0, ostrel::test::der::tlv(0x30, body));
    stripped.insert(stripped.end(), inner.begin(), inner.end());
    stripped = ostrel::test::der::tlv(0x30, stripped);
    BIN b = view(stripped);
    ZQ_PVD_InterObject o{};
    EXPECT_EQ(QRT_PVD_InterObject_SetCTL(&o, &b, nullptr, 1), QRT_PVD_CTL_INVALID);
    EXPECT_EQ(o.signedData, nullptr);
    // a certificate is no trust list either
    BIN c = view(Pki::get().ca.der);
    EXPECT_EQ(QRT_PVD_InterObject_SetCTL(&o, &c, nullptr, 1), QRT_PVD_CTL_INVALID);
}

// ---- allocation failures ----

long g_left = -1;  // allocations still granted; -1: no limit
long g_refused = 0;
int gate(size_t) {
    if (g_left < 0) return 1;
    if (g_left > 0) {
        --g_left;
        return 1;
    }
    ++g_refused;
    return 0;
}

// Runs op with the I/O core's allocator failing from the n-th request on, for n = 0, 1, ... until
// it gets through; every refused run must fail and leave `clean()` true (and leak nothing).
template <class Op, class Clean>
void sweep(const char *what, Op op, Clean clean) {
    for (long n = 0; n < 100000; ++n) {
        g_left = n;
        g_refused = 0;
        QRT_Test_SetAllocGate(gate);
        int rc = op();
        QRT_Test_SetAllocGate(nullptr);
        g_left = -1;
        if (!g_refused) {
            EXPECT_EQ(rc, 0) << what;
            return;
        }
        EXPECT_NE(rc, 0) << what << " succeeded with a refused allocation at " << n;
        EXPECT_TRUE(clean()) << what << " left something behind at " << n;
    }
    ADD_FAILURE() << what << " never got through";
}

TEST(PvdObjects, AllocationFailuresLeaveNothingBehind) {
    Pki &pki = Pki::get();
    CtlFiles &f = ctl_files();
    ZQ_PVD_InterObject zero{}, o{};
    auto none = [&] { return std::memcmp(&o, &zero, sizeof o) == 0; };
    Bytes ca = file_bytes(kPkits + "certs/GoodCACert.crt"), crl = file_bytes(kPkits + "crls/indirectCRLCA1CRL.crl");
    BIN bca = view(ca), bcrl = view(crl), bctl = view(f.signedCtl);
    sweep(
        "SetCert", [&] { return QRT_PVD_InterObject_SetCert(&o, &bca, 0, 1); }, none);
    QRT_PVD_InterObject_Reset(&o);
    sweep(
        "SetCRL", [&] { return QRT_PVD_InterObject_SetCRL(&o, &bcrl, 0, 1); }, none);
    QRT_PVD_InterObject_Reset(&o);
    sweep(
        "SetCTL", [&] { return QRT_PVD_InterObject_SetCTL(&o, &bctl, "n", 1); }, none);
    QRT_PVD_InterObject_Reset(&o);

    ZQ_PVD_ObjectList n1 = object_view(pki.root.der), n2 = object_view(pki.ca.der), n3 = object_view(pki.ee.der);
    n1.next = &n2;
    n2.next = &n3;
    ZQ_PVD_InterObjectList *list = nullptr;
    sweep(
        "FromObjList", [&] { return QRT_PVD_InterObjectList_FromObjList(&list, &n1, PVD_TYPE_CA); },
        [&] { return list == nullptr; });
    ZQ_PVD_ObjectList *moved = nullptr;
    sweep(
        "ToObjList", [&] { return QRT_PVD_InterObjectList_ToObjList(list, &moved); },
        [&] { return moved == nullptr && list->value.encObj.value != nullptr; });
    QRT_PVD_ObjectList_Free(moved);
    QRT_PVD_InterObjectList_Free(list);

    ZQ_PVD_CertPathRequest req{};
    req.otherCerts = &n1;
    ZQ_PVD_VerifyParam param{};
    ZQ_PVD_Context ctx{}, zctx{};
    sweep(
        "InitCTX", [&] { return QRT_PVD_InitCTX(&ctx, &req, &param); },
        [&] { return std::memcmp(&ctx, &zctx, sizeof ctx) == 0; });
    QRT_PVD_ResetCTX(&ctx);

    TempDir d;
    std::string path = d / "s";
    BIN b1 = view(pki.ca.der);
    for (const char *serial : {"01", "02", "03"})
        ASSERT_EQ(QRT_PVD_Store_AddObject(path.c_str(), PVD_TYPE_CA, "cn=k", &b1, serial), 0);
    ZQ_BIN_LIST got{};
    sweep(
        "Store_GetObjectList", [&] { return QRT_PVD_Store_GetObjectList(path.c_str(), &got, PVD_TYPE_CA, "cn=k"); },
        [&] { return !got.value.value && !got.next; });
    EXPECT_EQ(values_of(&got).size(), 3u);
    QRT_BIN_LIST_Reset(&got);

    ASSERT_EQ(QRT_PVD_Cache_AddObject(PVD_TYPE_CA, "cn=alloc", &b1), 0);
    BIN out{0, nullptr};
    sweep(
        "Cache_GetObject", [&] { return QRT_PVD_Cache_GetObject(&out, PVD_TYPE_CA, "cn=alloc"); },
        [&] { return !out.value && !out.length; });
    QRT_BIN_Reset(&out);
    QRT_PVD_Finalize();
}

// ---- input lists ----

TEST(PvdLists, FromObjListGetCertGetCrlToObjList) {
    trace_on();
    Pki &pki = Pki::get();
    // an empty head, then root, ca, ee
    ZQ_PVD_ObjectList n0{}, n1 = object_view(pki.root.der), n2 = object_view(pki.ca.der), n3 = object_view(pki.ee.der);
    n0.next = &n1;
    n1.next = &n2;
    n2.next = &n3;
    ZQ_PVD_InterObjectList *certs = nullptr;
    ASSERT_EQ(QRT_PVD_InterObjectList_FromObjList(&certs, &n0, PVD_TYPE_CA), 0) << trace_text();
    std::vector<int> types;
    for (auto *p = certs; p; p = p->next) types.push_back(p->value.typeID);
    EXPECT_EQ(types, (std::vector<int>{PVD_TYPE_ROOT, PVD_TYPE_CA, PVD_TYPE_CERT}));

    // GetCert: exact type, names compared ignoring spaces and ASCII case
    Out out;
    EXPECT_EQ(QRT_PVD_InterObjectList_GetCert(certs, out.get(), "CN=PVDTest ca", PVD_TYPE_CA), 0);
    EXPECT_EQ(out.bytes(), pki.ca.der);
    Out none;
    EXPECT_EQ(QRT_PVD_InterObjectList_GetCert(certs, none.get(), "cn=PVD Test CA", PVD_TYPE_ROOT),
              QRT_PVD_CERT_NOT_FOUND);
    EXPECT_EQ(QRT_PVD_InterObjectList_GetCert(certs, none.get(), "cn=PVD Test CB", PVD_TYPE_CA),
              QRT_PVD_CERT_NOT_FOUND);
    EXPECT_TRUE(trace_records().empty());  // not-found answers leave no record
    EXPECT_EQ(QRT_PVD_String_SimpleCompare("a b", 3, "AB", 2), 0);
    EXPECT_EQ(QRT_PVD_String_SimpleCompare("a-b", 3, "AB", 2), -1);
    EXPECT_EQ(QRT_PVD_String_SimpleCompare("\xe4", 1, "\xc4", 1), -1);  // only ASCII folds

    // CRLs: type 11, issuer compared byte for byte
    ZQ_PVD_ObjectList c1 = object_view(pki.crl);
    ZQ_PVD_InterObjectList *crls = nullptr;
    ASSERT_EQ(QRT_PVD_InterObjectList_FromObjList(&crls, &c1, PVD_TYPE_CRL), 0);
    EXPECT_EQ(crls->value.typeID, PVD_TYPE_CRL);
    Out crl;
    EXPECT_EQ(QRT_PVD_InterObjectList_GetCRL(crls, crl.get(), "cn=PVD Test CA"), 0);
    EXPECT_EQ(crl.bytes(), pki.crl);
    Out crl2;
    EXPECT_EQ(QRT_PVD_InterObjectList_GetCRL(crls, crl2.get(), "CN=PVD Test CA"), QRT_PVD_CRL_NOT_FOUND);

    // ToObjList moves encoding and tree; the sources keep their names
    ZQ_PVD_ObjectList *moved = nullptr;
    ASSERT_EQ(QRT_PVD_InterObjectList_ToObjList(certs, &moved), 0);
    int count = 0;
    for (ZQ_PVD_ObjectList *p = moved; p; p = p->next, ++count) {
        EXPECT_NE(p->value.pAsnObj, nullptr);
        EXPECT_NE(p->value.encObj.value, nullptr);
    }
    EXPECT_EQ(count, 3);
    EXPECT_EQ(bytes_of(moved->next->value.encObj), pki.ca.der);
    for (auto *p = certs; p; p = p->next) {
        EXPECT_EQ(p->value.encObj.value, nullptr);
        EXPECT_EQ(p->value.pAsnObj, nullptr);
        EXPECT_NE(p->value.subjectDN, nullptr);
    }
    QRT_PVD_ObjectList_Free(moved);
    QRT_PVD_InterObjectList_Free(certs);
    QRT_PVD_InterObjectList_Free(crls);

    // another type, and an empty list
    ZQ_PVD_InterObjectList *x = nullptr;
    EXPECT_EQ(QRT_PVD_InterObjectList_FromObjList(&x, &n1, 2), QRT_PVD_INVALID_INPUT);
    ZQ_PVD_ObjectList emptyHead{};
    EXPECT_EQ(QRT_PVD_InterObjectList_FromObjList(&x, &emptyHead, PVD_TYPE_CTL), 0);
    EXPECT_EQ(x, nullptr);
    // a failure in the middle leaves no list
    Bytes garbage{0x04, 0x01, 0x00};
    ZQ_PVD_ObjectList g = object_view(garbage);
    n3.next = &g;
    EXPECT_EQ(QRT_PVD_InterObjectList_FromObjList(&x, &n0, PVD_TYPE_ROOT), QRT_PVD_CERT_INVALID);
    EXPECT_EQ(x, nullptr);
}

// ---- the validation context ----

struct StoreCalls {
    int start = 0, get = 0, add = 0, end = 0, startResult = 0;
    std::string startPath;
};
StoreCalls g_calls;

int cb_start(ZQ_PVD_CertStore *s) {
    ++g_calls.start;
    g_calls.startPath = s->storePath ? s->storePath : "";
    return g_calls.startResult;
}
int cb_get(ZQ_PVD_CertStore *, ZQ_BIN_LIST *, const int, const char *, const void *) {
    ++g_calls.get;
    return QRT_PVD_CERT_NOT_FOUND;
}
int cb_add(ZQ_PVD_CertStore *, const int, const char *, const BIN *, const void *) {
    ++g_calls.add;
    return 0;
}
int cb_end(ZQ_PVD_CertStore *) {
    ++g_calls.end;
    return 0;
}

ZQ_PVD_VerifyParam store_callbacks(bool withEnd) {
    ZQ_PVD_VerifyParam p{};
    p.store.storePath = const_cast<char *>("/nonexistent/store");
    p.vrfyCB.CB_Store_Start = cb_start;
    p.vrfyCB.CB_Store_GetObject = cb_get;
    p.vrfyCB.CB_Store_AddObject = cb_add;
    p.vrfyCB.CB_Store_End = withEnd ? cb_end : nullptr;
    return p;
}

// Each way InitCTX fails: the code, and a record under its name with source suite_pvd.
TEST(PvdContext, InitFailuresAndTheirRecords) {
    trace_on();
    Bytes garbage{0x30, 0x03, 0x02, 0x01, 0x01};
    Pki &pki = Pki::get();
    ZQ_PVD_ObjectList bad = object_view(garbage), badCtl = object_view(pki.ca.der, PVD_TYPE_CTL);
    ZQ_PVD_CertPathRequest plain{};
    ZQ_PVD_VerifyParam noParam{};
    struct Case {
        const char *what;
        ZQ_PVD_CertPathRequest req;
        ZQ_PVD_VerifyParam param;
        bool nullCtx;
        int want;
    };
    std::vector<Case> cases;
    cases.push_back({"null context", plain, noParam, true, QRT_PVD_INVALID_INPUT});
    ZQ_PVD_CertPathRequest r = plain;
    r.otherCerts = &bad;
    cases.push_back({"undecodable certificate", r, noParam, false, QRT_PVD_CERT_INVALID});
    r = plain;
    r.trustCerts = &bad;
    cases.push_back({"undecodable trust certificate", r, noParam, false, QRT_PVD_CERT_INVALID});
    r = plain;
    r.otherCRLs = &bad;
    cases.push_back({"undecodable CRL", r, noParam, false, QRT_PVD_CRL_INVALID});
    r = plain;
    r.otherCerts = &badCtl;
    cases.push_back({"a certificate typed as trust list", r, noParam, false, QRT_PVD_CTL_INVALID});
    cases.push_back({"store start without end", plain, store_callbacks(false), false, QRT_PVD_INVALID_INPUT});
    r = plain;
    r.initPolicies = const_cast<char *>("1.2.x");
    cases.push_back({"bad initial policy", r, noParam, false, 1001});
    for (Case &c : cases) {
        SCOPED_TRACE(c.what);
        ZQ_PVD_Context ctx;
        std::memset(&ctx, 0x5a, sizeof ctx);
        int rc = QRT_PVD_InitCTX(c.nullCtx ? nullptr : &ctx, &c.req, &c.param);
        if (c.want == 1001)
            EXPECT_TRUE(rc >= 1000 && rc < 2000) << rc;
        else
            EXPECT_EQ(rc, c.want);
        LastRecord last = last_record();
        EXPECT_EQ(last.func, "QRT_PVD_InitCTX");
        EXPECT_EQ(last.file, "suite_pvd.cpp");
        EXPECT_EQ(last.code, rc);
        if (!c.nullCtx) {
            ZQ_PVD_Context zero{};
            EXPECT_EQ(std::memcmp(&ctx, &zero, sizeof ctx), 0) << "context not left zeroed";
        }
    }
    EXPECT_EQ(g_calls.start, 0);  // the missing End was found before anything started

    // CB_Store_Start's failure is the result, and End is then never called
    g_calls = StoreCalls{};
    g_calls.startResult = 4242;
    ZQ_PVD_VerifyParam p = store_callbacks(true);
    ZQ_PVD_Context ctx{};
    EXPECT_EQ(QRT_PVD_InitCTX(&ctx, &plain, &p), 4242);
    EXPECT_EQ(last_record().func, "QRT_PVD_InitCTX");
    EXPECT_EQ(QRT_PVD_ResetCTX(&ctx), 0);
    EXPECT_EQ(g_calls.start, 1);
    EXPECT_EQ(g_calls.end, 0);
    g_calls = StoreCalls{};
}

TEST(PvdContext, InitTakesOverTheRequestAndResetEndsTheStoreOnce) {
    trace_on();
    Pki &pki = Pki::get();
    ZQ_PVD_ObjectList t = object_view(pki.root.der), o1 = object_view(pki.ca.der), o2 = object_view(pki.ee.der),
                      c = object_view(pki.crl);
    o1.next = &o2;
    ZQ_PVD_CertPathRequest req{};
    req.trustCerts = &t;
    req.otherCerts = &o1;
    req.otherCRLs = &c;
    req.initPolicies = const_cast<char *>(",1.2.3.4,,1.2.3.5,");
    req.initExplicitPolicy = 1;
    ZQ_PVD_VerifyParam p = store_callbacks(true);
    p.flags = PVD_FLAG_NO_OCSP | PVD_FLAG_STRICT;
    p.cache.disable = 1;
    p.store.distrustRoot = 1;
    p.ldap.ldapInfon = 100;  // more than the 8 entries there are
    p.ldap.ldapInfos[0].srvrURL = const_cast<char *>("ldap://dir.example/");
    g_calls = StoreCalls{};
    auto *ctx = static_cast<ZQ_PVD_Context *>(calloc(1, sizeof(ZQ_PVD_Context)));
    ASSERT_EQ(QRT_PVD_InitCTX(ctx, &req, &p), 0) << trace_text();
    EXPECT_EQ(g_calls.start, 1);
    EXPECT_EQ(g_calls.startPath, "/nonexistent/store");
    EXPECT_EQ(ctx->useCBStore, 1);
    EXPECT_EQ(ctx->flags, PVD_FLAG_NO_OCSP | PVD_FLAG_STRICT);
    EXPECT_EQ(ctx->cacheDisable, 1);
    EXPECT_EQ(ctx->distrustRoot, 1);
    EXPECT_STREQ(ctx->storePath, "/nonexistent/store");
    EXPECT_EQ(ctx->ldapInfon, PVD_MAX_LDAPINFO);
    EXPECT_STREQ(ctx->ldapInfos[0].srvrURL, "ldap://dir.example/");
    EXPECT_EQ(ctx->cb.CB_Store_End, cb_end);
    ASSERT_NE(ctx->trustCerts, nullptr);
    EXPECT_EQ(ctx->trustCerts->value.typeID, PVD_TYPE_ROOT);
    EXPECT_EQ(ctx->otherCerts->value.typeID, PVD_TYPE_CA);
    EXPECT_EQ(ctx->otherCerts->next->value.typeID, PVD_TYPE_CERT);
    EXPECT_EQ(ctx->otherCRLs->value.typeID, PVD_TYPE_CRL);
    // the state: two user policies, the valid set {anyPolicy}, counters of a fresh path
    const ZQ_PVD_StateVars &v = ctx->vars;
    EXPECT_EQ(v.userPolicies.count, 2);
    EXPECT_EQ(v.userPolicies.hasAny, 0);
    EXPECT_EQ(v.validPolicies.count, 1);
    EXPECT_EQ(v.validPolicies.hasAny, 1);
    EXPECT_EQ(v.validPolicies.nodes[0].expectedHasAny, 1);
    EXPECT_EQ(v.explicitPolicy, 0);
    EXPECT_EQ(v.inhibitAnyPolicy, 2);
    EXPECT_EQ(v.policyMapping, 2);
    EXPECT_EQ(v.maxPathLength, 1);
    EXPECT_EQ(v.permitted.isAll, 1);
    EXPECT_EQ(v.excluded.count, 0);

    EXPECT_EQ(QRT_PVD_ResetCTX(ctx), 0);
    EXPECT_EQ(QRT_PVD_ResetCTX(ctx), 0);
    EXPECT_EQ(g_calls.end, 1);
    ZQ_PVD_Context zero{};
    EXPECT_EQ(std::memcmp(ctx, &zero, sizeof zero), 0);
    free(ctx);

    // a disabled store ignores the callbacks; CB_Store_Start alone needs nothing else then
    g_calls = StoreCalls{};
    p = store_callbacks(false);
    p.store.disable = 1;
    ZQ_PVD_Context c2{};
    ASSERT_EQ(QRT_PVD_InitCTX(&c2, &req, &p), 0);
    EXPECT_EQ(c2.useCBStore, 0);
    QRT_PVD_ResetCTX(&c2);
    EXPECT_EQ(g_calls.start + g_calls.end, 0);
    g_calls = StoreCalls{};
}

TEST(PvdContext, InitialPolicySets) {
    trace_on();
    struct Case {
        const char *text;
        int count, hasAny, rc;
    } cases[] = {
        {nullptr, 1, 1, 0},       {"any-policy", 1, 1, 0}, {"1.2.3,,1.2.4,", 2, 0, 0},
        {"2.5.29.32.0", 1, 1, 0}, {"", 0, 0, 0},
    };
    for (const Case &c : cases) {
        ZQ_PVD_Policies set{};
        EXPECT_EQ(QRT_PVD_Policies_FromString(&set, c.text), c.rc) << (c.text ? c.text : "NULL");
        EXPECT_EQ(set.count, c.count) << (c.text ? c.text : "NULL");
        EXPECT_EQ(set.hasAny, c.hasAny) << (c.text ? c.text : "NULL");
        QRT_PVD_Policies_Reset(&set);
    }
    std::string many;
    for (int i = 0; i < 51; ++i) many += "1.2.3." + std::to_string(i) + ",";
    ZQ_PVD_Policies set{};
    EXPECT_EQ(QRT_PVD_Policies_FromString(&set, many.c_str()), QRT_PVD_CERT_POLICY_EXCEED);
    EXPECT_EQ(set.count, 0);
    many.resize(many.rfind("1.2.3.50"));
    EXPECT_EQ(QRT_PVD_Policies_FromString(&set, many.c_str()), 0);
    EXPECT_EQ(set.count, 50);
    QRT_PVD_Policies_Reset(&set);

    ZQ_PVD_PolicyNode n{};
    ASSERT_EQ(QRT_PVD_PolicyNode_Init(&n, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(n.isAny, 1);
    for (int i = 0; i < PVD_MAX_EXPECTED; ++i) EXPECT_EQ(QRT_PVD_PolicyNode_AddExpected(&n, &anyPolicy), 0);
    EXPECT_EQ(QRT_PVD_PolicyNode_AddExpected(&n, &anyPolicy), QRT_PVD_CERT_POLICY_EXCEED);
    EXPECT_EQ(n.expectedHasAny, 1);
    QRT_PVD_PolicyNode_Reset(&n);
}

}  // namespace
