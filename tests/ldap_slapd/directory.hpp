// A directory to fetch from, for the tests and the benchmark: slapd in a temporary folder on a
// free loopback port, its data made at run time (certificates and CRLs by the openssl command
// line, 1000 pkiUser certificates by python `cryptography`) and loaded with ldapadd.
//
//   o=Test                         the suffix; cn=admin,o=Test (password "secret") is its rootdn
//   cn=Test CA,o=Test              cACertificate, the three revocation lists (;binary) and a
//                                  signCertificate under the plain name
//   cn=User,o=Test                 userCertificate;binary
//   cn=NullList,o=Test             certificateTrustList: the text NULL only
//   cn=홍길동,o=Test               userCertificate;binary (a DN in Hangul)
//   cn=uNNNN,ou=Users,o=Test       1000 pkiUser entries (with_users), each with its own certificate
//
// Anonymous searches are cut at 500 entries; the rootdn has no limit. slapd runs under a small
// shell guard that also ends it when the test process is gone, so a killed test leaves no
// server behind; stop() and the destructor end it by pid.
#pragma once

#include <unistd.h>

#include <chrono>
#include <initializer_list>
#include <string>
#include <vector>

#include "ostrel/peer_process.hpp"
#include "ostrel/test_support.hpp"

namespace ostrel::test {

class Directory {
  public:
    using Bytes = std::vector<unsigned char>;

    static constexpr const char *kSuffix = "o=Test";
    static constexpr const char *kRootDN = "cn=admin,o=Test";
    static constexpr const char *kRootPW = "secret";
    static constexpr int kUsers = 1000;

    Bytes ca, user, korean, arl, crl, dcrl, sign, other_ca;  // DER as loaded
    std::vector<Bytes> users;                                // the pkiUser certificates, with_users

    // Makes the data, starts slapd and loads it; false with why() set when anything fails.
    bool start(bool with_users) {
        for (const char *tool : {"openssl", "ldapadd", "ldapsearch", "python3"})
            if (!have_command(tool)) return fail(std::string(tool) + " is not installed");
        if (!make_certificates()) return false;
        if (with_users && !make_users()) return false;
        write_file(dir_ / "base.ldif", base_ldif());
        if (!launch()) return false;
        if (!load("base.ldif")) return false;
        return !with_users || load("users.ldif");
    }
    void stop() { slapd_.stop(); }

    int port() const { return port_; }
    // "ldap://127.0.0.1:<port>/" followed by rest.
    std::string url(const std::string &rest) const { return "ldap://127.0.0.1:" + std::to_string(port_) + "/" + rest; }
    // "127.0.0.1:<port>", a location that is not a URL.
    std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
    const std::string &why() const { return why_; }

  private:
    bool fail(const std::string &why) {
        why_ = why;
        return false;
    }

    // Runs a shell command in the folder; its output goes to cmd.log for the failure message.
    bool sh(const std::string &cmd) {
        if (run("cd '" + dir_.path() + "' && ( " + cmd + " ) >cmd.log 2>&1") == 0) return true;
        return fail(cmd + "\n" + read_file(dir_ / "cmd.log"));
    }

    Bytes bytes(const std::string &name) {
        std::string s = read_file(dir_ / name);
        return Bytes(s.begin(), s.end());
    }

