#!/usr/bin/env bash
# Drives porter through its dialogue on a small PKI made here by the openssl CLI: answers on
# standard input, the exact screen text and exit status, then the store it left, read back by
# openssl. The certificate information block expected on the screen is built from the
# certificate by python's cryptography package, independently of the tool.
#   dialogue.sh <porter>
set -uo pipefail
tool="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
work="$(mktemp -d)"
# shellcheck source=../dialogue_lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/../dialogue_lib.sh"
run_stderr="$work/stderr"
trap 'rm -rf "$work"' EXIT
export TZ=UTC  # validity times before 2038 are shown in local time
umask 022

# ---- The PKI ---------------------------------------------------------------------------------
pki="$work/pki"
mkdir "$pki"
cat >"$pki/ext.cnf" <<'EOF'
[root]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[ca]
basicConstraints = critical, CA:TRUE, pathlen:0
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[user]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
subjectAltName = email:user@example.com, DNS:user.example.com
crlDistributionPoints = URI:http://crl.example.com/ca.crl
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
EOF
make_key() { openssl genrsa -out "$pki/$1.key" 2048 2>/dev/null; }
# issue <name> <subject> <serial> <extensions> <issuer name or "self">
issue() {
  local name="$1" subj="$2" serial="$3" ext="$4" by="$5"
  openssl req -new -key "$pki/$name.key" -subj "$subj" -out "$pki/$name.csr" 2>/dev/null
  if [ "$by" = self ]; then
    openssl x509 -req -in "$pki/$name.csr" -signkey "$pki/$name.key" -set_serial "$serial" -days 3650 -sha256 \
      -extfile "$pki/ext.cnf" -extensions "$ext" -out "$pki/$name.pem" 2>/dev/null
  else
    openssl x509 -req -in "$pki/$name.csr" -CA "$pki/$by.pem" -CAkey "$pki/$by.key" -set_serial "$serial" \
      -days 3650 -sha256 -extfile "$pki/ext.cnf" -extensions "$ext" -out "$pki/$name.pem" 2>/dev/null
  fi
  openssl x509 -in "$pki/$name.pem" -outform DER -out "$pki/$name.der"
}
make_key root; make_key root2; make_key ca; make_key user
issue root "/C=KR/O=Ostrel Test/CN=Test Root" 0x0a root self
issue root2 "/C=KR/O=Ostrel Test/CN=Test Root" 0x0c root self
issue ca "/C=KR/O=Ostrel Test/CN=Test CA" 0x0b ca root
issue user "/C=KR/O=Ostrel Test/OU=People/CN=Test User" 0x1001 user ca
openssl pkcs8 -topk8 -in "$pki/user.key" -v2 des3 -v2prf hmacWithSHA1 -passout pass:user-pass -out "$pki/user-key.pem"
sed '1d;$d' "$pki/user-key.pem" | base64 -d >"$pki/user-key.der"
openssl genrsa -out "$pki/big.key" 4096 2>/dev/null
openssl pkcs8 -topk8 -in "$pki/big.key" -passout pass:big -outform DER -out "$pki/big-key.der"
head -c 700 /dev/urandom >"$pki/junk.der"
printf -- '-----BEGIN CERTIFICATE-----\nnot*base64\n-----END CERTIFICATE-----\n' >"$pki/bad.pem"

root_dn='cn=Test Root,o=Ostrel Test,c=KR'
ca_dn='cn=Test CA,o=Ostrel Test,c=KR'
user_dn='cn=Test User,ou=People,o=Ostrel Test,c=KR'
hash_of() { printf %s "$1" | sha1sum | cut -c1-40; }

