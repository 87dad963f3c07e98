#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when missing,
# and unpacks Debian's i386 musl (for the release ZORVIK) into a cache folder,
# $ZORVIK_MUSL_I386_ROOT (default /var/cache/zorvik-musl-i386), without
# installing it: this machine's package state and architectures stay as they
# are; apt reads the i386 package lists into a folder of the cache.
#   install-deps.sh [--tests]   --tests: also what only the tests use (lintian,
#                               man, groff; the real-kernel tier has its own script)
set -euo pipefail

packages=(
  build-essential cmake g++-multilib binutils file
  libgtest-dev libgmock-dev googletest
  nlohmann-json3-dev
  qemu-user-static busybox-static
  musl-dev scdoc
)
if [ "${1:-}" = "--tests" ]; then
  packages+=(lintian man-db groff-base dpkg-dev clang-14 libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

musl_root=${ZORVIK_MUSL_I386_ROOT:-/var/cache/zorvik-musl-i386}
if [ ! -f "$musl_root/usr/lib/i386-linux-musl/libc.a" ]; then
  echo "Fetching Debian's i386 musl into $musl_root"
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$work/deb"
  apt_i386=(apt-get -qq -o "Dir::State::Lists=$work/lists" -o "Dir::Cache=$work/cache"
    -o "APT::Architectures::=i386" -o "APT::Architecture=i386" -o "APT::Sandbox::User=root")
  "${apt_i386[@]}" update
  (cd "$work/deb" && "${apt_i386[@]}" download musl musl-dev)
  rm -rf "$musl_root.new"
  mkdir -p "$musl_root.new"
  for deb in "$work"/deb/*.deb; do
    dpkg-deb -x "$deb" "$musl_root.new"
  done
  rm -rf "$musl_root"
  mv "$musl_root.new" "$musl_root"
fi
