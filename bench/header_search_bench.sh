#!/usr/bin/env bash
# Header search against plain sequential reading: times `cat FILE > /dev/null` and
# tarvik-image-bench on the same 256 MiB file (header at its very end, so the whole file is
# scanned), both from the page cache, and compares the peak memory of the search on a 1 MiB
# and a 256 MiB file. Prints figures only; it asserts nothing about time.
#
# usage: header_search_bench.sh MKIMAGE BENCH   (the tarvik-mkimage and tarvik-image-bench programs)
# RUNS (default 9): rounds; each round times cat and then the search, and the best of each is kept,
# so a busy machine slows both alike.
set -euo pipefail

mkimage=${1:?usage: header_search_bench.sh MKIMAGE BENCH}
bench=${2:?usage: header_search_bench.sh MKIMAGE BENCH}
runs=${RUNS:-9}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

make_image() {  # path size
    "$mkimage" --size "$2" --header-offset $(( $2 - 70 )) --seed 11 "$1"
}

elapsed_ns() {
    local start end
    start=$(date +%s%N)
    "$@" > /dev/null
    end=$(date +%s%N)
    echo $(( end - start ))
}

seconds() { awk -v ns="$1" 'BEGIN { printf "%.4f", ns / 1e9 }'; }
peak_kib() { sed -n 's/.*peak_rss_kib=\([0-9]*\).*/\1/p' <<< "$1"; }

small=$work/small.bin
large=$work/large.bin
make_image "$small" $(( 1 << 20 ))
make_image "$large" $(( 256 << 20 ))
cat "$large" > /dev/null   # into the page cache

best_cat=
best_search=
for (( i = 0; i < runs; i++ )); do
    took=$(elapsed_ns cat "$large")
    if [[ -z $best_cat || $took -lt $best_cat ]]; then best_cat=$took; fi
    took=$(elapsed_ns "$bench" "$large")
    if [[ -z $best_search || $took -lt $best_search ]]; then best_search=$took; fi
done

large_line=$("$bench" "$large")
small_line=$("$bench" "$small")

echo "header search, 256 MiB file, header at its end (best of $runs rounds, warm page cache)"
echo "  search:              $large_line"
echo "  cat FILE >/dev/null: $(seconds "$best_cat") s"
echo "  tarvik-image-bench:  $(seconds "$best_search") s (whole process)"
awk -v s="$best_search" -v c="$best_cat" 'BEGIN { printf "  ratio search/cat:    %.2f (target <= 2)\n", s / c }'
echo "peak resident memory of tarvik-image-bench"
echo "  1 MiB file:          $(peak_kib "$small_line") KiB"
echo "  256 MiB file:        $(peak_kib "$large_line") KiB (target: equal)"
