#!/usr/bin/env bash
# Checks a built package: the files a desktop installation needs are in it, its dependencies
# were found, and desktop-file-validate and appstreamcli validate pass on what it installs.
set -euo pipefail
deb=${1:?usage: check_package.sh dist/facetta_<version>_<arch>.deb}
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
for f in usr/bin/facetta usr/bin/facetta-cli usr/libexec/facetta/facetta-cli-full \
         usr/share/applications/facetta.desktop \
         usr/share/icons/hicolor/scalable/apps/facetta.svg \
         usr/share/icons/hicolor/48x48/apps/facetta.png \
         usr/share/icons/hicolor/128x128/apps/facetta.png \
         usr/share/icons/hicolor/256x256/apps/facetta.png \
         usr/share/metainfo/com.quillmark.facetta.metainfo.xml \
         usr/share/man/man1/facetta.1.gz usr/share/man/man1/facetta-cli.1.gz \
         usr/share/doc/facetta/copyright; do
  [ -s "$root/$f" ] || { echo "check_package: $f is missing or empty" >&2; exit 1; }
done
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6core6 libqt6widgets6 libqt6dbus6 libglib2.0-0 libpng16-16 libisal2; do
  grep -q "$lib" <<<"$depends" || { echo "check_package: Depends lacks $lib: $depends" >&2; exit 1; }
done
# The installed command finds its full build where the package puts it (SVG needs that one).
"$root/usr/bin/facetta-cli" --width 300 --height 200 -o "$root/check.svg" >/dev/null
[ -s "$root/check.svg" ] || { echo "check_package: facetta-cli wrote no SVG" >&2; exit 1; }
desktop-file-validate "$root/usr/share/applications/facetta.desktop"
appstreamcli validate --no-net --pedantic "$root/usr/share/metainfo/com.quillmark.facetta.metainfo.xml" >/dev/null
echo "check_package: $deb is complete; Depends: $depends"
