#!/usr/bin/env bash
# Demo part: the Glimward service for real. Installs and starts it with its own verbs in the
# Wine prefix, with the simulated filter driver, presses the hotkey in an unlocked and in a
# locked session and shows what the service did: the level the driver holds, KBStatus in the
# settings file, and the agent command it started (an agent probe at the agent's path
# records it). Uninstalls everything at the end.
#   service.sh BUILD_DIR          (the Wine environment must be up: scripts/wine-env up)
# Sourcing the file defines demo_service BUILD_DIR without running it.

demo_service() (
  set -euo pipefail
  local root build bin dir data ini log probe_log probe_token backup= holder=
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
  build=$(cd "${1:?usage: demo_service BUILD_DIR}" && pwd)
  bin="$build/bin"
  eval "$(bash "$root/scripts/wine-env" shell "$build")"
  dir="$WINEPREFIX/drive_c/Program Files (x86)/Vessik/Glimkit"
  data="$WINEPREFIX/drive_c/ProgramData/Vessik/Glimkit"
  ini="$data/Glimkit.ini"
  log="$data/Service.log"
  probe_log="$dir/AgentProbe.log"
  probe_token="$dir/AgentProbeToken.log"
  local override='HKCU\Software\Wine\AppDefaults\Glimward.exe\DllOverrides'

  run() { bash "$root/scripts/wine-env" run "$build" "$@"; }
  glimward() { run "$dir/Glimward.exe" "$@"; }
  step() { echo; echo "== service: $*"; }
  setting() { sed -n "s/^$1=\\([^\\r]*\\).*/\\1/p" "$ini" | head -n 1; }
  show() {
    echo "   level on the device: $(run "$bin/glimsim.exe" level | tr -d '\r')"
    echo "   KBStatus=$(setting KBStatus)  KBBrightness=$(setting KBBrightness)  CurrentKBBrightness=$(setting CurrentKBBrightness)"
    if [ -s "$probe_log" ]; then
      echo "   agent starts so far (command lines):"
      iconv -f UTF-16LE -t UTF-8 "$probe_log" | tr -d '\r' | sed 's/^/     /'
      echo "   what each start's token held (the user's own: no debug privilege):"
      iconv -f UTF-16LE -t UTF-8 "$probe_token" | tr -d '\r' | sed 's/^/     /'
    else
      echo "   agent starts so far: none"
    fi
  }
  cleanup() {
    run "$bin/glimsession.exe" desktop-end >/dev/null 2>&1 || true
    [ -n "$holder" ] && wait "$holder" 2>/dev/null || true
    [ -f "$dir/Glimward.exe" ] && glimward x -U >/dev/null 2>&1 || true
    run "$bin/glimsession.exe" clear >/dev/null 2>&1 || true
    wine reg delete "$override" /f >/dev/null 2>&1 </dev/null 9>&- || true
    rm -f "$dir/Glimward.exe" "$dir/wtsapi32.dll" "$dir/Glimagent.exe" "$probe_log" "$probe_token" "$log"
    [ -n "$backup" ] && mv -f "$backup" "$dir/Glimagent.exe" || true
    run "$bin/glimsim.exe" driver remove >/dev/null 2>&1 || true
  }
  trap cleanup EXIT

  step "load the simulated keyboard-controller driver"
  run "$bin/glimsim.exe" driver install
  run "$bin/glimsim.exe" reset

  step "install the programs where the installer puts them (the agent's place holds a probe that records its command line and token)"
  mkdir -p "$dir" "$data"
  if [ -f "$dir/Glimagent.exe" ]; then backup="$dir/Glimagent.exe.demo-backup"; mv -f "$dir/Glimagent.exe" "$backup"; fi
  cp "$bin/Glimward.exe" "$bin/simdll/wtsapi32.dll" "$dir/"
  cp "$bin/GlimAgentProbe.exe" "$dir/Glimagent.exe"
  rm -f "$probe_log" "$probe_token"
  # Wine never reports a locked session: Glimward.exe alone loads the stand-in wtsapi32.dll.
  wine reg add "$override" /v wtsapi32 /t REG_SZ /d native /f >/dev/null 2>&1 </dev/null 9>&-
  printf '[Glimkit]\r\nKBStatus=1\r\nKBBrightness=6\r\nCurrentKBBrightness=4\r\n' >"$ini"
  : >"$log"   # an existing Service.log switches the service log on
  # Wine's desktop process (explorer.exe, whose token the launcher borrows) lives only while
  # some process uses the display: keep one doing so for the demo.
  mkdir -p "$build/demo"
  run "$bin/glimsession.exe" desktop 600 >"$build/demo/service-desktop.txt" 2>&1 &
  holder=$!
  run "$bin/glimsession.exe" explorer

  step "Glimward.exe x -I, then x -S (the service restores CurrentKBBrightness=4 when it starts)"
  glimward x -I
  glimward x -S
  sleep 1
  show

  step "press the hotkey in an unlocked session: the service starts the agent to change the status"
  run "$bin/glimsession.exe" unlock
  run "$bin/glimsim.exe" press
  sleep 1.5
  show

  step "lock the session and press: the service toggles the backlight off itself and starts the agent for the OSD"
  run "$bin/glimsession.exe" lock
  run "$bin/glimsim.exe" press
  sleep 1.5
  show

  step "press again while locked: back on at KBBrightness"
  run "$bin/glimsim.exe" press
  sleep 1.5
  show

  step "Glimward.exe x -K and x -U: stop and uninstall"
  glimward x -K
  glimward x -U
  echo "   the service log (C:\\ProgramData\\Vessik\\Glimkit\\Service.log), last lines:"
  iconv -f UTF-16LE -t UTF-8 "$log" | tr -d '\r' | tail -n 12 | sed 's/^/     /'
  iconv -f UTF-16LE -t UTF-8 "$log" | tr -d '\r' >"$build/demo/service.log.txt"
  echo "   (whole log saved as $build/demo/service.log.txt)"
)

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  demo_service "$@"
fi
