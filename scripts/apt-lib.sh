# Package steps shared by the set-up scripts (sourced, not run). A mirror that
# is mid-sync or a source that can't be reached fails one package index, while
# the packages needed usually still come from the other sources; so a failed
# index is a warning, and a step fails only when a needed package can't be
# installed or downloaded, after one retry.
#
# Each function takes apt options first (e.g. -o Dir::State::Lists=...),
# then "--", then package names:
#   apt_update   [OPTS...]                 read the package indexes
#   apt_install  [OPTS...] -- PACKAGE...   install on this machine
#   apt_download [OPTS...] -- PACKAGE...   download .deb files into the current folder
# Messages start with $apt_who (the calling script's name).
# ZORVIK_APT_RETRY_SECONDS is the pause before the retry (default 5).

apt_who=${apt_who:-$(basename "$0" .sh)}
export DEBIAN_FRONTEND=noninteractive

# Splits "OPTS... -- PACKAGES..." into the arrays apt_opts and apt_pkgs.
apt_split() {
  apt_opts=()
  apt_pkgs=()
  while [ "$#" -gt 0 ] && [ "$1" != "--" ]; do
    apt_opts+=("$1")
    shift
  done
  [ "$#" -gt 0 ] && shift
  apt_pkgs=("$@")
}

# Reads the package indexes. An index that can't be read gets one warning line
# naming it; the step goes on with the indexes that were read.
apt_update() {
  local log status=0
  log=$(mktemp)
  apt-get -qq "$@" update > /dev/null 2> "$log" || status=$?
  # "Failed to fetch <uri>  <reason>" names an index (an error for a file
  # that doesn't match its release file, a warning for a source that can't
  # be reached); other errors (an unsigned repository) name their source.
  sed -n -E -e 's/^[EW]: Failed to fetch ([^ ]+) +(.*)$/\1 (\2)/p' \
    -e '/^[EW]: (Some index files|Failed to fetch)/d' -e 's/^E: (.*)$/\1/p' "$log" |
    while IFS= read -r line; do
      echo "$apt_who: warning: package index not read, going on without it: $line" >&2
    done
  if [ "$status" != 0 ] && ! grep -q -E '^E: ' "$log"; then
    echo "$apt_who: warning: apt-get update ended with status $status, going on with the indexes as they are" >&2
  fi
  rm -f "$log"
  return 0
}

# Runs "$@" once more after a pause when it fails the first time.
apt_retry() {
  "$@" && return 0
  sleep "${ZORVIK_APT_RETRY_SECONDS:-5}"
  "$@"
}

# The message for a package that could not be had, naming it and what to try.
apt_give_up() {
  local what=$1 pkg=$2
  echo "$apt_who: error: cannot $what package $pkg from any package source." >&2
  echo "$apt_who: check that the machine's apt sources (/etc/apt/sources.list," \
    "/etc/apt/sources.list.d) offer $pkg, run 'apt-get update', and try again;" \
    "a mirror that is being synchronised usually recovers within minutes." >&2
}

apt_install() {
  apt_split "$@"
  [ "${#apt_pkgs[@]}" -gt 0 ] || return 0
  if apt_retry apt-get install -y -qq --no-install-recommends "${apt_opts[@]}" "${apt_pkgs[@]}" > /dev/null; then
    return 0
  fi
  # Name the packages that have no version to install; else the first one.
  local pkg named=0
  for pkg in "${apt_pkgs[@]}"; do
    if ! apt-cache "${apt_opts[@]}" policy "${pkg%%=*}" 2> /dev/null | grep -q -E 'Candidate: [^(]'; then
      apt_give_up install "$pkg"
      named=1
    fi
  done
  [ "$named" = 1 ] || apt_give_up install "${apt_pkgs[*]}"
  return 1
}

# Downloads one package at a time, so that a failure names its package.
apt_download() {
  apt_split "$@"
  local pkg
  for pkg in "${apt_pkgs[@]}"; do
    if ! apt_retry apt-get download -qq -o APT::Sandbox::User=root "${apt_opts[@]}" "$pkg"; then
      apt_give_up download "$pkg"
      return 1
    fi
  done
}
