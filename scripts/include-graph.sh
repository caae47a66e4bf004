#!/usr/bin/env bash
# Prints the folder include graph of src/: for every folder, the folders whose
# headers its files include, and the folders in layer order, lowest first.
# Exits non-zero when the graph has a cycle, or when src/types/ (the record
# and the other shared types at the bottom) includes anything of ours outside
# itself.
#   scripts/include-graph.sh [SOURCE-DIR]     default: src/ of this checkout
set -euo pipefail
SRC=${1:-"$(cd "$(dirname "$0")/.." && pwd)/src"}
cd "$SRC"

edges=$(mktemp)
trap 'rm -f "$edges" "$edges.err"' EXIT

while IFS= read -r file; do
  from=${file%%/*}
  while IFS= read -r inc; do
    [[ -f $inc ]] || continue  # not ours
    echo "$from ${inc%%/*}" >>"$edges"
  done < <(sed -n -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+\/[^"]+)".*/\1/p' "$file")
done < <(find . -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.inl' \) | sed 's#^\./##' | sort)

status=0
echo "Folder include graph of src/ (A -> B: a file in A includes a header in B):"
for folder in $(cut -d' ' -f1 "$edges" | sort -u); do
  targets=$(awk -v f="$folder" '$1 == f && $2 != f { print $2 }' "$edges" | sort -u | paste -sd, - | sed 's/,/, /g')
  printf '  %-9s -> %s\n' "$folder" "${targets:-(nothing)}"
done

outside=$(awk '$1 == "types" && $2 != "types" { print $2 }' "$edges" | sort -u)
if [[ -n $outside ]]; then
  echo "error: types/ must include nothing of ours outside itself; it includes: $(echo $outside)" >&2
  status=1
fi

# tsort reads "B A" for every A -> B and so lists the lowest layer first; on a
# loop it fails and names the folders of each loop it finds.
if order=$(awk '$1 != $2 { print $2, $1 }' "$edges" | sort -u | tsort 2>"$edges.err"); then
  echo "Layer order, lowest first: $(echo $order)"
else
  echo "error: the folder include graph has a cycle; the folders of each loop:" >&2
  sed 's/^tsort: //' "$edges.err" |
    awk '/input contains a loop/ { if (loop != "") print "  " loop; loop = ""; next }
         { loop = loop == "" ? $0 : loop ", " $0 }
         END { if (loop != "") print "  " loop }' | sort -u >&2
  status=1
fi
exit $status
