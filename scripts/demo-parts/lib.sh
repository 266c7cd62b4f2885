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
