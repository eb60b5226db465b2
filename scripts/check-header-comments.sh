#!/usr/bin/env bash
# Checks that the public headers say what each public declaration promises:
# every declaration at namespace scope and in the public part of a class has
# a comment line directly above it (or one behind it on its first line).
#   scripts/check-header-comments.sh INCLUDE_DIR...   (headers: INCLUDE_DIR/veltro/*.h)
#
# A comment covers the run of declarations below it up to a blank line, an
# access specifier, a preprocessor line or the end of a class or enum; a
# section banner ("// --- Rows ---") alone covers nothing. The members that
# follow a class's opening line directly (or its first "public:") belong to
# the class's run. Exempt: friend and using lines, forward
# declarations, "= default" and "= delete" members, static_assert, the bodies
# of functions and enums, private and protected parts, namespace detail,
# members defined outside their class (the declaration has the comment);
# members whose meaning the language fixes (destructors, default, copy and
# move constructors, operators other than () and [], iterator classes, begin
# and end); an enum whose every enumerator has a comment behind it; the class
# that the file's opening comment introduces ("// Name: ...").
set -euo pipefail
[ $# -ge 1 ] || { echo "usage: $0 INCLUDE_DIR..." >&2; exit 2; }

headers=()
for dir in "$@"; do
  for header in "$dir"/veltro/*.h; do
    [ -e "$header" ] && headers+=("$header")
  done
done
[ ${#headers[@]} -gt 0 ] || { echo "FAIL no headers found under $*" >&2; exit 1; }

awk '
# A run: declarations one under the other. runCovered: a comment (not only a
# banner) stands directly above its first line. bad: its first declaration
# that nothing documents; more: how many further ones.
function close_run() {
  if (bad != "") {
    print "FAIL " bad (more > 0 ? "  (and " more " more in its run)" : "") ": no comment above it" > "/dev/stderr"
    missing++
  }
  run = 0; runCovered = 0; bad = ""; more = 0
}
# Code of a line without its comment, text and character literals.
function code_of(s) {
  gsub(/"([^"\\]|\\.)*"/, "\"\"", s)
  gsub(/\x27([^\x27\\]|\\.)+\x27/, "0", s)
  sub(/\/\/.*/, "", s)
  return s
}
function count(s, ch,   n, i) { n = 0; for (i = 1; i <= length(s); i++) if (substr(s, i, 1) == ch) n++; return n }
function is_access(t) { return t ~ /^(public|protected|private)[ \t]*:/ }

