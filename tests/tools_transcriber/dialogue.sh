#!/usr/bin/env bash
# Drives transcriber through its dialogue: answers on standard input, then checks the exact
# screen text, the exit status and the files it left.
#   dialogue.sh <transcriber> <a PEM certificate>
set -uo pipefail
tool="$1"
cert="$2"
work="$(mktemp -d)"
# shellcheck source=../dialogue_lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/../dialogue_lib.sh"
trap 'rm -rf "$work"' EXIT

menu='convert [1] PEM ==> DER , [2] DER ==> PEM : PEM File : DER File : '



ok=$'converting success...\n'

run "PEM to DER" "$menu$ok" 1 "$cert" "$work/cert.der"
check "openssl reads the DER" openssl x509 -inform DER -in "$work/cert.der" -noout
openssl x509 -in "$cert" -outform DER -out "$work/openssl.der"
check "DER as openssl writes it" cmp "$work/cert.der" "$work/openssl.der"

run "DER to PEM" "${menu}Header : $ok" 2 "$work/back.pem" "$work/cert.der" CERTIFICATE
check "openssl reads the PEM" openssl x509 -in "$work/back.pem" -noout
check "PEM as openssl writes it" cmp "$work/back.pem" "$cert"

run "label read as one word" "${menu}Header : $ok" 2 "$work/req.pem" "$work/cert.der" "CERTIFICATE REQUEST"
check "first word is the label" grep -qx -- "-----BEGIN CERTIFICATE-----" "$work/req.pem"

run "missing PEM file" "${menu}cannot read $work/none.pem."$'\n' 1 "$work/none.pem" "$work/x.der"
check "nothing written" test ! -e "$work/x.der"
run "missing DER file" "${menu}cannot read $work/none.der."$'\n' 2 "$work/x.pem" "$work/none.der"
check "nothing written" test ! -e "$work/x.pem"
run "not PEM" "${menu}$work/cert.der is not pem file type"$'\n' 1 "$work/cert.der" "$work/x.der"
printf -- '-----BEGIN CERTIFICATE-----\nnot*base64\n-----END CERTIFICATE-----\n' >"$work/bad.pem"
run "bad PEM body" "${menu}cannot convert $work/bad.pem."$'\n' 1 "$work/bad.pem" "$work/x.der"
check "nothing written" test ! -e "$work/x.der"
run "unwritable DER" "${menu}cannot write $work/no/dir.der."$'\n' 1 "$cert" "$work/no/dir.der"
run "unwritable PEM" "${menu}Header : cannot write $work/no/dir.pem."$'\n' 2 "$work/no/dir.pem" "$work/cert.der" X
run "invalid action" "${menu}Invalid action."$'\n' 3 "$cert" "$work/x.der"
run "not a number" "${menu}Invalid action."$'\n' one "$cert" "$work/x.der"
run "no input at all" "${menu}Invalid action."$'\n'

# Answers longer than the 255 characters a 256-byte buffer holds: nothing overruns, and a path
# that had to be cut is not used, since it would name another file.
dir="$work/$(printf 'd%.0s' $(seq 1 200))"
mkdir "$dir"
long="$dir/$(printf 'f%.0s' $(seq 1 150))"
cut="${long:0:255}"
echo keep >"$cut"
run "long DER path" "${menu}cannot write $cut."$'\n' 1 "$cert" "$long"
check "the cut name is left alone" grep -qx keep "$cut"
run "long PEM path" "${menu}cannot read $cut."$'\n' 1 "$long" "$work/x.der"
label="$(printf 'L%.0s' $(seq 1 300))"
run "long label" "${menu}Header : cannot convert $work/cert.der."$'\n' 2 "$work/l.pem" "$work/cert.der" "$label"
check "nothing written" test ! -e "$work/l.pem"

finish
