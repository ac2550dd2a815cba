/*
 * libOstrelLog: leveled log lines and hex dumps, to standard output or to one file per day.
 *
 * Every call reads its settings from the environment:
 *   ZQ_LOG_LEVEL      decimal threshold; a message is written only when its level is below it
 *                     (missing: 0, so nothing is written);
 *   ZQ_LOG_FILE_BASE  decimal; nonzero writes to the file <dir>/YYYYMMDD.log of the local date,
 *                     missing or 0 to standard output;
 *   ZQ_LOG_DIR        directory of the log files (at most 255 bytes); once seen it is kept for
 *                     later calls even after the variable is removed. Without it the file is
 *                     YYYYMMDD.log in the current directory.
 *
 * All calls of the process are serialised by one lock, so lines of different threads never mix.
 * The library links nothing but POSIX threads; it allocates nothing the caller must release.
 */
#ifndef OSTREL_SUITE_LOG_H
#define OSTREL_SUITE_LOG_H

#include <time.h>

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

#include "suite_log_codes.h"

/* Bytes of the formatted message (with its terminator); longer messages are cut. */
#define QRT_LOG_MSG_BUFFER 8196

/* The BIN record of libOstrelIO ({length, value}); declared there. */
struct _BIN;

/*
 * Writes "HH:MM:SS P(pid) T(tid) [file,line:N] message\n", the message formatted with printf
 * rules. 0 (also when the level filters the message out), 9010 for a NULL format, 9020 when the
 * log file cannot be opened.
 */
QRT_API int QRT_LOG_Msg(const char *file, int line, int level, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 4, 5)))
#endif
    ;

/*
 * Writes a header "HH:MM:SS P(pid) T(tid) [file,line:N] [length: N]" and a line of "=" with
 * "[CONTENTS]", then a hex dump of 16 bytes per row with the bytes as text. 9010 for NULL data;
 * otherwise 0, also when the log file cannot be opened (the dump is then skipped).
 */
QRT_API int QRT_LOG_Bin(const char *file, int line, int level, const unsigned char *data, int length);

/* QRT_LOG_Bin of a BIN's value and length; 9010 for a NULL bin. */
QRT_API int QRT_LOG_BinST(const char *file, int line, int level, const struct _BIN *bin);

/*
 * Replaces the clock the log reads its time and date from (seconds since the epoch, shown in
 * local time); NULL restores the system clock. Meant for tests and replays.
 */
QRT_API void QRT_LOG_SetClock(time_t (*clock)(void));

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_SUITE_LOG_H */
