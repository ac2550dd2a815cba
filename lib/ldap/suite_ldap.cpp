// The exported fetches: one value, every value, revocation lists checked under their issuer,
// and decoded certificates and lists. Each records its failures under its own name.
#include "ldap_internal.h"
#include "ostrel/asn_tree.hpp"
#include "suite_crl.h"

namespace ostrel::ldap {
namespace {

int get_one(const char *fn, BIN *out, const char *location, const char *dn, int kind, const Access &a) {
    Query q;
    if (int rc = make_query(fn, location, dn, kind, q)) return rc;
    BinOwner value;
    if (int rc = fetch_one(fn, q, a, value)) return rc;
    value.release_to(out);
    return 0;
}

int get_all(const char *fn, ZQ_BIN_LIST **list, const char *location, const char *dn, int kind, const Access &a) {
    Query q;
    if (int rc = make_query(fn, location, dn, kind, q)) return rc;
    ValueList values;
    if (int rc = fetch_all(fn, q, a, values)) return rc;
    values.splice_into(list);
    return 0;
}

// A revocation list of `kind`; with issuerCert, its signature checked under the issuer's key.
int get_checked_list(const char *fn, BIN *out, const char *location, const char *dn, int kind, const BIN *issuerCert,
                     const Access &a) {
    Query q;
    if (int rc = make_query(fn, location, dn, kind, q)) return rc;
    BinOwner value;
    if (int rc = fetch_one(fn, q, a, value)) return rc;
    if (issuerCert) {
        AsnTree<Certificate> issuer(Certificate_PDU);
        if (issuer.decode(issuerCert)) return OSTREL_FAIL_AS(fn, QRT_LDAP_DECODE_FAILED);
        AsnTree<CertificateList> crl(CertificateList_PDU);
        if (crl.decode(value.get())) return OSTREL_FAIL_AS(fn, QRT_LDAP_DECODE_FAILED);
        if (int rc = QRT_VerifyCRL(0, &issuer->tbsCertificate, crl.get())) return OSTREL_FAIL_AS(fn, rc);
    }
    value.release_to(out);
    return 0;
}

// A revocation list of `kind` decoded; with issuer, its signature checked under the issuer's key.
int retrieve_list(const char *fn, AsnTree<CertificateList> &crl, const char *location, const char *dn, int kind,
                  const Certificate *issuer) {
    Query q;
    if (int rc = make_query(fn, location, dn, kind, q)) return rc;
    BinOwner value;
    if (int rc = fetch_one(fn, q, Access{}, value)) return rc;
    if (crl.decode(value.get())) return OSTREL_FAIL_AS(fn, QRT_LDAP_DECODE_FAILED);
    if (issuer)
        if (int rc = QRT_VerifyCRL(0, &issuer->tbsCertificate, crl.get())) return OSTREL_FAIL_AS(fn, rc);
    return 0;
}

int retrieve_list_into(const char *fn, CertificateList **out, const char *location, const char *dn, int kind,
                       const Certificate *issuer) {
    AsnTree<CertificateList> crl(CertificateList_PDU);
    if (int rc = retrieve_list(fn, crl, location, dn, kind, issuer)) return rc;
    *out = crl.release();
    return 0;
}

}  // namespace
}  // namespace ostrel::ldap

using namespace ostrel::ldap;
using ostrel::AsnTree;
using ostrel::BinOwner;

