// Reads passwords as a console program does, and writes what it saw to a result file.
//   misc_passwd_probe <result-file> <modes>
// Each mode character is one prompt: 'b' reads into a buffer, 'n' passes NULL. Each prompt adds
// a line "<result> <echo before> <echo after> <hex of the buffer>" (echo: 1 on, 0 off, -1 no
// terminal) to the result file, flushed at once so that a driver can follow along.
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "suite_misc.h"

namespace {

int echo_state() {
    struct termios t;
    if (tcgetattr(STDIN_FILENO, &t) != 0) return -1;
    return (t.c_lflag & ECHO) ? 1 : 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 3) return 2;
    FILE *out = fopen(argv[1], "w");
    if (!out) return 3;
    for (const char *m = argv[2]; *m; ++m) {
        char buf[QRT_PASSWD_BUFFER];
        memset(buf, 'U', sizeof buf);
        buf[sizeof buf - 1] = '\0';
        fputs("Password: ", stdout);
        fflush(stdout);
        int before = echo_state();
        int rc = QRT_GetPassWD(*m == 'n' ? nullptr : buf);
        int after = echo_state();
        fprintf(out, "%d %d %d ", rc, before, after);
        if (*m != 'n')
            for (const char *p = buf; *p; ++p) fprintf(out, "%02x", static_cast<unsigned char>(*p));
        fputc('\n', out);
        fflush(out);
    }
    fclose(out);
    return 0;
}
