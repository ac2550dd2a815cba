#!/usr/bin/env bash
# Drives examiner through its dialogue on a PKI made here by the openssl CLI (root, CA, two users,
# the CA's CRL revoking the second user, the root's ARL) with stores filled by porter as an
# operator would, first with no directory reachable, then against a slapd started here on a
# loopback port that holds the CA certificate, the CRL and the ARL. Answers on standard input,
# the exact screen text (the processor time masked, its form checked apart) and exit status,
# examiner.txt, standard error and the store the validation wrote. The information block
# expected is porter's for the same certificate (pinned by porter's own test) under examiner's
# title.
#   dialogue.sh <examiner> <porter>
set -uo pipefail
examiner="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
porter="$(cd "$(dirname "$2")" && pwd)/$(basename "$2")"
work="$(mktemp -d)"
# shellcheck source=../dialogue_lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/../dialogue_lib.sh"
run_stderr="$work/stderr"
slapd_pid=""
stop_slapd() {
  if [ -n "$slapd_pid" ]; then
    kill "$slapd_pid" 2>/dev/null
    wait "$slapd_pid" 2>/dev/null
    slapd_pid=""
  fi
}
trap 'stop_slapd; rm -rf "$work"' EXIT
export TZ=UTC
umask 022

# The screen with the processor time masked: the tool run() drives.
tool="$work/examiner-screen"
cat >"$tool" <<EOF
#!/usr/bin/env bash
set -o pipefail
"$examiner" | sed -E 's/^certificate verification time : [0-9]+\.[0-9]{4} sec\$/certificate verification time : <t> sec/'
EOF
chmod +x "$tool"

port="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
directory="127.0.0.1:$port"
suffix='o=Ostrel Test,c=KR'
root_dn="cn=Test Root,$suffix"
ca_dn="cn=Test CA,$suffix"

