#!/usr/bin/env bash
# Builds what is missing and runs ZORVIK with the given words (default:
# /GetBootOrder).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
"$top/scripts/build.sh" >/dev/null
[ "$#" -gt 0 ] || set -- /GetBootOrder
exec "$top/build/host/ZORVIK" "$@"