# info <certificate file>: the information block porter must print for it.
info() {
  python3 - "$1" <<'EOF'
import sys
from cryptography import x509
from cryptography.hazmat.primitives import serialization
from cryptography.x509.oid import ExtensionOID, NameOID

data = open(sys.argv[1], "rb").read()
c = x509.load_pem_x509_certificate(data) if data.startswith(b"-----BEGIN") else x509.load_der_x509_certificate(data)
short = {NameOID.COMMON_NAME: "cn", NameOID.ORGANIZATIONAL_UNIT_NAME: "ou", NameOID.ORGANIZATION_NAME: "o",
         NameOID.COUNTRY_NAME: "c"}
def dn(name):
    return ",".join("+".join(f"{short[a.oid]}={a.value}" for a in rdn) for rdn in reversed(name.rdns))
def ext(oid):
    try:
        return c.extensions.get_extension_for_oid(oid).value
    except x509.ExtensionNotFound:
        return None
def when(t):
    return t.strftime("%Y-%m-%d %H:%M:%S")
def gn(n):
    kind = {x509.DNSName: "DNS", x509.RFC822Name: "RN", x509.UniformResourceIdentifier: "URL"}[type(n)]
    return f"{kind}={n.value}"
n = c.serial_number
start = getattr(c, "not_valid_before_utc", None) or c.not_valid_before
end = getattr(c, "not_valid_after_utc", None) or c.not_valid_after
out = ["---------- Certifiate Information ----------",
       f"[version]\t\t\t: {c.version.value + 1}",
       f"[serial]\t\t\t: {n.to_bytes((n.bit_length() + 8) // 8, 'big').hex()}",
       "[signature algorithm id]\t: SHA256 + RSA",
       f"[issuer]\t\t\t: {dn(c.issuer)}",
       f"[subject]\t\t\t: {dn(c.subject)}",
       "[subject publickey algoritm id]\t: RSA",
       f"[validity]\t\t\t: {when(start)} - {when(end)}",
       "[signature]", c.signature.hex()]
san = ext(ExtensionOID.SUBJECT_ALTERNATIVE_NAME)
if san: out.append("[subject alt name]\t\t: " + "\n".join(gn(g) for g in san))
ku = ext(ExtensionOID.KEY_USAGE)
if ku:
    words = [("digitalSignature", ku.digital_signature), ("nonRepudiation", ku.content_commitment),
             ("keyEncipherment", ku.key_encipherment), ("dataEncipherment", ku.data_encipherment),
             ("keyAgreement", ku.key_agreement), ("keyCertSign", ku.key_cert_sign), ("cRLSign", ku.crl_sign)]
    out.append("[key usage]\t\t\t: " + ",".join(w for w, on in words if on))
bc = ext(ExtensionOID.BASIC_CONSTRAINTS)
if bc:
    text = "Subject Type=CA" if bc.ca else "Subject Type=End Entity"
    if bc.path_length is not None:
        text += f", Path Length Constraint={bc.path_length}"
    elif bc.ca:
        text += ", Path Length Constraint=None"
    out.append("[basic constraint]\t\t: " + text)
dps = ext(ExtensionOID.CRL_DISTRIBUTION_POINTS)
if dps: out.append("[crl distribution points]\t: " + "\n".join(gn(g) for p in dps for g in p.full_name))
aki = ext(ExtensionOID.AUTHORITY_KEY_IDENTIFIER)
if aki: out.append("[authority key id]\t\t: " + aki.key_identifier.hex())
ski = ext(ExtensionOID.SUBJECT_KEY_IDENTIFIER)
if ski: out.append("[subject key id]\t\t: " + ski.digest.hex())
key = c.public_key()
out += [f"[public key length]\t\t: {key.key_size // 8}", "[public key]",
        key.public_bytes(serialization.Encoding.DER, serialization.PublicFormat.PKCS1).hex(),
        "---------- End Information ----------"]
print("\n".join(out))
EOF
}



nothing_in() { [ -z "$(ls -A "$1" 2>/dev/null)" ]; }
mode_is() { [ "$(stat -c %a "$2")" = "$1" ]; }

ask='cert store root directory : cert type [1=root, 2=ca, 3=server, 4=user, 5=other] : importing certificate file : '
keyq=$'If you have just cert, enter [s] at following.\nimporting private key file : '
confirm='Will you install this certificate ? [y/n] '
pwq=$'\tInput Private Key Password :'
ok=$'importing certificate success\n'
nl=$'\n'
root_info="$(info "$pki/root.pem")$nl"
ca_info="$(info "$pki/ca.der")$nl"
user_info="$(info "$pki/user.pem")$nl"
line='-------------------------------------------'
# forms <password>: the two password blocks, made with openssl and base64.
encrypted() {
  local k=03010401050902060503050809070903
  printf %s "$1" | openssl enc -seed-cbc -provider legacy -provider default -K $k -iv $k -a -A
}
decrypted() {
  local k=03010401050902060503050809070903
  printf %s "$1" | openssl enc -d -seed-cbc -provider legacy -provider default -K $k -iv $k -a -A
}
forms() {
  printf '\n%s\n- Encrypted private key pwd : [%s]\n- (only for OstrelWeb ver 6 or later)\n%s\n' "$line" "$(encrypted "$1")" "$line"
  printf '\n%s\n- Encoded private key pwd : [%s]\n- (for previous ver. of OstrelWeb or other applications.)\n%s\n' \
    "$line" "$(printf %s "$1" | base64 -w0)" "$line"
}

