#!/bin/bash
# Makes the source package and the Debian packages with dpkg-buildpackage, as `make package` does,
# but packing the build tree TREE (built already, with the same flags) rather than building another,
# into SCRATCH/debs, and unpacks the packages without root into SCRATCH/root.
#
#   make_packages.sh SOURCE TREE SCRATCH
#
# Exit 77 (skipped) where Debian's packaging tools are missing.
set -euo pipefail

source_dir=$1
tree=$2
scratch=$3
for tool in dpkg-buildpackage dh dh_python3 dpkg-deb; do
  command -v "$tool" >/dev/null ||
    { echo "SKIPPED: $tool is missing (scripts/install-deps installs dpkg-dev, debhelper and dh-python)"; exit 77; }
done

rm -rf "$scratch"
mkdir -p "$scratch/root"
# Without debug information the build tree gives no debug symbol packages to make.
DEB_BUILD_OPTIONS=noddebs "$source_dir/scripts/build-packages" --tree "$tree" "$scratch/debs" \
  >"$scratch/build.log" 2>&1 || { cat "$scratch/build.log"; echo "FAILED: dpkg-buildpackage"; exit 1; }
debs=("$scratch"/debs/*.deb)
[ -e "${debs[0]}" ] || { cat "$scratch/build.log"; echo "FAILED: dpkg-buildpackage made no package"; exit 1; }
for deb in "${debs[@]}"; do
  dpkg-deb -x "$deb" "$scratch/root"
  echo "$(basename "$deb"): $(stat -c %s "$deb") bytes"
done
