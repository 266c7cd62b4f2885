#!/usr/bin/env bash
# The release build, made the way scripts/build makes it (installer/pack with GLIMKIT_RELEASE=1)
# from copies of the built programs with a throwaway certificate: no program keeps a debug
# section, each has a debug link to its symbol file in symbols/ (named after the program and
# the version, with the checksum the link records), the symbols still resolve an address of
# the program, each program keeps its PE protections, runs, and verifies; no temporary file
# is left; packing again keeps the symbols; a program signed before the split loses that
# signature whole; a development pack leaves the debug information in.
#   test_release.sh BUILD_DIR SOURCE_DIR MAKENSIS VERSION
set -euo pipefail
build=$1 src=$2 makensis=$3 version=$4
work="$build/test-release"
tools=x86_64-w64-mingw32
programs=(Glimward.exe Glimagent.exe glimctl.exe GlimkitSetupHelper.exe)

failures=0
check() {  # check WHAT COMMAND...: passes when COMMAND succeeds
  local what=$1; shift
  if "$@" >"$work/check.log" 2>&1; then echo "ok: $what"; else
    echo "FAILED: $what"; sed 's/^/  /' "$work/check.log"; failures=$((failures + 1)); fi
}
has_debug_sections() { "$tools-objdump" -h "$1" | grep -q ' \.debug_'; }
no_debug_sections() { ! has_debug_sections "$1"; }
dll_characteristics() { "$tools-objdump" -p "$1" | grep -E '^DllCharacteristics' -A 8 | grep -E '^\s+[A-Z_]+$|^Dll' ; }
# The debug link: the symbol file's name and its CRC-32, as gdb checks them.
link_names() {  # link_names PROGRAM SYMBOLS: the link names SYMBOLS, with its checksum
  python3 - "$1" "$2" "$tools-objcopy" <<'PY'
import os, subprocess, sys, tempfile, zlib
program, symbols, objcopy = sys.argv[1:]
with tempfile.TemporaryDirectory() as temp:
    section, copy = os.path.join(temp, "link"), os.path.join(temp, "copy")
    subprocess.run([objcopy, "--dump-section", ".gnu_debuglink=" + section, program, copy], check=True)
    data = open(section, "rb").read()
name = data.split(b"\0", 1)[0].decode()
crc = int.from_bytes(data[-4:], "little")
print("link:", name, hex(crc))
assert name == os.path.basename(symbols), "the link names " + name
assert crc == zlib.crc32(open(symbols, "rb").read()), "the checksum differs"
PY
}
# The symbol file turns the address of a function of the program into its source file.
resolves() {  # resolves ORIGINAL SYMBOLS FUNCTION SOURCE
  local address line
  address=$("$tools-nm" "$1" | awk -v f="$3" '$3 == f { print "0x" $1; exit }')
  [ -n "$address" ] || { echo "no symbol $3"; return 1; }
  line=$("$tools-addr2line" -e "$2" "$address")
  echo "$3 at $address: $line"
  case $line in *"$4"*) return 0 ;; *) return 1 ;; esac
}
no_leftovers() { local left; left=$(find "$@" -name '.*' -type f); echo "$left"; [ -z "$left" ]; }
# The certificate table's entry in the PE header is empty: no signature, not a stale one.
no_certificate_table() { "$tools-objdump" -p "$1" | grep -E 'Entry 4 0+ 0+ Security Directory'; }
runs() {  # runs PROGRAM: glimctl.exe gives the version
  bash "$src/scripts/wine-env" run "$build" "$1" --version >"$work/version.txt" 2>&1 || true
  tr -d '\r' <"$work/version.txt" | grep -xF "glimctl (Glimkit) $version"
}
pack() {  # pack BINDIR OUTFILE [ENV...]
  local bindir=$1 outfile=$2; shift 2
  env -u GLIMKIT_SIGN_PFX -u GLIMKIT_SIGN_PASSWORD_FILE -u GLIMKIT_RELEASE -u GLIMKIT_UNSIGNED "$@" \
    bash "$src/installer/pack" "$bindir" "$outfile" "$version" "$makensis" -V2 "-DBINDIR=$bindir" \
    "-DVERSIONFILE=$build/generated/GlimkitVersion.nsh" "-DLAYOUTFILE=$build/generated/GlimkitLayout.nsh" \
    "$src/installer/Glimkit.nsi"
}

