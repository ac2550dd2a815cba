/*
 * The information block the tools print for a certificate: a title line, the fields of its
 * CertInfo one per line (extensions only when present) and an end line.
 */
#ifndef OSTREL_TOOLS_CERTINFO_H
#define OSTREL_TOOLS_CERTINFO_H

#include <stdio.h>

#include "suite_pkc.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Adds the certificate policy's user notice and CPS and the authority information access
 * (each when present) before the end line. */
#define QRT_CERTINFO_QUALIFIERS 1

/* Writes the block to each of the count streams (NULL entries are skipped); title is the word
 * between the dashes of the first line ("Certificate"). */
void QRT_PrintCertInfo(const CertInfo *info, const char *title, int flags, FILE *const *outs, int count);

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_TOOLS_CERTINFO_H */
