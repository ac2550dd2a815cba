/*
 * The older private-key container of the product family ("wjca"): a header line, Base64 lines up
 * to a line that starts with "-", and under them the RC4 encryption (key: MD5 of the password) of
 * a 16-byte MD5 check value followed by the key itself.
 */
#ifndef OSTREL_TOOLS_WJCA_H
#define OSTREL_TOOLS_WJCA_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _WJSSL_DATA {
    unsigned int length;
    unsigned char *value;
} WJSSL_DATA;

/* A copy of length bytes of value; NULL when memory is short. */
WJSSL_DATA *WJSSL_New_Data(const unsigned char *value, unsigned int length);
/* Wipes and releases; NULL is allowed. */
void WJSSL_Free_Data(WJSSL_DATA *data);

/* Decodes one Base64 block of length characters into out, which holds 3 * (length / 4) bytes:
 * leading blanks are skipped, trailing whitespace dropped, the rest must be a non-zero multiple
 * of four characters, and each trailing "=" takes one byte off. The number of bytes, or -1. */
int WJSSL_Decode_Base64(unsigned char *out, const char *text, int length);

/* The private key in the container text (length bytes) under the password: *key receives new
 * data (WJSSL_Free_Data). 0, or -1 when the text is no container, the password is wrong or the
 * plaintext is too short to hold a check value and a key (*key is then NULL). */
int WJYV30_Get_Private_Key(WJSSL_DATA **key, const unsigned char *text, unsigned int length, const char *password,
                           int passwordLength);

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_TOOLS_WJCA_H */