    bool make_certificates() {
        const char *ca_cnf =
            "[ca]\ndefault_ca = d\n[d]\ndatabase = index.txt\ncrlnumber = crlnumber\n"
            "default_md = sha256\ndefault_crl_days = 30\n";
        write_file(dir_ / "ca.cnf", ca_cnf);
        write_file(dir_ / "index.txt", "");
        write_file(dir_ / "crlnumber", "01\n");
        // The three lists differ in their CRL number, so each fetch shows which one came back.
        bool ok =
            sh("openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -subj '/CN=Test CA' -days 30 "
               "-out ca.pem && openssl x509 -in ca.pem -outform DER -out ca.der && "
               "openssl req -x509 -newkey rsa:2048 -nodes -keyout other.key -subj '/CN=Test CA' -days 30 "
               "-outform DER -out other.der && "
               "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout sign.key "
               "-subj '/CN=Test Signer' -days 30 -outform DER -out sign.der && "
               "for who in User Korean; do "
               "openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout $who.key "
               "-subj /CN=$who -out $who.csr && openssl x509 -req -in $who.csr -CA ca.pem -CAkey ca.key "
               "-CAcreateserial -days 30 -outform DER -out $who.der || exit 1; done && "
               "for list in arl crl dcrl; do "
               "openssl ca -batch -gencrl -config ca.cnf -keyfile ca.key -cert ca.pem -out $list.pem && "
               "openssl crl -in $list.pem -outform DER -out $list.der || exit 1; done");
        if (!ok) return false;
        ca = bytes("ca.der");
        other_ca = bytes("other.der");
        sign = bytes("sign.der");
        user = bytes("User.der");
        korean = bytes("Korean.der");
        arl = bytes("arl.der");
        crl = bytes("crl.der");
        dcrl = bytes("dcrl.der");
        return true;
    }

