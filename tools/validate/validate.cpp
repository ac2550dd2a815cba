// The tools' validation module: the path-validation wrappers and the directory and OCSP
// callbacks.
#include "validate.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "ostrel/asn_tree.hpp"
#include "ostrel/owners.hpp"
#include "suite_ldap.h"
#include "suite_ocsp.h"
#include "suite_pkc.h"

namespace {

constexpr std::string_view kLdapScheme = "ldap://";
constexpr std::string_view kHttpScheme = "http://";
constexpr int kMaxEntries = 2;  // directory servers taken from an address

// An object list path validation reads, released at scope exit.
class ObjectList {
  public:
    ObjectList() = default;
    ObjectList(const ObjectList &) = delete;
    ObjectList &operator=(const ObjectList &) = delete;
    ~ObjectList() { QRT_PVD_ObjectList_Free(head_); }

    // Appends a copy of bin under typeID; an empty bin is skipped. 0 or the I/O core's code.
    int add(const BIN &bin, int typeID) {
        if (!bin.length || !bin.value) return 0;
        ZQ_PVD_ObjectList *node = QRT_PVD_ObjectList_New();
        if (!node) return QRT_PVD_MALLOC_FAILED;
        node->value.typeID = typeID;
        int rc = QRT_BIN_Copy(&node->value.encObj, &bin);
        if (rc != 0) {
            QRT_PVD_ObjectList_Free(node);
            return rc;
        }
        ZQ_PVD_ObjectList **tail = &head_;
        while (*tail) tail = &(*tail)->next;
        *tail = node;
        return 0;
    }
    ZQ_PVD_ObjectList *get() const { return head_; }

  private:
    ZQ_PVD_ObjectList *head_ = nullptr;
};

// A directory server as path validation takes it: "ldap://" + entry + "/", each added only when
// missing.
std::string server_url(std::string_view entry) {
    std::string url;
    if (entry.substr(0, kLdapScheme.size()) != kLdapScheme) url = kLdapScheme;
    url.append(entry);
    if (url.back() != '/') url.push_back('/');
    return url;
}

// Up to two non-empty entries of an address split at ";" and ",".
std::vector<std::string> split_address(const char *address) {
    std::vector<std::string> out;
    if (!address) return out;
    std::string_view rest(address);
    while (!rest.empty() && out.size() < kMaxEntries) {
        size_t cut = rest.find_first_of(";,");
        std::string_view entry = rest.substr(0, cut);
        if (!entry.empty()) out.emplace_back(entry);
        rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
    }
    return out;
}

// Path validation's strict candidate rule applies unless the authority key identifier names both
// the issuer and the serial of the issuer's certificate. -1 when it does not decode.
int strict_flag(const Certificate &subject) {
    const Extension *ext = QRT_GetExtension(subject.tbsCertificate.extensions, &id_ce_authorityKeyIdentifier);
    if (!ext) return 0;
    ostrel::AsnTree<AuthorityKeyIdentifier> aki(AuthorityKeyIdentifier_PDU);
    if (aki.decode(&ext->extnValue) != 0 || !aki) return -1;
    const unsigned both =
        AuthorityKeyIdentifier_authorityCertIssuer_present | AuthorityKeyIdentifier_authorityCertSerialNumber_present;
    return (aki->bit_mask & both) == both ? 0 : PVD_FLAG_STRICT;
}

int verify(const Certificate *subject, const char *policies, const char *storeRoot,
           const std::vector<std::string> &entries, const char *ctlAddress, const char *ctlDN, int option,
           const VALIDITY_CERT_SET *certSet, ZQ_PVD_CertPathResult *result) {
    if (!subject) return QRT_VALIDATE_CERT_ENCODE;
    ostrel::BinOwner der;
    // the signed part as received: validation checks the issuer's signature over these bytes
    if (ostrel::certificate_der(der.get(), *subject) != 0 || !der->value) return QRT_VALIDATE_CERT_ENCODE;
    int flags = 0;
    int rc = QRT_VerifyCertPath_Flags(subject, option, &flags);
    if (rc != 0) return rc;

    ObjectList trusted, cas, crls;
    if (certSet) {
        rc = trusted.add(certSet->rootCert, PVD_TYPE_ROOT);
        if (rc == 0) rc = cas.add(certSet->caCert, PVD_TYPE_CA);
        if (rc == 0) rc = crls.add(certSet->arl, PVD_TYPE_ARL);
        if (rc == 0) rc = crls.add(certSet->crl, PVD_TYPE_CRL);
        if (rc != 0) return rc;
    }

    ZQ_PVD_CertPathRequest request{};
    request.tgtCert.encObj = *der;
    request.trustCerts = trusted.get();
    request.otherCerts = cas.get();
    request.otherCRLs = crls.get();
    request.initPolicies = const_cast<char *>(policies);

    ZQ_PVD_VerifyParam param{};
    param.flags = flags;
    param.store.disable = storeRoot && *storeRoot ? 0 : 1;
    param.store.storePath = param.store.disable ? nullptr : const_cast<char *>(storeRoot);
    std::vector<std::string> urls;
    for (const std::string &e : entries) urls.push_back(server_url(e));
    const bool withCtl = ctlAddress && *ctlAddress;
    if (withCtl) urls.push_back(server_url(ctlAddress));
    for (size_t i = 0; i < urls.size(); ++i) param.ldap.ldapInfos[i].srvrURL = urls[i].data();
    if (withCtl) param.ldap.ldapInfos[urls.size() - 1].ctlDN = const_cast<char *>(ctlDN);
    param.ldap.ldapInfon = static_cast<int>(urls.size());
    param.vrfyCB.CB_LDAP_GetObject = CB_LDAP_GetObject;

    ZQ_PVD_CertPathResult scratch{};
    rc = QRT_PVD_VerifyCertPath(result ? result : &scratch, &request, &param);
    QRT_PVD_CertPathResult_Reset(&scratch);
    return rc == QRT_PVD_CERT_SELF_SIGNED ? QRT_VALIDATE_ROOT_CERT : rc;
}

// The directory library's kind and the failure offset of a validation object type.
struct Kind {
    int typeID, ldapKind, offset;
};
constexpr Kind kKinds[] = {
    {PVD_TYPE_CA, QRT_LDAP_CA_CERT, QRT_VALIDATE_LDAP_CERT_OFFSET},
    {PVD_TYPE_CRL, QRT_LDAP_CRL, QRT_VALIDATE_LDAP_CRL_OFFSET},
    {PVD_TYPE_ARL, QRT_LDAP_ARL, QRT_VALIDATE_LDAP_ARL_OFFSET},
    {PVD_TYPE_CTL, QRT_LDAP_TRUST_LIST, QRT_VALIDATE_LDAP_CTL_OFFSET},
};

// Copies text into out (size bytes) when it fits with its terminator.
bool put(std::string_view text, char *out, size_t size) {
    if (!out || text.size() >= size) return false;
    if (!text.empty()) std::memcpy(out, text.data(), text.size());
    out[text.size()] = '\0';
    return true;
}

}  // namespace

