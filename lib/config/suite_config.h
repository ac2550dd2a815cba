/*
 * libOstrelConfig: a text settings file read into a list of keys, each with a list of values.
 *
 * File format:
 *   - a line holds one key followed by its values, separated by white space;
 *   - a token in double quotes may contain white space; inside quotes every backslash is
 *     dropped, and the closing quote ends the token;
 *   - "#" starts a comment that runs to the end of the line; empty and comment lines are skipped;
 *   - a backslash at the end of a line joins the next line to it (the line feed becomes a
 *     space); a backslash elsewhere stays in the text together with the character after it;
 *   - a logical line holds at most 1024 characters and a token at most 128 (longer: 5090);
 *   - each key appears once (again: 5040).
 *
 * Ownership: a list is referred to by its first entry; an entry without key text is the empty
 * list. Every entry, value node and text is allocated with QRT_malloc and released together by
 * QRT_FreeEnvList. Texts returned by the look-ups belong to the list. A line from QRT_GetOneLine
 * belongs to the caller (QRT_free).
 *
 * Results: 0 on success, otherwise a code 5010-5140; QRT_CONFIG_GetErrorReason gives its text.
 */
#ifndef OSTREL_SUITE_CONFIG_H
#define OSTREL_SUITE_CONFIG_H

#include <stdio.h>

#include "suite_io.h"

#ifdef __cplusplus
extern "C" {
#endif

#include "suite_config_codes.h"

#define QRT_CONFIG_MAX_LINE 1024 /* characters of a logical line */
#define QRT_CONFIG_MAX_TOKEN 128 /* characters of a key or value */

/* A value of a key; value is NULL in the empty node a key starts with. */
typedef struct _ZQ_VALUE_LIST {
    char *value;
    struct _ZQ_VALUE_LIST *next;
} ZQ_VALUE_LIST;

/* A key entry: its text, its first value node and the next entry. */
typedef struct _ZQ_ENV_LIST {
    char *key;
    ZQ_VALUE_LIST *value;
    struct _ZQ_ENV_LIST *next;
} ZQ_ENV_LIST;

/* ---- Library frame (version "1.6.0.1") ------------------------------------------------- */

QRT_API const char *QRT_CONFIG_GetVersion(void);
QRT_API const char *QRT_GetVersionConfig(void);
/* 0 when this library is at least `required` (NULL skips that test) and its I/O core is recent
   enough; -1 otherwise. */
QRT_API int QRT_CONFIG_CheckVersion(const char *required);
/* English text of a code for lang 1; "UnDefined Error Reason" for other codes and languages. */
QRT_API const char *QRT_CONFIG_GetErrorReason(int code, int lang);
QRT_API const char *QRT_GetErrReasonConfig(int code, int lang);

/* ---- Reading --------------------------------------------------------------------------- */

/*
 * Reads the file at `path` into a new list in *list (release it with QRT_FreeEnvList). 5140
 * when the file cannot be opened or read, 5090 for a line or token too long, 5040 for a key
 * given twice, 5010-5080 when memory is short. On failure *list is NULL and nothing is kept.
 * The file is closed on every path.
 */
QRT_API int QRT_ReadConfigFile(const char *path, ZQ_ENV_LIST **list);

/* Skips white space and comment lines; 0 with the next character waiting, 5100 at the end of
   the file, 5140 when the file is NULL or cannot be read. */
QRT_API int QRT_RemoveLeadingSpace(FILE *file);

/*
 * Seeks to `offset`, skips white space and comment lines, and collects one logical line into a
 * new buffer in *line (QRT_free). Stops at a line feed, at "#" (left in the file for the next
 * call) or at the end of the file. 0; 5100 with *line NULL when the file holds no more lines;
 * 5090 when the line is longer than 1024 characters; 5080 when memory is short; 5140 when the
 * file cannot be read.
 */
QRT_API int QRT_GetOneLine(FILE *file, long offset, char **line);

/*
 * Splits `line` into tokens: the first becomes a new key of `list`, every further one a value
 * of that key. 5110 for a NULL list, 5090 for a token longer than 128 characters, or the code
 * of adding the key or a value.
 */
QRT_API int QRT_ParseLine(ZQ_ENV_LIST *list, const char *line);

/* ---- Lists ----------------------------------------------------------------------------- */

/* A new empty entry (5010) or value node (5020) in *out. */
QRT_API int QRT_InitEnvListElement(ZQ_ENV_LIST **out);
QRT_API int QRT_InitValueListElement(ZQ_VALUE_LIST **out);

/* Fills the empty first entry or appends a new entry for a copy of `key`. 5030 for a NULL list,
   5050 for a NULL key (or no memory for its copy), 5040 when the key is present, 5010/5020 when
   memory is short for the entry or its value node. */
QRT_API int QRT_AddKeyIntoEnvList(ZQ_ENV_LIST *list, const char *key);

/* Fills the first empty node or appends a node for a copy of `value`. 5060 for a NULL node,
   5070 for a NULL value (or no memory for its copy), 5020 when memory is short for the node. */
QRT_API int QRT_AddValueIntoValueList(ZQ_VALUE_LIST *node, const char *value);

/* The entry whose key equals `key` exactly (case-sensitive), or NULL. */
QRT_API ZQ_ENV_LIST *QRT_SearchKeyFromEnvList(ZQ_ENV_LIST *list, const char *key);

/* The first value of `key`, or NULL when the key is missing or has no value. */
QRT_API const char *QRT_GetConfValue(const ZQ_ENV_LIST *list, const char *key);

/* A key's first value node (NULL when it has no value), the node after `node`, and a node's
   text: for (n = QRT_FirstValueElement(e); n; n = QRT_NextValueElement(n)) ... */
QRT_API ZQ_VALUE_LIST *QRT_FirstValueElement(const ZQ_ENV_LIST *entry);
QRT_API ZQ_VALUE_LIST *QRT_NextValueElement(const ZQ_VALUE_LIST *node);
QRT_API const char *QRT_GetEnvValue(const ZQ_VALUE_LIST *node);

/* Prints each key as "[key] : " followed by its values, one per line, to standard output.
   0, or 5110 for a NULL list. */
QRT_API int QRT_PrintEnvList(const ZQ_ENV_LIST *list);

/* Releases every entry, value node and text of the list; NULL is allowed. */
QRT_API void QRT_FreeEnvList(ZQ_ENV_LIST *list);

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_SUITE_CONFIG_H */
