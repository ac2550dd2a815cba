// The tools' certificate store: paths, writers, readers, the subject list and deletion.
#include "certstorage.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "err.h"
#include "suite_pkc.h"

#define OSTREL_REASON_FN QRT_GetErrReason
#include "ostrel/asn_tree.hpp"
#include "ostrel/file_store.hpp"
#include "ostrel/guard.hpp"
#include "ostrel/owners.hpp"
#include "ostrel/trace.hpp"

namespace {

constexpr ostrel::Boundary kBoundary{OSTREL_FAIL_FN, QRT_IO_INVALID_INPUT, QRT_CERTSTORE_MALLOC_FAILED,
                                     QRT_IO_INTERNAL};
#define OSTREL_BOUNDARY kBoundary

struct TypeDir {
    int type;
    const char *dir;
};
constexpr TypeDir kTypeDirs[] = {
    {1, "root"}, {2, "ca"}, {3, "server"}, {4, "user"}, {5, "other"}, {13, "server"}, {14, "user"}, {15, "other"},
};

constexpr mode_t kFileMode = 0644;

// Types 13-15 are the key-management pair of 3-5 and share their directory.
bool key_management(int type) { return type >= 10; }
const char *cert_name(int type) { return key_management(type) ? "kmCert.der" : "cert.der"; }
const char *key_name(int type) { return key_management(type) ? "kmPri.key" : "pri.key"; }
bool by_serial(int type) { return type == 1 || type == 2; }

// The I/O core's code for a failed file operation.
int io_code(int err) {
    return err == EACCES || err == EPERM ? QRT_IO_FILE_ACCESS_DENIED
           : err == ENOENT               ? QRT_IO_FILE_NOT_FOUND
           : err == ENOMEM               ? QRT_CERTSTORE_MALLOC_FAILED
                                         : QRT_IO_ERROR;
}

// "<root>/<kind>/<SHA-1 of dn>" in dir, or the code of the failure.
int subject_path(const char *fn, const char *root, const char *kind, std::string_view dn, std::string &dir) {
    dir = ostrel::store::subject_dir(root, kind, dn);
    if (dir.empty() || dir.back() == '/') return OSTREL_FAIL_AS(fn, QRT_CERTSTORE_HASH_FAILED);
    return 0;
}

std::string join(const std::string &dir, const std::string &name) { return dir + "/" + name; }

int write_file(const char *fn, const std::string &path, const BIN &data) {
    int err = ostrel::store::write_file_atomic(path, data.value, data.length, kFileMode);
    if (err == 0) return 0;
    errno = err;
    OSTREL_SYSFAIL("write_file_atomic");
    return OSTREL_FAIL_AS(fn, io_code(err));
}

int read_file(const char *fn, const std::string &path, BIN *out) {
    int rc = QRT_File_ReadBin(out, path.c_str());
    return rc ? OSTREL_FAIL_AS(fn, rc) : 0;
}

// The subject directory of a certificate, the DER to store and its file name.
struct Placed {
    std::string dir;
    std::string file;
    ostrel::BinOwner der;
};

int place(const char *fn, const char *root, int type, const Certificate *cert, bool ex, Placed &out) {
    const char *kind = getCertTypeName(type);
    if (!*kind) return OSTREL_FAIL_AS(fn, QRT_CERTSTORE_UNKNOWN_TYPE);
    char *dn = nullptr;
    int rc = QRT_ExtractRDN(0, &cert->tbsCertificate.subject, &dn);
    ostrel::qrt_ptr<char> dn_owner(dn);
    if (rc != 0 || !dn) return OSTREL_FAIL_AS(fn, QRT_CERTSTORE_SUBJECT_TEXT);
    if ((rc = subject_path(fn, root, kind, dn, out.dir))) return rc;
    if ((rc = ostrel::certificate_der(out.der.get(), *cert))) return OSTREL_FAIL_AS(fn, rc);  // as signed
    if (ex && by_serial(type)) {
        char *hex = nullptr;
        rc = QRT_HugeToHex(&cert->tbsCertificate.serialNumber, &hex);
        ostrel::qrt_ptr<char> hex_owner(hex);
        if (rc || !hex) return OSTREL_FAIL_AS(fn, rc ? rc : QRT_CERTSTORE_MALLOC_FAILED);
        out.file = ostrel::store::cert_file_name(hex);
    } else {
        out.file = cert_name(type);
    }
    return 0;
}

int make_dirs(const char *fn, const std::string &dir) {
    int err = ostrel::store::make_dirs(dir);
    if (err == 0) return 0;
    errno = err;
    OSTREL_SYSFAIL("mkdir");
    return OSTREL_FAIL_AS(fn, QRT_CERTSTORE_MKDIR_FAILED);
}

int put(const char *fn, const char *root, int type, const Certificate *cert, const BIN *key, bool ex) {
    return OSTREL_GUARD_AS(fn, [&] {
        Placed p;
        if (int rc = place(fn, root, type, cert, ex, p)) return rc;
        if (int rc = make_dirs(fn, p.dir)) return rc;
        if (int rc = write_file(fn, join(p.dir, p.file), *p.der)) return rc;
        return key ? write_file(fn, join(p.dir, key_name(type)), *key) : 0;
    });
}

// Opened directory, closed on every path.
struct DirCloser {
    void operator()(DIR *d) const { closedir(d); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

bool dot_entry(const char *name) { return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0; }

// The names in a directory, in directory order ("." and ".." left out); false when it cannot be
// opened.
bool list_dir(const std::string &dir, std::vector<std::string> &names) {
    DirPtr d(opendir(dir.c_str()));
    if (!d) return false;
    errno = 0;
    while (const dirent *e = readdir(d.get()))
        if (!dot_entry(e->d_name)) names.emplace_back(e->d_name);
    return true;
}

// The subject and issuer texts of a DER certificate; false when it does not decode or its names
// cannot be turned into text.
bool names_of(const BIN &der, ostrel::qrt_ptr<char> &subject, ostrel::qrt_ptr<char> &issuer) {
    ostrel::AsnTree<Certificate> cert(Certificate_PDU);
    if (cert.decode(&der) != 0 || !cert) return false;
    char *s = nullptr, *i = nullptr;
    int rs = QRT_ExtractRDN(0, &cert->tbsCertificate.subject, &s);
    subject.reset(s);
    int ri = QRT_ExtractRDN(0, &cert->tbsCertificate.issuer, &i);
    issuer.reset(i);
    return rs == 0 && ri == 0 && s && i;
}

// A growing pair of string arrays in QRT_malloc memory, handed to the caller whole.
class NameLists {
  public:
    ~NameLists() {
        for (int i = 0; i < count_; ++i) {
            QRT_free(subjects_[i]);
            QRT_free(issuers_[i]);
        }
        QRT_free(subjects_);
        QRT_free(issuers_);
    }
    // Takes both strings; false when memory is short (the strings are released).
    bool add(ostrel::qrt_ptr<char> subject, ostrel::qrt_ptr<char> issuer) {
        if (count_ == room_ && !grow()) return false;
        subjects_[count_] = subject.release();
        issuers_[count_] = issuer.release();
        ++count_;
        return true;
    }
    void hand_over(char ***subjects, char ***issuers, int *count) {
        *subjects = subjects_;
        *issuers = issuers_;
        *count = count_;
        subjects_ = issuers_ = nullptr;
        count_ = room_ = 0;
    }

  private:
    bool grow() {
        int room = room_ ? room_ * 2 : 20;
        auto bytes = static_cast<size_t>(room) * sizeof(char *);
        auto *s = static_cast<char **>(QRT_malloc(bytes));
        auto *i = static_cast<char **>(QRT_malloc(bytes));
        if (!s || !i) {
            QRT_free(s);
            QRT_free(i);
            return false;
        }
        for (int k = 0; k < count_; ++k) {
            s[k] = subjects_[k];
            i[k] = issuers_[k];
        }
        QRT_free(subjects_);
        QRT_free(issuers_);
        subjects_ = s;
        issuers_ = i;
        room_ = room;
        return true;
    }

    char **subjects_ = nullptr;
    char **issuers_ = nullptr;
    int count_ = 0;
    int room_ = 0;
};

}  // namespace

extern "C" {

const char *getCertTypeName(int type) {
    for (const TypeDir &t : kTypeDirs)
        if (t.type == type) return t.dir;
    return "";
}

int QRT_PutCertificateToStorage(const char *root, int type, const Certificate *cert) {
    if (!root || !cert) return QRT_IO_INVALID_INPUT;
    return put(__func__, root, type, cert, nullptr, false);
}

int QRT_PutCertificateToStorageEx(const char *root, int type, const Certificate *cert) {
    if (!root || !cert) return QRT_IO_INVALID_INPUT;
    return put(__func__, root, type, cert, nullptr, true);
}

int QRT_PutCertKeyToStorage(const char *root, int type, const Certificate *cert, const BIN *key) {
    if (!root || !cert || !key || (key->length && !key->value)) return QRT_IO_INVALID_INPUT;
    return put(__func__, root, type, cert, key, false);
}

int QRT_PutCrlToStorage(const char *root, const char *issuerDN, const CertificateList *crl) {
    if (!root || !issuerDN || !crl) return QRT_IO_INVALID_INPUT;
    return OSTREL_GUARD([&] {
        const char *const fn = "QRT_PutCrlToStorage";
        std::string dir;
        if (int rc = subject_path(fn, root, "crl", issuerDN, dir)) return rc;
        ostrel::BinOwner der;
        if (int rc = QRT_ASN_EncodePDU(der.get(), crl, CertificateList_PDU)) return OSTREL_FAIL_AS(fn, rc);
        if (int rc = make_dirs(fn, dir)) return rc;
        return write_file(fn, join(dir, "cert.crl"), *der);
    });
}

int QRT_GetCertificateFromStorage(const char *root, int type, const char *subjectDN, BIN *der) {
    if (!root || !subjectDN || !der) return QRT_IO_INVALID_INPUT;
    return OSTREL_GUARD([&] {
        const char *const fn = "QRT_GetCertificateFromStorage";
        const char *kind = getCertTypeName(type);
        if (!*kind) return OSTREL_FAIL_AS(fn, QRT_CERTSTORE_UNKNOWN_TYPE);
        std::string dir;
        if (int rc = subject_path(fn, root, kind, subjectDN, dir)) return rc;
        return read_file(fn, join(dir, cert_name(type)), der);
    });
}

int QRT_GetCertificateFromStorageEx(const char *root, int type, const char *subjectDN, const char *serial, BIN *der) {
    if (!root || !subjectDN || !der) return QRT_IO_INVALID_INPUT;
    return OSTREL_GUARD([&] {
        const char *const fn = "QRT_GetCertificateFromStorageEx";
        if (!serial) return OSTREL_FAIL_AS(fn, QRT_CERTSTORE_NO_SERIAL);
        const char *kind = getCertTypeName(type);
        if (!*kind) return OSTREL_FAIL_AS(fn, QRT_CERTSTORE_UNKNOWN_TYPE);
        std::string dir;
        if (int rc = subject_path(fn, root, kind, subjectDN, dir)) return rc;
        std::string file = by_serial(type) ? ostrel::store::cert_file_name(serial) : cert_name(type);
        return read_file(fn, join(dir, file), der);
    });
}

int QRT_GetCertificateFromStorageEx2(const char *root, int type, const char *subjectDN, const char *serial,
                                     const char *authKeyID, BIN *der) {
    if (serial && *serial) return QRT_GetCertificateFromStorageEx(root, type, subjectDN, serial, der);
    if (!root || !subjectDN || !der) return QRT_IO_INVALID_INPUT;
    return OSTREL_GUARD([&] {
        const char *const fn = "QRT_GetCertificateFromStorageEx2";
        if (!by_serial(type)) return OSTREL_FAIL_AS(fn, QRT_CERTSTORE_UNKNOWN_TYPE);
        std::string dir;
        if (int rc = subject_path(fn, root, getCertTypeName(type), subjectDN, dir)) return rc;
        std::vector<std::string> names;
        if (!list_dir(dir, names)) {
            OSTREL_SYSFAIL("opendir");
            return OSTREL_FAIL_AS(fn, QRT_CERTSTORE_OPENDIR_FAILED);
        }
        for (const std::string &name : names) {
            // Only certificate files: a temporary being written beside them is never taken.
            if (!ostrel::store::is_cert_entry(name.c_str())) continue;
            ostrel::BinOwner bytes;
            if (QRT_File_ReadBin(bytes.get(), join(dir, name).c_str()) != 0) continue;
            if (bytes->length == 0 || bytes->value[0] != 0x30) continue;
            if (authKeyID) {
                auto info = std::make_unique<CertInfo>();
                if (QRT_ExtractCertInfo(0, nullptr, bytes->value, bytes->length, 1, info.get()) != 0) continue;
                if (std::strcmp(info->sSubjectKeyID, authKeyID) != 0) continue;
            }
            bytes.release_to(der);
            return 0;
        }
        return OSTREL_FAIL_AS(fn, QRT_CERTSTORE_NOT_FOUND);
    });
}

int QRT_GetCertKeyFromStorage(const char *root, int type, const char *subjectDN, BIN *der, BIN *key) {
    if (!root || !subjectDN || !der || !key) return QRT_IO_INVALID_INPUT;
    return OSTREL_GUARD([&] {
        const char *const fn = "QRT_GetCertKeyFromStorage";
        const char *kind = getCertTypeName(type);
        if (!*kind) return OSTREL_FAIL_AS(fn, QRT_CERTSTORE_UNKNOWN_TYPE);
        std::string dir;
        if (int rc = subject_path(fn, root, kind, subjectDN, dir)) return rc;
        ostrel::BinOwner cert, pri;
        if (int rc = read_file(fn, join(dir, cert_name(type)), cert.get())) return rc;
        if (int rc = read_file(fn, join(dir, key_name(type)), pri.get())) return rc;
        cert.release_to(der);
        pri.release_to(key);
        return 0;
    });
}

int QRT_GetCrlFromStorage(const char *root, const char *issuerDN, BIN *der) {
    if (!root || !issuerDN || !der) return QRT_IO_INVALID_INPUT;
    return OSTREL_GUARD([&] {
        const char *const fn = "QRT_GetCrlFromStorage";
        std::string dir;
        if (int rc = subject_path(fn, root, "crl", issuerDN, dir)) return rc;
        return read_file(fn, join(dir, "cert.crl"), der);
    });
}

int QRT_GetCertificateListFromStorage(const char *root, int type, char ***subjects, char ***issuers, int *count) {
    if (!root || !subjects || !issuers || !count) return QRT_IO_INVALID_INPUT;
    *subjects = *issuers = nullptr;
    *count = 0;
    return OSTREL_GUARD([&] {
        const char *const fn = "QRT_GetCertificateListFromStorage";
        const char *kind = getCertTypeName(type);
        if (!*kind) return OSTREL_FAIL_AS(fn, QRT_CERTSTORE_UNKNOWN_TYPE);
        std::string base(root);
        if (!base.empty() && base.back() != '/') base.push_back('/');
        base.append(kind);
        std::vector<std::string> dirs;
        if (!list_dir(base, dirs)) {
            OSTREL_SYSFAIL("opendir");
            return OSTREL_FAIL_AS(fn, QRT_CERTSTORE_OPENDIR_FAILED);
        }
        NameLists lists;
        for (const std::string &d : dirs) {
            ostrel::BinOwner der;
            if (QRT_File_ReadBin(der.get(), join(join(base, d), cert_name(type)).c_str()) != 0 || der->length == 0)
                continue;
            ostrel::qrt_ptr<char> subject, issuer;
            if (!names_of(*der, subject, issuer)) continue;
            if (!lists.add(std::move(subject), std::move(issuer)))
                return OSTREL_FAIL_AS(fn, QRT_CERTSTORE_MALLOC_FAILED);
        }
        lists.hand_over(subjects, issuers, count);
        return 0;
    });
}

int QRT_DeleteCertificateFromStorage(const char *root, int type, const char *subjectDN) {
    if (!root || !subjectDN) return QRT_IO_INVALID_INPUT;
    return OSTREL_GUARD([&] {
        const char *const fn = "QRT_DeleteCertificateFromStorage";
        const char *kind = getCertTypeName(type);
        if (!*kind) return OSTREL_FAIL_AS(fn, QRT_CERTSTORE_UNKNOWN_TYPE);
        std::string dir;
        if (int rc = subject_path(fn, root, kind, subjectDN, dir)) return rc;
        std::vector<std::string> names;
        if (!list_dir(dir, names)) {
            OSTREL_SYSFAIL("opendir");
            return OSTREL_FAIL_AS(fn, QRT_CERTSTORE_OPENDIR_FAILED);
        }
        for (const std::string &name : names) {
            if (::unlink(join(dir, name).c_str()) != 0) {
                OSTREL_SYSFAIL("unlink");
                return OSTREL_FAIL_AS(fn, QRT_CERTSTORE_UNLINK_FAILED);
            }
        }
        if (::rmdir(dir.c_str()) != 0) {
            OSTREL_SYSFAIL("rmdir");
            return OSTREL_FAIL_AS(fn, QRT_CERTSTORE_RMDIR_FAILED);
        }
        return 0;
    });
}

int QRT_DeleteCertificateFromStorageEx(const char *root, int type, const char *subjectDN, const char *serial) {
    if (!root || !subjectDN) return QRT_IO_INVALID_INPUT;
    return OSTREL_GUARD([&] {
        const char *const fn = "QRT_DeleteCertificateFromStorageEx";
        if (!serial || !*serial) return OSTREL_FAIL_AS(fn, QRT_CERTSTORE_NO_SERIAL);
        const char *kind = getCertTypeName(type);
        if (!*kind) return OSTREL_FAIL_AS(fn, QRT_CERTSTORE_UNKNOWN_TYPE);
        std::string dir;
        if (int rc = subject_path(fn, root, kind, subjectDN, dir)) return rc;
        if (::unlink(join(dir, ostrel::store::cert_file_name(serial)).c_str()) != 0) {
            OSTREL_SYSFAIL("unlink");
            return OSTREL_FAIL_AS(fn, QRT_CERTSTORE_UNLINK_FAILED);
        }
        std::vector<std::string> rest;
        if (!list_dir(dir, rest)) {
            OSTREL_SYSFAIL("opendir");
            return OSTREL_FAIL_AS(fn, QRT_CERTSTORE_OPENDIR_FAILED);
        }
        if (rest.empty() && ::rmdir(dir.c_str()) != 0) {
            OSTREL_SYSFAIL("rmdir");
            return OSTREL_FAIL_AS(fn, QRT_CERTSTORE_RMDIR_FAILED);
        }
        return 0;
    });
}

}  // extern "C"
