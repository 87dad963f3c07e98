#!/usr/bin/env bash
# Installs the Debian packages that a set-up step needs, when missing.
#   install-deps.sh --demo    what the demo builds and runs: the host ZORVIK and fwemu
#   install-deps.sh           what scripts/build.sh builds: also the tests and the man pages
#   install-deps.sh --tests   also what only the tests use (lintian, man, groff,
#                             clang, clang-format; the real-kernel tier has its own script)
# The i386 musl of the release ZORVIK is not installed here: scripts/build.sh
# fetches it (scripts/fetch-musl-i386.sh) when it configures the release build.
# A package index that can't be read is reported and skipped (scripts/apt-lib.sh).
set -euo pipefail
. "$(dirname "$0")/apt-lib.sh"

packages=(build-essential cmake binutils nlohmann-json3-dev busybox-static musl-dev)
case "${1:-}" in
  --demo) ;;
  "") packages+=(g++-multilib file libgtest-dev libgmock-dev googletest qemu-user-static scdoc) ;;
  --tests)
    packages+=(g++-multilib file libgtest-dev libgmock-dev googletest qemu-user-static scdoc)
    packages+=(lintian man-db groff-base dpkg-dev clang-14 libclang-rt-14-dev clang-format-14)
    ;;
  *)
    echo "usage: install-deps.sh [--demo | --tests]" >&2
    exit 2
    ;;
esac

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  apt_update
  apt_install -- "${missing[@]}"
fi
