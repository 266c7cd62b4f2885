#!/usr/bin/env bash
# Demo part: the automatic rules through both real programs. Installs and starts the
# service and the agent's main instance as the agent part does, with the simulated ambient
# light sensor, the power stand-in (a program keeps the display on) and a UTF-16 settings
# file. In Auto walks the light from dark to daylight and shows lux -> band -> level; switches
# to On with glimctl and shows glimctl's status; in On lets the user go idle for 3 seconds
# (off) and touches the mouse (back); then shows a "Movie - Player" window covering the
# monitor (off 5 s later, back when it closes).
# Removes everything at the end.
#   sensing.sh BUILD_DIR        (the Wine environment must be up: scripts/wine-env up)

demo_sensing() (
  set -euo pipefail
  local root build bin out dir data ini slog alog backup= ini_backup= holder= main=
  local glim_override glim_logkey agent_title
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
  build=$(cd "${1:?usage: demo_sensing BUILD_DIR}" && pwd)
  bin="$build/bin"
  out="$build/demo"
  source "$root/scripts/demo-parts/lib.sh" "$build"
  glim_vars
  local powrprof_override='HKCU\Software\Wine\AppDefaults\Glimagent.exe\DllOverrides'
  local simpower='HKCU\Software\Glimkit\Sim'
  local classes='HKLM\Software\Classes\CLSID'
  # CLSID_SensorManager and CLSID_PortableDeviceValues, both served by GlimSimSensor.dll.
  local clsids=('{77A1C827-FCD2-4689-8915-9D613CC5FA3E}' '{0C15D503-D017-47CE-9016-7B3F978721CC}')
  local bands=('none' 'Darkness' 'DimIndoors' 'bright' 'bright' 'bright' 'bright')

  step() { echo; echo "== sensing: $*"; }
  indent() { tr -d '\r' | sed 's/^/   /'; }
  winpath() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }
  level() { glim_run "$bin/glimsim.exe" level | tr -d '\r' | sed -n 's/.*level is \([0-9-]*\).*/\1/p'; }
  # Waits up to $2 seconds (default 3) for the device level to become $1.
  wait_level() {
    local i
    for i in $(seq $((${2:-3} * 5))); do [ "$(level)" = "$1" ] && return 0; sleep 0.2; done
    return 1
  }
  # The settings file as UTF-16 with a byte-order mark, from UTF-8 text on stdin.
  write_ini() { { printf '\xff\xfe'; sed 's/$/\r/' | iconv -f UTF-8 -t UTF-16LE; } >"$ini"; }
  set_ini() {  # KEY VALUE: changes one key of the UTF-16 file
    local text
    text=$(iconv -f UTF-16 -t UTF-8 "$ini" | tr -d '\r' | sed "s/^$1=.*/$1=$2/")
    printf '%s\n' "$text" | write_ini
  }
  notify() { glim_run "$bin/ZentiaSim.exe" notify "$@" >/dev/null; }
  last_band() {
    iconv -f UTF-16 -t UTF-8 "$alog" 2>/dev/null | tr -d '\r' | grep -o 'status is [0-9]*' | tail -n 1 | grep -o '[0-9]*$' || true
  }
  # A lux change at the sensor: the band the agent derived and the level 500 ms later.
  light() {
    local cmd=$1 lux=$2 want=$3 band
    glim_run "$bin/glimsensor.exe" "$cmd" 0 "$lux" | indent
    wait_level "$want" || true
    sleep 0.7   # past the settling time: nothing else follows
    band=$(last_band)
    printf '   %6s lux -> band %s (%s) -> level %s  (expected %s)\n' "$lux" "$band" "${bands[$band]:-?}" "$(level)" "$want"
  }
  cleanup() {
    glim_remove
    glim_quiet wine reg delete "$powrprof_override" /f
    glim_quiet wine reg delete "$simpower" /f
    local c
    for c in "${clsids[@]}"; do glim_quiet wine reg delete "$classes\\$c" /f /reg:64; done
    rm -f "$dir/powrprof.dll"
  }
  trap cleanup EXIT

  step "install and start the service and the agent with the simulated light sensor and power stand-in"
  glim_install
  local c
  for c in "${clsids[@]}"; do
    glim_quiet wine reg add "$classes\\$c\\InprocServer32" /ve /t REG_SZ /d "$(winpath "$bin/GlimSimSensor.dll")" /f /reg:64
    glim_quiet wine reg add "$classes\\$c\\InprocServer32" /v ThreadingModel /t REG_SZ /d Both /f /reg:64
  done
  # Wine cannot tell that a program keeps the display on: Glimagent.exe alone loads the
  # stand-in powrprof.dll, which reports ES_DISPLAY_REQUIRED | ES_USER_PRESENT.
  cp "$bin/simpower/powrprof.dll" "$dir/"
  glim_quiet wine reg add "$powrprof_override" /v powrprof /t REG_SZ /d native /f
  glim_quiet wine reg add "$simpower" /v ExecutionState /t REG_DWORD /d 6 /f
  printf '[Glimkit]\nKBStatus=2\nKBBrightness=6\nInActiveTime=なし\nFullScreen5sClose=1\nInFullScreenScopeWindowName=- Player\n' | write_ini
  echo "   settings (UTF-16): KBStatus=2 (Auto), KBBrightness=6, InActiveTime=なし, FullScreen5sClose=1,"
  echo "   InFullScreenScopeWindowName=- Player; Darkness below 5 lux, DimIndoors up to 60 lux"
  glim_start
  sleep 1
  echo "   level after start-up in Auto (nothing until the first reading): $(level)"

  step "Auto: walk the light from dark to daylight (the level follows 500 ms after each change of band)"
  light enter 2 6
  light report 30 10
  light report 300 0
  light report 20000 0
  light report 40 10
  iconv -f UTF-16 -t UTF-8 "$alog" | tr -d '\r' | grep -E 'AmbientLightStatusChanged|auto set brightness' | sed 's/^/     /' || true

  step "On, idle time 3秒: no input for 3 seconds switches the light off, the next input brings it back"
  # glimctl speaks the settings application's contract: the key under the lock, the notice, the event.
  echo "   glimctl set status on"
  glim_run "$bin/glimctl.exe" set status on | indent
  wait_level 6 || true
  echo "   KBStatus=1 (On) set with glimctl, applied by the agent: level $(level)"
  echo "   glimctl status"
  glim_run "$bin/glimctl.exe" status | indent
  set_ini InActiveTime '3秒'
  notify --wparam 2
  echo "   InActiveTime=3秒 written (UTF-16) and announced"
  if wait_level 0 8; then echo "   no input: level $(level)"; else echo "   (the light did not go off: level $(level))"; fi
  glim_run "$bin/glimscreen.exe" input | indent
  if wait_level 6 3; then echo "   input: level $(level)"; else echo "   (the light did not come back: level $(level))"; fi
  set_ini InActiveTime 'なし'
  notify --wparam 2
  echo "   InActiveTime=なし: idle switching off ends"

  step "full screen: a \"Movie - Player\" window covers the monitor while the display must stay on"
  glim_run "$bin/glimscreen.exe" cover "Movie - Player" --wait 12000 >"$out/sensing-cover.txt" 2>&1 &
  local cover=$! start=$SECONDS
  if wait_level 0 12; then
    echo "   level 0 about $((SECONDS - start)) s after the window came up (checked every 2 s, off 5 s later)"
  else
    echo "   (the light did not go off: level $(level))"
  fi
  wait "$cover" || true
  indent <"$out/sensing-cover.txt"
  if wait_level 6 5; then echo "   the window closed: level $(level)"; else echo "   (the light did not come back: level $(level))"; fi
  iconv -f UTF-16 -t UTF-8 "$alog" | tr -d '\r' | grep -E 'enter full|timer_enterfullproc|exit full' | sed 's/^/     /' || true

  step "stop and uninstall the service, end the agent"
  glim_run "$dir/Glimward.exe" x -K
  glim_run "$dir/Glimward.exe" x -U
  glim_run "$bin/glimscreen.exe" close "$agent_title" --wait 10000
  iconv -f UTF-16 -t UTF-8 "$alog" | tr -d '\r' >"$out/sensing-agent.log.txt" || true
  echo "   agent log saved as $out/sensing-agent.log.txt"
)

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  demo_sensing "$@"
fi
