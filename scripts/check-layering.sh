#!/usr/bin/env bash
# Checks that every #include "..." in the tree's C and C++ sources keeps to the layering rules of
# scripts/layering.deps, and names the file, line and rule of each one that does not.
#   scripts/check-layering.sh [TREE]     the tree (default: this checkout); exit 1 on a breach
#   scripts/check-layering.sh --self-test   plants breaches in a scratch tree and expects them
# In a git checkout the files are those git tracks and the untracked ones it does not ignore;
# elsewhere every file below TREE but for the build folders (build*/, out/) and hidden ones.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"

# The sources below the current folder, one a line, relative to it.
list_sources() {
  local pattern='\.(h|hh|hpp|hxx|c|cc|cpp|cxx|inc|ipp)$'
  if [ -e .git ]; then
    git ls-files --cached --others --exclude-standard | grep -E "$pattern" || true
  else
    find . \( -path './build*' -o -path './out' -o -path './.?*' \) -prune -o -type f -print |
      sed 's|^\./||' | grep -E "$pattern" || true
  fi
}

# Checks the tree at $1 against its scripts/layering.deps; prints every breach.
check_tree() {
  cd "$1"
  local table=scripts/layering.deps
  if [ ! -f "$table" ]; then
    echo "check-layering: no $table in $1" >&2
    return 2
  fi
  list_sources | LC_ALL=C sort | awk -v table="$table" '
    # Reads the table: allowed[folder] is the list of what it may include, at tableLine[folder].
    BEGIN {
      while ((status = getline line < table) > 0) {
        ++n
        sub(/#.*/, "", line)
        count = split(line, word, /[ \t]+/)
        first = (word[1] == "") ? 2 : 1
        if (count < first) continue
        folder = word[first]
        if (folder !~ /\/$/ || count < first + 1) {
          printf "%s:%d: a line is a folder ending in \"/\" and what it may include\n", table, n
          broken = 1
          continue
        }
        if (folder in allowed) {
          printf "%s:%d: %s has a line already (line %d)\n", table, n, folder, tableLine[folder]
          broken = 1
        }
        allowed[folder] = ""
        for (i = first + 1; i <= count; ++i)
          if (word[i] != "") allowed[folder] = allowed[folder] " " word[i]
        tableLine[folder] = n
      }
      if (status < 0) { printf "check-layering: cannot read %s\n", table; exit 2 }
      if (broken) exit 2
    }

    # The folder whose line governs `path`: the longest folder of the table that holds it.
    function RuleFor(path,    folder, best) {
      best = ""
      for (folder in allowed)
        if (substr(path, 1, length(folder)) == folder && length(folder) > length(best))
          best = folder
      return best
    }
    function Allows(folder, target,    entries, count, i, e) {
      count = split(allowed[folder], entries, " ")
      for (i = 1; i <= count; ++i) {
        e = entries[i]
        if (e == "*" || target == e) return 1
        if (e ~ /\/$/ && substr(target, 1, length(e)) == e) return 1
      }
      return 0
    }

    {
      file = $0
      folder = RuleFor(file)
      if (folder == "") {
        printf "%s: its folder has no line in %s; give the folder one\n", file, table
        ++breaches
        next
      }
      lineNo = 0
      while ((status = getline text < file) > 0) {
        ++lineNo
        if (text !~ /^[ \t]*#[ \t]*include[ \t]*"/) continue
        target = text
        sub(/^[^"]*"/, "", target)
        sub(/".*$/, "", target)
        if (Allows(folder, target)) continue
        hint = ""
        if (target !~ /\// || target ~ /(^|\/)\.\.?\//)
          hint = " (name includes from the top of the tree)"
        printf "%s:%d: #include \"%s\" breaks the rule of %s:%d: %s may include%s only%s\n",
               file, lineNo, target, table, tableLine[folder], folder, allowed[folder], hint
        ++breaches
      }
      close(file)
    }

    END {
      if (breaches) {
        printf "check-layering: %d breach(es) of the layering rules\n", breaches
        exit 1
      }
    }'
}

# A scratch tree with the real table and sources that keep to it or break it in known places;
# the check must report exactly the planted breaches.
self_test() {
  local tree
  tree="$(mktemp -d)"
  trap 'rm -rf "$tree"' RETURN
  mkdir -p "$tree"/{scripts,platform,job,ledger,hostkit/sub,plugin,tests,newfolder,build-x,.cache}
  cp "$here/layering.deps" "$tree/scripts/"
  # A subfolder with a line of its own is held to it, not to its parent's line.
  echo "hostkit/sub/ platform/ hostkit/" >>"$tree/scripts/layering.deps"
  printf '#include <vector>\n#include "platform/a.h"\n' >"$tree/platform/a.h"
  printf '// upward\n#include <string>\n#include "job/b.h"\n' >"$tree/platform/bad.cpp"
  printf '#include "platform/a.h"\n' >"$tree/job/b.h"
  printf '#include "ledger/l.h"\n  #  include "hostkit/h.h"\n' >"$tree/ledger/bad.cpp"
  printf '#include "plugin/host_list_control.h"\n#include "plugin/host_list_target.h"\n' \
    >"$tree/hostkit/h.h"
  printf '#include "hostkit/h.h"\n#include "jobfiles/j.h"\n' >"$tree/hostkit/sub/r.cpp"
  printf '#include "a.h"\n' >"$tree/job/c.cpp"
  printf '#include "hostkit/h.h"\n#include "job/b.h"\n' >"$tree/tests/t.cpp"
  printf '#include "platform/a.h"\n' >"$tree/newfolder/n.cpp"
  # Build and hidden folders are not the tree's sources.
  printf '#include "job/b.h"\n' | tee "$tree/build-x/g.cpp" >"$tree/.cache/g.cpp"

  local expected actual
  expected="$(printf '%s\n' \
    'hostkit/h.h:2: #include "plugin/host_list_target.h"' \
    'hostkit/sub/r.cpp:2: #include "jobfiles/j.h"' \
    'job/c.cpp:1: #include "a.h"' \
    'ledger/bad.cpp:2: #include "hostkit/h.h"' \
    'newfolder/n.cpp: its folder has no line' \
    'platform/bad.cpp:3: #include "job/b.h"')"
  if actual="$(check_tree "$tree")"; then
    echo "check-layering self-test: FAILED, a tree with breaches passed" >&2
    return 1
  fi
  local found
  found="$(echo "$actual" | grep -v '^check-layering:' |
    sed -E 's/ breaks the rule.*//; s/(: its folder has no line).*/\1/')"
  if [ "$found" != "$expected" ]; then
    printf 'check-layering self-test: FAILED\nexpected:\n%s\nreported:\n%s\n' "$expected" \
      "$actual" >&2
    return 1
  fi
  if ! echo "$actual" | grep -q \
    '^platform/bad.cpp:3: .* breaks the rule of scripts/layering.deps:[0-9]*: platform/ may include platform/ only$'; then
    printf 'check-layering self-test: FAILED, the rule is not named:\n%s\n' "$actual" >&2
    return 1
  fi
  echo "check-layering self-test: passed (the 6 planted breaches reported, nothing else)"
}

case "${1:-}" in
  --self-test) self_test ;;
  -h | --help) sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//' ;;
  *)
    if check_tree "${1:-$here/..}"; then
      echo "check-layering: every include keeps to scripts/layering.deps"
    else
      exit 1
    fi
    ;;
esac
