#!/usr/bin/env bash
# Unpacks Debian's i386 musl (musl, musl-dev), which the release ZORVIK links
# against, into a cache folder, $ZORVIK_MUSL_I386_ROOT (default
# /var/cache/zorvik-musl-i386), when it is not there yet. The packages are
# downloaded, not installed: this machine's package state and architectures
# stay as they are, and apt reads the i386 package indexes into a temporary
# folder. scripts/build.sh runs it before it configures the release build.
set -euo pipefail
. "$(dirname "$0")/apt-lib.sh"

musl_root=${ZORVIK_MUSL_I386_ROOT:-/var/cache/zorvik-musl-i386}
[ -f "$musl_root/usr/lib/i386-linux-musl/libc.a" ] && exit 0

echo "Fetching Debian's i386 musl into $musl_root"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$work/deb"
opts=(-o "Dir::State::Lists=$work/lists" -o "Dir::Cache=$work/cache"
  -o "APT::Architectures::=i386" -o "APT::Architecture=i386" -o "APT::Sandbox::User=root")
apt_update "${opts[@]}"
(cd "$work/deb" && apt_download "${opts[@]}" -- musl musl-dev)
rm -rf "$musl_root.new"
mkdir -p "$musl_root.new"
for deb in "$work"/deb/*.deb; do
  dpkg-deb -x "$deb" "$musl_root.new"
done
rm -rf "$musl_root"
mv "$musl_root.new" "$musl_root"
