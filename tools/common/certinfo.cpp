// The certificate information block.
#include "certinfo.h"

#include <string>

namespace {

void add(std::string &s, const char *label, const char *value) {
    s += label;
    s += value;
    s += '\n';
}

void add_if(std::string &s, const char *label, const char *value) {
    if (value[0]) add(s, label, value);
}

std::string block(const CertInfo &ci, const char *title, int flags) {
    std::string s;
    s.reserve(8192);
    s += "---------- ";
    s += title;
    s += " Information ----------\n";
    add(s, "[version]\t\t\t: ", std::to_string(ci.nVersion).c_str());
    add(s, "[serial]\t\t\t: ", ci.sSerial);
    add(s, "[signature algorithm id]\t: ", ci.sSignatureAlgDesc);
    add(s, "[issuer]\t\t\t: ", ci.sIssuerRDN);
    add(s, "[subject]\t\t\t: ", ci.sSubjectRDN);
    add(s, "[subject publickey algoritm id]\t: ", ci.sSubjectKeyAlgDesc);
    add(s, "[validity]\t\t\t: ", (std::string(ci.sFrom) + " - " + ci.sTo).c_str());
    add(s, "[signature]\n", ci.sSignature);
    add_if(s, "[issuer alt name]\t\t: ", ci.sIssuerAltName);
    add_if(s, "[subject alt name]\t\t: ", ci.sSubjectAltName);
    add_if(s, "[key usage]\t\t\t: ", ci.sKeyUsageDesc);
    add_if(s, "[ext key usage]\t\t: ", ci.sExtendedKeyUsage);
    add_if(s, "[policy]\t\t\t: ", ci.sPolicyID);
    add_if(s, "[basic constraint]\t\t: ", ci.sBasicConstraints);
    add_if(s, "[crl distribution points]\t: ", ci.sCrlDistributionPoints);
    add_if(s, "[authority key id]\t\t: ", ci.sAuthorityKeyID);
    add_if(s, "[subject key id]\t\t: ", ci.sSubjectKeyID);
    add(s, "[public key length]\t\t: ", std::to_string(ci.nPubKeyLen).c_str());
    add(s, "[public key]\n", ci.sSubjectPublicKey);
    if (flags & QRT_CERTINFO_QUALIFIERS) {
        add_if(s, "[userNotice]\n", ci.sUserNotice);
        add_if(s, "[CPS]\n", ci.sCPSURI);
        add_if(s, "[AIA]\n", ci.sAIAs);
    }
    s += "---------- End Information ----------\n";
    return s;
}

}  // namespace

extern "C" void QRT_PrintCertInfo(const CertInfo *info, const char *title, int flags, FILE *const *outs, int count) {
    if (!info || !title || !outs) return;
    try {
        std::string s = block(*info, title, flags);
        for (int i = 0; i < count; ++i)
            if (outs[i]) std::fwrite(s.data(), 1, s.size(), outs[i]);
    } catch (...) {
        // Out of memory: nothing is printed.
    }
}
