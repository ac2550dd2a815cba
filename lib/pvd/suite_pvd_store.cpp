// The file store (persisted: the layout is byte-exact and shared with the tools that fill it):
//   <storePath>/<ca|root|crl|ctl>/<SHA-1 of the key text, 40 lower-case hex>/<cert_<serial>.der |
//   cert.crl | ctl.der>
// its public handle, the directory helpers, and the per-kind wrappers a validation calls, which
// read the store callbacks instead of the files when the caller installed them.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "ostrel/asn_tree.hpp"
#include "ostrel/file_store.hpp"
#include "pvd_internal.h"
#include "suite_csp.h"

namespace ostrel::pvd {
namespace {

constexpr size_t kMaxCertFiles = 64;              // files one get list reads
constexpr size_t kMaxCertFileSize = 1u << 20;     // bytes of one certificate file
constexpr size_t kMaxSingleFileSize = 64u << 20;  // bytes of a CRL or trust-list file

const char *kind_of(int typeID) {
    switch (typeID) {
        case PVD_TYPE_CA:
            return "ca";
        case PVD_TYPE_ROOT:
            return "root";
        case PVD_TYPE_CRL:
        case PVD_TYPE_ARL:
            return "crl";
        case PVD_TYPE_CTL:
            return "ctl";
        default:
            return nullptr;
    }
}

bool is_cert_kind(int typeID) { return typeID == PVD_TYPE_CA || typeID == PVD_TYPE_ROOT; }

const char *single_file_of(int typeID) { return typeID == PVD_TYPE_CTL ? "ctl.der" : "cert.crl"; }

// "<path>/<kind>/<digest>", or "" when the digest cannot be computed.
std::string key_dir(const char *path, const char *kind, const char *key) {
    std::string digest = store::subject_dir_name(key);
    if (digest.size() != 40) return std::string();
    return store::subject_dir(path, kind, key);
}

// Reads a regular file of at most `limit` bytes whole into out; false otherwise.
bool read_whole(const std::string &file, size_t limit, BIN *out) {
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
              static_cast<unsigned long long>(st.st_size) <= limit;
    std::string data;
    if (ok) {
        // read to the end (never past limit): a file that changed size is taken as it now is
        data.resize(static_cast<size_t>(st.st_size) + 1);
        size_t got = 0;
        while (ok && got < data.size()) {
            ssize_t n = ::read(fd, data.data() + got, data.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) ok = false;
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        ok = ok && got > 0 && got <= limit;
        data.resize(got);
    }
    ::close(fd);
    if (!ok) return false;
    if (QRT_BIN_Set(out, reinterpret_cast<const unsigned char *>(data.data()), static_cast<int>(data.size())))
        throw std::bad_alloc();
    return true;
}

// Appends value to the list whose head node is head (the first value goes into head itself).
void append(ZQ_BIN_LIST *head, ZQ_BIN_LIST **tail, BIN &value) {
    if (!head->value.value) {
        head->value = value;
    } else {
        ZQ_BIN_LIST *node = QRT_BIN_LIST_New();
        if (!node) {
            QRT_BIN_Reset(&value);
            throw std::bad_alloc();
        }
        node->value = value;
        (*tail)->next = node;
        *tail = node;
    }
    value = BIN{0, nullptr};
}

// The certificate files of one key directory, in directory order.
int read_cert_dir(ZQ_BIN_LIST *out, const std::string &dir) {
    DIR *d = ::opendir(dir.c_str());
    if (!d) return QRT_PVD_CERT_NOT_FOUND;
    ZQ_BIN_LIST *tail = out;
    size_t count = 0;
    int rc = 0;
    try {
        while (count < kMaxCertFiles) {
            errno = 0;
            struct dirent *e = ::readdir(d);
            if (!e) break;
            const char *name = e->d_name;
            if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0 || !store::is_cert_entry(name)) continue;
            BinOwner bin;
            if (!read_whole(dir + "/" + name, kMaxCertFileSize, bin.get())) continue;  // unreadable: skipped
            BIN v = bin.release();
            append(out, &tail, v);
            ++count;
        }
    } catch (...) {
        ::closedir(d);
        QRT_BIN_LIST_Reset(out);
        throw;
    }
    ::closedir(d);
    if (!count) rc = QRT_PVD_CERT_NOT_FOUND;
    return rc;
}

int get_list(const char *path, ZQ_BIN_LIST *out, int typeID, const char *key) {
    const char *kind = kind_of(typeID);
    if (!kind) return QRT_PVD_INTERNAL;
    std::string dir = key_dir(path, kind, key);
    if (dir.empty()) return QRT_PVD_INTERNAL;
    if (is_cert_kind(typeID)) return read_cert_dir(out, dir);
    BinOwner bin;
    if (!read_whole(dir + "/" + single_file_of(typeID), kMaxSingleFileSize, bin.get())) return not_found_of(typeID);
    bin.release_to(&out->value);
    return 0;
}

bool is_hex(const char *s) {
    if (!s || !*s) return false;
    for (; *s; ++s)
        if (!((*s >= '0' && *s <= '9') || (*s >= 'a' && *s <= 'f') || (*s >= 'A' && *s <= 'F'))) return false;
    return true;
}

// The serial of a DER certificate in lower-case hex; "" when it does not decode.
std::string serial_of(const BIN &cert) {
    AsnTree<Certificate> c(Certificate_PDU);
    if (c.decode(&cert) != 0 || !c) return std::string();
    const HUGE &s = c->tbsCertificate.serialNumber;
    char *hex = nullptr;
    if (!s.length || QRT_BinToHex(s.value, s.length, &hex) != 0) {
        QRT_free(hex);
        return std::string();
    }
    std::string out(hex);
    QRT_free(hex);
    return out;
}

int add_object(const char *path, int typeID, const char *key, const BIN &obj, const char *serialHex) {
    const char *kind = kind_of(typeID);
    if (!kind) return QRT_PVD_INTERNAL;
    std::string dir = key_dir(path, kind, key);
    if (dir.empty()) return -1;
    std::string file;
    if (is_cert_kind(typeID)) {
        // the serial names a file inside the key's directory: hex digits only
        std::string serial = serialHex ? std::string(serialHex) : serial_of(obj);
        if (!is_hex(serial.c_str())) return -1;
        file = store::cert_file_name(serial);
    } else {
        file = single_file_of(typeID);
    }
    if (store::make_dirs(dir) != 0) return -1;
    if (store::write_file_atomic(dir + "/" + file, obj.value, obj.length, 0666) != 0) return -1;
    return 0;
}

int delete_directory(const std::string &dir) {
    DIR *d = ::opendir(dir.c_str());
    if (!d) return -1;
    int rc = 0;
    while (struct dirent *e = ::readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        if (::unlink((dir + "/" + e->d_name).c_str()) != 0) rc = -1;
    }
    ::closedir(d);
    if (::rmdir(dir.c_str()) != 0) rc = -1;
    return rc;
}

// ---- the wrappers' source: store callbacks or files ----

// Everything the store holds under (typeID, key), as a heap list (NULL: nothing).
ZQ_BIN_LIST *fetch(ZQ_PVD_Context &ctx, int typeID, const char *key) {
    ListOwner list;
    int rc;
    if (ctx.useCBStore) {
        rc = ctx.cb.CB_Store_GetObject(&ctx.store, list.head, typeID, key, nullptr);
    } else {
        if (!ctx.storePath) return nullptr;
        rc = QRT_PVD_Store_GetObjectList(ctx.storePath, list.head, typeID, key);
    }
    if (rc != 0 || list.empty()) return nullptr;
    // a callback's answer is read as far as a directory's would be
    size_t n = 1;
    for (ZQ_BIN_LIST *p = list.head; p->next; p = p->next) {
        if (++n > kMaxCertFiles) {
            QRT_BIN_LIST_Free(p->next);
            p->next = nullptr;
            break;
        }
    }
    return list.release();
}

void store_add(ZQ_PVD_Context &ctx, int typeID, const char *key, const BIN &obj, const char *serialHex) {
    if (ctx.useCBStore)
        ctx.cb.CB_Store_AddObject(&ctx.store, typeID, key, &obj, nullptr);
    else if (ctx.storePath)
        QRT_PVD_Store_AddObject(ctx.storePath, typeID, key, &obj, serialHex);
}

int cursor_get(ZQ_PVD_Context &ctx, ZQ_PVD_BuildCursor *cursor, BIN *out, const char *key, int first, int second) {
    if (!cursor->fetched) {
        ZQ_BIN_LIST *list = fetch(ctx, first, key);
        if (!list && second) list = fetch(ctx, second, key);
        cursor_set(cursor, list);
    }
    return cursor_take(cursor, out) ? 0 : not_found_of(first);
}

}  // namespace
}  // namespace ostrel::pvd

