// Console helpers: a password read without echo, and signal handlers with fixed restart rules.
#include "suite_misc.h"

#include <signal.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>

#include "misc_version.hpp"

#ifndef SA_INTERRUPT
#define SA_INTERRUPT 0  // the absence of SA_RESTART is what makes calls fail with EINTR
#endif

namespace {

using ostrel::generated::kVersion;

// Reads one line into line[QRT_PASSWD_BUFFER]; a longer line is cut and its rest discarded, so
// that it is not taken as the answer to the next prompt. False when input ended first.
bool read_line(char *line) {
    if (!fgets(line, QRT_PASSWD_BUFFER, stdin)) {
        line[0] = '\0';
        return false;
    }
    size_t n = strlen(line);
    if (n > 0 && line[n - 1] == '\n') {
        line[n - 1] = '\0';
    } else if (n == QRT_PASSWD_BUFFER - 1) {
        int c;
        while ((c = getc(stdin)) != EOF && c != '\n') {
        }
    }
    return true;
}

}  // namespace

extern "C" {

QRT_API const char *QRT_MISC_GetVersion(void) { return kVersion; }
QRT_API const char *QRT_GetVersionMisc(void) { return kVersion; }

QRT_API int QRT_MISC_CheckVersion(const char *required) {
    return ostrel::check_version(kVersion, required, ostrel::generated::kRequirements);
}

QRT_API const char *QRT_MISC_GetErrorReason(int, int) { return ostrel::kUndefinedReason; }
QRT_API const char *QRT_GetErrReasonMisc(int code, int lang) { return QRT_MISC_GetErrorReason(code, lang); }

QRT_API int QRT_GetPassWD(char *buf) {
    // One copy of the settings to change, one to restore; standard input may be no terminal.
    struct termios saved, quiet;
    bool tty = tcgetattr(STDIN_FILENO, &saved) == 0 && tcgetattr(STDIN_FILENO, &quiet) == 0;
    if (tty && (quiet.c_lflag & ECHO)) {
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    char line[QRT_PASSWD_BUFFER];
    bool got = read_line(line);
    if (tty) tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    // The typed line was not echoed; move the cursor on as if it had been.
    fputc('\n', stdout);
    fflush(stdout);

    int rc = -1;
    if (buf) {
        memcpy(buf, line, strlen(line) + 1);
        rc = got ? 0 : -1;
    }
    explicit_bzero(line, sizeof line);
    return rc;
}

QRT_API QRT_SIGHANDLER QRT_SetSignal(int sig, QRT_SIGHANDLER handler) {
    struct sigaction act, old;
    memset(&act, 0, sizeof act);
    act.sa_handler = handler;
    sigemptyset(&act.sa_mask);
    act.sa_flags = sig == SIGALRM ? SA_INTERRUPT : SA_RESTART;
    if (sigaction(sig, &act, &old) < 0) return SIG_ERR;
    return old.sa_handler;
}

}  // extern "C"
