#!/usr/bin/env bash
# Checks that the units built for wider instruction sets (*_sse2.cpp,
# *_avx2.cpp, *_avx512.cpp) emit no shared (weak) symbols. A weak symbol is
# an inline function or template the linker may merge with the copy of
# another unit: if it kept the copy built for AVX2, ordinary code would run
# AVX2 instructions on a CPU without them. Each unit is compiled again at
# -O0, where nothing is inlined, with its own flags from the build's
# compile_commands.json.
#
# Usage: scripts/check-isa-units.sh [BUILD-DIR]   (default: build)
set -euo pipefail
build=${1:-build}
db="$build/compile_commands.json"
[[ -f $db ]] || { echo "no $db (configure first)" >&2; exit 2; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
python3 - "$db" "$tmp" <<'PY' > "$tmp/list"
import json, re, shlex, sys
db, tmp = sys.argv[1], sys.argv[2]
for e in json.load(open(db)):
    f = e["file"]
    if not re.search(r"_(sse2|avx2|avx512)\.cpp$", f) or not re.search(r"/(src|hosts)/", f):
        continue
    args = shlex.split(e["command"]) if "command" in e else e["arguments"]
    if args and args[0].endswith("ccache"):
        args = args[1:]
    out = tmp + "/" + f.replace("/", "_") + ".o"
    res, skip = [], False
    for a in args:
        if skip:
            skip = False
            continue
        if a == "-o":
            skip = True
            continue
        if re.fullmatch(r"-O[0-3sg]?", a) or a.startswith("-fsanitize") or a == "-g":
            continue
        res.append(a)
    res += ["-O0", "-o", out]
    print(e["directory"] + "\t" + f + "\t" + out + "\t" + shlex.join(res))
PY
status=0
count=0
while IFS=$'\t' read -r dir file obj cmd; do
  (cd "$dir" && eval "$cmd")
  count=$((count + 1))
  weak=$(nm -C "$obj" | awk '$(NF-1) ~ /^[WVu]$/ || $1 ~ /^[WVu]$/' || true)
  if [[ -n $weak ]]; then
    echo "shared symbols in ${file#"$PWD"/}:"
    echo "$weak" | sed 's/^/  /'
    status=1
  fi
done < "$tmp/list"
[[ $count -gt 0 ]] || { echo "no instruction-set units found in $db" >&2; exit 2; }
[[ $status -eq 0 ]] && echo "$count instruction-set units: no shared symbols"
exit $status
