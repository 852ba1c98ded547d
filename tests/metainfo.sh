#!/usr/bin/env bash
# The AppStream metadata as the build writes it: valid for appstreamcli with
# no error or warning, and every screenshot it points at is a picture of this
# repository (the URLs name the repository's main branch).
#
#   metainfo.sh METAINFO SOURCE_DIR
set -uo pipefail

metainfo=$1 source=$2
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

log=$(appstreamcli validate --no-net "$metainfo" 2>&1)
status=$?
echo "$log"
((status == 0)) || fail "appstreamcli validate exited with $status"
grep -Eq '^[EW]: ' <<<"$log" && fail "appstreamcli reports errors or warnings"

mapfile -t images < <(grep -o '<image>[^<]*</image>' "$metainfo" | sed 's/<[^>]*>//g')
((${#images[@]} > 0)) || fail "no screenshot"
for url in "${images[@]}"; do
  path=${url#https://raw.githubusercontent.com/*/*/main/}
  if [[ $path == "$url" ]]; then
    fail "$url is not a file on a GitHub repository's main branch"
  elif [[ ! -f $source/$path ]]; then
    fail "$url: no $path in $source"
  fi
done

((failures == 0)) || exit 1
