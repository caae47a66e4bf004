#!/usr/bin/env bash
# Frames per second through FFmpeg's frei0r filter with tarvo.so and the
# typical record, next to FFmpeg's own hqdn3d + unsharp chain, on the same
# 1920x1080 input in the same run: BGRA frames, then a 4:2:0 source as users
# meet it (-vf frei0r takes BGRA, so FFmpeg converts on both sides of Tarvo
# while hqdn3d and unsharp work on the 4:2:0 planes). Both run with FFmpeg's
# default threads. Not a test: a measurement to quote.
#   scripts/frei0r-fps.sh               uses build/
#   BUILD_DIR=dir FRAMES=n scripts/frei0r-fps.sh
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
FRAMES=${FRAMES:-50}
export FREI0R_PATH=$PWD/$BUILD_DIR/hosts/frei0r
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export TARVO_REGISTRY=$tmp/registry.reg

# The typical record (bench/typical-record.txt), as the benchmarks and
# scripts/bench-vs-ffmpeg.sh use it.
mapfile -t typical < <(grep -E '^[A-Za-z]' bench/typical-record.txt)
params=$("$BUILD_DIR/hosts/frei0r/tarvo_frei0r_yml" --ffmpeg-params "${typical[@]}")

# A noisy moving picture, made once so that every chain reads the same bytes.
ffmpeg -nostdin -hide_banner -loglevel error -f lavfi \
  -i "testsrc2=s=1920x1080:r=25,noise=alls=12:allf=t+u,format=bgra" -frames:v "$FRAMES" \
  -f rawvideo -pix_fmt bgra "$tmp/in.raw"

ffmpeg -nostdin -hide_banner -loglevel error -f rawvideo -pix_fmt bgra -s 1920x1080 -r 25 -i "$tmp/in.raw" \
  -pix_fmt yuv420p -f rawvideo "$tmp/in420.raw"

INPUT_FORMAT=bgra
INPUT_FILE=$tmp/in.raw
measure() {  # name, extra ffmpeg arguments...
  local name=$1
  shift
  local line
  line=$(ffmpeg -nostdin -hide_banner -benchmark -f rawvideo -pix_fmt "$INPUT_FORMAT" -s 1920x1080 -r 25 \
    -i "$INPUT_FILE" "$@" -f null - 2>&1 | grep -o 'rtime=[0-9.]*s' | tail -1)
  local secs=${line#rtime=}
  secs=${secs%s}
  awk -v n="$FRAMES" -v t="$secs" -v name="$name" 'BEGIN { printf "%-40s %6.2f fps  (%d frames in %.2f s)\n", name, n / t, n, t }'
}

echo "ffmpeg $(ffmpeg -version | head -1 | awk '{print $3}'), $(nproc) processors, $FRAMES frames 1920x1080"
measure "read only" 
measure "tarvo (frei0r)" -vf "frei0r=filter_name=tarvo:filter_params=$params"
measure "hqdn3d + unsharp" -vf "hqdn3d,unsharp"
measure "hqdn3d + unsharp, one filter thread" -filter_threads 1 -vf "hqdn3d,unsharp"

echo "4:2:0 source, 4:2:0 output (BT.709 limited range both ways for Tarvo)"
INPUT_FORMAT=yuv420p
INPUT_FILE=$tmp/in420.raw
measure "read only, 4:2:0"
measure "tarvo (frei0r), 4:2:0 in and out" -vf \
  "scale=in_color_matrix=bt709:in_range=tv,format=bgra,frei0r=filter_name=tarvo:filter_params=$params,scale=out_color_matrix=bt709:out_range=tv,format=yuv420p"
measure "hqdn3d + unsharp, 4:2:0" -vf "hqdn3d,unsharp,format=yuv420p"
