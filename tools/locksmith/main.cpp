// locksmith: checks the password of an encrypted PKCS#8 private key (writing the opened key to
// "private.ber"), changes that password, and checks the password of a key in the older wjca
// container. Everything is asked on standard input; the program ends with status 0.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "files.h"
#include "io.h"
#include "ostrel/owners.hpp"
#include "suite_pkcs8.h"
#include "wjca.h"

using ostrel::tools::Answer;

namespace {

constexpr size_t kLine = 256;      // an answer of at most 255 characters
constexpr size_t kMenuAnswer = 9;  // characters of the service code taken
constexpr mode_t kKeyMode = 0600;  // files that hold a key: the owner's alone

// One answer line. A longer one is remembered, and the service refuses to run on it once all
// its prompts are answered: a cut password or name would not be what was typed.
struct Line {
    char text[kLine] = {};
    ~Line() { ostrel::wipe(text, sizeof text); }
};

class Service {
  public:
    void ask(const char *question, Line &l, bool secret = false) {
        ostrel::tools::prompt(question);
        Answer a = secret ? ostrel::tools::read_password(l.text, sizeof l.text, false)
                          : ostrel::tools::read_line(l.text, sizeof l.text);
        if (secret && ostrel::tools::input_is_terminal()) std::printf("\n");  // the unechoed line end
        if (a == Answer::too_long) tooLong_ = true;
    }
    // false (after the message) when an answer was too long.
    bool answers_fit() const {
        if (tooLong_) std::printf("input is too long (at most 255 characters).\n");
        return !tooLong_;
    }