# ---- The PKI ---------------------------------------------------------------------------------
pki="$work/pki"
mkdir "$pki"
cat >"$pki/ext.cnf" <<EOF
[root]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[ca]
basicConstraints = critical, CA:TRUE, pathlen:0
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
crlDistributionPoints = @root_entry
[user]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
crlDistributionPoints = @ca_entry
authorityInfoAccess = OCSP;URI:http://127.0.0.1:$port/ocsp
[root_entry]
URI.0 = ldap://$directory/$root_dn
[ca_entry]
URI.0 = ldap://$directory/$ca_dn
EOF
cat >"$pki/ca.cnf" <<'EOF'
[root_ca]
database = root-index.txt
crlnumber = root-crlnumber
default_md = sha256
default_crl_days = 30
crl_extensions = crl_ext
[ca_ca]
database = ca-index.txt
crlnumber = ca-crlnumber
default_md = sha256
default_crl_days = 30
crl_extensions = crl_ext
[crl_ext]
authorityKeyIdentifier = keyid:always
EOF
# issue <name> <subject> <serial> <extensions> <issuer name or "self">
issue() {
  local name="$1" subj="$2" serial="$3" ext="$4" by="$5"
  openssl genrsa -out "$pki/$name.key" 2048 2>/dev/null
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
issue root "/C=KR/O=Ostrel Test/CN=Test Root" 0x0a root self
issue ca "/C=KR/O=Ostrel Test/CN=Test CA" 0x0b ca root
issue user1 "/C=KR/O=Ostrel Test/OU=People/CN=Test User One" 0x1001 user ca
issue user2 "/C=KR/O=Ostrel Test/OU=People/CN=Test User Two" 0x1002 user ca
(
  cd "$pki" || exit 1
  touch root-index.txt ca-index.txt && echo 01 >root-crlnumber && echo 01 >ca-crlnumber
  openssl ca -config ca.cnf -name ca_ca -keyfile ca.key -cert ca.pem -revoke user2.pem -crl_reason keyCompromise &&
    openssl ca -batch -config ca.cnf -name ca_ca -keyfile ca.key -cert ca.pem -gencrl -out ca-crl.pem &&
    openssl ca -batch -config ca.cnf -name root_ca -keyfile root.key -cert root.pem -gencrl -out root-arl.pem &&
    openssl crl -in ca-crl.pem -outform DER -out ca-crl.der && openssl crl -in root-arl.pem -outform DER -out root-arl.der
) >"$work/pki.log" 2>&1 || { cat "$work/pki.log"; exit 1; }
head -c 700 /dev/urandom >"$pki/junk.der"
printf -- '-----BEGIN CERTIFICATE-----\nnot*base64\n-----END CERTIFICATE-----\n' >"$pki/bad.pem"
hash_of() { printf %s "$1" | sha1sum | cut -c1-40; }

# fill <store> <type> <certificate>: porter installs it, answered as an operator would.
fill() { printf '%s\n' "$1" "$2" "$3" y | "$porter" >/dev/null 2>&1; }
store_a="$work/store-a"  # root and CA
fill "$store_a" 1 "$pki/root.pem"
fill "$store_a" 2 "$pki/ca.pem"
root_only() { fill "$1" 1 "$pki/root.pem"; }

# block <certificate>: the information block porter shows for it, under examiner's title.
porter_ask='cert store root directory : cert type [1=root, 2=ca, 3=server, 4=user, 5=other] : importing certificate file : '
porter_tail='Will you install this certificate ? [y/n] Certificate install is cancelled.'
block() {
  local screen
  screen="$(printf '%s\n' "$work/unused" 5 "$1" n | "$porter")"
  screen="${screen#"$porter_ask"}"
  screen="${screen%"$porter_tail"}"
  printf '%s' "${screen/#---------- Certifiate Information/---------- Certificate Information}"
}
nl=$'\n'
end_line='---------- End Information ----------'
root_block="$(block "$pki/root.pem")$nl"
# users carry an authority information access extension: examiner adds it before the end line
aia="[AIA]${nl}OCSP:URL=http://127.0.0.1:$port/ocsp$nl"
user1_block="$(block "$pki/user1.pem")"
user1_block="${user1_block%"$end_line"}$aia$end_line$nl"
user2_block="$(block "$pki/user2.der")"
user2_block="${user2_block%"$end_line"}$aia$end_line$nl"

q_file='certificate file : '
q_store='certificate storage directory : '
q_crl='certificate verify option [CERT_VERIFY_CRL] : [0] off - default , [1] on : '
q_rfc='certificate verify option [CERT_VERIFY_RFC3280] : [0] off - default , [1] on : '
q_ldap='ldap info [] : '
q_policy='acceptable policy set [any-policy] : '
q_again='Do you want to view another certificate ? [y/n] : '
asked="$q_file$q_store$q_crl$q_rfc"
validating=$'now, validate certificate ...\ncertificate verification time : <t> sec\n'
success="${validating}certificate validation success.$nl"
root_line="${validating}This certificate is ROOT cert.$nl"
failed() { printf '%scertificate validation error. error code %s. [%s]\n' "$validating" "$1" "$2"; }
not_found="$(failed 43036 'cert is not found')$nl"
revoked="$(failed 43035 'cert is revoked')$nl"
no_store() { printf 'certificate storage directory %s does not exist.\n' "$1"; }

cwd="$work/cwd"
mkdir "$cwd"
cd "$cwd" || exit 1

# ---- No directory reachable ------------------------------------------------------------------
# CRL checks off (1): no directory question; RFC 3280 processing on (0): the policy question.
run "store with root and CA" "$asked$q_policy$user1_block$success$q_again" \
  "$pki/user1.pem" "$store_a" 1 0 "" n
check "examiner.txt holds the block" test "$(cat examiner.txt)$nl" = "$user1_block"
check "stderr empty after a success" test ! -s "$work/stderr"
run "the root itself" "$asked$q_policy$root_block$root_line$q_again" "$pki/root.der" "$store_a" 1 0 "" n
run "answers 1, 1: no directory or policy question" "$asked$user1_block$success$q_again" \
  "$pki/user1.pem" "$store_a" 1 1 n

# A CA taken from the first round's store does not validate in a later round whose store lacks
# it: the validation cache starts empty every round. examiner.txt holds the last block only.
store_b="$work/store-b"
root_only "$store_b"
run "later round, store with the root only" \
  "$asked$q_policy$user1_block$success$q_again$asked$q_policy$root_block$root_line$q_again$asked$q_policy$user1_block$not_found$q_again" \
  "$pki/user1.pem" "$store_a" 1 0 "" y "$pki/root.pem" "$store_a" 1 0 "" Y "$pki/user1.der" "$store_b" 1 0 "" n
check "examiner.txt holds only the last block" test "$(cat examiner.txt)$nl" = "$user1_block"
check "the failure's trace on stderr" grep -q ':QRT_PVD_VerifyCertPath:43036:cert is not found:' "$work/stderr"
check "stderr holds trace records only" test -z "$(grep -v '^[0-9]*:[0-9-]*:[A-Za-z_]*:-*[0-9]*:' "$work/stderr")"
check "nothing written into the store" test ! -e "$store_b/ca"

missing="$work/no-such-store"
run "store directory that does not exist" "$asked$q_policy$user1_block$(no_store "$missing")$nl$not_found$q_again" \
  "$pki/user1.pem" "$missing" 1 0 "" n
check "the missing store is not created" test ! -e "$missing"
run "empty store answer" "$asked$q_policy$user1_block$(no_store "")$nl$not_found$q_again" "$pki/user1.pem" "" 1 0 "" n

# ---- The directory ---------------------------------------------------------------------------
slapd_dir="$work/slapd"
mkdir -p "$slapd_dir/db"
cat >"$slapd_dir/slapd.conf" <<EOF
include /etc/ldap/schema/core.schema
pidfile $slapd_dir/slapd.pid
argsfile $slapd_dir/slapd.args
modulepath /usr/lib/ldap
moduleload back_mdb
database mdb
suffix "$suffix"
rootdn "cn=admin,$suffix"
rootpw secret
directory $slapd_dir/db
dbnosync
EOF
b64() { base64 -w0 "$1"; }
cat >"$slapd_dir/data.ldif" <<EOF
dn: $suffix
objectClass: organization
o: Ostrel Test

dn: $root_dn
objectClass: organizationalRole
objectClass: certificationAuthority
cn: Test Root
cACertificate;binary:: $(b64 "$pki/root.der")
authorityRevocationList;binary:: $(b64 "$pki/root-arl.der")
certificateRevocationList;binary:: $(b64 "$pki/root-arl.der")

dn: $ca_dn
objectClass: organizationalRole
objectClass: certificationAuthority
cn: Test CA
cACertificate;binary:: $(b64 "$pki/ca.der")
authorityRevocationList;binary:: $(b64 "$pki/ca-crl.der")
certificateRevocationList;binary:: $(b64 "$pki/ca-crl.der")
EOF
slapd_bin=slapd
[ -x /usr/sbin/slapd ] && slapd_bin=/usr/sbin/slapd
"$slapd_bin" -f "$slapd_dir/slapd.conf" -h "ldap://$directory/" -d 0 >"$slapd_dir/slapd.log" 2>&1 &
slapd_pid=$!
for _ in $(seq 1 150); do
  ldapsearch -x -H "ldap://$directory" -s base -b '' '(objectclass=*)' namingContexts >/dev/null 2>&1 && break
  sleep 0.1
done
if ! ldapadd -x -H "ldap://$directory" -D "cn=admin,$suffix" -w secret -f "$slapd_dir/data.ldif" >"$slapd_dir/ldapadd.log" 2>&1; then
  cat "$slapd_dir/slapd.log" "$slapd_dir/ldapadd.log"
  exit 1
fi

# Store with the root only, CRL checks on, the directory named: the CA comes from the directory
# and is stored, the CA's CRL and the root's ARL come through the distribution points.
store_c="$work/store-c"
root_only "$store_c"
run "CA, CRL and ARL from the directory" "$asked$q_ldap$q_policy$user1_block$success$q_again" \
  "$pki/user1.pem" "$store_c" 0 0 "$directory" "" n
check "the fetched CA lies in the store" cmp "$store_c/ca/$(hash_of "$ca_dn")/cert_0b.der" "$pki/ca.der"
ca_crl_dir="crl/$(hash_of "ldap://$directory/$ca_dn")"
root_arl_dir="crl/$(hash_of "ldap://$directory/$root_dn")"
check "the CRL stored under its distribution point" cmp "$store_c/$ca_crl_dir/cert.crl" "$pki/ca-crl.der"
check "the ARL stored under its distribution point" cmp "$store_c/$root_arl_dir/cert.crl" "$pki/root-arl.der"
check "nothing else was stored" test "$(cd "$store_c" && find . -type f | sort | tr '\n' ' ')" = \
  "$(printf './%s\n' "ca/$(hash_of "$ca_dn")/cert_0b.der" "$ca_crl_dir/cert.crl" "$root_arl_dir/cert.crl" \
    "root/$(hash_of "$root_dn")/cert_0a.der" | sort | tr '\n' ' ')"
store_d="$work/store-d"
root_only "$store_d"
run "the revoked user" "$asked$q_ldap$q_policy$user2_block$revoked$q_again" \
  "$pki/user2.der" "$store_d" 0 0 "$directory" "" n
run "the revoked user, CRL checks off" "$asked$q_policy$user2_block$success$q_again" \
  "$pki/user2.der" "$store_d" 1 0 "" n
store_e="$work/store-e"
root_only "$store_e"
run "two directory entries, the first unreachable" "$asked$q_ldap$q_policy$user1_block$success$q_again" \
  "$pki/user1.pem" "$store_e" 0 0 "127.0.0.1:1;ldap://$directory" "" n
long_ldap="$(printf 'l%.0s' $(seq 1 10000))"
run "a directory address of 10 000 characters" "$asked$q_ldap$user1_block$success$q_again" \
  "$pki/user1.pem" "$store_a" 0 1 "$long_ldap" n
stop_slapd

# ---- Files and input -------------------------------------------------------------------------
run "missing file" "$asked${q_policy}cannot read cert $pki/missing.pem.$nl$q_again" "$pki/missing.pem" "$store_a" 1 0 "" n
run "a directory as file" "$asked${q_policy}cannot read cert $pki.$nl$q_again" "$pki" "$store_a" 1 0 "" n
run "junk file" "$asked${q_policy}cannot decode cert $pki/junk.der.$nl$q_again" "$pki/junk.der" "$store_a" 1 0 "" n
run "bad PEM body" "$asked${q_policy}cannot decode cert $pki/bad.pem.$nl$q_again" "$pki/bad.pem" "$store_a" 1 0 "" n
long_name="$pki/$(printf 'f%.0s' $(seq 1 400))"
run "a file name beyond 255 characters is not used cut" \
  "$asked${q_policy}cannot read cert ${long_name:0:255}.$nl$q_again" "$long_name" "$store_a" 1 0 "" n
run "a store name beyond 255 characters is not used cut" \
  "$asked$q_policy$user1_block$(no_store "${long_name:0:255}")$nl$not_found$q_again" "$pki/user1.pem" "$long_name" 1 0 "" n
check "a failed round leaves examiner.txt as it was" test "$(cat examiner.txt)$nl" = "$user1_block"

# End of input at each prompt ends the program there.
prompts=("$q_file" "$q_store" "$q_crl" "$q_rfc" "$q_ldap" "$q_policy")
answers=("$pki/user1.pem" "$store_a" 0 0 "")
want=""
for i in 0 1 2 3 4 5; do
  want="$want${prompts[$i]}"
  got="$(head -n "$i" <(printf '%s\n' "${answers[@]}") | "$tool" 2>/dev/null; echo "[status $?]")"
  check "end of input at prompt $((i + 1))" test "$got" = "$want[status 0]"
done
got="$(printf '%s\n' "$pki/user1.pem" "$store_a" 1 1 | "$tool" 2>/dev/null; echo "[status $?]")"
check "end of input at the last question" test "$got" = "$asked$user1_block$success$q_again[status 0]"

# examiner.txt that cannot be created: said once, the screen goes on.
mkdir "$work/blocked" && mkdir "$work/blocked/examiner.txt"
got="$(cd "$work/blocked" && printf '%s\n' "$pki/root.pem" "$store_a" 1 1 n | "$tool" 2>/dev/null; echo "[status $?]")"
check "examiner.txt cannot be created" test "$got" = "${asked}cannot create examiner.txt.$nl$root_block$root_line$q_again[status 0]"

# The time line: processor seconds with four decimals.
line="$(printf '%s\n' "$pki/user1.pem" "$store_a" 1 1 n | "$examiner" 2>/dev/null | grep '^certificate verification time')"
check "time line form" grep -Eq '^certificate verification time : [0-9]\.[0-9]{4} sec$' <<<"$line"

# At most 1000 rounds.
rounds="$(for _ in $(seq 1 1001); do printf '%s\n' "$pki/missing.pem" "" 1 1 y; done | "$examiner" |
  grep -o 'cannot read cert' | wc -l)"
check "at most 1000 rounds" test "$rounds" -eq 1000

finish
