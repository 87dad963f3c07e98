#!/usr/bin/env bash
# Installs what the real-kernel test tier needs, when missing:
#   - Debian's current amd64 kernel image, resolved from linux-image-amd64 and
#     extracted into the cache folder (never installed as this machine's
#     kernel), and the matching headers package, resolved from
#     linux-headers-amd64 and installed normally;
#   - qemu-system-x86 (without recommends), busybox-static and ovmf (the
#     UEFI firmware of the tier's UEFI guests), and for the Secure Boot
#     guest dkms (without recommends, so no headers or kernel of its own),
#     sbsigntool and systemd-boot-efi (the stub of its one-file boot image);
#   - the kernel's style checker: scripts/checkpatch.pl and its data files
#     taken from the linux-source package of the same kernel series, which
#     is downloaded, read and dropped again.
# The cache folder is $ZORVIK_KTIER_CACHE, by default
# /var/cache/zorvik-kernel-tier. Afterwards it holds:
#   release            the kernel release, e.g. 6.1.0-57-amd64
#   <release>/vmlinuz  the kernel to boot
#   <release>/config   its configuration
#   <release>/efivarfs.ko  the efivarfs module from the same package,
#                      uncompressed (the guest's busybox insmod reads plain
#                      modules only)
#   checkpatch/checkpatch.pl   with spelling.txt and const_structs.checkpatch
#                      beside it (run it with --no-tree)
# A second run with everything in place only reads the package lists.
# Needs root (apt-get), like scripts/install-deps.sh. A package index that
# can't be read is reported and skipped (scripts/apt-lib.sh).
set -euo pipefail
apt_who=kernel-tier
. "$(dirname "$0")/../apt-lib.sh"

cache=${ZORVIK_KTIER_CACHE:-/var/cache/zorvik-kernel-tier}

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

# The concrete package a meta package depends on, e.g. linux-image-6.1.0-57-amd64.
resolve() {
  apt-cache depends "$1" 2>/dev/null | awk -v pfx="$2" '$1 == "Depends:" && index($2, pfx) == 1 { print $2; exit }'
}

candidate() {
  apt-cache policy "$1" 2>/dev/null | awk '$1 == "Candidate:" { print $2; exit }'
}

updated=0
update_lists() {
  if [ "$updated" = 0 ]; then
    apt_update
    updated=1
  fi
}

# Resolve the image/headers pair from the local package lists; refresh the
# lists once when they do not know the meta packages.
image_pkg=$(resolve linux-image-amd64 linux-image-)
if [ -z "$image_pkg" ]; then
  update_lists
  image_pkg=$(resolve linux-image-amd64 linux-image-)
fi
headers_pkg=$(resolve linux-headers-amd64 linux-headers-)
if [ -z "$image_pkg" ] || [ -z "$headers_pkg" ]; then
  echo "kernel-tier: cannot resolve linux-image-amd64 / linux-headers-amd64" >&2
  exit 1
