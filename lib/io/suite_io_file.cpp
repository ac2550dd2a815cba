// POSIX descriptors with every failure traced, whole-file read and write of BIN values, and
// whole-file fcntl locks.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "io_internal.h"

using ostrel::io::ErrnoKeeper;

namespace {

int open_traced(const char *func, const char *path, int flags, mode_t mode) {
    if (!path) return -1;
    int fd;
    do {
        fd = ::open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        ErrnoKeeper keep;
        OSTREL_SYSFAIL("open");
        OSTREL_FAIL_AS(func, QRT_IO_ERROR);
    }
    return fd;
}

int lock(const char *func, int fd, short type, bool wait) {
    struct flock fl;
    std::memset(&fl, 0, sizeof fl);
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 0;
    int rc;
    do {
        rc = ::fcntl(fd, wait ? F_SETLKW : F_SETLK, &fl);
    } while (rc < 0 && errno == EINTR && wait);
    if (rc < 0) {
        ErrnoKeeper keep;
        OSTREL_SYSFAIL("fcntl");
        OSTREL_FAIL_AS(func, QRT_IO_ERROR);
        return -1;
    }
    return 0;
}

int read_exact(int fd, unsigned char *buf, size_t len) {
    size_t got = 0;
    while (got < len) {
        ssize_t r = ::read(fd, buf + got, len - got);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) {
            OSTREL_SYSFAIL("read");
            return -1;
        }
        if (r == 0) return -1;
        got += static_cast<size_t>(r);
    }
    return 0;
}

}  // namespace

