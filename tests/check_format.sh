#!/usr/bin/env bash
# Fails when a C or C++ source differs from what clang-format makes of it with the project's
# .clang-format, so that formatting never shows up as noise in a later change.
#   check_format.sh [SOURCE_DIR]
# Exits 77 (a skip to CTest) when clang-format is not installed.
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

# The style file is written for clang-format 14; other versions place some breaks differently.
format=$(command -v clang-format-14 || command -v clang-format || true)
if [ -z "$format" ]; then
  echo "clang-format is not installed: formatting not checked"
  exit 77
fi

files=()
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  while IFS= read -r -d '' f; do
    # A tracked file deleted in the working tree is no longer the format's business.
    [ -e "$f" ] && files+=("$f")
  done < <(git ls-files -z -- '*.c' '*.cpp' '*.h')
else
  # An unpacked source tree: everything but build directories and hidden ones.
  while IFS= read -r -d '' f; do
    files+=("$f")
  done < <(find . -mindepth 1 \( -name '.*' -o -name 'build*' \) -prune -o -type f \
    \( -name '*.c' -o -name '*.cpp' -o -name '*.h' \) -print0 | sort -z)
fi

if [ ${#files[@]} -eq 0 ]; then
  echo "no C or C++ sources found in $PWD"
  exit 1
fi
"$format" --dry-run -Werror "${files[@]}"
echo "${#files[@]} files formatted as clang-format $("$format" --version | grep -o '[0-9][0-9.]*' | head -n 1) wants"
