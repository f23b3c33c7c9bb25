#!/usr/bin/env bash
# The configuration snippets of the documents are the tested files: every
# indented block that follows a line "<!-- from site/NAME -->" in README.md or
# docs/operating.md must stand word for word in site/NAME (each line's
# indentation aside, since a snippet may come from inside a block).
#   tests/docs_test.sh SOURCE_DIR
set -uo pipefail
src=$1
status=0
blocks=0
# A text with each line's leading blanks removed.
dedent() { sed -e 's/^[[:space:]]*//'; }
for doc in README.md docs/operating.md; do
  from="" block="" line_no=0
  check() {
    [ -z "$from" ] && return
    blocks=$((blocks + 1))
    if [ -z "$block" ]; then
      echo "docs_test: $doc: no snippet below the mark for $from" >&2
      status=1
    elif [[ "$(dedent < "$src/$from")" != *"$(printf '%s\n' "$block" | dedent)"* ]]; then
      echo "docs_test: $doc: the snippet from $from is not in that file:" >&2
      printf '%s\n' "$block" >&2
      status=1
    fi
    from="" block=""
  }
  while IFS= read -r line || [ -n "$line" ]; do
    line_no=$((line_no + 1))
    if [[ "$line" =~ ^\<!--\ from\ (site/[A-Za-z0-9_.-]+)\ --\>$ ]]; then
      check
      from=${BASH_REMATCH[1]}
    elif [ -n "$from" ]; then
      if [[ "$line" == "    "* ]]; then
        block+="${block:+$'\n'}${line#    }"
      elif [ -z "$line" ] && [ -n "$block" ]; then
        block+=$'\n'
      elif [ -n "$line" ]; then
        block=${block%$'\n'}
        check
      fi
    fi
  done < "$src/$doc"
  block=${block%$'\n'}
  check
done
if [ "$blocks" -eq 0 ]; then
  echo "docs_test: no snippet marks found" >&2
  exit 1
fi
[ $status -eq 0 ] && echo "docs_test: $blocks snippets match their files"
exit $status
