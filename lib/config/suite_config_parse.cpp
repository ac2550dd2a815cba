// Reading the file: logical lines (comments, continuation lines, the 1024-character limit),
// tokens (quotes, backslashes, the 128-character limit) and the whole file into a list.
#include <cstdio>
#include <cstring>
#include <memory>

#include "config_internal.h"

namespace ostrel::config {

namespace {

bool is_space(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f' || c == 0; }

// The line buffer of QRT_GetOneLine: at most QRT_CONFIG_MAX_LINE characters and a terminator.
class LineBuffer {
  public:
    ~LineBuffer() { QRT_free(buf_); }
    LineBuffer() = default;
    LineBuffer(const LineBuffer &) = delete;
    LineBuffer &operator=(const LineBuffer &) = delete;

    bool allocate() { return (buf_ = static_cast<char *>(QRT_malloc(QRT_CONFIG_MAX_LINE + 1))) != nullptr; }
    // False when the line would grow past its limit.
    [[nodiscard]] bool add(int c) {
        if (n_ == QRT_CONFIG_MAX_LINE) return false;
        buf_[n_++] = static_cast<char>(c);
        return true;
    }
    char *release() {
        buf_[n_] = '\0';
        char *b = buf_;
        buf_ = nullptr;
        return b;
    }

  private:
    char *buf_ = nullptr;
    size_t n_ = 0;
};

// One token of a line: at most QRT_CONFIG_MAX_TOKEN characters.
struct Token {
    char text[QRT_CONFIG_MAX_TOKEN + 1];
    size_t n = 0;
    [[nodiscard]] bool add(char c) {
        if (n == QRT_CONFIG_MAX_TOKEN) return false;
        text[n++] = c;
        return true;
    }
};

constexpr int kNoToken = 1;

// Reads the next token at *p into tok: 0, kNoToken at the end of the line, or 5090.
int next_token(const char *&p, Token &tok) {
    while (*p && is_space(static_cast<unsigned char>(*p))) ++p;
    if (!*p) return kNoToken;
    tok.n = 0;
    if (*p == '"') {
        // Quoted: white space is text, every backslash is dropped, the closing quote ends it.
        for (++p; *p && *p != '"'; ++p) {
            if (*p == '\\') continue;
            if (!tok.add(*p)) return QRT_CONFIG_TOO_LONG;
        }
        if (*p == '"') ++p;
    } else {
        // Bare: up to white space; a backslash keeps itself and the character after it.
        while (*p && !is_space(static_cast<unsigned char>(*p))) {
            if (*p == '\\' && p[1]) {
                if (!tok.add(*p++)) return QRT_CONFIG_TOO_LONG;
            }
            if (!tok.add(*p++)) return QRT_CONFIG_TOO_LONG;
        }
    }
    tok.text[tok.n] = '\0';
    return 0;
}

int read_error(const char *func) {
    OSTREL_SYSFAIL("getc");
    return OSTREL_FAIL_AS(func, QRT_CONFIG_READ_FILE);
}

}  // namespace

int collect_line(FILE *file, char **line) {
    if (int r = QRT_RemoveLeadingSpace(file)) return r == QRT_CONFIG_NO_VALUE ? r : OSTREL_FAIL_AS("QRT_GetOneLine", r);
    LineBuffer buf;
    if (!buf.allocate()) return OSTREL_FAIL_AS("QRT_GetOneLine", QRT_CONFIG_LINE_MEMORY);
    bool fits = true;
    for (int c; fits && (c = getc(file)) != EOF;) {
        if (c == '\n') break;
        if (c == '#') {
            ungetc(c, file);  // the comment is skipped by the next call
            break;
        }
        if (c == '\\') {
            int next = getc(file);
            if (next == '\r') {
                int after = getc(file);
                if (after == '\n')
                    next = '\n';
                else if (after != EOF)
                    ungetc(after, file);
            }
            if (next == '\n') {
                fits = buf.add(' ');  // a continued line: the line feed becomes a space
            } else if (next == EOF) {
                fits = buf.add('\\');
            } else {
                fits = buf.add('\\') && buf.add(next == 0 ? ' ' : next);
            }
            continue;
        }
        fits = buf.add(c == 0 ? ' ' : c);
    }
    if (!fits) return OSTREL_FAIL_AS("QRT_GetOneLine", QRT_CONFIG_TOO_LONG);
    if (ferror(file)) return read_error("QRT_GetOneLine");
    *line = buf.release();
    return 0;
}

int parse_line(ZQ_ENV_LIST *list, const char *line, KeyIndex *index) {
    Token tok;
    const char *p = line;
    int r = next_token(p, tok);
    if (r == kNoToken) return 0;
    if (r) return OSTREL_FAIL_AS("QRT_ParseLine", r);
    ZQ_ENV_LIST *entry = nullptr;
    if ((r = add_key(list, tok.text, index, &entry))) return OSTREL_FAIL_AS("QRT_ParseLine", r);
    if (!index && entry != QRT_SearchKeyFromEnvList(list, tok.text))
        return OSTREL_FAIL_AS("QRT_ParseLine", QRT_CONFIG_KEY_NOT_FOUND);
    // The values of one line go behind each other; keep the last node instead of walking.
    ZQ_VALUE_LIST *last = entry->value;
    while ((r = next_token(p, tok)) == 0) {
        if ((r = QRT_AddValueIntoValueList(last, tok.text))) return OSTREL_FAIL_AS("QRT_ParseLine", r);
        if (last->next) last = last->next;
    }
    return r == kNoToken ? 0 : OSTREL_FAIL_AS("QRT_ParseLine", r);
}

}  // namespace ostrel::config

using namespace ostrel::config;

extern "C" {

QRT_API int QRT_RemoveLeadingSpace(FILE *file) {
    if (!file) return QRT_CONFIG_READ_FILE;
    for (int c; (c = getc(file)) != EOF;) {
        if (is_space(c)) continue;
        if (c == '#') {
            while ((c = getc(file)) != EOF && c != '\n') {
            }
            continue;
        }
        ungetc(c, file);
        return 0;
    }
    return ferror(file) ? read_error(__func__) : QRT_CONFIG_NO_VALUE;
}

QRT_API int QRT_GetOneLine(FILE *file, long offset, char **line) {
    if (!line) return QRT_CONFIG_READ_FILE;
    *line = nullptr;
    if (!file) return QRT_CONFIG_READ_FILE;
    if (fseek(file, offset, SEEK_SET) != 0) {
        OSTREL_SYSFAIL("fseek");
        return OSTREL_FAIL(QRT_CONFIG_READ_FILE);
    }
    return collect_line(file, line);
}

QRT_API int QRT_ParseLine(ZQ_ENV_LIST *list, const char *line) {
    if (!list) return QRT_CONFIG_LIST_NOT_INITIALIZED;
    if (!line) return QRT_CONFIG_NO_VALUE;
    return parse_line(list, line, nullptr);
}

QRT_API int QRT_ReadConfigFile(const char *path, ZQ_ENV_LIST **list) {
    if (!list) return QRT_CONFIG_NULL_KEY_LIST;
    *list = nullptr;
    if (!path) return QRT_CONFIG_READ_FILE;
    std::unique_ptr<FILE, int (*)(FILE *)> file(fopen(path, "r"), fclose);
    if (!file) {
        OSTREL_SYSFAIL("fopen");
        return OSTREL_FAIL(QRT_CONFIG_READ_FILE);
    }
    ListOwner head;
    if (int r = QRT_InitEnvListElement(head.out())) return OSTREL_FAIL(r);
    KeyIndex index;
    for (;;) {
        char *line = nullptr;
        int r = collect_line(file.get(), &line);
        if (r == QRT_CONFIG_NO_VALUE) break;
        if (r) return OSTREL_FAIL(r);
        std::unique_ptr<char, void (*)(void *)> owned(line, QRT_free);
        if ((r = parse_line(head.get(), line, &index))) return OSTREL_FAIL(r);
    }
    *list = head.release();
    return 0;
}

}  // extern "C"