rm -rf "$work"
mkdir -p "$work/release/bin" "$work/dev/bin" "$work/resigned/bin" "$work/original"
bash "$src/scripts/make-test-cert" "$work/cert" >/dev/null
for name in "${programs[@]}"; do
  cp "$build/bin/$name" "$work/original/"
  cp "$build/bin/$name" "$work/release/bin/"
  cp "$build/bin/$name" "$work/dev/bin/"
  cp "$build/bin/$name" "$work/resigned/bin/"
done
signing=(GLIMKIT_SIGN_PFX="$work/cert/signer.pfx" GLIMKIT_SIGN_PASSWORD_FILE="$work/cert/signer.pass")

pack "$work/release/bin" "$work/release/GlimkitSetup.exe" GLIMKIT_RELEASE=1 "${signing[@]}" >"$work/pack.log" 2>&1 \
  || { cat "$work/pack.log"; echo "FAILED: the release could not be made"; exit 1; }
cat "$work/pack.log"
check "the release installer verifies" osslsigncode verify -CAfile "$work/cert/root.pem" -in "$work/release/GlimkitSetup.exe"
for name in "${programs[@]}"; do
  program="$work/release/bin/$name" original="$work/original/$name"
  symbols="$work/release/symbols/${name%.exe}-$version.exe.debug"
  echo "[ figure   ] $name: $(stat -c %s "$original") bytes in development, $(stat -c %s "$program") released," \
       "symbols $(stat -c %s "$symbols" 2>/dev/null || echo missing)"
  check "$name has no debug section" no_debug_sections "$program"
  check "$name links to its symbol file" link_names "$program" "$symbols"
  check "$name verifies" osslsigncode verify -CAfile "$work/cert/root.pem" -in "$program"
  check "$name keeps its protections (ASLR, DEP)" \
    diff <(dll_characteristics "$original") <(dll_characteristics "$program")
done
check "the symbols resolve glimctl's entry" \
  resolves "$work/original/glimctl.exe" "$work/release/symbols/glimctl-$version.exe.debug" wmain GlimctlMain.cpp
check "the symbols resolve the service's entry" \
  resolves "$work/original/Glimward.exe" "$work/release/symbols/Glimward-$version.exe.debug" WinMain GlimwardMain.cpp
check "the released glimctl runs" runs "$work/release/bin/glimctl.exe"
check "no temporary file is left beside the programs or the symbols" \
  no_leftovers "$work/release/bin" "$work/release/symbols"

# Packing again (the installer made again in the same build) keeps the symbols and the links.
pack "$work/release/bin" "$work/release/GlimkitSetup.exe" GLIMKIT_RELEASE=1 "${signing[@]}" >"$work/pack2.log" 2>&1 \
  || { cat "$work/pack2.log"; echo "FAILED: packing the release again failed"; failures=$((failures + 1)); }
for name in "${programs[@]}"; do
  check "$name still links to its symbols after packing again" \
    link_names "$work/release/bin/$name" "$work/release/symbols/${name%.exe}-$version.exe.debug"
  check "$name still verifies after packing again" \
    osslsigncode verify -CAfile "$work/cert/root.pem" -in "$work/release/bin/$name"
done

# Programs signed in a development build, then made a release without signing: the old
# signature goes whole, before the split, so nothing stale stays in the header.
bash "$src/scripts/sign" "$work/cert/signer.pfx" "$work/cert/signer.pass" "$work/resigned/bin/"*.exe >/dev/null
pack "$work/resigned/bin" "$work/resigned/GlimkitSetup.exe" GLIMKIT_RELEASE=1 GLIMKIT_UNSIGNED=1 \
  >"$work/pack-resigned.log" 2>&1 \
  || { cat "$work/pack-resigned.log"; echo "FAILED: the unsigned release could not be made"; exit 1; }
for name in "${programs[@]}"; do
  check "$name signed before an unsigned release keeps no certificate table" \
    no_certificate_table "$work/resigned/bin/$name"
done
check "that glimctl runs" runs "$work/resigned/bin/glimctl.exe"

# A development build keeps its debug information.
pack "$work/dev/bin" "$work/dev/GlimkitSetup.exe" >"$work/pack-dev.log" 2>&1 \
  || { cat "$work/pack-dev.log"; echo "FAILED: the development installer could not be made"; exit 1; }
for name in "${programs[@]}"; do
  check "$name keeps its debug information in a development build" has_debug_sections "$work/dev/bin/$name"
done
check "a development build writes no symbols" test ! -e "$work/dev/symbols"

echo "$failures failed"
[ $failures -eq 0 ]