using namespace ostrel::pvd;

extern "C" {

// ---- files ----

QRT_API int QRT_PVD_Store_GetObjectList(const char *path, ZQ_BIN_LIST *out, const int typeID, const char *key) {
    if (!path || !out || !key) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    std::memset(out, 0, sizeof *out);
    int rc = contained([&] { return get_list(path, out, typeID, key); });
    if (rc) QRT_BIN_LIST_Reset(out);
    return PVD_FAIL(rc);
}

QRT_API int QRT_PVD_Store_GetObject(const char *path, BIN *out, const int typeID, const char *key) {
    if (!path || !out || !key) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    *out = BIN{0, nullptr};
    ZQ_BIN_LIST list{};
    int rc = contained([&] { return get_list(path, &list, typeID, key); });
    if (!rc) {
        *out = list.value;
        list.value = BIN{0, nullptr};
    }
    QRT_BIN_LIST_Reset(&list);
    return PVD_FAIL(rc);
}

QRT_API int QRT_PVD_Store_AddObject(const char *path, const int typeID, const char *key, const BIN *obj,
                                    const char *serialHex) {
    if (!path || !key || !has_bytes(obj)) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    return PVD_FAIL(contained([&] { return add_object(path, typeID, key, *obj, serialHex); }));
}

QRT_API int QRT_PVD_Store_DelObject(const char *path, const int typeID, const char *key) {
    if (!path || !key) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    return PVD_FAIL(contained([&] {
        const char *kind = kind_of(typeID);
        if (!kind) return QRT_PVD_INTERNAL;
        std::string dir = key_dir(path, kind, key);
        return dir.empty() ? -1 : delete_directory(dir);
    }));
}

// ---- directories ----

QRT_API int QRT_PVD_CreateDirectory(const char *path) {
    if (!path) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    return PVD_FAIL(contained([&] { return ostrel::store::make_dirs(path) == 0 ? 0 : -1; }));
}

QRT_API int QRT_PVD_OpenDirectory(void **dir, const char *path) {
    if (!dir || !path) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    *dir = ::opendir(path);
    return *dir ? 0 : PVD_FAIL(-1);
}

QRT_API int QRT_PVD_ReadDirectory(void *dir, char *name, int capacity) {
    if (!dir || !name || capacity < 1) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    name[0] = '\0';
    errno = 0;
    struct dirent *e = ::readdir(static_cast<DIR *>(dir));
    if (!e) return errno ? PVD_FAIL(-1) : 1;
    size_t n = std::strlen(e->d_name);
    if (n >= static_cast<size_t>(capacity)) return PVD_FAIL(-1);
    std::memcpy(name, e->d_name, n + 1);
    return 0;
}

QRT_API int QRT_PVD_CloseDirectory(void *dir) {
    if (!dir) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    return ::closedir(static_cast<DIR *>(dir)) == 0 ? 0 : PVD_FAIL(-1);
}

QRT_API int QRT_PVD_DeleteDirectory(const char *path) {
    if (!path) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    return PVD_FAIL(contained([&] { return delete_directory(path); }));
}

QRT_API int QRT_PVD_BIN_ToHex(char **out, const BIN *bin) {
    if (!out || !bin || (bin->length && !bin->value)) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    *out = nullptr;
    if (!bin->length) {
        *out = static_cast<char *>(QRT_calloc(1, 1));
        return *out ? 0 : PVD_FAIL(QRT_PVD_MALLOC_FAILED);
    }
    if (QRT_BinToHex(bin->value, static_cast<int>(bin->length), out) != 0) {
        QRT_free(*out);
        *out = nullptr;
        return PVD_FAIL(QRT_PVD_MALLOC_FAILED);
    }
    return 0;
}

QRT_API int QRT_PVD_ObjDN_ToHex(char **out, const char *dn) {
    if (!out || !dn) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    *out = nullptr;
    return PVD_FAIL(contained([&] {
        std::string hex = ostrel::store::subject_dir_name(dn);
        if (hex.size() != 40) return QRT_PVD_INTERNAL;
        *out = dup_string(hex);
        return 0;
    }));
}

// ---- the public handle ----

QRT_API ZQ_PVD_CertStore *QRT_PVD_CertStore_New(void) {
    return static_cast<ZQ_PVD_CertStore *>(QRT_calloc(1, sizeof(ZQ_PVD_CertStore)));
}

QRT_API void QRT_PVD_CertStore_Reset(ZQ_PVD_CertStore *store) {
    if (!store) return;
    QRT_free(store->storePath);
    std::memset(store, 0, sizeof *store);
}

QRT_API void QRT_PVD_CertStore_Free(ZQ_PVD_CertStore *store) {
    if (!store) return;
    QRT_PVD_CertStore_Reset(store);
    QRT_free(store);
}

QRT_API int QRT_PVD_CertStore_Open(ZQ_PVD_CertStore *store, const int storeID, const char *path) {
    if (!store || !path) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    char *copy = QRT_PVD_strdup(path);
    if (!copy) return PVD_FAIL(QRT_PVD_MALLOC_FAILED);
    QRT_free(store->storePath);
    store->storePath = copy;
    store->storeID = storeID;
    store->sessionID = 0;
    store->extrnCtx = nullptr;
    return 0;
}

QRT_API int QRT_PVD_CertStore_GetObject(ZQ_PVD_CertStore *store, ZQ_BIN_LIST *out, const int typeID, const char *key,
                                        const void *) {
    if (!store || !store->storePath) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    return QRT_PVD_Store_GetObjectList(store->storePath, out, typeID, key);
}

QRT_API int QRT_PVD_CertStore_AddObject(ZQ_PVD_CertStore *store, const int typeID, const char *key, const BIN *obj,
                                        const void *serialHex) {
    if (!store || !store->storePath) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    return QRT_PVD_Store_AddObject(store->storePath, typeID, key, obj, static_cast<const char *>(serialHex));
}

QRT_API int QRT_PVD_CertStore_DelObject(ZQ_PVD_CertStore *store, const int typeID, const char *key) {
    if (!store || !store->storePath) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    return QRT_PVD_Store_DelObject(store->storePath, typeID, key);
}

QRT_API int QRT_PVD_CertStore_Close(ZQ_PVD_CertStore *store) {
    QRT_PVD_CertStore_Reset(store);
    return 0;
}

// ---- per kind, on a validation context ----

QRT_API int QRT_PVD_Store_GetCert(ZQ_PVD_Context *ctx, ZQ_PVD_BuildCursor *cursor, BIN *out, const char *dn) {
    if (!ctx || !cursor || !out || !dn) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    *out = BIN{0, nullptr};
    if (ctx->storeDisable) return QRT_PVD_CERT_NOT_FOUND;
    int second = ctx->distrustRoot ? 0 : PVD_TYPE_ROOT;
    return PVD_FAIL(contained([&] { return cursor_get(*ctx, cursor, out, dn, PVD_TYPE_CA, second); }));
}

QRT_API int QRT_PVD_Store_AddCert(ZQ_PVD_Context *ctx, const ZQ_PVD_InterObject *obj) {
    if (!ctx || !obj) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    // only what the directory supplied, and never a self-signed certificate
    if (ctx->storeDisable || obj->source != PVD_SOURCE_LDAP || obj->typeID == PVD_TYPE_ROOT || !obj->subjectDN)
        return 0;
    contained([&] {
        store_add(*ctx, obj->typeID, obj->subjectDN, obj->encObj, obj->serialHex);
        return 0;
    });
    return 0;
}

QRT_API int QRT_PVD_Store_GetCTL(ZQ_PVD_Context *ctx, ZQ_PVD_BuildCursor *cursor, BIN *out, const char *name) {
    if (!ctx || !cursor || !out || !name) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    *out = BIN{0, nullptr};
    if (ctx->storeDisable) return QRT_PVD_CTL_NOT_FOUND;
    return PVD_FAIL(contained([&] { return cursor_get(*ctx, cursor, out, name, PVD_TYPE_CTL, 0); }));
}

QRT_API int QRT_PVD_Store_AddCTL(ZQ_PVD_Context *ctx, const ZQ_PVD_InterObject *obj) {
    if (!ctx || !obj) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    if (ctx->storeDisable || obj->source != PVD_SOURCE_LDAP || !obj->subjectDN) return 0;
    contained([&] {
        store_add(*ctx, PVD_TYPE_CTL, obj->subjectDN, obj->encObj, nullptr);
        return 0;
    });
    return 0;
}

QRT_API int QRT_PVD_Store_GetCRL(ZQ_PVD_Context *ctx, BIN *out, const int typeID, const char *key) {
    if (!ctx || !out || !key) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    *out = BIN{0, nullptr};
    if (ctx->storeDisable) return QRT_PVD_CRL_NOT_FOUND;
    return PVD_FAIL(contained([&] {
        ZQ_BIN_LIST *list = fetch(*ctx, typeID, key);
        if (!list) return QRT_PVD_CRL_NOT_FOUND;
        int rc = QRT_PVD_CRL_NOT_FOUND;
        for (ZQ_BIN_LIST *p = list; p; p = p->next) {
            if (has_bytes(&p->value)) {
                *out = p->value;
                p->value = BIN{0, nullptr};
                rc = 0;
                break;
            }
        }
        QRT_BIN_LIST_Free(list);
        return rc;
    }));
}

QRT_API int QRT_PVD_Store_AddCRL(ZQ_PVD_Context *ctx, const char *key, const ZQ_PVD_InterObject *obj) {
    if (!ctx || !key || !obj) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    if (ctx->storeDisable || obj->source != PVD_SOURCE_LDAP) return 0;
    contained([&] {
        store_add(*ctx, obj->typeID, key, obj->encObj, nullptr);
        return 0;
    });
    return 0;
}

}  // extern "C"
