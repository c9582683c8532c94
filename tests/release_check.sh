#!/usr/bin/env bash
# tools/release end to end, with a throw-away certificate authority and code-signing certificate
# made here in a temporary folder: an unsigned and a signed release, the signatures checked
# against that authority, the signed x64 exe run under Wine against the unsigned one, a flipped
# byte caught, the release rebuilt bit for bit in another folder, and the certificate faults that
# must leave no release behind.
# Run by tools/check after the Windows builds; tools/release reuses their build folders.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
source tools/wine-env
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failures=0
check() { # DESCRIPTION COMMAND...: runs COMMAND and reports whether it succeeded
  if "${@:2}"; then
    echo "ok: $1"
  else
    echo "FAILED: $1"
    failures=$((failures + 1))
  fi
}
fails() { ! "$@"; }

# The authority, a code-signing certificate it issued, and one that expired yesterday.
cd "$work"
export KOU3_SIGN_PASSWORD="test pass $RANDOM"
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 \
  -subj "/CN=kou3upd throw-away CA" -addext basicConstraints=critical,CA:TRUE \
  -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
printf '%s\n' basicConstraints=CA:FALSE keyUsage=critical,digitalSignature \
  extendedKeyUsage=codeSigning >signer.ext
openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr \
  -subj "/CN=kou3upd throw-away signer" 2>/dev/null
for name in signer:2 expired:-1; do
  openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days "${name#*:}" \
    -extfile signer.ext -out "${name%:*}.pem" 2>/dev/null
  openssl pkcs12 -export -inkey signer.key -in "${name%:*}.pem" -certfile ca.pem \
    -out "${name%:*}.pfx" -passout env:KOU3_SIGN_PASSWORD
