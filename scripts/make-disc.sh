#!/usr/bin/env bash
# Lays out the install disc of the demo release and makes its ISO 9660 image,
# for skyvane-installer-dvd.
#
#   scripts/make-disc.sh DEMODIR
#
# DEMODIR is an OUTDIR of scripts/make-demo.sh (its product/ and
# platforms.txt are used; made first when missing). Writes:
#
# DEMODIR/disc/                    the disc's root:
#   dvd_version.txt                  the marker the installer recognises a disc by
#   serverlist9.txt(.minisig)        its FINAL line names the release folder below
#   Skyvane 9.00/directory.txt.zip(.minisig), Skyvane 9.00/<path>.zip|.7z
#                                    the manifest and one archive per file, as on a server
# DEMODIR/skyvane-disc.iso         the same tree as an ISO 9660 image (Rock Ridge
#                                  names), made with xorriso
#
# Mount the image (mount -o loop,ro skyvane-disc.iso /mnt) or write it to a
# disc; skyvane-installer-dvd finds it among the mounted iso9660 and udf file
# systems.
#
# Uses build/tools/skyvane-publish, or $SKYVANE_PUBLISH; signs with the demo key
# or $SKYVANE_SIGN_KEY.
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 DEMODIR" >&2
  exit 2
fi
out="$1"
root="$(cd "$(dirname "$0")/.." && pwd)"
release="Skyvane 9.00"
publisher="${SKYVANE_PUBLISH:-$root/build/tools/skyvane-publish}"

if [ ! -d "$out/product" ] || [ ! -f "$out/platforms.txt" ]; then
  SKYVANE_PUBLISH="$publisher" bash "$root/scripts/make-demo.sh" "$out" >/dev/null
fi
out="$(cd "$out" && pwd)"
rm -rf "$out/disc" "$out/skyvane-disc.iso"

# One "mirror" whose folder is the disc's root: the release folder lands at
# the top of the disc, beside the server list.
"$publisher" --product "$out/product" --release "$release" --out "$out/disc" \
  --mirror "disc|/|Skyvane 9 install disc" \
  --platforms "$out/platforms.txt" \
  --sign "${SKYVANE_SIGN_KEY:-$root/keys/demo.secret-key}" >/dev/null

printf 'I\n900\nDVD\n' >"$out/disc/dvd_version.txt"

xorriso -no_rc -abort_on FAILURE -outdev "$out/skyvane-disc.iso" -volid SKYVANE9 \
  -map "$out/disc" / -commit >/dev/null 2>&1 ||
  { echo "xorriso could not make $out/skyvane-disc.iso" >&2; exit 1; }
echo "Disc of \"$release\": $out/disc (image: $out/skyvane-disc.iso)"
