#!/usr/bin/env python3
"""Prints the certificate-record fields that python `cryptography` reads from each PEM or DER
certificate named on the command line, one "path<TAB>field<TAB>value" line per field, for the
record's interop test to compare with. Times are UTC; hex is lowercase."""
import sys
import warnings

from cryptography import x509
from cryptography.x509.oid import ExtensionOID

HASHES = {"md2": "MD2", "md5": "MD5", "sha1": "SHA1", "sha224": "SHA224", "sha256": "SHA256",
          "sha384": "SHA384", "sha512": "SHA512"}
SIG_FAMILY = {
    "1.2.840.113549.1.1.2": "RSA", "1.2.840.113549.1.1.4": "RSA", "1.2.840.113549.1.1.5": "RSA",
    "1.2.840.113549.1.1.11": "RSA", "1.2.840.113549.1.1.12": "RSA", "1.2.840.113549.1.1.13": "RSA",
    "1.2.840.113549.1.1.14": "RSA", "1.2.840.113549.1.1.10": "RSASSA-PSS",
    "1.2.840.10040.4.3": "DSA", "2.16.840.1.101.3.4.3.1": "DSA", "2.16.840.1.101.3.4.3.2": "DSA",
    "1.2.840.10045.4.1": "ECDSA", "1.2.840.10045.4.3.1": "ECDSA", "1.2.840.10045.4.3.2": "ECDSA",
    "1.2.840.10045.4.3.3": "ECDSA", "1.2.840.10045.4.3.4": "ECDSA",
}
KEY_NAMES = {"1.2.840.113549.1.1.1": "RSA", "1.2.840.10045.2.1": "ECDSA", "1.2.840.10040.4.1": "DSA",
             "1.2.840.10046.2.1": "DH", "1.2.840.113549.1.1.10": "RSASSA-PSS"}
KU_BITS = [("digital_signature", 0x8000, "digitalSignature"), ("content_commitment", 0x4000, "nonRepudiation"),
           ("key_encipherment", 0x2000, "keyEncipherment"), ("data_encipherment", 0x1000, "dataEncipherment"),
           ("key_agreement", 0x0800, "keyAgreement"), ("key_cert_sign", 0x0400, "keyCertSign"),
           ("crl_sign", 0x0200, "cRLSign"), ("encipher_only", 0x0100, "encipherOnly"),
           ("decipher_only", 0x0080, "decipherOnly")]


def tlv(buf, at):
    """(tag, content start, content end) of the DER element at `at`."""
    tag, n = buf[at], buf[at + 1]
    at += 2
    if n & 0x80:
        k = n & 0x7F
        n = int.from_bytes(buf[at:at + k], "big")
        at += k
    return tag, at, at + n


def children(buf, start, end):
    while start < end:
        tag, s, e = tlv(buf, start)
        yield tag, s, e
        start = e


def spki_parts(tbs):
    """(key algorithm OID bytes, subjectPublicKey octets, serial content octets) of a TBSCertificate."""
    _, s, e = tlv(tbs, 0)
    items = list(children(tbs, s, e))
    if items[0][0] == 0xA0:
        items = items[1:]
    serial = tbs[items[0][1]:items[0][2]]
    _, ss, se = items[5]
    (_, as_, ae), (_, bs, be) = list(children(tbs, ss, se))[:2]
    _, os_, oe = next(children(tbs, as_, ae))
    return tbs[os_:oe], tbs[bs + 1:be], serial


def dotted(der_oid):
    parts, n = [], 0
    for b in der_oid:
        n = (n << 7) | (b & 0x7F)
        if not b & 0x80:
            parts.append(n)
            n = 0
    first = min(parts[0] // 40, 2)
    return ".".join(str(p) for p in [first, parts[0] - 40 * first] + parts[1:])


def utc_time(cert, name):
    # Newer releases add the *_utc forms and deprecate the naive ones (which are UTC as well).
    aware = getattr(cert, name + "_utc", None)
    return aware if aware is not None else getattr(cert, name)


def fields(cert):
    out = {}
    out["version"] = {"v1": 1, "v3": 3}.get(cert.version.name, 2)
    key_oid, key_bits, serial = spki_parts(cert.tbs_certificate_bytes)
    out["serial"] = serial.hex()
    oid = cert.signature_algorithm_oid.dotted_string
    family = SIG_FAMILY.get(oid)
    if family:
        h = cert.signature_hash_algorithm
        out["sigalg"] = (HASHES[h.name] + " + " + family) if h else family
    else:
        out["sigalg"] = oid
    out["keyalg"] = KEY_NAMES.get(dotted(key_oid), dotted(key_oid))
    out["pubkey"] = key_bits.hex()[:1023]
    out["signature"] = cert.signature.hex()[:1023]
    out["from"] = utc_time(cert, "not_valid_before").strftime("%Y-%m-%d %H:%M:%S")
    out["to"] = utc_time(cert, "not_valid_after").strftime("%Y-%m-%d %H:%M:%S")
    exts = {e.oid: e.value for e in cert.extensions}
    ku = exts.get(ExtensionOID.KEY_USAGE)
    bits, words = 0, []
    if ku is not None:
        for attr, bit, word in KU_BITS:
            try:
                on = getattr(ku, attr)
            except ValueError:
                on = False
            if on:
                bits |= bit
                words.append(word)
    out["kubits"] = bits
    out["kuwords"] = ",".join(words)
    bc = exts.get(ExtensionOID.BASIC_CONSTRAINTS)
    if bc is None:
        out["bc"] = ""
    else:
        text = "Subject Type=CA" if bc.ca else "Subject Type=End Entity"
        if bc.path_length is not None:
            text += ", Path Length Constraint=%d" % bc.path_length
        elif bc.ca:
            text += ", Path Length Constraint=None"
        out["bc"] = text
    ski = exts.get(ExtensionOID.SUBJECT_KEY_IDENTIFIER)
    out["ski"] = ski.digest.hex()[:79] if ski is not None else ""
    aki = exts.get(ExtensionOID.AUTHORITY_KEY_IDENTIFIER)
    out["aki"] = aki.key_identifier.hex()[:79] if aki is not None and aki.key_identifier else ""
    if out["keyalg"] == "RSA":
        n = cert.public_key().public_numbers()
        out["modulus"] = n.n.to_bytes(n.n.bit_length() // 8 + 1, "big").hex()[:2048]
        out["exponent"] = n.e.to_bytes(n.e.bit_length() // 8 + 1, "big").hex()[:64]
    return out


def load(path):
    data = open(path, "rb").read()
    if data.lstrip().startswith(b"-----BEGIN"):
        return x509.load_pem_x509_certificate(data)
    return x509.load_der_x509_certificate(data)


def main():
    warnings.simplefilter("ignore")
    for path in sys.argv[1:]:
        try:
            f = fields(load(path))
        except Exception as e:  # a certificate python refuses is left out of the comparison
            print("%s\terror\t%s" % (path, e))
            continue
        for k, v in f.items():
            print("%s\t%s\t%s" % (path, k, v))


if __name__ == "__main__":
    main()
