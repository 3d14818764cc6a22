#!/usr/bin/env bash
# Builds the demo product and publishes it as a release that the installer can
# install from a local web server.
#
#   scripts/make-demo.sh OUTDIR [HOST:PORT]
#
# OUTDIR/product/        the demo product (the same bytes on every run)
# OUTDIR/platforms.txt   its platform rules (programs for this platform: code 2)
# OUTDIR/www/            the published release: serve this folder at HOST:PORT
#                        (default 127.0.0.1:8080) and start the installer with
#                        --vendor_host=HOST:PORT
#
# The release is signed with the demo key (keys/demo.secret-key), which the
# installer trusts as long as keys/demo.pub is built in; $SKYVANE_SIGN_KEY
# names another secret key.
#
# Uses build/tools/skyvane-publish (built when missing), or $SKYVANE_PUBLISH.
set -euo pipefail

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 OUTDIR [HOST:PORT]" >&2
  exit 2
fi
out="$1"
host="${2:-127.0.0.1:8080}"
root="$(cd "$(dirname "$0")/.." && pwd)"
release="Skyvane 9.00"

publisher="${SKYVANE_PUBLISH:-$root/build/tools/skyvane-publish}"
if [ ! -x "$publisher" ]; then
  echo "Building skyvane-publish ..."
  cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$root/build" --target skyvane-publish >/dev/null
  publisher="$root/build/tools/skyvane-publish"
fi

mkdir -p "$out"
out="$(cd "$out" && pwd)"
rm -rf "$out/product" "$out/www"

# The product: master folders "Skyvane 9" (content for every platform),
# "Skyvane 9 Linux" (this platform's programs) and "Skyvane 9 Windows" (another
# platform's programs, which this installer must leave alone). Contents come
# from a fixed seed, so every run makes the same files.
python3 - "$out/product" <<'PY'
import os, random, sys

root = sys.argv[1]
rng = random.Random(900)
words = ("runway taxiway approach heading altitude flaps trim rudder aileron elevator "
         "throttle mixture propeller magneto avionics transponder localizer glideslope "
         "beacon tower ground clearance squawk vector descent climb cruise").split()

def text(n_lines):
    return "".join(" ".join(rng.choice(words) for _ in range(rng.randint(6, 14))) + "\n"
                   for _ in range(n_lines))

def scenery(n_bytes):
    # Terrain-like data: smooth heights with noise, partly compressible.
    out = bytearray()
    h = rng.randint(0, 4000)
    while len(out) < n_bytes:
        h = max(0, min(65535, h + rng.randint(-40, 40)))
        out += h.to_bytes(2, "little")
        if rng.random() < 0.3:
            out += bytes([rng.randint(0, 255)])
    return bytes(out[:n_bytes])

def put(rel, data, executable=False):
    path = os.path.join(root, rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data.encode() if isinstance(data, str) else data)
    os.chmod(path, 0o755 if executable else 0o644)

common = "Skyvane 9/"
put(common + "Instructions/Read Me First.txt", "Skyvane 9 demo release.\n" + text(40))
put(common + "Instructions/Keyboard Shortcuts.txt", text(60))
put(common + "Instructions/empty notes.txt", "")
for i in range(40):
    put(common + "Airfoils/NACA %04d.afl" % (2400 + 3 * i), text(30))
for name in ("Cessna 172SP", "Piper Cub", "Grand Glider", "Twin Otter"):
    base = common + "Aircraft/General Aviation/" + name + "/"
    put(base + name + ".acf", text(120))
    for livery in ("Default", "Red Stripe", "Blue and White"):
        put(base + "liveries/" + livery + "/paint.png", bytes(rng.randint(0, 255) for _ in range(3000)))
    for part in ("panel", "cockpit", "wing", "fuselage"):
        put(base + "objects/" + part + ".obj", text(50))
for i in range(60):
    put(common + "Resources/sounds/engine %02d.wav" % i, bytes(rng.randint(0, 255) for _ in range(1500)))
for i in range(80):
    put(common + "Resources/bitmaps/interface/button %02d.png" % i, bytes(rng.randint(0, 255) for _ in range(800)))
for i in range(60):
    put(common + "Resources/default scenery/airport lights/light %02d.obj" % i, text(8))
put(common + "Resources/preferences/defaults.prf", "I\n9002\nPREFERENCES\n")
put(common + "Output/situations/Demo Flight.sit", text(10))
# A few MB of global scenery: fetched as .7z archives.
for lat, lon in ((45, -75), (45, -74), (46, -75), (46, -74), (47, -123), (47, -122)):
    tile = "%+03d%+04d" % (lat - lat % 10, lon - lon % 10)
    put(common + "Global Scenery/Tiles/%s/%+03d%+04d.dsf" % (tile, lat, lon), scenery(rng.randint(550000, 850000)))
put(common + "Global Scenery/Tiles/read me.txt", text(5))

linux = "Skyvane 9 Linux/"
put(linux + "Skyvane", "#!/bin/sh\necho 'Skyvane 9 demo: nothing to fly yet.'\n", executable=True)
for name in ("flight model", "weather", "map"):
    put(linux + "Resources/plugins/%s.so" % name, bytes(rng.randint(0, 255) for _ in range(20000)), executable=True)

windows = "Skyvane 9 Windows/"
put(windows + "Skyvane.exe", bytes(rng.randint(0, 255) for _ in range(30000)))
put(windows + "Resources/plugins/weather.dll", bytes(rng.randint(0, 255) for _ in range(10000)))
PY

cat > "$out/platforms.txt" <<'EOF'
# Platform codes of the demo product: CODE PATTERN (last match wins; default 0).
2 Skyvane 9 Linux/Skyvane
2 Skyvane 9 Linux/Resources/plugins/*.so
1 Skyvane 9 Windows/
EOF

"$publisher" --product "$out/product" --release "$release" --out "$out/www" \
  --mirror "$host|/files/|Demo server ($host)" \
  --mirror "$host|/mirror/|Demo mirror ($host)" \
  --platforms "$out/platforms.txt" \
  --sign "${SKYVANE_SIGN_KEY:-$root/keys/demo.secret-key}"

count=$(find "$out/product" -type f | wc -l)
echo
echo "Demo product ($count files): $out/product"
echo "Demo release \"$release\" published in: $out/www"
echo "Serve it with any static web server at $host, for example:"
echo "  (cd '$out/www' && python3 -m http.server ${host##*:} --bind ${host%%:*})"
echo "then run:  build/skyvane-installer --vendor_host=$host"