done
cd "$root"
sign=(--cert "$work/signer.pfx" --url https://example.invalid/kou3upd --ca "$work/ca.pem")

tools/release --dist "$work/unsigned" >"$work/unsigned.log" 2>&1 ||
  { cat "$work/unsigned.log"; echo "FAILED: the unsigned release"; exit 1; }
check "an unsigned release says so on its last line" grep -q UNSIGNED <(tail -n 1 "$work/unsigned.log")
# The signing tools run through wrappers that record their command lines.
mkdir "$work/bin"
for tool in openssl osslsigncode; do
  cat >"$work/bin/$tool" <<EOF
#!/bin/sh
echo "$tool \$*" >>"$work/command-lines"
exec $(command -v $tool) "\$@"
EOF
  chmod +x "$work/bin/$tool"
done
PATH=$work/bin:$PATH tools/release "${sign[@]}" --dist "$work/signed" >"$work/signed.log" 2>&1 ||
  { cat "$work/signed.log"; echo "FAILED: the signed release"; exit 1; }
tail -n 1 "$work/signed.log"
check "the signing tools ran, and the password is on none of their command lines" \
  bash -c 'grep -q "^osslsigncode sign " "$1" && ! grep -qF "$KOU3_SIGN_PASSWORD" "$1"' _ "$work/command-lines"

version=$(sed -n 's/^kou3upd-\(.*\)-x64\.exe$/\1/p' <(ls "$work/signed"))
listing=$(printf '%s\n' SHA256SUMS "kou3upd-$version-x64.exe" "kou3upd-$version-x86.exe" vpupack \
  "vpupack-$version-x64.exe")
check "the release holds the two exes, both vpupacks and SHA256SUMS, version $version" \
  test "$(LC_ALL=C ls "$work/signed")" == "$listing"
check "the signed exes keep their execute bit, as the unsigned ones do" \
  test -x "$work/signed/kou3upd-$version-x64.exe" -a -x "$work/signed/kou3upd-$version-x86.exe"
check "SHA256SUMS covers the other four files and matches them" \
  bash -c 'cd "$1" && sha256sum --quiet -c SHA256SUMS && test "$(wc -l <SHA256SUMS)" == 4' _ "$work/signed"
for arch in x64 x86; do
  status=0
  osslsigncode verify -CAfile "$work/ca.pem" -in "$work/signed/kou3upd-$version-$arch.exe" \
    >"$work/verify.log" 2>&1 || status=$?
  check "osslsigncode verify with the throw-away authority accepts the $arch exe" test "$status" == 0
  check "the $arch signature is SHA-256 with the program's name and URL" grep -qzE \
    'Message digest algorithm *: SHA256.*URL description: https://example.invalid/kou3upd.*Text description: kou3upd' \
    "$work/verify.log"
done

# The web page is optional: the signature then carries the program's name alone.
status=0
tools/release --cert "$work/signer.pfx" --ca "$work/ca.pem" --dist "$work/no-url" >"$work/no-url.log" 2>&1 || status=$?
check "a release signed without --url is made ($status), and tools/release verified its signatures" \
  grep -q "signed by" <(tail -n 1 "$work/no-url.log")

# One flipped byte in the middle of the signed code.
cp "$work/signed/kou3upd-$version-x64.exe" "$work/flipped.exe"
offset=$(($(stat -c %s "$work/flipped.exe") / 2))
byte=$(od -An -tu1 -j "$offset" -N1 "$work/flipped.exe")
printf "\\$(printf %o $((byte ^ 0xff)))" |
  dd of="$work/flipped.exe" bs=1 seek="$offset" conv=notrunc status=none
status=0
osslsigncode verify -CAfile "$work/ca.pem" -in "$work/flipped.exe" >"$work/verify.log" 2>&1 || status=$?
check "osslsigncode verify refuses the exe with one byte flipped" test "$status" != 0
check "because the digest no longer matches" grep -q "MISMATCH" "$work/verify.log"

# /extractSetup under Wine: the signed exe unpacks the installer as the unsigned one does.
winpath() { local path=${1//\//\\}; echo "Z:$path"; }
mkdir "$work/drive"
"$work/signed/vpupack" create "$work/signed/vpupack-$version-x64.exe" "$work/drive/setup_ko_u3-1.vpu" \
  >/dev/null
wine_start
extract() { # KIND: runs that release's x64 exe; prints its exit status and the unpacked file's
  mkdir "$work/host-$1"
  local status=0
  U3_APP_DATA_PATH=$(winpath "$work/drive") U3_HOST_EXEC_PATH=$(winpath "$work/host-$1") \
    wine "$work/$1/kou3upd-$version-x64.exe" /extractSetup </dev/null >/dev/null 2>&1 || status=$?
  local unpacked=$work/host-$1/setup.exe
  echo "status $status, setup.exe $([[ -f $unpacked ]] && sha256sum <"$unpacked" | cut -c1-16)"
}
unsigned=$(extract unsigned)
signed=$(extract signed)
echo "unsigned /extractSetup: $unsigned; signed: $signed"
check "the signed x64 exe runs /extractSetup under Wine as the unsigned one does" \
  test "$signed" == "$unsigned"
check "and that run unpacked the packed file" \
  cmp -s "$work/host-signed/setup.exe" "$work/signed/vpupack-$version-x64.exe"

# A release anyone can rebuild: the same sources copied to another folder and built there, later,
# give the same unsigned exes and vpupacks, byte for byte.
mkdir "$work/rebuild"
git ls-files -co --exclude-standard -z | xargs -0 cp --parents -t "$work/rebuild"
(cd "$work/rebuild" && tools/release --dist "$work/rebuilt") >"$work/rebuilt.log" 2>&1 ||
  { cat "$work/rebuilt.log"; echo "FAILED: the release rebuilt in another folder"; exit 1; }
for file in SHA256SUMS "kou3upd-$version-x64.exe" "kou3upd-$version-x86.exe" vpupack "vpupack-$version-x64.exe"; do
  check "$file rebuilt in another folder is the same, byte for byte" cmp "$work/unsigned/$file" "$work/rebuilt/$file"
done
rm -rf "$work/rebuild"
for arch in x64 x86; do
  osslsigncode remove-signature -in "$work/signed/kou3upd-$version-$arch.exe" -out "$work/stripped-$arch.exe" \
    >/dev/null 2>&1
  check "the signed $arch exe without its signature is the unsigned one, byte for byte" \
    cmp "$work/stripped-$arch.exe" "$work/unsigned/kou3upd-$version-$arch.exe"
done

# Certificate faults end the run before anything is built and leave no release behind; an
# earlier release in that folder stays as it was.
before=$(ls -l --full-time "$work/unsigned"; cat "$work/unsigned/SHA256SUMS")
no_leftovers() { [[ ! -e $work/new ]] && ! compgen -G "$work/.release-*" >/dev/null; }
refused() { # DESCRIPTION EXPECTED-MESSAGE DIST ARGUMENTS...
  local status=0
  tools/release "${@:4}" --dist "$3" >"$work/refused.log" 2>&1 || status=$?
  echo "  $(tail -n 1 "$work/refused.log")"
  check "$1 ends the run with a non-zero status ($status)" test "$status" != 0
  check "$1 is named in the message" grep -q "$2" "$work/refused.log"
  check "$1 leaves no release and no staging folder" no_leftovers
}
KOU3_SIGN_PASSWORD=wrong refused "a wrong password" "wrong password" "$work/new" "${sign[@]}"
refused "a missing certificate file" "cannot read the certificate" "$work/new" \
  --cert "$work/missing.pfx" --url https://example.invalid/kou3upd
refused "an expired certificate" "has expired" "$work/unsigned" \
  --cert "$work/expired.pfx" --url https://example.invalid/kou3upd
check "the earlier release in the folder of the refused run is unchanged" \
  test "$before" == "$(ls -l --full-time "$work/unsigned"; cat "$work/unsigned/SHA256SUMS")"

if ((failures)); then
  echo "release check: $failures failed"
  exit 1
fi
echo "release check: all passed"
