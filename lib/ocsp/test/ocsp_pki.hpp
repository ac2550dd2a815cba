// A small PKI made with the openssl command line for the OCSP tests, in a temporary folder: an
// RSA CA whose index.txt records the issued certificates, end entities (ee1 good, ee2 revoked for
// keyCompromise, both with authorityInfoAccess), a certificate the index does not know, one
// without authorityKeyIdentifier, delegated responders (RSA and ECDSA, with id-kp-OCSPSigning),
// and a self-signed look-alike of the CA. Answers come from `openssl ocsp -reqin/-respout`.
#pragma once

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <ctime>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "ostrel/test_support.hpp"
#include "suite_ocsp.h"

namespace ocsp_test {

using Bytes = std::vector<unsigned char>;
using ostrel::test::read_file;
using ostrel::test::run;
using ostrel::test::to_hex;

inline BIN bin(const Bytes &b) { return BIN{static_cast<unsigned>(b.size()), const_cast<unsigned char *>(b.data())}; }
inline Bytes bytes(const std::string &s) { return Bytes(s.begin(), s.end()); }
inline Bytes bytes(const BIN &b) { return b.value ? Bytes(b.value, b.value + b.length) : Bytes(); }

class Pki {
  public:
    Pki() {
        write("ca.cnf", R"([ ca ]
default_ca = ca_default
[ ca_default ]
dir = .
database = index.txt
new_certs_dir = .
serial = serial
default_md = sha256
policy = any
default_days = 30
unique_subject = no
[ any ]
commonName = supplied
[ req ]
distinguished_name = dn
[ dn ]
[ v3ca ]
basicConstraints = critical,CA:TRUE
subjectKeyIdentifier = hash
keyUsage = critical,keyCertSign,cRLSign,digitalSignature
[ ee ]
basicConstraints = CA:FALSE
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
authorityInfoAccess = OCSP;URI:http://127.0.0.1/ocsp
[ ocsp ]
basicConstraints = CA:FALSE
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
extendedKeyUsage = OCSPSigning
)");
        write("pki.sh", R"(set -e
touch index.txt; echo 1000 > serial
EC="-newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes"
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -subj '/CN=Ostrel OCSP Test CA' \
    -days 30 -config ca.cnf -extensions v3ca
issue() {
    openssl req -new $2 -keyout $1.key -out $1.csr -subj /CN=$1 -config ca.cnf
    openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -in $1.csr -out $1.pem -extensions $3
}
issue ee1 "$EC" ee
issue ee2 "$EC" ee
issue rsp "-newkey rsa:2048 -nodes" ocsp
issue rspec "$EC" ocsp
openssl ca -config ca.cnf -cert ca.pem -keyfile ca.key -revoke ee2.pem -crl_reason keyCompromise
openssl req -new $EC -keyout other.key -out other.csr -subj /CN=other -config ca.cnf
openssl x509 -req -in other.csr -CA ca.pem -CAkey ca.key -set_serial 0x7777 -extfile ca.cnf -extensions ee \
    -out unknown.pem
openssl x509 -req -in other.csr -CA ca.pem -CAkey ca.key -set_serial 0x55 -out noaki.pem
openssl req -x509 $EC -keyout evil.key -out evil.pem -subj '/CN=Ostrel OCSP Test CA' -days 30 -config ca.cnf \
    -extensions v3ca
for c in ca ee1 ee2 rsp rspec unknown noaki evil; do openssl x509 -in $c.pem -outform der -out $c.der; done
)");
        std::string out;
        ok_ = run("cd " + dir_.path() + " && sh pki.sh 2>&1", &out) == 0;
        if (!ok_) ADD_FAILURE() << out;
    }

    bool ok() const { return ok_; }
    std::string path(const std::string &name) const { return dir_ / name; }
    Bytes file(const std::string &name) const { return bytes(read_file(path(name))); }
    Bytes der(const std::string &cert) const { return file(cert + ".der"); }
    void write(const std::string &name, const std::string &data) const { ostrel::test::write_file(path(name), data); }
    void write(const std::string &name, const Bytes &data) const { write(name, std::string(data.begin(), data.end())); }

    // Runs a command in the PKI's folder; its output (stdout and stderr).
    std::string sh(const std::string &cmd, int *status = nullptr) const {
        std::string out;
        int rc = run("cd " + dir_.path() + " && " + cmd + " 2>&1", &out);
        if (status) *status = rc;
        return out;
    }