fi
release=${image_pkg#linux-image-}
if [ "linux-headers-$release" != "$headers_pkg" ]; then
  echo "kernel-tier: image $image_pkg and headers $headers_pkg do not match" >&2
  exit 1
fi
version=$(candidate "$image_pkg")
if [ -z "$version" ] || [ "$(candidate "$headers_pkg")" != "$version" ]; then
  echo "kernel-tier: no common version for $image_pkg and $headers_pkg" >&2
  exit 1
fi

# Packages installed normally.
missing=()
for p in qemu-system-x86 busybox-static ovmf dkms sbsigntool systemd-boot-efi; do
  installed "$p" || missing+=("$p")
done
if ! installed "$headers_pkg" || [ "$(dpkg-query -W -f='${Version}' "$headers_pkg")" != "$version" ]; then
  missing+=("$headers_pkg=$version")
fi
if [ "${#missing[@]}" -gt 0 ]; then
  echo "kernel-tier: installing ${missing[*]}"
  update_lists
  apt_install -- "${missing[@]}"
fi

# The kernel image: downloaded and unpacked into the cache, not installed.
# The files are unpacked beside the folder and then moved in one by one, so
# that a tier running from an older cache of the same release keeps its
# kernel while a file is added.
dir=$cache/$release
if [ ! -s "$dir/vmlinuz" ] || [ ! -s "$dir/efivarfs.ko" ] || [ "$(cat "$dir/version" 2>/dev/null)" != "$version" ]; then
  echo "kernel-tier: fetching $image_pkg $version"
  update_lists
  work=$cache/$release.fetch
  rm -rf "$work"
  mkdir -p "$work/deb" "$work/root"
  (cd "$work/deb" && apt_download -- "$image_pkg=$version")
  # Only the kernel, its configuration and the one module the UEFI guest
  # loads are needed; Debian ships the module plain or xz-compressed.
  dpkg-deb --fsys-tarfile "$work"/deb/*.deb |
    tar -x -C "$work/root" --wildcards "./boot/vmlinuz-$release" "./boot/config-$release" \
      "./lib/modules/$release/kernel/fs/efivarfs/efivarfs.ko*"
  module=$(find "$work/root/lib/modules" -name 'efivarfs.ko*' | head -1)
  case $module in
    *.xz) xz -d -c "$module" > "$work/efivarfs.ko" ;;
    *.zst) zstd -q -d -c "$module" > "$work/efivarfs.ko" ;;
    *) mv "$module" "$work/efivarfs.ko" ;;
  esac
  mkdir -p "$dir"
  rm -f "$dir/version"
  mv "$work/root/boot/vmlinuz-$release" "$dir/vmlinuz"
  mv "$work/root/boot/config-$release" "$dir/config"
  mv "$work/efivarfs.ko" "$dir/efivarfs.ko"
  rm -rf "$work"
  echo "$version" > "$dir/version"
fi
# The style checker of the kernel series (e.g. linux-source-6.1): only the
# script and the two data files it reads are kept. Only the Secure Boot
# guest needs it, so a package that can't be had is a warning here (that
# guest then names what is missing).
series=$(echo "$release" | cut -d. -f1,2)
checker=$cache/checkpatch
if [ ! -s "$checker/checkpatch.pl" ] || [ "$(cat "$checker/series" 2>/dev/null)" != "$series" ]; then
  echo "kernel-tier: fetching the style checker from linux-source-$series"
  update_lists
  work=$cache/checkpatch.fetch
  rm -rf "$work"
  mkdir -p "$work/deb" "$work/root"
  if (cd "$work/deb" && apt_download -- "linux-source-$series") &&
     dpkg-deb --fsys-tarfile "$work"/deb/*.deb |
       tar -x -O "./usr/src/linux-source-$series.tar.xz" |
       tar -x -J -C "$work/root" --strip-components=2 --wildcards \
         '*/scripts/checkpatch.pl' '*/scripts/spelling.txt' '*/scripts/const_structs.checkpatch'; then
    rm -rf "$checker"
    mkdir -p "$checker"
    mv "$work/root/checkpatch.pl" "$work/root/spelling.txt" "$work/root/const_structs.checkpatch" "$checker/"
    echo "$series" > "$checker/series"
  else
    echo "kernel-tier: warning: no style checker from linux-source-$series; going on without it" >&2
  fi
  rm -rf "$work"
fi

echo "$release" > "$cache/release.new"
mv "$cache/release.new" "$cache/release"

# Debian splits the tree: build/ holds the configured part, source/ the
# common headers (include/linux).
if [ ! -f "/lib/modules/$release/build/Makefile" ] || [ ! -f "/lib/modules/$release/source/include/linux/mm.h" ]; then
  echo "kernel-tier: headers of $release are not under /lib/modules/$release" >&2
  exit 1
fi
echo "kernel-tier: kernel $release ($version) ready in $dir"
