#!/usr/bin/env bash
# Builds the Debian package dist/facetta_<version>_<arch>.deb (Release) and prints its path.
# Reuses the build folder of scripts/test.sh when it is there.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
build=${FACETTA_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release ${FACETTA_CMAKE_ARGS:-} >/dev/null
cmake --build "$build" --target facetta facetta-cli facetta_package_files
rm -rf "$build/packages"
(cd "$build" && cpack -G DEB >/dev/null)
mkdir -p dist
shopt -s nullglob
debs=("$build"/packages/facetta_*.deb)
if [ ${#debs[@]} -ne 1 ]; then
  echo "package.sh: expected one package in $build/packages" >&2
  exit 1
fi
out="dist/$(basename "${debs[0]}")"
mv -f "${debs[0]}" "$out"
echo "$(pwd)/$out"
