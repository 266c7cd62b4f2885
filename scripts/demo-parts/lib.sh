# Shared by the demo parts: step headings and running Windows programs in the prefix.
# Source it with the build directory in $1.
demo_build=$(cd "$1" && pwd)
demo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
demo_out="$demo_build/demo"
mkdir -p "$demo_out"
eval "$(bash "$demo_root/scripts/wine-env" shell "$demo_build")"
demo_step_no=${demo_step_no:-0}

step() {
  demo_step_no=$((demo_step_no + 1))
  printf '\n== %s\n' "$*"
}

# Runs a Windows program of the build (bin/NAME) in the prefix and shows its output.
win() {
  local prog=$1; shift
  bash "$demo_root/scripts/wine-env" run "$demo_build" "$demo_build/bin/$prog" "$@" | sed 's/\r$//; s/^/   /'
}

# Shows a value of the settings file.
ini_get() {
  local ini="$WINEPREFIX/drive_c/ProgramData/Vessik/Glimkit/Glimkit.ini"
  [ -f "$ini" ] || { echo "(no settings file)"; return; }
  iconv -f UTF-16LE -t UTF-8 "$ini" 2>/dev/null | grep -a "^$1=" || grep -a "^$1=" "$ini" || echo "$1 not set"
}

# Both programs installed and running as after a logon, for the parts that need them.
# These work on the calling function's variables (declare them local there): root build
# bin dir data ini slog alog main holder backup ini_backup.
glim_vars() {
  dir="$WINEPREFIX/drive_c/Program Files (x86)/Vessik/Glimkit"
  data="$WINEPREFIX/drive_c/ProgramData/Vessik/Glimkit"
  ini="$data/Glimkit.ini"
  slog="$data/Service.log"
  alog="$data/Glimagent.log"
  glim_override='HKCU\Software\Wine\AppDefaults\Glimward.exe\DllOverrides'
  glim_logkey='HKLM\Software\Vessik\Glimagent\DbgLog'
  agent_title='BACKLIGHT0314FE0E-6416-4CB9-9698-F1C731E00A25'
}
glim_run() { bash "$root/scripts/wine-env" run "$build" "$@"; }
glim_quiet() { "$@" >/dev/null 2>&1 </dev/null 9>&- || true; }

# Loads the simulated driver, copies the programs where the installer puts them (keeping
# an installed agent and the settings file aside), switches the service and agent logs on
# and keeps Wine's desktop alive. The caller writes the settings file afterwards.
glim_install() {
  glim_run "$bin/glimsim.exe" driver install
  glim_run "$bin/glimsim.exe" reset
  mkdir -p "$dir" "$data" "$build/demo"
  if [ -f "$dir/Glimagent.exe" ]; then backup="$dir/Glimagent.exe.demo-backup"; mv -f "$dir/Glimagent.exe" "$backup"; fi
  cp "$bin/Glimward.exe" "$bin/Glimagent.exe" "$bin/simdll/wtsapi32.dll" "$dir/"
  if [ -f "$ini" ]; then ini_backup="$ini.demo-backup"; cp -f "$ini" "$ini_backup"; fi
  # Wine never reports a locked session: Glimward.exe alone loads the stand-in wtsapi32.dll.
  glim_quiet wine reg add "$glim_override" /v wtsapi32 /t REG_SZ /d native /f
  : >"$slog"   # an existing Service.log switches the service log on
  # The agent's diagnostics log, configured in the registry.
  glim_quiet wine reg add "$glim_logkey" /v enabled /t REG_DWORD /d 1 /f
  glim_quiet wine reg add "$glim_logkey" /v logpath /t REG_SZ /d 'C:\ProgramData\Vessik\Glimkit\Glimagent.log' /f
  glim_quiet wine reg add "$glim_logkey" /v append /t REG_DWORD /d 0 /f
  glim_quiet wine reg add "$glim_logkey" /v loglevel /t REG_DWORD /d 0 /f
  # Wine's desktop process (explorer.exe, whose token the launcher borrows) lives only while
  # some process uses the display: keep one doing so for the demo.
  glim_run "$bin/glimsession.exe" desktop 600 >"$build/demo/desktop-holder.txt" 2>&1 &
  holder=$!
  glim_run "$bin/glimsession.exe" explorer
}

# Installs and starts the service, then the agent's main instance with no command word.
glim_start() {
  glim_run "$dir/Glimward.exe" x -I
  glim_run "$dir/Glimward.exe" x -S
  glim_run "$dir/Glimagent.exe" >/dev/null 2>&1 &
  main=$!
  glim_run "$bin/glimscreen.exe" window "$agent_title" --wait 15000
}

# Undoes glim_install and glim_start, whatever state they reached.
glim_remove() {
  glim_quiet glim_run "$bin/glimscreen.exe" close "$agent_title"
  glim_quiet glim_run "$bin/glimsession.exe" desktop-end
  local pid
  for pid in ${main:-} ${holder:-}; do wait "$pid" 2>/dev/null || true; done
  [ -f "$dir/Glimward.exe" ] && glim_quiet glim_run "$dir/Glimward.exe" x -U
  glim_quiet glim_run "$bin/glimsession.exe" clear
  glim_quiet wine reg delete "$glim_override" /f
  glim_quiet wine reg delete "$glim_logkey" /f
  rm -f "$dir/Glimward.exe" "$dir/wtsapi32.dll" "$dir/Glimagent.exe" "$slog" "$alog"
  [ -n "${backup:-}" ] && mv -f "$backup" "$dir/Glimagent.exe" || true
  rm -f "$ini"
  [ -n "${ini_backup:-}" ] && mv -f "$ini_backup" "$ini" || true
  glim_quiet glim_run "$bin/glimsim.exe" driver remove
}
