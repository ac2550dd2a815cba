/*
 * libOstrelMisc: console helpers, reading a password without echo and installing a signal
 * handler with fixed restart rules. The library links nothing but the C library.
 */
#ifndef OSTREL_SUITE_MISC_H
#define OSTREL_SUITE_MISC_H

#ifndef QRT_API
#if defined(__GNUC__)
#define QRT_API __attribute__((visibility("default")))
#else
#define QRT_API
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Bytes of a password buffer: at most 99 characters and the terminator. */
#define QRT_PASSWD_BUFFER 100

/* A signal handler, as for signal(2). */
typedef void (*QRT_SIGHANDLER)(int);

/* ---- Library frame (version "1.6.0.0"; the library has no error codes) ----------------- */

QRT_API const char *QRT_MISC_GetVersion(void);
QRT_API const char *QRT_GetVersionMisc(void);
/* 0 when this library is at least `required` (NULL skips the test), -1 otherwise. */
QRT_API int QRT_MISC_CheckVersion(const char *required);
/* Always "UnDefined Error Reason". */
QRT_API const char *QRT_MISC_GetErrorReason(int code, int lang);
QRT_API const char *QRT_GetErrReasonMisc(int code, int lang);

/* ---- Console --------------------------------------------------------------------------- */

/*
 * Reads one line from standard input with echo switched off, restores the terminal and prints
 * a line feed, then copies the line without its line feed into buf, which must hold
 * QRT_PASSWD_BUFFER bytes. A longer line is cut to 99 characters and the rest of it is
 * discarded. 0; -1 when buf is NULL (the line is still read) or when the input ended before
 * a line (buf is then empty). Standard input need not be a terminal.
 */
QRT_API int QRT_GetPassWD(char *buf);

/*
 * Installs handler for sig with an empty mask: for SIGALRM a blocking system call is
 * interrupted (EINTR), for every other signal interrupted calls resume. Returns the previous
 * handler, or SIG_ERR when the installation fails.
 */
QRT_API QRT_SIGHANDLER QRT_SetSignal(int sig, QRT_SIGHANDLER handler);

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_SUITE_MISC_H */
