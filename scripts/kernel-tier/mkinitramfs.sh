#!/usr/bin/env bash
# Builds the real-kernel tier's initramfs: busybox-static, the tier's /init,
# and the files given as DEST=SOURCE pairs (DEST relative to the root).
#   mkinitramfs.sh OUT.cpio.gz INIT [DEST=SOURCE ...]
set -euo pipefail
out=$1
init=$2
shift 2

busybox=/bin/busybox
if ! file -L "$busybox" 2>/dev/null | grep -q 'statically linked'; then
  echo "mkinitramfs: $busybox is not the static busybox (install busybox-static)" >&2
  exit 1
fi

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/bin" "$root/ktier"
cp "$busybox" "$root/bin/busybox"
cp "$init" "$root/init"
chmod 755 "$root/init"
for pair in "$@"; do
  dest=${pair%%=*}
  src=${pair#*=}
  mkdir -p "$root/$(dirname "$dest")"
  cp -a "$src" "$root/$dest"
done
(cd "$root" && find . -print0 | LC_ALL=C sort -z | busybox cpio -o -0 -H newc 2>/dev/null) | gzip -1 > "$out.tmp"
mv "$out.tmp" "$out"
