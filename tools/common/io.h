// Console input of the tools: one answer per line of standard input, read into fixed buffers
// that are never overrun.
#pragma once

#include <cstddef>

namespace ostrel::tools {

enum class Answer {
    ok,
    too_long,  // the answer did not fit: the buffer holds its first size-1 characters
    end,       // standard input ended before an answer
};

// Prints a prompt (no newline) and makes sure it is shown before input is read.
void prompt(const char *text);

// The next line of standard input, without its line end, in buf (size bytes, terminated).
Answer read_line(char *buf, size_t size);

// The first word of the next line (blanks around it dropped), as "%s" reads an answer.
Answer read_word(char *buf, size_t size);

// The next line of standard input as a password, read like read_word (word) or read_line. When
// standard input is a terminal its echo is switched off (termios) while the line is typed and
// restored afterwards, also when SIGINT or SIGTERM ends the program meanwhile. Standard input
// only: never /dev/tty.
Answer read_password(char *buf, size_t size, bool word);

// Whether standard input is a terminal.
bool input_is_terminal();

// The decimal number at the start of the next line, as "%d" reads it; `fallback` when the line
// holds none (or at the end of input).
int read_number(int fallback);

}  // namespace ostrel::tools
