#!/usr/bin/env bash
# make-test-certs.sh OUTDIR: a throw-away test CA with a server certificate
# for DNS:localhost, a second CA nobody trusts with its own localhost
# certificate, and a trusted certificate for the wrong host name.
set -euo pipefail
out=${1:?usage: make-test-certs.sh OUTDIR}
mkdir -p "$out"
cd "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

ca() {  # ca NAME SUBJECT
  openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 \
    -subj "/CN=$2" -keyout "$1.key" -out "$1.pem" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
}
leaf() {  # leaf NAME CA SAN
  openssl req -newkey rsa:2048 -nodes -sha256 -subj "/CN=${3#DNS:}" \
    -keyout "$1.key" -out "$tmp/$1.csr" 2>/dev/null
  printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\nsubjectAltName=%s\n' "$3" > "$tmp/$1.ext"
  openssl x509 -req -in "$tmp/$1.csr" -CA "$2.pem" -CAkey "$2.key" -CAcreateserial -CAserial "$tmp/$2.srl" \
    -days 825 -sha256 -extfile "$tmp/$1.ext" -out "$1.pem" 2>/dev/null
}

ca ca "Quorbelle Peer Test CA"
ca untrusted-ca "Untrusted Peer Test CA"
leaf server ca "DNS:localhost,IP:127.0.0.1"
leaf untrusted-server untrusted-ca "DNS:localhost"
leaf wrong-host ca "DNS:wrong.invalid"
openssl x509 -in ca.pem -outform DER -out ca.der
chmod 600 ./*.key
