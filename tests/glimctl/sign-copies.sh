#!/usr/bin/env bash
# Signed copies of the three programs for doctor's signature test: a throwaway root and
# signer (scripts/make-test-cert), then scripts/sign on copies in OUTDIR. OUTDIR/cert/root.cer
# is the root the test trusts in its prefix for the test's length.
#   sign-copies.sh SOURCE_DIR BIN_DIR OUTDIR
set -euo pipefail
src=$1 bin=$2 out=$3
rm -rf "$out"
mkdir -p "$out"
bash "$src/scripts/make-test-cert" "$out/cert" >/dev/null
for name in Glimward.exe Glimagent.exe glimctl.exe; do
  cp "$bin/$name" "$out/$name"
done
bash "$src/scripts/sign" "$out/cert/signer.pfx" "$out/cert/signer.pass" \
  "$out/Glimward.exe" "$out/Glimagent.exe" "$out/glimctl.exe" >/dev/null