FNR == 1 {
  if (NR > 1) close_run()
  depth = 0; skipFrom = 0; cont = 0; paren = 0; comment = 0; covering = 0; enumCheck = 0; headLine = -1
  n = split(FILENAME, parts, "/"); name = "veltro/" parts[n]
  # "// Name: ..." opening the file documents class Name.
  fileClass = $0 ~ /^\/\/ [A-Za-z_0-9]+:/ ? substr($0, 4, index($0, ":") - 4) : ""
}
{
  line = $0
  code = code_of(line)
  opens = count(code, "{"); closes = count(code, "}")
  trimmed = code; gsub(/^[ \t]+|[ \t]+$/, "", trimmed)
  # The export mark says nothing about what a declaration is.
  gsub(/(^|[ \t])VELTRO_API[ \t]+/, " ", trimmed); sub(/^ /, "", trimmed)

  # Inside a function or enum body, or namespace detail: follow braces only.
  if (skipFrom) {
    depth += opens - closes
    if (enumCheck && depth >= skipFrom && trimmed != "" && line !~ /\/\/.*[A-Za-z]/) enumCheck = 0
    if (depth < skipFrom) {
      skipFrom = 0; cont = 0
      # An enum whose every enumerator says what it means needs no comment above.
      if (enumCheck) { bad = enumBad; more = enumMore; enumCheck = 0 }
      # A function body ends its declaration, not its run; an enum ends its run.
      if (skipKind != "body") close_run()
    }
    next
  }
  # In the private or protected part of a class: follow braces and access.
  if (depth > 0 && kind[depth] == "class" && access[depth] != "public" && !is_access(trimmed)) {
    if (trimmed ~ /^}/) { depth -= closes - opens; close_run(); comment = 0; cont = 0 }
    else if (opens > closes) { depth += opens - closes; skipFrom = depth; skipKind = "body" }
    next
  }

  if (trimmed == "") {
    if (line ~ /^[ \t]*\/\//) {
      # A comment line; a banner alone covers nothing.
      if (!comment) { close_run(); covering = 0 }
      comment = 1
      if (line !~ /^[ \t]*\/\/[ \t]*---/) covering = 1
    } else if (line ~ /^[ \t]*$/) {
      close_run(); comment = 0; covering = 0
    }
    next
  }

  if (!cont && (trimmed ~ /^#/ || trimmed ~ /^namespace([ \t]|$)/ || trimmed ~ /^}/ || is_access(trimmed))) {
    # "public:" as the first line of a class keeps the run of the class.
    if (!(is_access(trimmed) && FNR == headLine + 1)) { close_run(); comment = 0; covering = 0 }
    if (is_access(trimmed)) { a = trimmed; sub(/[ \t]*:.*/, "", a); access[depth] = a }
    if (trimmed ~ /^}/) depth -= closes - opens
    if (trimmed ~ /^namespace/ && opens > closes) {
      depth++; kind[depth] = "ns"
      if (trimmed ~ /^namespace[ \t]+([A-Za-z_0-9:]*::)?detail[ \t]*{/) { skipFrom = depth; skipKind = "ns" }
    }
    next
  }

  if (cont) {
    paren += count(code, "(") - count(code, ")")
  } else {
    # The first line of a declaration.
    paren = count(code, "(") - count(code, ")")
    headIsEnum = trimmed ~ /^enum[ \t]/
    cls = depth > 0 && kind[depth] == "class" ? cname[depth] : "-"
    exempt = trimmed ~ /^(friend|using|static_assert)[ \t(]/ ||
      trimmed ~ /^(class|struct|union|enum)( class)?[ \t]+[A-Za-z_0-9:]+;$/ ||
      code ~ /=[ \t]*(default|delete)[ \t]*;/ ||
      # Members whose meaning the language fixes: destructors, default, copy
      # and move constructors, operators other than () and [], and the
      # iterator protocol (iterator classes, begin and end).
      trimmed ~ /^(virtual[ \t]+)?~/ ||
      trimmed ~ ("^(explicit[ \t]+)?" cls "[ \t]*\\([ \t]*((const[ \t]+)?" cls "[ \t]*&&?[ \t]*[A-Za-z_0-9]*[ \t]*)?\\)") ||
      trimmed ~ /operator[ \t]*([-+*\/%^&|~!=<>]+|->)[ \t]*\(/ ||
      trimmed ~ /^(class|struct)[ \t]+(const_)?iterator[ \t]*{/ ||
      trimmed ~ /(iterator|sentinel_t)[ \t]+c?(begin|end)[ \t]*\(/ ||
      # A member defined outside its class: its declaration carries the comment.
      (depth == 0 || kind[depth] == "ns") && trimmed ~ /[ \t&*][A-Za-z_0-9]+(<[^>]*>)?::~?[A-Za-z_0-9]+[ \t]*\(/ ||
      (fileClass != "" && trimmed ~ ("^class[ \t]+" fileClass "[ \t:{]"))
    documented = line ~ /\/\/.*[A-Za-z]/
    if (!run) { run = 1; runCovered = comment && covering }
    if (!exempt && !documented && !runCovered) {
      if (trimmed ~ /^enum[ \t]/ && opens > closes) { enumCheck = 1; enumBad = bad; enumMore = more }
      if (bad == "") bad = name ":" FNR ": " trimmed; else more++
    }
    comment = 0
  }
  # Braces: a class opens a scope of its own (its first members join its
  # run), anything else a body.
  if (opens > closes) {
    depth += opens - closes
    if (trimmed ~ /^(template[ \t]*<.*>[ \t]*)?(class|struct|union)[ \t]+[A-Za-z_0-9]+([ \t]+final)?([ \t]*:[^(]*)?[ \t]*{$/) {
      kind[depth] = "class"; headLine = FNR
      access[depth] = trimmed ~ /(^|[ \t>])class[ \t]/ ? "private" : "public"
      c = trimmed; sub(/^(template[ \t]*<.*>[ \t]*)?(class|struct|union)[ \t]+/, "", c); sub(/[^A-Za-z_0-9].*/, "", c)
      cname[depth] = c
    } else {
      kind[depth] = "body"; skipFrom = depth; skipKind = headIsEnum ? "enum" : "body"
    }
    cont = 0
  } else {
    if (closes > opens) depth -= closes - opens
    last = substr(trimmed, length(trimmed), 1)
    cont = (paren > 0 || (last != ";" && last != "{" && last != "}" && last != ":"))
  }
}
END {
  close_run()
  if (missing) { print missing " declaration run(s) of the public headers without a comment" > "/dev/stderr"; exit 1 }
}
' "${headers[@]}"
echo "${#headers[@]} public headers: a comment above every public declaration"