    // The responder's answer to a DER request: `openssl ocsp -index -reqin -respout` with
    // signer options (default: the CA signs).
    Bytes respond(const Bytes &request, const std::string &signer = "-rsigner ca.pem -rkey ca.key") const {
        write("q.der", request);
        int rc = 0;
        std::string out = sh(
            "rm -f r.der && openssl ocsp -index index.txt -CA ca.pem " + signer + " -reqin q.der -respout r.der", &rc);
        EXPECT_EQ(rc, 0) << out;
        return file("r.der");
    }

    // Revocation time of ee2 as the index records it.
    time_t revocation_time() const {
        std::string line = sh("grep '^R' index.txt | cut -f3 | cut -d, -f1");
        struct tm tm {};
        if (!strptime(line.c_str(), "%y%m%d%H%M%SZ", &tm)) return -1;
        return timegm(&tm);
    }

    // python `cryptography`'s view, computed once for every certificate of the PKI: the CertID
    // under the CA ("issuer-name-hash issuer-key-hash serial", hex) and the SHA-1 of the
    // subjectPublicKey bits.
    std::string python_cert_id(const std::string &cert) const { return python_view().at(cert + ".id"); }
    std::string python_key_hash(const std::string &cert) const { return python_view().at(cert + ".key"); }

  private:
    const std::map<std::string, std::string> &python_view() const {
        if (python_.empty()) {
            write("view.py",
                  "from cryptography import x509\n"
                  "from cryptography.x509 import ocsp\n"
                  "from cryptography.hazmat.primitives import hashes\n"
                  "L = lambda n: x509.load_pem_x509_certificate(open(n + '.pem', 'rb').read())\n"
                  "ca = L('ca')\n"
                  "for n in ['ca', 'ee1', 'ee2', 'unknown', 'rsp', 'rspec', 'evil']:\n"
                  "    c = L(n)\n"
                  "    r = ocsp.OCSPRequestBuilder().add_certificate(c, ca, hashes.SHA1()).build()\n"
                  "    print(n + '.id', r.issuer_name_hash.hex(), r.issuer_key_hash.hex(), '%x' % r.serial_number)\n"
                  "    print(n + '.key', x509.SubjectKeyIdentifier.from_public_key(c.public_key()).digest.hex())\n");
            std::istringstream lines(sh("python3 view.py"));
            for (std::string line; std::getline(lines, line);) {
                size_t sp = line.find(' ');
                if (sp != std::string::npos) python_[line.substr(0, sp)] = line.substr(sp + 1);
            }
            EXPECT_FALSE(python_.empty());
        }
        return python_;
    }

    mutable std::map<std::string, std::string> python_;
    ostrel::test::TempDir dir_;
    bool ok_ = false;
};

// The record's CertID as "namehash keyhash serial", the form python_cert_id prints.
inline std::string cert_id_text(const ZQ_OCSP_CertID &id) {
    std::string serial = to_hex(id.serialNumber.value, id.serialNumber.length);
    while (serial.size() > 1 && serial[0] == '0') serial.erase(0, 1);
    return to_hex(id.issuerNameHash.value, id.issuerNameHash.length) + " " +
           to_hex(id.issuerKeyHash.value, id.issuerKeyHash.length) + " " + serial;
}

// A request for the certificates, released at scope exit.
struct Req {
    ZQ_OCSP_Request r{};
    Req(const Pki &pki, std::initializer_list<const char *> certs) {
        for (const char *c : certs) {
            Bytes d = pki.der(c);
            BIN b = bin(d);
            QRT_BIN_LIST_Add(&r.reqCertList, &b);
        }
    }
    ~Req() { QRT_OCSP_ResetRequest(&r); }
    void sign_cert(const Bytes &der) {
        r.signCert = QRT_BIN_New();
        BIN b = bin(der);
        QRT_BIN_Copy(r.signCert, &b);
    }
};

struct Resp {
    ZQ_OCSP_Response r{};
    ~Resp() { QRT_OCSP_ResetResponse(&r); }
    bool empty() const { return !r.producedAt && !r.responderKeyID.value && !r.respList && !r.cert; }
    std::vector<const ZQ_OCSP_SingleResponse *> singles() const {
        std::vector<const ZQ_OCSP_SingleResponse *> v;
        for (const ZQ_OCSP_SingleRespList *p = r.respList; p; p = p->next) v.push_back(&p->value);
        return v;
    }
};

}  // namespace ocsp_test
