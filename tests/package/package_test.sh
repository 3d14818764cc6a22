#!/usr/bin/env bash
# The Debian package, as a user gets it: made by scripts/package.sh from this
# build, unpacked with dpkg -x under a prefix of its own (with a blank in it),
# its programs run from there (--version, the demo release published with the
# unpacked skyvane-publish and installed by a batch run of the unpacked
# installer from a local nginx), and its desktop entry, AppStream metadata,
# manual pages and the package itself passed through their validators.
#
#   package_test.sh SOURCE_DIR BINARY_DIR
set -euo pipefail
src=$1
bin=$2
app_id=example.skyvane.Installer

scratch=$(mktemp -d "${TMPDIR:-/tmp}/skyvane-package.XXXXXX")
nginx_pid=""
cleanup() {
  [ -n "$nginx_pid" ] && { kill "$nginx_pid" 2>/dev/null; wait "$nginx_pid" 2>/dev/null || true; }
  rm -rf "$scratch"
}
trap cleanup EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# --- The package and what it holds ---
deb=$(bash "$src/scripts/package.sh" "$bin" "$scratch/out" | tail -n 1)
[ -f "$deb" ] || { echo "FAIL: scripts/package.sh made no .deb" >&2; exit 1; }
echo "package: $(basename "$deb")"
tree="$scratch/unpacked tree"
dpkg -x "$deb" "$tree"
usr="$tree/usr"
for f in bin/skyvane-installer bin/skyvane-publish \
  share/applications/$app_id.desktop share/metainfo/$app_id.metainfo.xml \
  share/icons/hicolor/48x48/apps/skyvane-installer.png \
  share/icons/hicolor/128x128/apps/skyvane-installer.png \
  share/icons/hicolor/256x256/apps/skyvane-installer.png \
  share/man/man1/skyvane-installer.1.gz share/man/man1/skyvane-publish.1.gz \
  share/doc/skyvane-installer/copyright share/doc/skyvane-installer/changelog.gz; do
  [ -f "$usr/$f" ] || fail "the package lacks usr/$f"
done
if [ -x "$bin/skyvane-installer-dvd" ] && [ ! -f "$usr/bin/skyvane-installer-dvd" ]; then
  fail "the disc build of the installer is built but not in the package"
fi
for size in 48 128 256; do
  cmp -s "$usr/share/icons/hicolor/${size}x$size/apps/skyvane-installer.png" "$src/assets/icon-$size.png" ||
    fail "the ${size}x$size icon is not assets/icon-$size.png"
done
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for lib in libsdl2 libsodium libarchive libgtk-3 libc6; do
  [[ $depends == *"$lib"* ]] || fail "Depends does not name $lib (found from the linked libraries)"
done
for field in Maintainer Section Description; do
  [ -n "$(dpkg-deb -f "$deb" $field)" ] || fail "the package has no $field"
done

# --- The unpacked programs ---
version=$("$usr/bin/skyvane-installer" --version) || fail "--version of the unpacked installer failed"
echo "version: $version"
[[ $version == Skyvane* ]] || fail "--version printed \"$version\""

source "$src/scripts/nginx-lib.sh"
port=$(free_port)
SKYVANE_PUBLISH="$usr/bin/skyvane-publish" bash "$src/scripts/make-demo.sh" "$scratch/demo" "127.0.0.1:$port" >/dev/null
start_nginx "$scratch/nginx" "$port" "$scratch/demo/www"
mkdir -p "$scratch/home" "$scratch/config" "$scratch/cache" "$scratch/state" "$scratch/tmp"
dest="$scratch/home/Skyvane 9/"
status=0
env HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/config" XDG_CACHE_HOME="$scratch/cache" \
  XDG_STATE_HOME="$scratch/state" TMPDIR="$scratch/tmp" \
  "$usr/bin/skyvane-installer" --batch --accept-licence "--vendor_host=127.0.0.1:$port" \
  --pref:_rename_folder=0 "$dest" 2>"$scratch/batch.err" || status=$?
if [ "$status" -ne 0 ]; then
  fail "the batch install from the unpacked tree exited $status"
  cat "$scratch/batch.err" >&2
fi
# Every file of this platform's master folders arrived, byte for byte, and
# nothing else did.
python3 - "$scratch/demo/product" "$dest" <<'PY' || fail "the installed files differ from the demo product"
import os, sys
product, dest = sys.argv[1], sys.argv[2]
def files(top):
    out = {}
    for d, _, names in os.walk(top):
        for n in names:
            p = os.path.join(d, n)
            out[os.path.relpath(p, top)] = p
    return out
want = {}
for master in ("Skyvane 9", "Skyvane 9 Linux"):
    want.update(files(os.path.join(product, master)))
got = files(dest)
bad = sorted(set(want) ^ set(got)) + sorted(r for r in want if r in got and
                                             open(want[r], "rb").read() != open(got[r], "rb").read())
for r in bad[:10]:
    print("differs:", r, file=sys.stderr)
print(f"installed {len(got)} files, {len(want)} expected")
sys.exit(1 if bad or not want else 0)
PY

# --- Validators ---
out=$(desktop-file-validate "$usr/share/applications/$app_id.desktop" 2>&1) || fail "desktop-file-validate"
[ -z "$out" ] || fail "desktop-file-validate: $out"
appstreamcli validate --no-net "$usr/share/metainfo/$app_id.metainfo.xml" || fail "appstreamcli validate"
for page in "$usr"/share/man/man1/*.1.gz; do
  # From the manual's root, so that a ".so man1/..." page finds its target.
  warnings=$(cd "$usr/share/man" && LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) ||
    fail "man could not format $(basename "$page")"
  [ -z "$warnings" ] || fail "man --warnings on $(basename "$page"): $warnings"
done
lintian --fail-on error "$deb" >"$scratch/lintian.txt" 2>&1 || fail "lintian reports errors"
echo "lintian:"
cat "$scratch/lintian.txt"

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
echo "package checks passed"
