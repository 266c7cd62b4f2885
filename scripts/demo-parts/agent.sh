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
  local glim_override glim_logkey agent_title
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
  build=$(cd "${1:?usage: demo_agent BUILD_DIR}" && pwd)
  bin="$build/bin"
  out="$build/demo"
  source "$root/scripts/demo-parts/lib.sh" "$build"
  glim_vars
  record="$out/zentia-record.txt"
  local names=(off on auto)

  run() { glim_run "$@"; }
  quiet() { glim_quiet "$@"; }
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
    quiet run "$bin/glimscreen.exe" close Zentia
    [ -n "$app" ] && { wait "$app" 2>/dev/null || true; }
    glim_remove
    rm -f "$out"/osd-*.bmp
  }
  trap cleanup EXIT

  step "load the simulated keyboard-controller driver; install Glimward.exe and Glimagent.exe where the installer puts them"
  glim_install
  rm -f "$out"/osd-*.png "$record"
  printf '[Glimkit]\r\nKBStatus=0\r\nKBBrightness=6\r\nCurrentKBBrightness=4\r\n' >"$ini"
  echo "   KBStatus=0 (off), KBBrightness=6, CurrentKBBrightness=4; service log and agent log switched on"

  step "start the service (Glimward.exe x -I, x -S) and the agent's main instance (Glimagent.exe, no command word)"
  glim_start
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