  private:
    bool tooLong_ = false;
};

// A file name as opened: one that begins with a double quote loses its first and last characters.
std::string unquoted(const char *typed) {
    std::string name(typed);
    if (!name.empty() && name[0] == '"') name = name.size() >= 2 ? name.substr(1, name.size() - 2) : std::string();
    return name;
}

BIN password_bin(const Line &l) {
    return BIN{static_cast<unsigned>(std::strlen(l.text)),
               reinterpret_cast<unsigned char *>(const_cast<char *>(l.text))};
}

// The key file as DER (PEM converted); false after the message.
bool read_key(const Line &file, BIN *der) {
    if (ostrel::tools::read_der_file(unquoted(file.text).c_str(), der) != 0) {
        std::printf("cannot read key %s.\n", file.text);
        return false;
    }
    return true;
}

bool same_bin(const BIN *a, const BIN *b) {
    if (!a || !b) return !a && !b;
    return a->length == b->length && (a->length == 0 || std::memcmp(a->value, b->value, a->length) == 0);
}

bool same_key(const ZQ_PKCS8_PRIVKEY_INFO &a, const ZQ_PKCS8_PRIVKEY_INFO &b) {
    return a.algID == b.algID && same_bin(a.algParam, b.algParam) && same_bin(a.privKey, b.privKey) &&
           same_bin(a.attribs.vidRandom, b.attribs.vidRandom);
}

struct EncInfo {
    ZQ_PKCS8_ENC_PRIVKEY_INFO v{};
    ~EncInfo() { QRT_PKCS8_ResetEncPrivKeyInfo(&v); }
};

void check_password() {
    Service s;
    Line file, password;
    s.ask("private key file : ", file);
    s.ask("private key password : ", password, true);
    if (!s.answers_fit()) return;
    ostrel::BinOwner der;
    if (!read_key(file, der.get())) return;
    EncInfo enc;
    BIN pw = password_bin(password);
    int rc = QRT_PKCS8_DecodeEncPrivKeyInfo(&enc.v, der.get(), &pw);
    if (rc == QRT_PKCS8_INVALID_PASSWORD) {
        std::printf("Password is not correct.\n");
        return;
    }
    if (rc != 0) {
        std::printf("cannot check password of key %s. error code %d. [%s]\n", file.text, rc,
                    QRT_PKCS8_GetErrorReason(rc, 1));
        return;
    }
    std::printf("Password is correct.\n");
    if (!enc.v.info.privKey || ostrel::tools::write_whole("private.ber", enc.v.info.privKey, kKeyMode) != 0)
        std::printf("cannot write private.ber.\n");
}

void change_password() {
    Service s;
    Line file, changed, oldPw, newPw, confirm;
    s.ask("private key file : ", file);
    s.ask("changed private key file : ", changed);
    s.ask("private key old password : ", oldPw, true);
    s.ask("private key new password : ", newPw, true);
    s.ask("confirm private key new password : ", confirm, true);
    if (!s.answers_fit()) return;
    if (std::strcmp(newPw.text, confirm.text) != 0) {
        std::printf("new password is not confirmed.\n");
        return;
    }
    ostrel::BinOwner der, out;
    if (!read_key(file, der.get())) return;
    BIN oldBin = password_bin(oldPw), newBin = password_bin(newPw);
    int rc = QRT_PKCS8_ChangePassword(out.get(), der.get(), &newBin, &oldBin);
    if (rc == 0) {
        // The new container must open under the new password to the very key the old one held.
        EncInfo before, after;
        rc = QRT_PKCS8_DecodeEncPrivKeyInfo(&before.v, der.get(), &oldBin);
        if (rc == 0) rc = QRT_PKCS8_DecodeEncPrivKeyInfo(&after.v, out.get(), &newBin);
        if (rc == 0 && !same_key(before.v.info, after.v.info)) rc = QRT_PKCS8_INTERNAL;
    }
    if (rc == QRT_PKCS8_INVALID_PASSWORD) {
        std::printf("Password is not correct.\n");
        return;
    }
    if (rc != 0) {
        std::printf("cannot change password of key %s. error code %d. [%s]\n", file.text, rc,
                    QRT_PKCS8_GetErrorReason(rc, 1));
        return;
    }
    if (ostrel::tools::write_whole(unquoted(changed.text).c_str(), out.get(), kKeyMode) != 0) {
        std::printf("cannot write password changed private key [%s].\n", changed.text);
        return;
    }
    std::printf("Password is changed. Changed private key file is stored to file.[%s]\n", changed.text);
}

void check_wjca_password() {
    Service s;
    Line file, password;
    s.ask("private key file : ", file);
    s.ask("private key password : ", password, true);
    if (!s.answers_fit()) return;
    ostrel::BinOwner text;
    if (QRT_File_ReadBin(text.get(), unquoted(file.text).c_str()) != 0) {
        std::printf("cannot read key %s.\n", file.text);
        return;
    }
    WJSSL_DATA *key = nullptr;
    int rc = WJYV30_Get_Private_Key(&key, text->value, text->length, password.text,
                                    static_cast<int>(std::strlen(password.text)));
    WJSSL_Free_Data(key);
    if (rc != 0) std::printf("cannot decode key %s.\n", file.text);
}

// The service code: a decimal number at the start of the first characters of the answer.
int read_service() {
    Line answer;
    ostrel::tools::read_line(answer.text, sizeof answer.text);
    answer.text[kMenuAnswer] = '\0';
    char *end = nullptr;
    long v = std::strtol(answer.text, &end, 10);
    return end == answer.text ? 0 : static_cast<int>(v);
}

// false when the answer asks to stop (or input has ended).
bool more() {
    Line answer;
    ostrel::tools::prompt("Do more?[y]/n ");
    if (ostrel::tools::read_line(answer.text, sizeof answer.text) == Answer::end) return false;
    return answer.text[0] != 'n' && answer.text[0] != 'N';
}

void serve() {
    do {
        std::printf(
            "service code \n\t[1] private key password check\n\t[2] private key change password\n"
            "\t[3] wjca private key password check\n");
        ostrel::tools::prompt("enter service code : ");
        switch (read_service()) {
            case 1:
                check_password();
                break;
            case 2:
                change_password();
                break;
            case 3:
                check_wjca_password();
                break;
            default:
                std::printf("Invalid service code\n");
                return;
        }
    } while (more());
}

}  // namespace

int main() {
    try {
        serve();
    } catch (...) {
        // Out of memory: nothing more is done.
    }
    std::fflush(stdout);
    return 0;
}
