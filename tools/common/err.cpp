// Error texts of the tools' own codes; codes of the libraries below are handed to them by range.
// Built twice: with OSTREL_TOOLS_ERR_VALIDATION it also answers for the validation module, its
// directory callback and path validation, which only the validating tool links.
#include "err.h"

#include "certstorage.h"
#include "ostrel/frame.hpp"
#include "suite_asn.h"
#include "suite_codec.h"
#include "suite_crl.h"
#include "suite_csp.h"
#include "suite_io.h"
#include "suite_pkc.h"
#ifdef OSTREL_TOOLS_ERR_VALIDATION
#include "suite_ldap.h"
#include "suite_pvd.h"
#include "validate.h"
#endif

namespace {

// The store's codes have English texts only.
constexpr ostrel::ErrorText kToolTexts[] = {
    {QRT_CERTSTORE_MALLOC_FAILED, "memory allocation failed", nullptr},
    {QRT_CERTSTORE_NOT_FOUND, "no stored certificate matches", nullptr},
    {QRT_CERTSTORE_SUBJECT_TEXT, "the subject name of the certificate cannot be turned into text", nullptr},
    {QRT_CERTSTORE_MKDIR_FAILED, "a directory cannot be created", nullptr},
    {QRT_CERTSTORE_UNKNOWN_TYPE, "unknown certificate type", nullptr},
    {QRT_CERTSTORE_HASH_FAILED, "the name hash cannot be computed", nullptr},
    {QRT_CERTSTORE_OPENDIR_FAILED, "a directory cannot be opened", nullptr},
    {QRT_CERTSTORE_UNLINK_FAILED, "a file cannot be removed", nullptr},
    {QRT_CERTSTORE_RMDIR_FAILED, "a directory cannot be removed", nullptr},
    {QRT_CERTSTORE_NO_SERIAL, "a serial number is required and missing", nullptr},
#ifdef OSTREL_TOOLS_ERR_VALIDATION
    {QRT_VALIDATE_ROOT_CERT, "the certificate is a root certificate", nullptr},
    {QRT_VALIDATE_AKID_DECODE, "the authority key identifier cannot be decoded", nullptr},
    {QRT_VALIDATE_CERT_ENCODE, "the certificate cannot be encoded", nullptr},
#endif
};

#ifdef OSTREL_TOOLS_ERR_VALIDATION
// The directory callback's codes: the directory library's code less the offset of the kind
// fetched.
template <int offset>
const char *directory_reason(int code, int lang) {
    return QRT_LDAP_GetErrorReason(code + offset, lang);
}
#endif

}  // namespace

extern "C" const char *QRT_GetErrReason(int code, int lang) {
    // -1 is the I/O core's generic "error", which the store passes through.
    const char *text = ostrel::reason_of(kToolTexts, code, lang, "",
                                         {{-1, -1, QRT_IO_GetErrorReason},
                                          {1000, 1999, QRT_ASN_GetErrorReason},
                                          {3000, 3999, QRT_Codec_GetErrorReason},
                                          {6000, 6199, QRT_CSP_GetErrorReason},
                                          {8000, 8999, QRT_IO_GetErrorReason},
                                          {33000, 33999, QRT_CRL_GetErrorReason},
#ifdef OSTREL_TOOLS_ERR_VALIDATION
                                          {32301, 32314, directory_reason<QRT_VALIDATE_LDAP_CERT_OFFSET>},
                                          {32401, 32414, directory_reason<QRT_VALIDATE_LDAP_CRL_OFFSET>},
                                          {32501, 32514, directory_reason<QRT_VALIDATE_LDAP_ARL_OFFSET>},
                                          {32601, 32614, directory_reason<QRT_VALIDATE_LDAP_CTL_OFFSET>},
                                          {43000, 43999, QRT_PVD_GetErrorReason},
#endif
                                          {36000, 36999, QRT_PKC_GetErrorReason}});
    return text ? text : "";
}
