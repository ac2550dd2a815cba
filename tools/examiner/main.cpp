// examiner: shows a certificate's contents (on the screen and in examiner.txt) and validates its
// path against the certificate store, optionally with CRL checking and policy processing,
// fetching missing CA certificates and revocation lists from a directory. Rounds repeat on
// request; the program ends with status 0 whatever happens. Standard output carries only the
// dialogue; after a failed validation the error trace goes to standard error.
#include <sys/stat.h>
#include <sys/times.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "certinfo.h"
#include "coding.h"
#include "err.h"
#include "io.h"
#include "ostrel/asn_tree.hpp"
#include "ostrel/owners.hpp"
#include "suite_pkc.h"
#include "suite_pvd.h"
#include "validate.h"

using ostrel::tools::Answer;

namespace {

constexpr size_t kAnswer = 256;  // an answer line of at most 255 characters
constexpr int kMaxRounds = 1000;
constexpr const char *kInfoFile = "examiner.txt";
constexpr const char *kAnyPolicy = "any-policy";

// One answer line. An answer that did not fit is never used cut: text keeps what fitted, for
// messages only.
struct Line {
    char text[kAnswer] = {};
    Answer state = Answer::end;
    bool whole() const { return state == Answer::ok; }
    // The answer for use: NULL when it is empty or did not fit.
    const char *given() const { return whole() && text[0] ? text : nullptr; }
};

// Asks and reads one line; false at the end of input.
bool ask(const char *question, Line &line) {
    ostrel::tools::prompt(question);
    line.state = ostrel::tools::read_line(line.text, sizeof line.text);
    return line.state != Answer::end;
}

// Asks an option: the answer read as a number, on only for 1. false at the end of input.
bool ask_option(const char *question, bool &on) {
    Line line;
    if (!ask(question, line)) return false;
    on = line.whole() && std::atoi(line.text) == 1;
    return true;
}

struct Answers {
    Line file, store, ldap, policy;
    bool crl = false, rfc3280 = false;
};

// The dialogue's questions, in order; false when input ends before the last one.
bool ask_all(Answers &a) {
    if (!ask("certificate file : ", a.file) || !ask("certificate storage directory : ", a.store)) return false;
    if (!ask_option("certificate verify option [CERT_VERIFY_CRL] : [0] off - default , [1] on : ", a.crl) ||
        !ask_option("certificate verify option [CERT_VERIFY_RFC3280] : [0] off - default , [1] on : ", a.rfc3280))
        return false;
    if (!a.crl && !ask("ldap info [] : ", a.ldap)) return false;
    if (!a.rfc3280 && !ask("acceptable policy set [any-policy] : ", a.policy)) return false;
    return true;
}

// The certificate file as DER (converted when it holds PEM), decoded; prints the failure line.
bool load(const Line &file, ostrel::BinOwner &der, ostrel::AsnTree<Certificate> &cert) {
    if (!file.whole() || QRT_File_ReadBin(der.get(), file.text) != 0) {
        std::printf("cannot read cert %s.\n", file.text);
        return false;
    }
    if (QRT_IsPemType(der->value, static_cast<int>(der->length))) {
        ostrel::BinOwner converted;
        if (QRT_PemToBin(der.get(), converted.get()) != 0) {
            std::printf("cannot decode cert %s.\n", file.text);
            return false;
        }
        QRT_BIN_Reset(der.get());
        converted.release_to(der.get());
    }
    if (cert.decode(der.get()) != 0 || !cert) {
        std::printf("cannot decode cert %s.\n", file.text);
        return false;
    }
    return true;
}

// The information block on the screen and in examiner.txt (which then holds this block only).
void show(const CertInfo &info) {
    std::FILE *file = std::fopen(kInfoFile, "w");
    if (!file) std::printf("cannot create %s.\n", kInfoFile);
    std::FILE *const outs[] = {stdout, file};
    QRT_PrintCertInfo(&info, "Certificate", QRT_CERTINFO_QUALIFIERS, outs, 2);
    if (file) std::fclose(file);
}

bool is_directory(const char *path) {
    struct stat st {};
    return path && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// The error trace of the calling thread to standard error, one record a line.
void print_trace() {
    char *records = nullptr;
    if (QRT_Trace_GetError(&records) != 0 || !records) return;
    std::fputs(records, stderr);
    if (*records && records[std::strlen(records) - 1] != '\n') std::fputc('\n', stderr);
    QRT_free(records);
}

// Processor time (user and system) of this process in clock ticks.
clock_t cpu_ticks() {
    struct tms t {};
    times(&t);
    return t.tms_utime + t.tms_stime;
}

void validate(const Answers &a, const Certificate &cert, long ticksPerSecond) {
    const char *store = a.store.given();
    if (!is_directory(store)) std::printf("certificate storage directory %s does not exist.\n", a.store.text);
    std::printf("now, validate certificate ...\n");
    std::fflush(stdout);
    const int option = (a.crl ? CERT_VERIFY_CRL : 0) | (a.rfc3280 ? CERT_VERIFY_RFC3280 : 0);
    const char *policy = a.policy.given() ? a.policy.given() : kAnyPolicy;
    QRT_Trace_ClearError();
    const clock_t start = cpu_ticks();
    int rc = QRT_VerifyCertPath(&cert, policy, store, a.ldap.given(), nullptr, nullptr, option, nullptr);
    const clock_t used = cpu_ticks() - start;
    std::printf("certificate verification time : %2.4f sec\n",
                static_cast<double>(used) / static_cast<double>(ticksPerSecond));
    if (rc == 0) {
        std::printf("certificate validation success.\n");
    } else if (rc == QRT_VALIDATE_ROOT_CERT) {
        std::printf("This certificate is ROOT cert.\n");
    } else {
        std::printf("certificate validation error. error code %d. [%s]\n", rc, QRT_GetErrReason(rc, 1));
        std::fflush(stdout);
        print_trace();
    }
    QRT_Trace_ClearError();
}

// One round: the questions, the certificate shown and validated. false when input ended.
bool examine(long ticksPerSecond) {
    // A CA found in an earlier round's store or directory must not validate this round's
    // certificate: the validation cache starts empty every round.
    QRT_PVD_Finalize();
    QRT_PVD_Initialize();

    Answers a;
    if (!ask_all(a)) return false;
    ostrel::BinOwner der;
    ostrel::AsnTree<Certificate> cert(Certificate_PDU);
    if (load(a.file, der, cert)) {
        auto info = std::make_unique<CertInfo>();
        if (QRT_ExtractCertInfo(0, nullptr, der->value, der->length, 1, info.get()) != 0) {
            std::printf("cannot extract cert info %s.\n", a.file.text);
        } else {
            show(*info);
            validate(a, *cert, ticksPerSecond);
        }
    }
    Line again;
    if (!ask("Do you want to view another certificate ? [y/n] : ", again)) return false;
    return again.whole() && (std::strcmp(again.text, "y") == 0 || std::strcmp(again.text, "Y") == 0);
}

}  // namespace

int main() {
    QRT_Trace_Initialize();
    long ticksPerSecond = sysconf(_SC_CLK_TCK);
    if (ticksPerSecond <= 0) ticksPerSecond = 100;
    try {
        for (int round = 0; round < kMaxRounds && examine(ticksPerSecond); ++round) {
        }
    } catch (...) {
        // Out of memory while reading an answer or building the screen: nothing more is done.
    }
    std::fflush(stdout);
    return 0;
}