extern "C" int QRT_VerifyCertPathEx(const Certificate *subject, const char *policies, const char *storeRoot,
                                    const char *ldapAddress, const char *ctlAddress, const char *ctlDN, int option,
                                    const VALIDITY_CERT_SET *certSet, ZQ_PVD_CertPathResult *result) {
    try {
        return verify(subject, policies, storeRoot, split_address(ldapAddress), ctlAddress, ctlDN, option, certSet,
                      result);
    } catch (...) {
        return QRT_PVD_MALLOC_FAILED;
    }
}

extern "C" int QRT_VerifyCertPath(const Certificate *subject, const char *policies, const char *storeRoot,
                                  const char *ldapAddress, const char *ctlAddress, const char *ctlDN, int option,
                                  ZQ_PVD_CertPathResult *result) {
    return QRT_VerifyCertPathEx(subject, policies, storeRoot, ldapAddress, ctlAddress, ctlDN, option, nullptr, result);
}

extern "C" int QRT_VerifyCertPathEx2(const Certificate *subject, const char *policies, const char *storeRoot,
                                     const char *const ldapEntries[3], const char *ctlAddress, const char *ctlDN,
                                     int option, const VALIDITY_CERT_SET *certSet, ZQ_PVD_CertPathResult *result) {
    try {
        std::vector<std::string> entries;
        for (int i = 0; ldapEntries && i < kMaxEntries; ++i)
            if (ldapEntries[i] && *ldapEntries[i]) entries.emplace_back(ldapEntries[i]);
        return verify(subject, policies, storeRoot, entries, ctlAddress, ctlDN, option, certSet, result);
    } catch (...) {
        return QRT_PVD_MALLOC_FAILED;
    }
}

