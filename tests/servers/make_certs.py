#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Makes the certificates the TLS tests use, into FOLDER:

  ca.crt                    a test CA (the only one the tests trust)
  server.crt, server.key    issued by it for DNS:localhost, IP:127.0.0.1, IP:::1
  server.pem                key and certificate in one file (pure-ftpd)
  selfsigned.crt/.key       the same names, signed by nobody the tests trust
  expired.crt/.key          issued by the CA, expired a year ago
  wrongname.crt/.key        issued by the CA for DNS:elsewhere.example only
  cnonly.crt/.key           issued by the CA with CN=localhost and no subjectAltName

  make_certs.py FOLDER
"""
import datetime
import ipaddress
import os
import sys

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec, rsa
from cryptography.x509.oid import NameOID

NOW = datetime.datetime.now(datetime.timezone.utc)
DAY = datetime.timedelta(days=1)
SERVER_NAMES = [x509.DNSName("localhost"), x509.IPAddress(ipaddress.ip_address("127.0.0.1")),
                x509.IPAddress(ipaddress.ip_address("::1"))]


def rsa_key():
    # RSA: vsftpd's default TLS 1.2 cipher needs an RSA certificate.
    return rsa.generate_private_key(public_exponent=65537, key_size=2048)


def certificate(subject, key, issuer, issuer_key, names, not_before, not_after, ca=False):
    builder = (x509.CertificateBuilder()
               .subject_name(x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, subject)]))
               .issuer_name(x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, issuer)]))
               .public_key(key.public_key())
               .serial_number(x509.random_serial_number())
               .not_valid_before(not_before)
               .not_valid_after(not_after)
               .add_extension(x509.BasicConstraints(ca=ca, path_length=None), critical=True))
    if names:
        builder = builder.add_extension(x509.SubjectAlternativeName(names), critical=False)
    if ca:
        builder = builder.add_extension(
            x509.KeyUsage(digital_signature=True, key_cert_sign=True, crl_sign=True,
                          content_commitment=False, key_encipherment=False,
                          data_encipherment=False, key_agreement=False, encipher_only=False,
                          decipher_only=False), critical=True)
    return builder.sign(issuer_key, hashes.SHA256())


def write(folder, name, cert, key):
    pem_cert = cert.public_bytes(serialization.Encoding.PEM)
    pem_key = key.private_bytes(serialization.Encoding.PEM,
                                serialization.PrivateFormat.TraditionalOpenSSL,
                                serialization.NoEncryption())
    with open(os.path.join(folder, name + ".crt"), "wb") as f:
        f.write(pem_cert)
    with open(os.path.join(folder, name + ".key"), "wb") as f:
        f.write(pem_key)
    return pem_cert, pem_key


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    ca_key = ec.generate_private_key(ec.SECP256R1())
    ca = certificate("Quorvane test CA", ca_key, "Quorvane test CA", ca_key, None,
                     NOW - DAY, NOW + 3650 * DAY, ca=True)
    with open(os.path.join(folder, "ca.crt"), "wb") as f:
        f.write(ca.public_bytes(serialization.Encoding.PEM))

    key = rsa_key()
    pem_cert, pem_key = write(folder, "server", certificate(
        "localhost", key, "Quorvane test CA", ca_key, SERVER_NAMES, NOW - DAY, NOW + 3650 * DAY),
        key)
    with open(os.path.join(folder, "server.pem"), "wb") as f:
        f.write(pem_key + pem_cert)

    key = rsa_key()
    write(folder, "selfsigned", certificate(
        "localhost", key, "localhost", key, SERVER_NAMES, NOW - DAY, NOW + 3650 * DAY), key)
    key = rsa_key()
    write(folder, "expired", certificate(
        "localhost", key, "Quorvane test CA", ca_key, SERVER_NAMES, NOW - 730 * DAY,
        NOW - 365 * DAY), key)
    key = rsa_key()
    write(folder, "wrongname", certificate(
        "elsewhere.example", key, "Quorvane test CA", ca_key,
        [x509.DNSName("elsewhere.example")], NOW - DAY, NOW + 3650 * DAY), key)
    key = rsa_key()
    write(folder, "cnonly", certificate(
        "localhost", key, "Quorvane test CA", ca_key, None, NOW - DAY, NOW + 3650 * DAY), key)
    for name in os.listdir(folder):
        os.chmod(os.path.join(folder, name), 0o644)  # servers read them as other users


if __name__ == "__main__":
    main()
