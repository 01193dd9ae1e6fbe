#!/bin/bash
# Makes the Debian packages as `make package` does, from the build tree CPACK-CONFIG belongs to,
# into SCRATCH/debs, and unpacks them without root into SCRATCH/root.
#
#   make_packages.sh CPACK CPACK-CONFIG SCRATCH
#
# Exit 77 (skipped) where Debian's packaging tools are missing.
set -euo pipefail

cpack=$1
config=$2
scratch=$3
for tool in dpkg-deb dpkg-shlibdeps; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is missing (scripts/install-deps installs dpkg-dev)"; exit 77; }
done

rm -rf "$scratch"
mkdir -p "$scratch/root"
"$cpack" --config "$config" -B "$scratch/debs" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log"; echo "FAILED: cpack"; exit 1; }
debs=("$scratch"/debs/*.deb)
[ -e "${debs[0]}" ] || { cat "$scratch/cpack.log"; echo "FAILED: cpack made no package"; exit 1; }
for deb in "${debs[@]}"; do
  dpkg-deb -x "$deb" "$scratch/root"
  echo "$(basename "$deb"): $(stat -c %s "$deb") bytes"
done
