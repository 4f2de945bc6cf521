#!/usr/bin/env bash
# Installs what is missing, builds, and starts Facetta. Without a display it renders the
# default picture with facetta-cli instead.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  out="${TMPDIR:-/tmp}/facetta-default.png"
  echo "No display (DISPLAY and WAYLAND_DISPLAY are empty): rendering the default picture instead."
  build/cli/facetta-cli -o "$out"  # tells where it wrote the picture
  echo "To open the window without a display: xvfb-run -a build/shell/facetta"
  exit 0
fi
exec build/shell/facetta "$@"