store="$work/store"
root_dir="$store/root/$(hash_of "$root_dn")"
ca_dir="$store/ca/$(hash_of "$ca_dn")"
user_dir="$store/user/$(hash_of "$user_dn")"
server_dir="$store/server/$(hash_of "$user_dn")"

# Type 1 from PEM: stored under its serial, no key asked for.
run "root from PEM" "$ask$root_info$confirm$ok" "$store" 1 "$pki/root.pem" y
check "root stored as DER under its serial" cmp "$root_dir/cert_0a.der" "$pki/root.der"
check "openssl reads the stored root" openssl x509 -inform DER -in "$root_dir/cert_0a.der" -noout
check "stderr empty from a pipe" test ! -s "$work/stderr"
check "directories 0755 under umask 022" mode_is 755 "$store"
check "type directory 0755" mode_is 755 "$store/root"
check "subject directory 0755" mode_is 755 "$root_dir"
run "second root of the subject" "$ask$(info "$pki/root2.pem")$nl$confirm$ok" "$store" 1 "$pki/root2.pem" Y
check "two roots side by side" test "$(ls "$root_dir" | tr '\n' ' ')" = "cert_0a.der cert_0c.der "
check "the first root untouched" cmp "$root_dir/cert_0a.der" "$pki/root.der"

# Type 2 from DER.
run "CA from DER" "$ask$ca_info$confirm$ok" "$store" 2 "$pki/ca.der" y
check "CA stored" cmp "$ca_dir/cert_0b.der" "$pki/ca.der"

# Type 4 with a PEM key and a password: both forms, the key stored as its DER.
run "user with key" "$ask$keyq$user_info$confirm$pwq$(forms user-pass)$nl$ok" \
  "$store" 4 "$pki/user.pem" "$pki/user-key.pem" y user-pass
check "user certificate stored" cmp "$user_dir/cert.der" "$pki/user.der"
check "key stored as its DER" cmp "$user_dir/pri.key" "$pki/user-key.der"
check "openssl opens the stored key" openssl pkcs8 -inform DER -in "$user_dir/pri.key" -passin pass:user-pass -out /dev/null
check "stderr empty with a password from a pipe" test ! -s "$work/stderr"
check "encrypted form decrypts to the password" test "$(decrypted "$(encrypted user-pass)")" = user-pass

# Type 3 with "s": the certificate alone.
run "server without key" "$ask$keyq$user_info$confirm$ok" "$store" 3 "$pki/user.pem" s y
check "server certificate stored" cmp "$server_dir/cert.der" "$pki/user.der"
check "no key stored" test ! -e "$server_dir/pri.key"

# An empty password prints no form and still installs the key (DER key file).
fresh="$work/fresh"
run "empty password" "$ask$keyq$user_info$confirm$pwq$ok" "$fresh" 3 "$pki/user.der" "$pki/user-key.der" y ""
check "key installed without password" cmp "$fresh/server/$(hash_of "$user_dn")/pri.key" "$pki/user-key.der"

# The forms fit a 49-character field: 31 and 36 characters are the longest passwords.
too_enc=$'\nPrivate key password is too long for the encrypted form (at most 31 characters).\n'
too_enc_b64=$'\nPrivate key password is too long for the encoded form (at most 36 characters).\n'
p31="$(printf 'a%.0s' $(seq 1 31))"
p32="${p31}b"
p36="${p32}cdef"
p37="${p36}g"
enc_of() { forms "$1" | head -5; }
b64_of() { forms "$1" | tail -5; }
run "31 characters" "$ask$keyq$user_info$confirm$pwq$(forms "$p31")$nl$ok" "$fresh" 4 "$pki/user.pem" "$pki/user-key.der" y "$p31"
run "32 characters" "$ask$keyq$user_info$confirm$pwq$too_enc$(b64_of "$p32")$nl$ok" \
  "$fresh" 4 "$pki/user.pem" "$pki/user-key.der" y "$p32"
run "36 characters" "$ask$keyq$user_info$confirm$pwq$too_enc$(b64_of "$p36")$nl$ok" \
  "$fresh" 4 "$pki/user.pem" "$pki/user-key.der" y "$p36"
run "37 characters" "$ask$keyq$user_info$confirm$pwq$too_enc$too_enc_b64$ok" \
  "$fresh" 4 "$pki/user.pem" "$pki/user-key.der" y "$p37"
