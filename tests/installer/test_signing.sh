#!/usr/bin/env bash
# The signing settings a build accepts, and the signed build, made the way scripts/build makes
# it (installer/pack) from copies of the built programs with a throwaway certificate: every
# program, the installer and the uninstaller the installer writes verify against the throwaway
# root, and fail to verify after one byte is changed or against another root. The uninstaller is taken from an install
# in the test prefix, which is then uninstalled; the settings folder is put back as it was.
#   test_signing.sh BUILD_DIR SOURCE_DIR MAKENSIS VERSION
set -euo pipefail
build=$1 src=$2 makensis=$3 version=$4
work="$build/test-signing"
prefix="$build/wineprefix/drive_c"
installdir="$prefix/Program Files (x86)/Vessik/Glimkit"
data="$prefix/ProgramData/Vessik"

failures=0
check() {  # check WHAT COMMAND...: passes when COMMAND succeeds
  local what=$1; shift
  if "$@" >"$work/check.log" 2>&1; then echo "ok: $what"; else
    echo "FAILED: $what"; sed 's/^/  /' "$work/check.log"; failures=$((failures + 1)); fi
}
refuse() {  # refuse WHAT COMMAND...: passes when COMMAND fails
  local what=$1; shift
  if "$@" >"$work/check.log" 2>&1; then echo "FAILED: $what"; failures=$((failures + 1)); else
    echo "ok: $what"; fi
}
verify() { osslsigncode verify -CAfile "$2" -in "$1"; }
# Checks a signed file: verifies against the root, not against the other root, and not once
# one byte in the middle of it is changed.
check_signed() {
  local file=$1 name tampered byte
  name=$(basename "$file")
  tampered="$work/tampered-$name"
  check "$name verifies against the throwaway root" verify "$file" "$work/cert/root.pem"
  refuse "$name does not verify against another root" verify "$file" "$work/other/root.pem"
  cp "$file" "$tampered"
  byte=$(( $(stat -c %s "$file") / 2 ))
  printf "\\$(printf '%03o' $(( ( $(od -An -tu1 -j "$byte" -N1 "$file") + 1 ) % 256 )))" \
    | dd of="$tampered" bs=1 seek="$byte" conv=notrunc status=none
  refuse "$name with byte $byte changed does not verify" verify "$tampered" "$work/cert/root.pem"
}

rm -rf "$work"
mkdir -p "$work/bin"
bash "$src/scripts/make-test-cert" "$work/cert" >/dev/null
bash "$src/scripts/make-test-cert" "$work/other" >/dev/null
for name in Glimward.exe Glimagent.exe glimctl.exe GlimkitSetupHelper.exe; do
  [ -f "$build/bin/$name" ] && cp "$build/bin/$name" "$work/bin/"
done

# The signing settings a build accepts.
policy() { env -u GLIMKIT_SIGN_PFX -u GLIMKIT_SIGN_PASSWORD_FILE -u GLIMKIT_RELEASE -u GLIMKIT_UNSIGNED \
  "$@" bash "$src/installer/pack" --check; }
refuse "a release build without a certificate is refused" policy GLIMKIT_RELEASE=1
check "a release build with GLIMKIT_UNSIGNED=1 is allowed" policy GLIMKIT_RELEASE=1 GLIMKIT_UNSIGNED=1
refuse "a certificate without its password file is refused" policy GLIMKIT_SIGN_PFX="$work/cert/signer.pfx"
check "a development build needs no certificate" policy

GLIMKIT_SIGN_PFX="$work/cert/signer.pfx" GLIMKIT_SIGN_PASSWORD_FILE="$work/cert/signer.pass" \
  bash "$src/installer/pack" "$work/bin" "$work/GlimkitSetup.exe" "$version" "$makensis" -V2 \
  "-DBINDIR=$work/bin" "-DVERSIONFILE=$build/generated/GlimkitVersion.nsh" \
  "-DLAYOUTFILE=$build/generated/GlimkitLayout.nsh" "$src/installer/Glimkit.nsi" \
  >"$work/pack.log" 2>&1 \
  || { cat "$work/pack.log"; echo "FAILED: the signed installer could not be made"; exit 1; }
for file in "$work"/bin/*.exe "$work/GlimkitSetup.exe"; do
  check_signed "$file"
done

# The uninstaller exists only inside the installer: install, take it, uninstall.
backup="$work/data-backup"
had_data=0
[ -e "$data" ] && { had_data=1; cp -a "$data" "$backup"; }
restore() {
  trap - EXIT
  if [ -f "$installdir/Uninstall.exe" ]; then
    cp "$installdir/Uninstall.exe" "$work/run-uninstall.exe"
    local rc=0
    # "_?=" keeps the uninstaller from relaunching itself, so this waits for its result. It
    # must stand unquoted in the command line, which cmd passes on as written.
    bash "$src/scripts/wine-env" run "$build" cmd /c \
      "Z:${work//\//\\}\\run-uninstall.exe /S _?=C:\\Program Files (x86)\\Vessik\\Glimkit" \
      >"$work/uninstall.log" 2>&1 || rc=$?
    echo "the uninstaller ended with exit code $rc"
    cp "$prefix"/users/*/Temp/GlimkitUninstall.log "$work/" 2>/dev/null || true
    [ $rc -eq 0 ] || failures=$((failures + 1))
  fi
  rm -rf "$data"
  [ $had_data -eq 1 ] && cp -a "$backup" "$data"
  rm -f "$prefix"/users/*/Temp/GlimkitSetup.log "$prefix"/users/*/Temp/GlimkitUninstall.log
  return 0
}
trap restore EXIT
set +e
bash "$src/scripts/wine-env" run "$build" "$work/GlimkitSetup.exe" /S >"$work/setup.log" 2>&1
rc=$?
set -e
echo "the signed installer ended with exit code $rc"
if [ -f "$installdir/Uninstall.exe" ]; then
  cp "$installdir/Uninstall.exe" "$work/Uninstall.exe"
  check_signed "$work/Uninstall.exe"
else
  echo "FAILED: the signed installer wrote no Uninstall.exe"; failures=$((failures + 1))
fi

restore
echo "$failures failed"
[ $failures -eq 0 ]