extern "C" {

QRT_API int QRT_File_Create(const char *path) {
    return open_traced(__func__, path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
}
QRT_API int QRT_CreateFile(const char *path) { return QRT_File_Create(path); }

QRT_API int QRT_File_Open(const char *path, int flags) { return open_traced(__func__, path, flags, 0); }
QRT_API int QRT_OpenFile(const char *path) { return QRT_File_Open(path, O_RDWR); }
QRT_API int QRT_OpenFileAppend(const char *path) { return QRT_File_Open(path, O_RDWR | O_APPEND); }

QRT_API int QRT_File_Close(int fd) {
    if (fd != -1) ::close(fd);
    return 0;
}
QRT_API int QRT_CloseFile(int fd) { return QRT_File_Close(fd); }

QRT_API int QRT_File_Read(int fd, void *buf, int len) {
    if (!buf || len < 0) return QRT_IO_INVALID_INPUT;
    ssize_t r;
    do {
        r = ::read(fd, buf, static_cast<size_t>(len));
    } while (r < 0 && errno == EINTR);
    if (r < 0) {
        ErrnoKeeper keep;
        OSTREL_SYSFAIL("read");
        return OSTREL_FAIL(QRT_IO_ERROR);
    }
    if (r == 0) return OSTREL_FAIL(QRT_IO_FILE_EOF);
    if (r != len) return OSTREL_FAIL(QRT_IO_ERROR);
    return 0;
}

QRT_API int QRT_ReadBinFromFd(int fd, BIN *bin, int len) {
    if (!bin || len < 0) return QRT_IO_INVALID_INPUT;
    bin->length = 0;
    bin->value = nullptr;
    auto *p = static_cast<unsigned char *>(QRT_calloc(static_cast<size_t>(len) + 1, 1));
    if (!p) return OSTREL_FAIL(QRT_IO_MALLOC_FAILED);
    if (read_exact(fd, p, static_cast<size_t>(len)) != 0) {
        QRT_free(p);
        return OSTREL_FAIL(QRT_IO_ERROR);
    }
    bin->value = p;
    bin->length = static_cast<unsigned int>(len);
    return 0;
}

QRT_API int QRT_ReadOneChar(int fd, char *c) { return QRT_File_Read(fd, c, 1); }

QRT_API int QRT_File_Write(int fd, const void *buf, int len) {
    if (len < 0 || (len > 0 && !buf)) return QRT_IO_INVALID_INPUT;
    ssize_t w;
    do {
        w = ::write(fd, buf, static_cast<size_t>(len));
    } while (w < 0 && errno == EINTR);
    if (w < 0) {
        ErrnoKeeper keep;
        OSTREL_SYSFAIL("write");
        return OSTREL_FAIL(QRT_IO_ERROR);
    }
    if (w != len) return OSTREL_FAIL(QRT_IO_ERROR);
    return 0;
}

QRT_API int QRT_WriteBinToFd(int fd, const BIN *bin) {
    if (!bin) return QRT_IO_INVALID_INPUT;
    if (bin->length > INT_MAX) return QRT_IO_INVALID_INPUT;
    return QRT_File_Write(fd, bin->value, static_cast<int>(bin->length));
}

QRT_API int QRT_WriteStrToFd(int fd, const char *text, int len) { return QRT_File_Write(fd, text, len); }

QRT_API int QRT_File_Truncate(int fd, long length) {
    if (::ftruncate(fd, length) != 0) {
        ErrnoKeeper keep;
        OSTREL_SYSFAIL("ftruncate");
        return OSTREL_FAIL(QRT_IO_ERROR);
    }
    return 0;
}
QRT_API int QRT_Truncate(int fd, long length) { return QRT_File_Truncate(fd, length); }

QRT_API int QRT_File_ReadBin(BIN *bin, const char *path) {
    if (!bin || !path) return QRT_IO_INVALID_INPUT;
    bin->length = 0;
    bin->value = nullptr;
    if (::access(path, F_OK) != 0) {
        int e = errno;
        OSTREL_SYSFAIL("access");
        int rc = e == EACCES ? QRT_IO_FILE_ACCESS_DENIED : e == ENOENT ? QRT_IO_FILE_NOT_FOUND : QRT_IO_ERROR;
        return OSTREL_FAIL(rc);
    }
    int fd = QRT_File_Open(path, O_RDONLY);
    if (fd < 0) {
        int rc = errno == EACCES ? QRT_IO_FILE_ACCESS_DENIED : QRT_IO_ERROR;
        return OSTREL_FAIL(rc);
    }
    int rc = 0;
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        OSTREL_SYSFAIL("stat");
        rc = QRT_IO_ERROR;
    } else if (st.st_size < 0 || st.st_size >= INT_MAX) {
        rc = QRT_IO_ERROR;  // larger than a BIN read in one piece can hold
    } else {
        auto size = static_cast<size_t>(st.st_size);
        auto *p = static_cast<unsigned char *>(QRT_calloc(size + 1, 1));
        if (!p) {
            rc = QRT_IO_MALLOC_FAILED;
        } else {
            bin->value = p;
            bin->length = static_cast<unsigned int>(size);
            rc = QRT_File_Read(fd, p, static_cast<int>(size));
        }
    }
    QRT_File_Close(fd);
    if (rc != 0) return OSTREL_FAIL(rc);
    return 0;
}
QRT_API int QRT_ReadBin(const char *path, BIN *bin) { return QRT_File_ReadBin(bin, path); }

QRT_API int QRT_File_WriteBin(const char *path, const BIN *bin) {
    if (!path || !bin) return QRT_IO_INVALID_INPUT;
    if (bin->length > INT_MAX || (bin->length && !bin->value)) return QRT_IO_INVALID_INPUT;
    int fd = QRT_File_Create(path);
    if (fd < 0) {
        int rc = errno == EACCES ? QRT_IO_FILE_ACCESS_DENIED : errno == EEXIST ? QRT_IO_FILE_EXIST : QRT_IO_ERROR;
        return OSTREL_FAIL(rc);
    }
    int rc = QRT_File_Write(fd, bin->value, static_cast<int>(bin->length));
    QRT_File_Close(fd);
    if (rc != 0) return OSTREL_FAIL(QRT_IO_ERROR);
    return 0;
}
QRT_API int QRT_WriteBin(const char *path, const BIN *bin) { return QRT_File_WriteBin(path, bin); }

QRT_API int QRT_File_SetReadLock(int fd) { return lock(__func__, fd, F_RDLCK, true); }
QRT_API int QRT_SetFileReadLock(int fd) { return QRT_File_SetReadLock(fd); }
QRT_API int QRT_File_SetReadLockNB(int fd) { return lock(__func__, fd, F_RDLCK, false); }
QRT_API int QRT_SetFileReadLockNoBlock(int fd) { return QRT_File_SetReadLockNB(fd); }
QRT_API int QRT_File_SetWriteLock(int fd) { return lock(__func__, fd, F_WRLCK, true); }
QRT_API int QRT_SetFileWriteLock(int fd) { return QRT_File_SetWriteLock(fd); }
QRT_API int QRT_File_SetWriteLockNB(int fd) { return lock(__func__, fd, F_WRLCK, false); }
QRT_API int QRT_SetFileWriteLockNoBlock(int fd) { return QRT_File_SetWriteLockNB(fd); }
QRT_API int QRT_File_ClearLock(int fd) { return lock(__func__, fd, F_UNLCK, false); }
QRT_API int QRT_ClearFileLock(int fd) { return QRT_File_ClearLock(fd); }

}  // extern "C"