check "31 characters: the form decrypts" test "$(decrypted "$(encrypted "$p31")")" = "$p31"

# Failures create nothing.
none="$work/none"
run "answer yes cancels" "$ask$root_info${confirm}Certificate install is cancelled.$nl" "$none" 1 "$pki/root.pem" yes
check "nothing created on cancel" test ! -e "$none"
run "missing certificate" "${ask}cannot read cert $pki/missing.pem.$nl" "$none" 2 "$pki/missing.pem"
run "undecodable certificate" "${ask}cannot decode cert $pki/junk.der.$nl" "$none" 2 "$pki/junk.der"
run "bad PEM body" "${ask}cannot decode cert $pki/bad.pem.$nl" "$none" 2 "$pki/bad.pem"
run "missing key file" "$ask$keyq$user_info${confirm}cannot read private key $pki/missing.key.$nl" \
  "$none" 4 "$pki/user.pem" "$pki/missing.key" y
run "key PEM that does not convert" "$ask$keyq$user_info${confirm}cannot read private key $pki/bad.pem.$nl" \
  "$none" 4 "$pki/user.pem" "$pki/bad.pem" y
check "nothing created on failure" test ! -e "$none"
run "unknown type" "$ask$ca_info${confirm}cannot put certificate into cert storage.${nl}error code 27180. [unknown certificate type]$nl" \
  "$none" 7 "$pki/ca.der" y
check "nothing created for an unknown type" test ! -e "$none"
touch "$work/file-root"
run "root that is a file" "$ask$ca_info${confirm}cannot put certificate into cert storage.${nl}error code 27170. [a directory cannot be created]$nl" \
  "$work/file-root" 2 "$pki/ca.der" y
long="$work/$(printf 'r%.0s' $(seq 1 5000))"
run "root longer than any path" "$ask$ca_info${confirm}cannot put certificate into cert storage.${nl}error code 27170. [a directory cannot be created]$nl" \
  "$long" 2 "$pki/ca.der" y

# A re-install that cannot be written whole (file size limit) leaves the old files as they were
# and no temporary behind.
cp "$user_dir/cert.der" "$work/old-cert.der"
cp "$user_dir/pri.key" "$work/old-key.der"
got="$(cd "$work" && trap '' XFSZ && ulimit -f 1 &&
  printf '%s\n' "$store" 4 "$pki/user.pem" "$pki/big-key.der" y big | "$tool" | tail -2)"
check "re-install refused" test "$got" = "cannot put certificate and private key into cert storage.${nl}error code -1. [error]"
check "old certificate intact" cmp "$user_dir/cert.der" "$work/old-cert.der"
check "old key intact" cmp "$user_dir/pri.key" "$work/old-key.der"
check "no temporary left" test "$(ls -A "$user_dir" | tr '\n' ' ')" = "cert.der pri.key "

# On a terminal the password is typed without echo, and echo comes back after it, also when an
# interrupt ends porter at the prompt (python's pty module plays the terminal).
echo_check() {
  python3 - "$tool" "$work/tty-store" "$pki/user.pem" "$pki/user-key.der" "$1" <<'EOF'
import os, pty, signal, sys, termios, time
tool, root, cert, key, how = sys.argv[1:6]
pid, fd = pty.fork()
if pid == 0:
    os.execv(tool, [tool])
out = b""
def read_until(text):
    global out
    end = time.time() + 20
    while text not in out and time.time() < end:
        try:
            out += os.read(fd, 4096)
        except OSError:
            break
    return text in out
for answer in (root, "4", cert, key, "y"):
    os.write(fd, (answer + "\n").encode())
prompted = read_until(b"Input Private Key Password :")
time.sleep(0.3)
quiet = not termios.tcgetattr(fd)[3] & termios.ECHO
if how == "interrupt":
    os.kill(pid, signal.SIGINT)
else:
    os.write(fd, b"typed-pass\n")
    read_until(b"importing certificate success")
_, status = os.waitpid(pid, 0)
echo = bool(termios.tcgetattr(fd)[3] & termios.ECHO)
ended = os.WIFSIGNALED(status) if how == "interrupt" else os.WIFEXITED(status) and os.WEXITSTATUS(status) == 0
sys.exit(0 if prompted and quiet and echo and ended and b"typed-pass" not in out else 1)
EOF
}
check "terminal: no echo while typing, echo after" echo_check type
check "terminal: echo back after an interrupt" echo_check interrupt

finish
