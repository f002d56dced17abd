#!/usr/bin/env bash
# Prints the pin of a signer: the SHA-256 of its certificate's
# SubjectPublicKeyInfo (DER), 64 lower-case hex digits, the form that
# UPDATER_TRUSTED_SIGNERS takes.
#   signer-pin.sh setup.exe     the code-signing certificate of a signed program
#   signer-pin.sh cert.pem      a certificate (PEM or DER)
set -euo pipefail
file=${1:?usage: signer-pin.sh SIGNED.exe | CERT.pem}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

pin() { openssl x509 -in "$1" -pubkey -noout | openssl pkey -pubin -outform der | sha256sum | cut -c1-64; }

if [ "$(head -c 2 "$file")" = "MZ" ]; then
  if ! osslsigncode extract-signature -in "$file" -out "$work/signature.der" >/dev/null 2>&1; then
    echo "signer-pin: $file carries no Authenticode signature" >&2
    exit 1
  fi
  openssl pkcs7 -inform DER -in "$work/signature.der" -print_certs -out "$work/all.pem"
  # The signer is the certificate for code signing that is no authority.
  awk -v dir="$work" '/BEGIN CERT/ {n++} n {print > (dir "/cert" n ".pem")}' "$work/all.pem"
  found=0
  for cert in "$work"/cert[0-9]*.pem; do
    text=$(openssl x509 -in "$cert" -noout -text)
    if grep -q "Code Signing" <<<"$text" && ! grep -q "CA:TRUE" <<<"$text"; then
      echo "$(pin "$cert")  $(openssl x509 -in "$cert" -noout -subject)"
      found=1
    fi
  done
  [ "$found" = 1 ] || { echo "signer-pin: no code-signing certificate in the signature" >&2; exit 1; }
else
  if ! openssl x509 -in "$file" -noout 2>/dev/null; then
    openssl x509 -inform DER -in "$file" -out "$work/cert.pem"
    file="$work/cert.pem"
  fi
  echo "$(pin "$file")  $(openssl x509 -in "$file" -noout -subject)"
fi
