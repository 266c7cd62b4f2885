#!/usr/bin/env bash
# Demo part: the simulated keyboard-controller filter driver and the device requests the
# programs make. Leaves the driver loaded for the parts that follow.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh" "$1"

step "Load the simulated keyboard-controller driver through the service control manager"
win glimsim.exe driver install
win glimsim.exe driver status

step "Set the backlight to level 7 with the programs' set request, then read it back"
win glimsim.exe reset
win glimsim.exe set 7
win glimsim.exe level

step "A driver that answers with 0 bytes: the request counts as failed, the level stays"
win glimsim.exe fail 1 zero
win glimsim.exe set 3 || true
win glimsim.exe level

step "A driver that fails the request outright"
win glimsim.exe fail 1 error
win glimsim.exe set 4 || true

step "What the driver saw, request by request"
win glimsim.exe history

step "A hotkey press while no service listens for it"
win glimsim.exe press || true