    // One key signs all: the certificates differ in name and serial, which is all the lists need.
    bool make_users() {
        write_file(dir_ / "users.py", R"(import base64, datetime
from cryptography import x509
from cryptography.x509.oid import NameOID
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec
key = ec.generate_private_key(ec.SECP256R1())
now = datetime.datetime.utcnow()
with open("users.ldif", "w") as ldif, open("users.hex", "w") as hexes:
    ldif.write("dn: ou=Users,o=Test\nobjectClass: organizationalUnit\nou: Users\n\n")
    for i in range(1000):
        name = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, "u%04d" % i)])
        cert = (x509.CertificateBuilder().subject_name(name).issuer_name(name).public_key(key.public_key())
                .serial_number(1000 + i).not_valid_before(now).not_valid_after(now + datetime.timedelta(days=30))
                .sign(key, hashes.SHA256()))
        der = cert.public_bytes(serialization.Encoding.DER)
        hexes.write(der.hex() + "\n")
        ldif.write("dn: cn=u%04d,ou=Users,o=Test\nobjectClass: organizationalRole\nobjectClass: pkiUser\n"
                   "cn: u%04d\nuserCertificate;binary:: %s\n\n" % (i, i, base64.b64encode(der).decode()))
)");
        if (!sh("python3 users.py")) return false;
        users.clear();
        std::istringstream hexes(read_file(dir_ / "users.hex"));
        for (std::string line; std::getline(hexes, line);) users.push_back(from_hex(line));
        if (users.size() != kUsers) return fail("users.py wrote " + std::to_string(users.size()) + " certificates");
        return true;
    }

    static std::string base64(const Bytes &b) {
        static const char d[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        std::string s;
        for (size_t i = 0; i < b.size(); i += 3) {
            unsigned v = b[i] << 16 | (i + 1 < b.size() ? b[i + 1] << 8 : 0) | (i + 2 < b.size() ? b[i + 2] : 0);
            s += d[v >> 18 & 63];
            s += d[v >> 12 & 63];
            s += i + 1 < b.size() ? d[v >> 6 & 63] : '=';
            s += i + 2 < b.size() ? d[v & 63] : '=';
        }
        return s;
    }
    static std::string base64(const std::string &s) { return base64(Bytes(s.begin(), s.end())); }

    // Lines joined, each ended by a newline.
    static std::string lines(std::initializer_list<std::string> ls) {
        std::string s;
        for (const std::string &l : ls) s += l + "\n";
        return s;
    }

    std::string base_ldif() const {
        return lines({"dn: o=Test",
                      "objectClass: organization",
                      "o: Test",
                      "",
                      "dn: cn=Test CA,o=Test",
                      "objectClass: organizationalRole",
                      "objectClass: certificationAuthority",
                      "objectClass: deltaCRL",
                      "objectClass: ostrelTrustHolder",
                      "cn: Test CA",
                      "cACertificate;binary:: " + base64(ca),
                      "authorityRevocationList;binary:: " + base64(arl),
                      "certificateRevocationList;binary:: " + base64(crl),
                      "deltaRevocationList;binary:: " + base64(dcrl),
                      "signCertificate:: " + base64(sign),
                      "",
                      "dn: cn=User,o=Test",
                      "objectClass: organizationalRole",
                      "objectClass: pkiUser",
                      "cn: User",
                      "userCertificate;binary:: " + base64(user),
                      "",
                      "dn: cn=NullList,o=Test",
                      "objectClass: organizationalRole",
                      "objectClass: ostrelTrustHolder",
                      "cn: NullList",
                      "certificateTrustList: NULL",
                      "",
                      "dn:: " + base64(std::string("cn=홍길동,o=Test")),
                      "objectClass: organizationalRole",
                      "objectClass: pkiUser",
                      "cn:: " + base64(std::string("홍길동")),
                      "userCertificate;binary:: " + base64(korean),
                      ""});
    }

    // The two attributes core.schema lacks, with OIDs under a UUID arc of our own.
    static constexpr const char *kSchema =
        "attributetype ( 2.25.250730541219452871432036419312417813373.1 NAME 'certificateTrustList'\n"
        "  DESC 'a signed list of trusted certificates' EQUALITY octetStringMatch\n"
        "  SYNTAX 1.3.6.1.4.1.1466.115.121.1.40 )\n"
        "attributetype ( 2.25.250730541219452871432036419312417813373.2 NAME 'signCertificate'\n"
        "  DESC 'a certificate for signing' EQUALITY octetStringMatch\n"
        "  SYNTAX 1.3.6.1.4.1.1466.115.121.1.40 )\n"
        "objectclass ( 2.25.250730541219452871432036419312417813373.3 NAME 'ostrelTrustHolder'\n"
        "  SUP top AUXILIARY MAY ( certificateTrustList $ signCertificate ) )\n";

    bool launch() {
        port_ = free_loopback_port();
        if (port_ <= 0) return fail("no free loopback port");
        write_file(dir_ / "ostrel-test.schema", kSchema);
        std::filesystem::create_directory(dir_ / "db");
        write_file(dir_ / "slapd.conf",
                   lines({"include /etc/ldap/schema/core.schema", "include " + (dir_ / "ostrel-test.schema"),
                          "pidfile " + (dir_ / "slapd.pid"), "argsfile " + (dir_ / "slapd.args"),
                          "modulepath /usr/lib/ldap", "moduleload back_mdb", "database mdb", "suffix \"o=Test\"",
                          "rootdn \"cn=admin,o=Test\"", "rootpw secret", "directory " + (dir_ / "db"), "dbnosync",
                          "sizelimit 500", "limits dn.exact=\"cn=admin,o=Test\" size=unlimited"}));
        const std::string slapd = access("/usr/sbin/slapd", X_OK) == 0 ? "/usr/sbin/slapd" : "slapd";
        const std::string guard =
            "\"$1\" -f \"$2\" -h \"$3\" -d 0 & s=$!; trap 'kill $s; wait $s; exit 0' TERM; "
            "while kill -0 \"$4\" 2>/dev/null && kill -0 $s 2>/dev/null; do sleep 0.5; done; kill $s 2>/dev/null; "
            "wait $s";
        if (!slapd_.start({"/bin/sh", "-c", guard, "slapd-guard", slapd, dir_ / "slapd.conf",
                           "ldap://127.0.0.1:" + std::to_string(port_) + "/", std::to_string(getpid())},
                          dir_ / "slapd.log", dir_.path()))
            return fail("fork failed");
        const std::string probe = "ldapsearch -x -H ldap://127.0.0.1:" + std::to_string(port_) +
                                  " -s base -b '' '(objectclass=*)' namingContexts >/dev/null 2>&1";
        if (!slapd_.wait_ready([&] { return run(probe) == 0; }, std::chrono::seconds(15)))
            return fail("slapd did not answer:\n" + slapd_.log_text());
        return true;
    }

    bool load(const std::string &ldif) {
        return sh("ldapadd -x -H ldap://127.0.0.1:" + std::to_string(port_) + " -D " + kRootDN + " -w " + kRootPW +
                  " -f " + ldif + " >/dev/null");
    }

    TempDir dir_;
    PeerProcess slapd_;
    int port_ = -1;
    std::string why_;
};

}  // namespace ostrel::test
