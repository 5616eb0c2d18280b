#!/usr/bin/env bash
# Fails, naming the files, when clang-format would change any of our .h or .cpp files.
#   scripts/check-format.sh
# The files are those git knows or would add (so build folders, which .gitignore names, are left out);
# outside a git checkout, every .h and .cpp but those under build*/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
command -v clang-format >/dev/null || {
  echo "check-format: clang-format is not installed (scripts/install-deps.sh installs it)" >&2
  exit 1
}
files=()
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  while IFS= read -r -d '' f; do
    [ -f "$f" ] && files+=("$f") # a deleted file is still listed until the deletion is committed
  done < <(git ls-files -z --cached --others --exclude-standard -- '*.h' '*.cpp')
else
  while IFS= read -r -d '' f; do files+=("$f"); done < <(
    find . \( -path './build*' -o -path './.git' \) -prune -o \
      \( -name '*.h' -o -name '*.cpp' \) -type f -print0)
fi
[ ${#files[@]} -gt 0 ] || { echo "check-format: no .h or .cpp files found" >&2; exit 1; }
if ! report=$(clang-format --dry-run --Werror "${files[@]}" 2>&1); then
  echo "check-format: clang-format would change these files (clang-format -i FILE fixes them):" >&2
  printf '%s\n' "$report" | grep -oE '^[^: ]+\.(h|cpp):[0-9]+' | cut -d: -f1 | sort -u | sed 's/^/  /' >&2
  exit 1
fi
echo "check-format: ${#files[@]} files as clang-format leaves them"
