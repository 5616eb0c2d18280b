#!/bin/sh
# Redraws the whole reading-order set in this folder: pictures, truths and set.tsv.
# Needs python3, Chromium and ImageMagick 6 (CHROMIUM and CONVERT name them if not in /usr/bin).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
command -v python3 >/dev/null || { echo "make.sh: python3 is needed" >&2; exit 1; }
# Old pictures go first, so that a picture whose template was removed does not linger.
rm -f "$here"/*.png "$here"/*.jpg "$here"/*.txt "$here"/set.tsv
python3 "$here/generate.py" "$here"
du -cb "$here"/*.png "$here"/*.jpg | tail -n 1 | sed 's/total$/bytes of pictures/'
