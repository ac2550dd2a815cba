// porter: shows a certificate, asks for confirmation and installs it, with its private key where
// there is one, into the certificate store; for a key it also prints the encrypted and the
// Base64 form of the key's password for the web server that reads the store. Everything is
// asked on standard input; the program ends with status 0 whatever happens.
#include <cstdio>
#include <cstring>
#include <memory>

#include "certinfo.h"
#include "certstorage.h"
#include "coding.h"
#include "crypto.h"
#include "err.h"
#include "files.h"
#include "io.h"
#include "ostrel/asn_tree.hpp"
#include "ostrel/owners.hpp"
#include "suite_codec.h"
#include "suite_pkc.h"

using ostrel::tools::Answer;

namespace {

constexpr size_t kPath = 4096;     // the store root and each file name
constexpr size_t kPassword = 256;  // a longer password fits neither form anyway
constexpr int kFormBuffer = 50;    // the forms are for a 49-character configuration field
constexpr int kEncodedMax = 36;    // the longest password whose Base64 fits the field

// An answer that names a file or directory; used only when it was read whole, since a cut one
// would name another.
struct Path {
    char text[kPath] = {};
    bool whole = false;
};

void ask_path(const char *question, Path &p) {
    ostrel::tools::prompt(question);
    p.whole = ostrel::tools::read_word(p.text, sizeof p.text) == Answer::ok;
}

void store_failed(const char *message, int code) {
    std::printf("%s\nerror code %d. [%s]\n", message, code, QRT_GetErrReason(code, 1));
}

// The password forms for the web server's configuration; a form that would not fit its field is
// skipped with a note.
void print_password_forms(const char *password, bool whole) {
    const int length = static_cast<int>(std::strlen(password));
    char form[kFormBuffer] = {};
    int rc = whole ? WJYV_EncryptServerKeyPwd(form, sizeof form, password, length) : -2;
    if (rc == 0) {
        std::printf(
            "\n-------------------------------------------\n"
            "- Encrypted private key pwd : [%s]\n"
            "- (only for OstrelWeb ver 6 or later)\n"
            "-------------------------------------------\n",
            form);
    } else if (rc == -2) {
        std::printf("\nPrivate key password is too long for the encrypted form (at most 31 characters).\n");
    }
    if (!whole || length > kEncodedMax) {
        std::printf("\nPrivate key password is too long for the encoded form (at most 36 characters).\n");
        return;
    }
    BIN in{static_cast<unsigned>(length), reinterpret_cast<unsigned char *>(const_cast<char *>(password))};
    char *text = nullptr;
    if (QRT_BinToBase64(&in, &text) == 0 && text) {
        std::printf(
            "\n-------------------------------------------\n"
            "- Encoded private key pwd : [%s]\n"
            "- (for previous ver. of OstrelWeb or other applications.)\n"
            "-------------------------------------------\n",
            text);
        ostrel::wipe(text, std::strlen(text));
    }
    QRT_free(text);
}

void install() {
    Path root, certFile, keyFile;
    ask_path("cert store root directory : ", root);
    ostrel::tools::prompt("cert type [1=root, 2=ca, 3=server, 4=user, 5=other] : ");
    const int type = ostrel::tools::read_number(0);
    ask_path("importing certificate file : ", certFile);
    bool withKey = false;
    if (type == 3 || type == 4) {
        std::printf("If you have just cert, enter [s] at following.\n");
        ask_path("importing private key file : ", keyFile);
        withKey = std::strcmp(keyFile.text, "s") != 0 || !keyFile.whole;
    }

    ostrel::BinOwner certDer;
    if (!certFile.whole || QRT_File_ReadBin(certDer.get(), certFile.text) != 0) {
        std::printf("cannot read cert %s.\n", certFile.text);
        return;
    }
    if (QRT_IsPemType(certDer->value, static_cast<int>(certDer->length))) {
        ostrel::BinOwner converted;
        if (QRT_PemToBin(certDer.get(), converted.get()) != 0) {
            std::printf("cannot decode cert %s.\n", certFile.text);
            return;
        }
        QRT_BIN_Reset(certDer.get());
        converted.release_to(certDer.get());
    }
    ostrel::AsnTree<Certificate> cert(Certificate_PDU);
    if (cert.decode(certDer.get()) != 0 || !cert) {
        std::printf("cannot decode cert %s.\n", certFile.text);
        return;
    }
    auto info = std::make_unique<CertInfo>();
    if (QRT_ExtractCertInfo(0, nullptr, certDer->value, certDer->length, 1, info.get()) != 0) {
        std::printf("cannot extract cert info.\n");
        return;
    }
    FILE *const screen[] = {stdout};
    QRT_PrintCertInfo(info.get(), "Certifiate", 0, screen, 1);

    char answer[kPath] = {};
    ostrel::tools::prompt("Will you install this certificate ? [y/n] ");
    bool yes = ostrel::tools::read_word(answer, sizeof answer) == Answer::ok &&
               (std::strcmp(answer, "y") == 0 || std::strcmp(answer, "Y") == 0);
    if (!yes) {
        std::printf("Certificate install is cancelled.\n");
        return;
    }

    // A root cut at the buffer is never used: it would name another directory, and the whole
    // one is longer than any path the system takes.
    if (!withKey) {
        int rc = root.whole ? QRT_PutCertificateToStorageEx(root.text, type, cert.get()) : QRT_CERTSTORE_MKDIR_FAILED;
        if (rc != 0) {
            store_failed("cannot put certificate into cert storage.", rc);
            return;
        }
        std::printf("importing certificate success\n");
        return;
    }

    ostrel::BinOwner key;
    if (!keyFile.whole || ostrel::tools::read_der_file(keyFile.text, key.get()) != 0) {
        std::printf("cannot read private key %s.\n", keyFile.text);
        return;
    }
    char password[kPassword] = {};
    ostrel::tools::prompt("\tInput Private Key Password :");
    bool whole = ostrel::tools::read_password(password, sizeof password, true) != Answer::too_long;
    if (password[0]) print_password_forms(password, whole);
    ostrel::wipe(password, sizeof password);

    int rc = root.whole ? QRT_PutCertKeyToStorage(root.text, type, cert.get(), key.get()) : QRT_CERTSTORE_MKDIR_FAILED;
    if (rc != 0) {
        store_failed("cannot put certificate and private key into cert storage.", rc);
        return;
    }
    std::printf("importing certificate success\n");
}

}  // namespace

int main() {
    try {
        install();
    } catch (...) {
        // Out of memory while reading an answer or building the screen: nothing more is done.
    }
    std::fflush(stdout);
    return 0;
}
