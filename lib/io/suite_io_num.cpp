// Number files: persistent counters of 1 to 10 host-order 32-bit words, most significant first,
// advanced under a whole-file write lock.
#include <mutex>

#include <sys/types.h>
#include <unistd.h>

#include <cstring>

#include "io_internal.h"

namespace {

constexpr int kMaxWords = 10;
constexpr int kMaxBytes = 4 * kMaxWords;

// fcntl locks serialise processes only, and closing any descriptor of a file drops all of the
// process's locks on it; this mutex serialises the threads of one process as well.
std::mutex g_number_file_mutex;

int step(const BIN *in, BIN *out, bool increment) {
    if (!in || !out || (in->length && !in->value)) return QRT_IO_INVALID_INPUT;
    if (in->length == 0 || in->length % 4 != 0) return QRT_IO_BIN_NUMBER_LENGTH;
    unsigned int n = in->length / 4;
    if (n > kMaxWords) n = kMaxWords;
    unsigned int words[kMaxWords];
    std::memcpy(words, in->value, 4 * n);
    for (unsigned int i = n; i-- > 0;) {
        if (increment) {
            if (++words[i] != 0) break;
        } else {
            if (words[i]-- != 0) break;
        }
    }
    auto *p = static_cast<unsigned char *>(QRT_calloc(in->length, 1));
    if (!p) return QRT_IO_MALLOC_FAILED;
    std::memcpy(p, words, 4 * n);
    out->value = p;
    out->length = in->length;
    return 0;
}

bool write_all(int fd, const unsigned char *p, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

}  // namespace

extern "C" {

QRT_API int QRT_IncBinNumber(const BIN *in, BIN *out) { return step(in, out, true); }
QRT_API int QRT_DecBinNumber(const BIN *in, BIN *out) { return step(in, out, false); }

QRT_API int QRT_GetNewBinNum(const char *path, int len, BIN *out) {
    if (!path || !out || len < 1) return QRT_IO_INVALID_INPUT;
    if (len >= kMaxBytes) return QRT_IO_MAX_SERIAL_BUFFER;
    out->length = 0;
    out->value = nullptr;

    std::lock_guard<std::mutex> guard(g_number_file_mutex);
    int fd = QRT_OpenFile(path);
    if (fd < 0) return QRT_IO_OPEN_SERIAL_FILE;

    int rc = 0;
    unsigned char area[kMaxBytes] = {};
    BIN next{0, nullptr};
    if (QRT_SetFileWriteLock(fd) != 0) {
        rc = QRT_IO_LOCK_SERIAL_FILE;
    } else {
        size_t got = 0;
        while (got < static_cast<size_t>(len)) {
            ssize_t r = ::read(fd, area + got, static_cast<size_t>(len) - got);
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) {
                rc = QRT_IO_READ_SERIAL_FILE;
                break;
            }
            if (r == 0) break;  // bytes the file lacks count as zero
            got += static_cast<size_t>(r);
        }
        BIN current{static_cast<unsigned int>(len), area};
        if (rc == 0 && QRT_IncBinNumber(&current, &next) != 0) rc = QRT_IO_INCREASE_BIN_NUMBER;
        if (rc == 0 && ::lseek(fd, 0, SEEK_SET) != 0) rc = QRT_IO_REWIND_BIN_NUMBER;
        if (rc == 0 && !write_all(fd, next.value, next.length)) rc = QRT_IO_WRITE_BIN_NUMBER;
        if (rc == 0 && QRT_BIN_Set(out, area, len) != 0) rc = QRT_IO_MALLOC_FAILED;
    }
    QRT_BIN_Reset(&next);
    if (QRT_ClearFileLock(fd) != 0 && rc != QRT_IO_LOCK_SERIAL_FILE) rc = QRT_IO_CLEAR_FILE_LOCK;
    QRT_CloseFile(fd);
    if (rc != 0) QRT_BIN_Reset(out);  // a number that was not recorded in the file is not handed out
    return rc;
}

QRT_API int QRT_SetBinNumber(const char *path, const unsigned int *words, int count) {
    if (!path || !words || count < 1 || count > kMaxWords) return QRT_IO_INVALID_INPUT;
    std::lock_guard<std::mutex> guard(g_number_file_mutex);
    int fd = QRT_OpenFile(path);
    if (fd < 0) return QRT_IO_OPEN_SET_FILE;
    int rc = 0;
    if (QRT_SetFileWriteLock(fd) != 0) {
        rc = QRT_IO_LOCK_SET_FILE;
    } else if (!write_all(fd, reinterpret_cast<const unsigned char *>(words), 4 * static_cast<size_t>(count))) {
        rc = QRT_IO_SET_BIN_NUMBER;
    }
    if (QRT_ClearFileLock(fd) != 0 && rc != QRT_IO_LOCK_SET_FILE) rc = QRT_IO_CLEAR_SET_FILE_LOCK;
    QRT_CloseFile(fd);
    return rc;
}

}  // extern "C"
