#!/usr/bin/env bash
# Checks that no function of the library is longer than 60 lines, from its
# first line to its closing brace as Universal Ctags sees them: the sources and
# headers of source/src, binding/src and runtime/src and the headers of their
# include/ and internal/ directories. Prints one line per function that is
# longer (lines, file, name) and fails.
#   scripts/check-function-length.sh
#
# Exempt: the two message tables, lists of one-line entries that read best in
# one piece. An exemption names a file and a function and covers what is
# nested in that function, at any depth: ctags names a lambda "__anon" and a
# hash that changes with the file, but gives the enclosing function as its
# scope, so matching the scope keeps the exemption through edits while a long
# lambda elsewhere in the same file is still caught.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd -P)
cd "$top"
# Debian's universal-ctags installs ctags-universal; ctags may be another ctags.
ctags="ctags-universal"
command -v "$ctags" >/dev/null || ctags="ctags"
command -v "$ctags" >/dev/null || { echo "FAIL ctags is missing (scripts/setup.sh installs it)" >&2; exit 1; }
"$ctags" --version 2>/dev/null | grep -q 'Universal Ctags' ||
  { echo "FAIL $ctags is not Universal Ctags (scripts/setup.sh installs universal-ctags)" >&2; exit 1; }

limit=60
# file:function
allowed=(
  source/src/server_messages.cpp:buildTable
  source/src/query_messages.cpp:queryMessages
)

dirs=(source/src binding/src runtime/src
  source/include binding/include runtime/include
  source/internal binding/internal runtime/internal)
files=()
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  for dir in "${dirs[@]}"; do
    while IFS= read -r f; do files+=("$f"); done < <(git ls-files -- "$dir/*.cpp" "$dir/*.h" "$dir/*.inc")
  done
else
  for dir in "${dirs[@]}"; do
    [ -d "$dir" ] || continue
    while IFS= read -r f; do files+=("$f"); done < <(find "$dir" -name '*.cpp' -o -name '*.h' -o -name '*.inc' | sort)
  done
fi
[ ${#files[@]} -gt 0 ] || { echo "FAIL no library sources found" >&2; exit 1; }

status=0
count=0
for f in "${files[@]}"; do
  # One tag a line: name, file, pattern, kind, then "key:value" fields.
  tags=$("$ctags" --fields=+ne -o - --kinds-C++=f --language-force=C++ "$f")
  [ -n "$tags" ] || continue
  count=$((count + $(wc -l <<<"$tags")))
  awk -F'\t' -v limit="$limit" -v file="$f" -v allowed="${allowed[*]}" '
    BEGIN {
      n = split(allowed, list, " ")
      for (i = 1; i <= n; i++) {
        split(list[i], pair, ":")
        if (pair[1] == file) exempt[pair[2]] = 1
      }
    }
    {
      start = ""; end = ""; scope = ""; owner = ""
      for (i = 4; i <= NF; i++) {
        if ($i ~ /^line:/) start = substr($i, 6)
        else if ($i ~ /^end:/) end = substr($i, 5)
        else if ($i ~ /^function:/) scope = substr($i, 10)
        else if ($i ~ /^(class|struct):/) { owner = $i; sub(/^[a-z]+:(.*::)?/, "", owner) }
      }
      if (start == "" || end == "") { print "FAIL " file ": no line or end for " $1 > "/dev/stderr"; bad = 1; next }
      length_ = end - start + 1
      if (length_ <= limit || $1 in exempt) next
      # Nested in an exempt function, at any depth.
      n = split(scope, parts, "::")
      for (i = 1; i <= n; i++) if (parts[i] in exempt) next
      print length_ "\t" file "\t" (owner != "" ? owner "::" : "") $1
      bad = 1
    }
    END { exit bad }
  ' <<<"$tags" || status=1
done
if [ "$status" -ne 0 ]; then
  echo "FAIL functions above longer than $limit lines (split them along their steps)" >&2
  exit 1
fi
echo "$count functions of ${#files[@]} library files: none longer than $limit lines"
