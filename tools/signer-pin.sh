#!/usr/bin/env bash
# Prints the pin of a signer: the SHA-256 of its certificate's
# SubjectPublicKeyInfo (DER), 64 lower-case hex digits, the form that
# UPDATER_TRUSTED_SIGNERS takes, alone on standard output (one line per
# signer); the signer's subject goes to standard error.
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
  why=""
  for cert in "$work"/cert[0-9]*.pem; do
    text=$(openssl x509 -in "$cert" -noout -text)
    subject=$(openssl x509 -in "$cert" -noout -subject)
    if ! grep -q "Code Signing" <<<"$text"; then
      why="$why\n  $subject: no extendedKeyUsage codeSigning"
    elif grep -q "CA:TRUE" <<<"$text"; then
      why="$why\n  $subject: an authority (basicConstraints CA:TRUE), not a signer"
    else
      pin "$cert"
      echo "signer: $subject" >&2
      found=1
    fi
  done
  if [ "$found" = 0 ]; then
    printf "signer-pin: no code-signing certificate in the signature of %s:%b\n" "$file" "$why" >&2
    echo "The signer needs a leaf certificate with basicConstraints CA:FALSE and extendedKeyUsage codeSigning" \
         "(docs/security.md shows how to make one)." >&2
    exit 1
  fi
else
  if ! openssl x509 -in "$file" -noout 2>/dev/null; then
    openssl x509 -inform DER -in "$file" -out "$work/cert.pem"
    file="$work/cert.pem"
  fi
  # An authority's certificate signs certificates, not programs: its pin would
  # never match a signer's key.
  if openssl x509 -in "$file" -noout -text | grep -q "CA:TRUE"; then
    echo "signer-pin: $1 is an authority's certificate (basicConstraints CA:TRUE), not a signer's:" \
         "give the code-signing leaf, or the signed program (docs/security.md)" >&2
    exit 1
  fi
  pin "$file"
  echo "signer: $(openssl x509 -in "$file" -noout -subject)" >&2
fi
