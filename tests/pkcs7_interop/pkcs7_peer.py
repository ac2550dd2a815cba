#!/usr/bin/env python3
"""The python `cryptography` side of the PKCS#7 exchanges.

  sign CERT KEY DATA OUT [detached]   signed data (DER, SHA-256, binary content)
  envelope CERT DATA OUT [aes256]     enveloped data (DER); AES-128-CBC unless aes256
  decrypt CERT KEY IN OUT             the content of enveloped data (DER)

Exit status 77: this version of `cryptography` lacks the call (older releases have only the
signature builder); the caller skips the case.
"""
import sys

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.serialization import pkcs7

SKIP = 77


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def cert(path):
    return x509.load_pem_x509_certificate(read(path))


def key(path):
    return serialization.load_pem_private_key(read(path), password=None)


def sign(cert_path, key_path, data_path, out_path, *mode):
    options = [pkcs7.PKCS7Options.Binary]
    if "detached" in mode:
        options.append(pkcs7.PKCS7Options.DetachedSignature)
    builder = (
        pkcs7.PKCS7SignatureBuilder()
        .set_data(read(data_path))
        .add_signer(cert(cert_path), key(key_path), hashes.SHA256())
    )
    write(out_path, builder.sign(serialization.Encoding.DER, options))


def envelope(cert_path, data_path, out_path, *mode):
    builder_class = getattr(pkcs7, "PKCS7EnvelopeBuilder", None)
    if builder_class is None:
        print("cryptography %s has no PKCS7EnvelopeBuilder" % _version(), file=sys.stderr)
        return SKIP
    builder = builder_class().set_data(read(data_path)).add_recipient(cert(cert_path))
    if "aes256" in mode:
        if not hasattr(builder, "set_content_encryption_algorithm"):
            print("cryptography %s cannot choose the content cipher" % _version(), file=sys.stderr)
            return SKIP
        from cryptography.hazmat.primitives.ciphers import algorithms

        builder = builder.set_content_encryption_algorithm(algorithms.AES256)
    write(out_path, builder.encrypt(serialization.Encoding.DER, [pkcs7.PKCS7Options.Binary]))
    return 0


def decrypt(cert_path, key_path, in_path, out_path):
    decrypt_der = getattr(pkcs7, "pkcs7_decrypt_der", None)
    if decrypt_der is None:
        print("cryptography %s has no pkcs7_decrypt_der" % _version(), file=sys.stderr)
        return SKIP
    write(out_path, decrypt_der(read(in_path), cert(cert_path), key(key_path), []))
    return 0


def _version():
    import cryptography

    return cryptography.__version__


def main(argv):
    commands = {"sign": sign, "envelope": envelope, "decrypt": decrypt}
    if len(argv) < 2 or argv[1] not in commands:
        print(__doc__, file=sys.stderr)
        return 2
    return commands[argv[1]](*argv[2:]) or 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