extern "C" {

// ---- One value ------------------------------------------------------------------------------

QRT_API int QRT_LDAP_GetCore(BIN *out, const char *location, const char *dn, int kind, const struct timeval *timeout) {
    return OSTREL_GUARD(out && location,
                        [&, fn = __func__] { return get_one(fn, out, location, dn, kind, access_of(timeout)); });
}

QRT_API int QRT_LDAP_GetCert(BIN *out, const char *location, const char *dn, int kind, const struct timeval *timeout) {
    return OSTREL_GUARD(out && location,
                        [&, fn = __func__] { return get_one(fn, out, location, dn, kind, access_of(timeout)); });
}

QRT_API int QRT_LDAP_GetObject(BIN *out, const char *location, const char *dn, int kind,
                               const ZQ_LDAP_GET_PARAM *param) {
    return OSTREL_GUARD(out && location && param,
                        [&, fn = __func__] { return get_one(fn, out, location, dn, kind, access_of(param->timeout)); });
}

QRT_API int QRT_LDAP_GetCRL(BIN *out, const char *location, const char *dn, const BIN *issuerCert,
                            const struct timeval *timeout) {
    return OSTREL_GUARD(out && location, [&, fn = __func__] {
        return get_checked_list(fn, out, location, dn, QRT_LDAP_CRL, issuerCert, access_of(timeout));
    });
}

QRT_API int QRT_LDAP_GetARL(BIN *out, const char *location, const char *dn, const BIN *issuerCert,
                            const struct timeval *timeout) {
    return OSTREL_GUARD(out && location, [&, fn = __func__] {
        return get_checked_list(fn, out, location, dn, QRT_LDAP_ARL, issuerCert, access_of(timeout));
    });
}

QRT_API int QRT_LDAP_GetDCRL(BIN *out, const char *location, const char *dn, const BIN *issuerCert,
                             const struct timeval *timeout) {
    return OSTREL_GUARD(out && location, [&, fn = __func__] {
        return get_checked_list(fn, out, location, dn, QRT_LDAP_DELTA_CRL, issuerCert, access_of(timeout));
    });
}

// ---- One value, with a bind ------------------------------------------------------------------

QRT_API int QRT_LDAP_GetCore_Ex(BIN *out, const char *location, const char *dn, int kind,
                                const ZQ_LDAP_GET_PARAM *param) {
    return OSTREL_GUARD(out && location,
                        [&, fn = __func__] { return get_one(fn, out, location, dn, kind, access_of(param)); });
}

QRT_API int QRT_LDAP_GetObject_Ex(BIN *out, const char *location, const char *dn, int kind,
                                  const ZQ_LDAP_GET_PARAM *param) {
    return OSTREL_GUARD(out && location && param,
                        [&, fn = __func__] { return get_one(fn, out, location, dn, kind, access_of(param)); });
}

QRT_API int QRT_LDAP_GetCert_Ex(BIN *out, const char *location, const char *dn, int kind,
                                const ZQ_LDAP_GET_PARAM *param) {
    return OSTREL_GUARD(out && location,
                        [&, fn = __func__] { return get_one(fn, out, location, dn, kind, access_of(param)); });
}

QRT_API int QRT_LDAP_GetCRL_Ex(BIN *out, const char *location, const char *dn, const BIN *issuerCert,
                               const ZQ_LDAP_GET_PARAM *param) {
    return OSTREL_GUARD(out && location, [&, fn = __func__] {
        return get_checked_list(fn, out, location, dn, QRT_LDAP_CRL, issuerCert, access_of(param));
    });
}

QRT_API int QRT_LDAP_GetARL_Ex(BIN *out, const char *location, const char *dn, const BIN *issuerCert,
                               const ZQ_LDAP_GET_PARAM *param) {
    return OSTREL_GUARD(out && location, [&, fn = __func__] {
        return get_checked_list(fn, out, location, dn, QRT_LDAP_ARL, issuerCert, access_of(param));
    });
}

QRT_API int QRT_LDAP_GetDCRL_Ex(BIN *out, const char *location, const char *dn, const BIN *issuerCert,
                                const ZQ_LDAP_GET_PARAM *param) {
    return OSTREL_GUARD(out && location, [&, fn = __func__] {
        return get_checked_list(fn, out, location, dn, QRT_LDAP_DELTA_CRL, issuerCert, access_of(param));
    });
}

// ---- Every value -----------------------------------------------------------------------------

QRT_API int QRT_LDAP_GetCoreList(ZQ_BIN_LIST **list, const char *location, const char *dn, int kind,
                                 const struct timeval *timeout) {
    return OSTREL_GUARD(list && location,
                        [&, fn = __func__] { return get_all(fn, list, location, dn, kind, access_of(timeout)); });
}

QRT_API int QRT_LDAP_GetObjectList(ZQ_BIN_LIST **list, const char *location, const char *dn, int kind,
                                   const ZQ_LDAP_GET_PARAM *param) {
    return OSTREL_GUARD(list && location && param, [&, fn = __func__] {
        return get_all(fn, list, location, dn, kind, access_of(param->timeout));
    });
}

QRT_API int QRT_LDAP_GetCertList(ZQ_BIN_LIST **list, const char *location, const char *dn, int kind,
                                 const struct timeval *timeout) {
    return OSTREL_GUARD(list && location,
                        [&, fn = __func__] { return get_all(fn, list, location, dn, kind, access_of(timeout)); });
}

QRT_API int QRT_LDAP_GetListCore_Ex(ZQ_BIN_LIST **list, const char *location, const char *dn, int kind,
                                    const ZQ_LDAP_GET_PARAM *param) {
    return OSTREL_GUARD(list && location,
                        [&, fn = __func__] { return get_all(fn, list, location, dn, kind, access_of(param)); });
}

QRT_API int QRT_LDAP_GetObjectList_Ex(ZQ_BIN_LIST **list, const char *location, const char *dn, int kind,
                                      const ZQ_LDAP_GET_PARAM *param) {
    return OSTREL_GUARD(list && location && param,
                        [&, fn = __func__] { return get_all(fn, list, location, dn, kind, access_of(param)); });
}

QRT_API int QRT_LDAP_GetCertList_Ex(ZQ_BIN_LIST **list, const char *location, const char *dn, int kind,
                                    const ZQ_LDAP_GET_PARAM *param) {
    return OSTREL_GUARD(list && location,
                        [&, fn = __func__] { return get_all(fn, list, location, dn, kind, access_of(param)); });
}

// ---- Decoded values ------------------------------------------------------------------------

QRT_API int QRT_LDAP_RetrieveCert(ZQ_ASN_CTX *, Certificate **cert, const char *location, const char *dn, int kind) {
    return OSTREL_GUARD(cert && location, [&, fn = __func__] {
        Query q;
        if (int rc = make_query(fn, location, dn, kind, q)) return rc;
        BinOwner value;
        if (int rc = fetch_one(fn, q, Access{}, value)) return rc;
        AsnTree<Certificate> tree(Certificate_PDU);
        if (tree.decode(value.get())) return OSTREL_FAIL_AS(fn, QRT_LDAP_DECODE_FAILED);
        *cert = tree.release();
        return 0;
    });
}

QRT_API int QRT_LDAP_RetrieveCertBin(ZQ_ASN_CTX *, BIN *out, const char *location, const char *dn, int kind) {
    return OSTREL_GUARD(out && location, [&, fn = __func__] { return get_one(fn, out, location, dn, kind, Access{}); });
}

QRT_API int QRT_LDAP_RetrieveCRL(ZQ_ASN_CTX *, CertificateList **crl, const char *location, const char *dn,
                                 const Certificate *issuer) {
    return OSTREL_GUARD(crl && location,
                        [&, fn = __func__] { return retrieve_list_into(fn, crl, location, dn, QRT_LDAP_CRL, issuer); });
}

QRT_API int QRT_LDAP_RetrieveARL(ZQ_ASN_CTX *, CertificateList **crl, const char *location, const char *dn,
                                 const Certificate *issuer) {
    return OSTREL_GUARD(crl && location,
                        [&, fn = __func__] { return retrieve_list_into(fn, crl, location, dn, QRT_LDAP_ARL, issuer); });
}

QRT_API int QRT_LDAP_RetrieveERL(ZQ_ASN_CTX *, BIN *out, int kind, const char *location, const char *dn,
                                 const Certificate *issuer) {
    return OSTREL_GUARD(out && location, [&, fn = __func__] {
        if (kind != QRT_LDAP_CRL && kind != QRT_LDAP_ARL) return OSTREL_FAIL_AS(fn, QRT_LDAP_INVALID_KIND);
        AsnTree<CertificateList> crl(CertificateList_PDU);
        if (int rc = retrieve_list(fn, crl, location, dn, kind, issuer)) return rc;
        BinOwner der;
        if (int rc = QRT_ASN_EncodePDU(der.get(), crl.get(), CertificateList_PDU)) {
            QRT_Trace_PutError(fn, rc, "failed to encode CRL/ARL PDU", __FILE__, __LINE__);
            return rc;
        }
        der.release_to(out);
        return 0;
    });
}

}  // extern "C"
