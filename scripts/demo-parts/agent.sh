#!/usr/bin/env bash
# Demo part: the whole hotkey road through both real programs. Installs Glimward.exe and
# Glimagent.exe where the installer puts them, starts the service with its own verbs and
# the agent's main instance with no command word (as a logon would), with the simulated
# filter driver and the settings-application stand-in ("Zentia") recording the relays'
# notices. Presses the hotkey three times in an unlocked session and once in a locked one;
# after each press shows the status, the level, the agent command that was relayed and the
# OSD, and saves the OSD of each status as $build/demo/osd-<status>.png. Removes everything
# at the end.
#   agent.sh BUILD_DIR          (the Wine environment must be up: scripts/wine-env up)
# Sourcing the file defines demo_agent BUILD_DIR without running it.

demo_agent() (
  set -euo pipefail
  local root build bin out dir data ini slog alog record backup= ini_backup= holder= app= main=
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
  build=$(cd "${1:?usage: demo_agent BUILD_DIR}" && pwd)
  bin="$build/bin"
  out="$build/demo"
  eval "$(bash "$root/scripts/wine-env" shell "$build")"
  dir="$WINEPREFIX/drive_c/Program Files (x86)/Vessik/Glimkit"
  data="$WINEPREFIX/drive_c/ProgramData/Vessik/Glimkit"
  ini="$data/Glimkit.ini"
  slog="$data/Service.log"
  alog="$data/Glimagent.log"
  record="$out/zentia-record.txt"
  local override='HKCU\Software\Wine\AppDefaults\Glimward.exe\DllOverrides'
  local logkey='HKLM\Software\Vessik\Glimagent\DbgLog'
  local agent_title='BACKLIGHT0314FE0E-6416-4CB9-9698-F1C731E00A25'
  local names=(off on auto)

  run() { bash "$root/scripts/wine-env" run "$build" "$@"; }
  quiet() { "$@" >/dev/null 2>&1 </dev/null 9>&- || true; }
  indent() { tr -d '\r' | sed 's/^/   /'; }
  glimward() { run "$dir/Glimward.exe" "$@"; }
  step() { echo; echo "== agent: $*"; }
  winpath() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }
  setting() { sed -n "s/^$1=\\([^\\r]*\\).*/\\1/p" "$ini" | head -n 1; }
  utf16() { [ -f "$1" ] && iconv -f UTF-16 -t UTF-8 "$1" | tr -d '\r' || true; }
  wait_status() {  # waits up to 10 s for KBStatus to become $1
    local i
    for i in $(seq 50); do [ "$(setting KBStatus)" = "$1" ] && return 0; sleep 0.2; done
    echo "   (KBStatus did not become $1; it is $(setting KBStatus))"
    return 1
  }
  wait_records() {  # waits up to 10 s for the stand-in to have recorded $1 notices
    local i
    for i in $(seq 50); do [ "$(grep -c '^seq=' "$record" 2>/dev/null || true)" -ge "$1" ] && return 0; sleep 0.2; done
    return 1
  }
  # After a press: the status, the level, what the service did, what was relayed to the
  # settings application and the main instance, and the OSD on the screen.
  local alog_seen=0 nrecords=0
  show() {
    local status level wparam lines
    status=$(setting KBStatus)
    echo "   set requests the driver answered, newest last:"
    run "$bin/glimsim.exe" history | grep 'set level' | tail -n 2 | indent || true
    level=$(run "$bin/glimsim.exe" level | tr -d '\r')
    echo "   KBStatus=$status (${names[$status]:-?})  KBBrightness=$(setting KBBrightness)  CurrentKBBrightness=$(setting CurrentKBBrightness)"
    echo "   device: $level"
    echo "   service decided: $(utf16 "$slog" | grep -oE '(No)?SessionLocked' | tail -n 1)"
    wparam=$(grep '^seq=' "$record" | tail -n 1 | sed -n 's/.*wParam=\([0-9]*\).*/\1/p')
    case "$wparam" in
      0) echo "   relayed command: cmd_service-3-statuschange (Zentia got WM_UWP_NOTIFY wParam 0: the agent changes the status)" ;;
      1) echo "   relayed command: cmd_service-2-osd (Zentia got WM_UWP_NOTIFY wParam 1: the service changed the status)" ;;
      *) echo "   relayed command: none recorded" ;;
    esac
    echo "   agent log, new lines:"
    lines=$(utf16 "$alog" | wc -l)
    utf16 "$alog" | tail -n +$((alog_seen + 1)) | grep -E 'Fressed|WM_F12|WM_OSD|nextstatus|confchange|ShowOSD|Brightness' | sed 's/^/     /' || true
    alog_seen=$lines
  }
  # Shows the OSD as it is on the screen; saves it as osd-NAME.png when a name is given.
  osd() {
    local name=${1:-} bmp
    if [ -n "$name" ]; then
      bmp="$out/osd-$name.bmp"
      run "$bin/glimscreen.exe" osd --wait 5000 --bmp "$(winpath "$bmp")" --follow | indent
      convert "$bmp" "$out/osd-$name.png" && rm -f "$bmp"
      echo "   saved $out/osd-$name.png"
    else
      run "$bin/glimscreen.exe" osd --wait 5000 --follow | indent
    fi
  }
  cleanup() {
    quiet run "$bin/glimscreen.exe" close "$agent_title"
    quiet run "$bin/glimscreen.exe" close Zentia
    quiet run "$bin/glimsession.exe" desktop-end
    for pid in $main $app $holder; do wait "$pid" 2>/dev/null || true; done
    [ -f "$dir/Glimward.exe" ] && quiet glimward x -U
    quiet run "$bin/glimsession.exe" clear
    quiet wine reg delete "$override" /f
    quiet wine reg delete "$logkey" /f
    rm -f "$dir/Glimward.exe" "$dir/wtsapi32.dll" "$dir/Glimagent.exe" "$slog" "$alog" "$out"/osd-*.bmp
    [ -n "$backup" ] && mv -f "$backup" "$dir/Glimagent.exe" || true
    rm -f "$ini"
    [ -n "$ini_backup" ] && mv -f "$ini_backup" "$ini" || true
    quiet run "$bin/glimsim.exe" driver remove
  }
  trap cleanup EXIT

  step "load the simulated keyboard-controller driver"
  run "$bin/glimsim.exe" driver install
  run "$bin/glimsim.exe" reset

  step "install Glimward.exe and Glimagent.exe where the installer puts them"
  mkdir -p "$dir" "$data" "$out"
  if [ -f "$dir/Glimagent.exe" ]; then backup="$dir/Glimagent.exe.demo-backup"; mv -f "$dir/Glimagent.exe" "$backup"; fi
  cp "$bin/Glimward.exe" "$bin/Glimagent.exe" "$bin/simdll/wtsapi32.dll" "$dir/"
  rm -f "$out"/osd-*.png "$record"
  if [ -f "$ini" ]; then ini_backup="$ini.demo-backup"; cp -f "$ini" "$ini_backup"; fi
  # Wine never reports a locked session: Glimward.exe alone loads the stand-in wtsapi32.dll.
  quiet wine reg add "$override" /v wtsapi32 /t REG_SZ /d native /f
  printf '[Glimkit]\r\nKBStatus=0\r\nKBBrightness=6\r\nCurrentKBBrightness=4\r\n' >"$ini"
  : >"$slog"   # an existing Service.log switches the service log on
  # The agent's diagnostics log, configured in the registry.
  quiet wine reg add "$logkey" /v enabled /t REG_DWORD /d 1 /f
  quiet wine reg add "$logkey" /v logpath /t REG_SZ /d 'C:\ProgramData\Vessik\Glimkit\Glimagent.log' /f
  quiet wine reg add "$logkey" /v append /t REG_DWORD /d 0 /f
  quiet wine reg add "$logkey" /v loglevel /t REG_DWORD /d 0 /f
  echo "   KBStatus=0 (off), KBBrightness=6, CurrentKBBrightness=4; service log and agent log switched on"
  # Wine's desktop process (explorer.exe, whose token the launcher borrows) lives only while
  # some process uses the display: keep one doing so for the demo.
  run "$bin/glimsession.exe" desktop 600 >"$out/agent-desktop.txt" 2>&1 &
  holder=$!
  run "$bin/glimsession.exe" explorer

  step "start the service (Glimward.exe x -I, x -S) and the agent's main instance (Glimagent.exe, no command word)"
  glimward x -I
  run "$bin/glimsession.exe" interactive Glimward   # Wine only: let the agent reach the desktop
  glimward x -S
  run "$dir/Glimagent.exe" >/dev/null 2>&1 &
  main=$!
  run "$bin/glimscreen.exe" window "$agent_title" --wait 15000
  run "$bin/ZentiaSim.exe" window --record "$(winpath "$record")" >/dev/null 2>&1 &
  app=$!
  run "$bin/glimscreen.exe" window Zentia --wait 15000
  sleep 1
  echo "   the service restored level 4, then the agent set the level of status Off:"
  run "$bin/glimsim.exe" history | indent
  run "$bin/glimsim.exe" clear >/dev/null

  run "$bin/glimsession.exe" unlock
  local press want
  for press in 1 2 3; do
    want=$((press % 3))
    step "unlocked press $press: the agent advances the status to ${names[$want]}"
    run "$bin/glimsim.exe" press
    wait_records "$press" || echo "   (no notice recorded)"
    wait_status "$want" || true
    osd "${names[$want]}"
    show
  done

  step "lock the session and press: the service switches Off -> On itself, the agent only shows the OSD"
  run "$bin/glimsession.exe" lock
  run "$bin/glimsim.exe" press
  wait_records 4 || echo "   (no notice recorded)"
  wait_status 1 || true
  osd
  show

  step "what the settings-application stand-in recorded (one notice per relay, in order)"
  indent <"$record"

  step "stop and uninstall the service, end the agent"
  glimward x -K
  glimward x -U
  run "$bin/glimscreen.exe" close "$agent_title" --wait 10000
  utf16 "$slog" >"$out/agent-service.log.txt"
  utf16 "$alog" >"$out/agent.log.txt"
  echo "   logs saved as $out/agent-service.log.txt and $out/agent.log.txt"
)

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  demo_agent "$@"
fi