extern "C" int QRT_VerifyCertPath_Flags(const Certificate *subject, int option, int *flags) {
    if (!subject || !flags) return QRT_VALIDATE_CERT_ENCODE;
    const int strict = strict_flag(*subject);
    if (strict < 0) return QRT_VALIDATE_AKID_DECODE;
    *flags = PVD_FLAG_NO_OCSP | (option & (CERT_VERIFY_CRL | CERT_VERIFY_RFC3280)) | strict;
    return 0;
}

extern "C" int CB_LDAP_GetObject(ZQ_BIN_LIST *out, const int typeID, const char *uri) {
    const Kind *kind = nullptr;
    for (const Kind &k : kKinds)
        if (k.typeID == typeID) kind = &k;
    if (!kind) return -1;
    ZQ_LDAP_GET_PARAM noTimeout{};
    ostrel::BinOwner value;
    int rc = out ? QRT_LDAP_GetObject(value.get(), uri, nullptr, kind->ldapKind, &noTimeout) : QRT_LDAP_INVALID_INPUT;
    if (rc == 0) {
        if (!out->value.value) {
            value.release_to(&out->value);
            return 0;
        }
        rc = QRT_BIN_LIST_Add(&out->next, value.get());
        return rc;
    }
    const bool directoryCode = rc >= QRT_LDAP_INIT_FAILED && rc <= QRT_LDAP_NO_RESULTS;
    return directoryCode ? rc - kind->offset : rc;
}

extern "C" int parseURL(const char *url, char *host, size_t hostSize, int *port, char *path, size_t pathSize) {
    if (!url || !host || !port || !path) return -1;
    std::string_view rest(url);
    if (rest.substr(0, kHttpScheme.size()) != kHttpScheme) return -1;
    rest.remove_prefix(kHttpScheme.size());
    const size_t slash = rest.find('/');
    std::string_view authority = rest.substr(0, slash);
    std::string_view tail = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    const size_t colon = authority.find(':');
    std::string_view name = authority.substr(0, colon);
    int number = 80;
    if (colon != std::string_view::npos) {
        std::string_view digits = authority.substr(colon + 1);
        if (digits.empty()) return -1;
        number = 0;
        for (char c : digits) {
            if (c < '0' || c > '9') return -1;
            number = number * 10 + (c - '0');
            if (number > 65535) return -1;
        }
        if (number < 1) return -1;
    }
    if (name.empty() || !put(name, host, hostSize) || !put(tail, path, pathSize)) {
        if (hostSize) host[0] = '\0';
        if (pathSize) path[0] = '\0';
        return -1;
    }
    *port = number;
    return 0;
}

extern "C" int CB_OCSP_CheckCert(ZQ_PVD_OCSPResult *result, const BIN *cert, const char *ocspURL) {
    if (!result || !cert || !ocspURL) return QRT_PVD_INVALID_INPUT;
    char host[256];
    char path[1024];
    int port = 0;
    if (parseURL(ocspURL, host, sizeof host, &port, path, sizeof path) != 0) return -1;
    std::printf("ip=%s, port=%d\n", host, port);
    std::fflush(stdout);

    ZQ_OCSP_Request *request = QRT_OCSP_CreateRequest();
    if (!request) return -1;
    ZQ_OCSP_Response *response = QRT_OCSP_CreateResponse();
    int rc = response ? QRT_BIN_LIST_Add(&request->reqCertList, cert) : -1;
    ostrel::BinOwner requestDer, responseDer;
    if (rc == 0) {
        ZQ_OCSP_ClientParam param{};
        param.useHTTP = 1;
        param.proxyURL = const_cast<char *>(ocspURL);
        const int fd = QRT_Socket_Client(host, port);
        rc = fd < 0 ? -1 : QRT_OCSP_Client(response, requestDer.get(), responseDer.get(), request, &param, fd);
        if (fd >= 0) QRT_Socket_Close(fd);
    }
    if (rc == 0 && response->respList) {
        const ZQ_OCSP_SingleResponse &single = response->respList->value;
        result->status = single.certStatus == QRT_OCSP_STATUS_GOOD      ? 0
                         : single.certStatus == QRT_OCSP_STATUS_REVOKED ? 1
                                                                        : 2;
        result->thisUpdate = single.thisUpdate;
        result->nextUpdate = single.nextUpdate;
        responseDer.release_to(&result->response);
    } else {
        rc = -1;
    }
    QRT_OCSP_DestroyResponse(response);
    QRT_OCSP_DestroyRequest(request);
    return rc == 0 ? 0 : -1;
}
