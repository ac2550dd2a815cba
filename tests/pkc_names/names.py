#!/usr/bin/env python3
"""DER Names built by the cryptography package, for the name interop test.

Each input line is one name: RDNs (first to last) separated by ';', the members of an RDN by
',', each member "dotted-oid:string-type:value" with the value in hex of its UTF-8 text. Each
output line is the hex of the DER Name. Exit status 3 when the package is missing."""
import sys

try:
    from cryptography import x509
    from cryptography.x509.name import _ASN1Type
    from cryptography.x509.oid import ObjectIdentifier
except ImportError:
    sys.exit(3)

TYPES = {
    "UTF8String": _ASN1Type.UTF8String,
    "PrintableString": _ASN1Type.PrintableString,
    "IA5String": _ASN1Type.IA5String,
    "T61String": _ASN1Type.T61String,
    "VisibleString": _ASN1Type.VisibleString,
    "BMPString": _ASN1Type.BMPString,
    "UniversalString": _ASN1Type.UniversalString,
}

for line in sys.stdin:
    line = line.strip()
    rdns = []
    for rdn in filter(None, line.split(";")):
        members = []
        for member in rdn.split(","):
            oid, kind, value = member.split(":")
            members.append(x509.NameAttribute(ObjectIdentifier(oid), bytes.fromhex(value).decode("utf-8"),
                                              _type=TYPES[kind]))
        rdns.append(x509.RelativeDistinguishedName(members))
    print(x509.Name(rdns).public_bytes().hex())
