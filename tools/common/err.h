/*
 * Error texts of the tools: the tools' own codes (the certificate store's 27xxx) and, handed on
 * by range, those of the libraries the tools link (I/O core, codec, ASN.1 layer, provider,
 * CRL and certificate libraries).
 */
#ifndef OSTREL_TOOLS_ERR_H
#define OSTREL_TOOLS_ERR_H

#ifdef __cplusplus
extern "C" {
#endif

/* lang 1 English, 0 Korean (EUC-KR); "" for a code nobody knows, a text that is missing or
 * another language. Never NULL. */
const char *QRT_GetErrReason(int code, int lang);

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_TOOLS_ERR_H */
