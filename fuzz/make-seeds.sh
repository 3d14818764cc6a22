#!/usr/bin/env bash
# Builds the seed corpora of the fuzz targets in CORPUS_DIR (one folder per
# target) from a real release made by the publisher (scripts/make-demo.sh):
# its server list, its manifest, its smallest zip and 7z archives and their
# headers, plus the small committed seeds in fuzz/seeds/ (see README.md).
#
#   fuzz/make-seeds.sh CORPUS_DIR
#
# Needs skyvane-publish: $SKYVANE_PUBLISH, else the one make-demo.sh finds.
set -euo pipefail
if [ $# -ne 1 ]; then
  echo "usage: $0 CORPUS_DIR" >&2
  exit 2
fi
root="$(cd "$(dirname "$0")/.." && pwd)"
target="$1"
mkdir -p "$(dirname "$target")"
target="$(cd "$(dirname "$target")" && pwd)/$(basename "$target")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# Built beside the target and moved into place only when complete, so that a
# failed run never leaves a partial corpus that a later run would take as made.
corpus="$work/corpus"

bash "$root/scripts/make-demo.sh" "$work/demo" 127.0.0.1:8080 >/dev/null
www="$work/demo/www"
# No `head` in a pipeline here: under pipefail, the writer it cuts off dies of
# SIGPIPE and fails the script at random. sed -n reads its input to the end.
release_dir="$(dirname "$(find "$www" -name directory.txt.zip | sed -n 1p)")"

for t in server_list manifest prefs header http cmdline zip 7z minisig; do mkdir -p "$corpus/$t"; done

cp "$www/serverlist9.txt" "$corpus/server_list/"
# The demo release is signed: both signatures and the key that checks them.
cp "$www/serverlist9.txt.minisig" "$corpus/minisig/serverlist9.minisig"
cp "$release_dir/directory.txt.zip.minisig" "$corpus/minisig/directory.minisig"
cp "$root/keys/demo.pub" "$corpus/minisig/demo.pub"
unzip -p "$release_dir/directory.txt.zip" directory.txt > "$corpus/manifest/directory.txt"
# A short manifest too: its header and first rows mutate faster than the whole.
head -c 3000 "$corpus/manifest/directory.txt" > "$corpus/manifest/directory-head.txt"

head -n 3 "$www/serverlist9.txt" > "$corpus/header/serverlist-head.txt"
head -n 3 "$corpus/manifest/directory.txt" > "$corpus/header/manifest-head.txt"

# The smallest archives (large ones only slow the fuzzer down).
find "$release_dir" -name '*.zip' -size -8k -printf '%s %p\n' | sort -n | sed -n 1,6p | cut -d' ' -f2- |
  while IFS= read -r f; do cp "$f" "$corpus/zip/$(basename "$f" | tr ' ' '_')"; done
cp "$release_dir/directory.txt.zip" "$corpus/zip/"
find "$release_dir" -name '*.7z' -printf '%s %p\n' | sort -n | sed -n 1,3p | cut -d' ' -f2- |
  while IFS= read -r f; do cp "$f" "$corpus/7z/$(basename "$f" | tr ' ' '_')"; done
# A zip and a 7z with folders, an empty file and a program bit, made by the
# real tools.
mkdir -p "$work/mix/sub dir"
printf 'text\n' > "$work/mix/sub dir/a.txt"
: > "$work/mix/empty"
printf '#!/bin/sh\n' > "$work/mix/prog"
chmod 755 "$work/mix/prog"
(cd "$work/mix" && zip -qr "$corpus/zip/mixed.zip" . && 7z a -bd -y "$corpus/7z/mixed.7z" . >/dev/null)

for t in prefs http cmdline header; do
  cp "$root/fuzz/seeds/$t/"* "$corpus/$t/"
done

for t in server_list manifest prefs header http cmdline zip 7z minisig; do
  if [ -z "$(ls -A "$corpus/$t")" ]; then
    echo "no seeds for $t" >&2
    exit 1
  fi
done
: > "$corpus/.complete"
rm -rf "$target"
mv "$corpus" "$target"
echo "seeds in $target:"
for t in "$target"/*; do echo "  $(basename "$t"): $(ls "$t" | wc -l) files"; done
