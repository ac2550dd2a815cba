/*
 * Error texts of the tools: the tools' own codes (the certificate store's 27xxx) and, handed on
 * by range, those of the libraries the tools link (I/O core, codec, ASN.1 layer, provider,
 * CRL and certificate libraries).
 *
 * The build for the tool that validates paths (ostrel_toolerr_validation) also knows the
 * validation module's codes (32200, 32210, 32220), the directory callback's (32301-32314,
 * 32401-32414, 32501-32514, 32601-32614: the directory library's text of the code plus 1700,
 * 1600, 1500 and 1400) and path validation's (43xxx, with what it hands on).
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
