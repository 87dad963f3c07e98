#!/usr/bin/env bash
# The set-up's fetch step (scripts/fetch-musl-i386.sh) against a package
# source of its own, offline: a local repository with two tiny packages named
# like the ones fetched, beside a source whose index can't be read. The step
# must fetch and unpack both packages and name the unread index; with a
# package that no source has, it must fail naming that package. apt runs on a
# configuration of the test's own (APT_CONFIG); the machine's apt
# configuration, indexes, caches and package state must stay as they were.
#   setup_fetch.sh <source dir>
set -euo pipefail
top=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

apt_state() {
  find /etc/apt /var/lib/apt /var/cache/apt /var/lib/dpkg/status -printf '%p %s %T@\n' 2> /dev/null | sort
}
before=$(apt_state)

# A repository with "musl" and, when asked, "musl-dev" for i386.
make_repo() {
  local repo=$tmp/repo pkg
  rm -rf "$repo"
  mkdir -p "$repo"
  for pkg in "$@"; do
    local root=$tmp/pkg/$pkg
    mkdir -p "$root/DEBIAN" "$root/usr/lib/i386-linux-musl"
    printf 'Package: %s\nVersion: 1.0\nArchitecture: i386\nMaintainer: test <test@example.invalid>\nDescription: stand-in\n' \
      "$pkg" > "$root/DEBIAN/control"
    echo "$pkg" > "$root/usr/lib/i386-linux-musl/$pkg.txt"
    [ "$pkg" = musl-dev ] && echo archive > "$root/usr/lib/i386-linux-musl/libc.a"
    dpkg-deb -Zgzip --build --root-owner-group "$root" "$repo/${pkg}_1.0_i386.deb" > /dev/null
  done
  (cd "$repo" && dpkg-scanpackages --multiversion . /dev/null 2> /dev/null > Packages)
}

mkdir -p "$tmp/sources.list.d"
cat > "$tmp/sources.list" << LIST
deb [trusted=yes] file:$tmp/repo ./
deb [trusted=yes] file:$tmp/unreadable ./
LIST
cat > "$tmp/apt.conf" << CONF
Dir::Etc::SourceList "$tmp/sources.list";
Dir::Etc::SourceParts "$tmp/sources.list.d";
Dir::State::status "$tmp/status";
Acquire::Languages "none";
CONF
touch "$tmp/status"

fetch() {
  APT_CONFIG=$tmp/apt.conf ZORVIK_MUSL_I386_ROOT=$tmp/musl ZORVIK_APT_RETRY_SECONDS=1 \
    "$top/scripts/fetch-musl-i386.sh" > "$tmp/out" 2> "$tmp/err"
}

# Both packages reachable, one index unreadable: fetched, with one warning.
make_repo musl musl-dev
fetch || fail "fetch ended with $? although both packages are reachable: $(cat "$tmp/err")"
for f in musl.txt musl-dev.txt libc.a; do
  [ -f "$tmp/musl/usr/lib/i386-linux-musl/$f" ] || fail "$f not unpacked"
done
[ "$(grep -c 'warning: package index not read' "$tmp/err")" = 1 ] || fail "want one warning line, got: $(cat "$tmp/err")"
grep -q "file:$tmp/unreadable" "$tmp/err" || fail "the warning does not name the unread index: $(cat "$tmp/err")"

# musl-dev in no source: the step fails and names it; the cache stays absent.
rm -rf "$tmp/musl"
make_repo musl
if fetch; then fail "fetch succeeded without musl-dev"; fi
grep -q 'cannot download package musl-dev from any package source' "$tmp/err" ||
  fail "the failure does not name musl-dev: $(cat "$tmp/err")"
[ ! -e "$tmp/musl" ] || fail "a partial cache was left behind"

[ "$(apt_state)" = "$before" ] || fail "the machine's apt state changed"
echo "PASS"
