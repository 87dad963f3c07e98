#!/usr/bin/env bash
# Installs and builds only what it runs (the host ZORVIK and fwemu), when
# missing, and runs ZORVIK on the bundled virtual platform with the given
# words (default: /GetBootOrder). The firmware's state is kept in
# build/demo-platform.json between runs, so a /SetMode UEFI is seen by the
# next /GetMode; delete that file to start again from
# platforms/legacy-desktop.json.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh" --demo
"$top/scripts/build.sh" --demo --target fwemu zorvik_host >/dev/null
state="$top/build/demo-platform.json"
[ -f "$state" ] || cp "$top/platforms/legacy-desktop.json" "$state"
[ "$#" -gt 0 ] || set -- /GetBootOrder
exec "$top/build/fwemu" --platform "$state" --save "$state" -- "$top/build/host/ZORVIK" "$@"
