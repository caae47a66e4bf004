#!/usr/bin/env bash
# Frame rate of the typical record against FFmpeg's nearest filter chain, both
# on one core (taskset -c 0), over the same raw BGRA frames at 1920x1080 and
# 720x576; then file to file: a 1920x1080 4:2:0 clip (raw video in NUT)
# rendered by `tarvo render --codec rawvideo --pix-fmt yuv420p` and by FFmpeg
# (-threads 1 -filter_threads 1) into the same kind of file.
#   scripts/bench-vs-ffmpeg.sh [build-dir]
# Environment: FRAMES (default 50), RECORD (light|typical|heavy, default
# typical), ROUNDS (default 3: renders by turns for the scaling below),
# CORE (default 0; for example CORE=0,1 lets tarvo use two cores:
# its filter threads, and in the file-to-file run its decoding, filtering and
# encoding threads). Tarvo's filter runs on as many threads as CORE names
# cores; FFmpeg keeps one thread (-threads 1 -filter_threads 1). With more
# than one core the file-to-file run and one with one thread on the first of
# them take turns ROUNDS times, and the scaling is printed for each round and
# as the median: the wall-clock rate on all of them against the
# processor-time rate of the one thread.
# The input is FFmpeg's testsrc2 with temporal grain, written once per size to
# a temporary folder that is removed at the end. Both programs read the file
# frame by frame. Frame rates are frames per second of processor time (user +
# system) of each program, so that other load on a shared machine does not
# skew the comparison; wall-clock rates are printed beside them. FFmpeg's time
# also covers its start-up, so short runs favour us slightly: use FRAMES of
# 50 or more.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${1:-build}
FRAMES=${FRAMES:-50}
RECORD=${RECORD:-typical}
CORE=${CORE:-0}
# nproc counts the processors the affinity mask allows.
THREADS=$(taskset -c "$CORE" nproc)
RUN="$BUILD_DIR/bench/pipeline_run"
TARVO="$BUILD_DIR/hosts/cli/tarvo"
[[ -x $RUN ]] || { echo "build $RUN first (cmake --build $BUILD_DIR --target pipeline_run)" >&2; exit 1; }
[[ -x $TARVO ]] || { echo "build $TARVO first (cmake --build $BUILD_DIR --target tarvo tarvo_plugin)" >&2; exit 1; }
command -v ffmpeg >/dev/null || { echo "ffmpeg is not installed" >&2; exit 1; }

TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT
# The filter's options stay out of the user's own.
export TARVO_REGISTRY="$TMP/options"

CHAIN="format=yuv444p,lutyuv=y=gammaval(0.9):u=(val-128)*1.2+128:v=(val-128)*1.2+128,removegrain=4:4:4,hqdn3d=4:3:6:4.5,unsharp=3:3:0.8:3:3:0,format=bgra"

now() { date +%s.%N; }
TIMEFORMAT='%U %S'

for SIZE in 1920x1080 720x576; do
  W=${SIZE%x*}
  H=${SIZE#*x}
  IN="$TMP/in-$SIZE.bgra"
  ffmpeg -v error -f lavfi -i "testsrc2=size=$SIZE:rate=25" -frames:v "$FRAMES" \
    -vf "noise=alls=12:allf=t" -pix_fmt bgra -f rawvideo -y "$IN"
  # Warm the page cache for both runs alike.
  cat "$IN" > /dev/null

  OURS=$(TARVO_THREADS=$THREADS taskset -c "$CORE" "$RUN" "$W" "$H" "$IN" "$RECORD")
  OURS_FPS=$(sed -n 's/.*processor time: \([0-9.]*\) fps.*/\1/p' <<<"$OURS")
  OURS_WALL=$(sed -n 's/.*wall: \([0-9.]*\) fps.*/\1/p' <<<"$OURS")

  T0=$(now)
  CPU=$( { time taskset -c "$CORE" ffmpeg -v error -nostdin -threads 1 -filter_threads 1 \
    -f rawvideo -pix_fmt bgra -s "$SIZE" -i "$IN" -vf "$CHAIN" -f null - ; } 2>&1 )
  T1=$(now)
  FF_FPS=$(awk -v n="$FRAMES" -v t="$CPU" 'BEGIN { split(t, a, " "); printf "%.2f", n / (a[1] + a[2]) }')
  FF_WALL=$(awk -v n="$FRAMES" -v a="$T0" -v b="$T1" 'BEGIN { printf "%.2f", n / (b - a) }')
  RATIO=$(awk -v a="$OURS_FPS" -v b="$FF_FPS" 'BEGIN { printf "%.2f", a / b }')
  printf '%-10s cores %s: tarvo (%s): %8.2f fps   ffmpeg: %8.2f fps   ratio %sx   (wall: %s vs %s fps)\n' \
    "$SIZE" "$CORE" "$RECORD" "$OURS_FPS" "$FF_FPS" "$RATIO" "$OURS_WALL" "$FF_WALL"
done

# File to file: decoding, the conversions to and from BGRA and encoding count.
SIZE=1920x1080
IN="$TMP/in-420.nut"
ffmpeg -v error -f lavfi -i "testsrc2=size=$SIZE:rate=25" -frames:v "$FRAMES" \
  -vf "noise=alls=12:allf=t" -pix_fmt yuv420p -c:v rawvideo -f nut -y "$IN"
cat "$IN" > /dev/null
# The clip just written is still being written out to the disk; the first
# render would share the disk with that (its processor time up by a quarter).
sync
# The record as pipeline_run builds it (bench/bench_records.h): the typical
# record of bench/typical-record.txt, the heavy one on top of it, or the
# light one.
SETS=()
if [[ $RECORD == light ]]; then
  SETS=(--set Gamma=-5 --set Sat=120 --set ProcMode=420)
else
  while IFS= read -r line; do
    [[ -z $line || $line == \#* ]] && continue
    SETS+=(--set "$line")
  done < bench/typical-record.txt
  if [[ $RECORD == heavy ]]; then
    for line in YDespeckle=4 CDespeckle=4 NoiseMaskYOnly=0 MedianLimit=50 MedianThreshold=5 MedianWhen=3 \
                MedianWeighted=1 TempFlags=3 YSharpness=40 CSharpness=20; do
      SETS+=(--set "$line")
    done
  fi
fi
T0=$(now)
CPU=$( { time taskset -c "$CORE" "$TARVO" render "$IN" "$TMP/ours.nut" --codec rawvideo --pix-fmt yuv420p \
  --threads "$THREADS" --op-mode final "${SETS[@]}" -q ; } 2>&1 | tail -n 1 )
T1=$(now)
OURS_FPS=$(awk -v n="$FRAMES" -v t="$CPU" 'BEGIN { split(t, a, " "); printf "%.2f", n / (a[1] + a[2]) }')
OURS_WALL=$(awk -v n="$FRAMES" -v a="$T0" -v b="$T1" 'BEGIN { printf "%.2f", n / (b - a) }')
CHAIN420="${CHAIN%,format=bgra},format=yuv420p"
T0=$(now)
CPU=$( { time taskset -c "$CORE" ffmpeg -v error -nostdin -threads 1 -filter_threads 1 \
  -i "$IN" -vf "$CHAIN420" -c:v rawvideo -pix_fmt yuv420p -f nut -y "$TMP/theirs.nut" ; } 2>&1 )
T1=$(now)
FF_FPS=$(awk -v n="$FRAMES" -v t="$CPU" 'BEGIN { split(t, a, " "); printf "%.2f", n / (a[1] + a[2]) }')
FF_WALL=$(awk -v n="$FRAMES" -v a="$T0" -v b="$T1" 'BEGIN { printf "%.2f", n / (b - a) }')
RATIO=$(awk -v a="$OURS_FPS" -v b="$FF_FPS" 'BEGIN { printf "%.2f", a / b }')
RATIO_WALL=$(awk -v a="$OURS_WALL" -v b="$FF_WALL" 'BEGIN { printf "%.2f", a / b }')
printf '%-10s file to file, 4:2:0 NUT in and out, cores %s: tarvo (%s): %8.2f fps   ffmpeg: %8.2f fps   ratio %sx   (wall: %s vs %s fps, ratio %sx)\n' \
  "$SIZE" "$CORE" "$RECORD" "$OURS_FPS" "$FF_FPS" "$RATIO" "$OURS_WALL" "$FF_WALL" "$RATIO_WALL"

# With more than one core: the wall-clock rate on them against the rate of
# one thread on one core (processor time), the scaling users see. The two
# renders take turns, ROUNDS times (default 3), and each round gives a ratio:
# this machine's speed drifts between runs a minute apart by more than the
# threads change it, and two renders run back to back see nearly the same
# machine.
if (( THREADS > 1 )); then
  ONE_CORE=${CORE%%[,-]*}
  RATIOS=()
  for (( round = 0; round < ${ROUNDS:-3}; ++round )); do
    if (( round > 0 )); then
      T0=$(now)
      taskset -c "$CORE" "$TARVO" render "$IN" "$TMP/ours.nut" --codec rawvideo --pix-fmt yuv420p \
        --threads "$THREADS" --op-mode final "${SETS[@]}" -q 2>/dev/null
      T1=$(now)
      OURS_WALL=$(awk -v n="$FRAMES" -v a="$T0" -v b="$T1" 'BEGIN { printf "%.2f", n / (b - a) }')
    fi
    CPU=$( { time taskset -c "$ONE_CORE" "$TARVO" render "$IN" "$TMP/one.nut" --codec rawvideo --pix-fmt yuv420p \
      --threads 1 --op-mode final "${SETS[@]}" -q ; } 2>&1 | tail -n 1 )
    ONE_FPS=$(awk -v n="$FRAMES" -v t="$CPU" 'BEGIN { split(t, a, " "); printf "%.2f", n / (a[1] + a[2]) }')
    cmp -s "$TMP/one.nut" "$TMP/ours.nut" || { echo "one thread and $THREADS threads wrote different files" >&2; exit 1; }
    RATIOS+=("$(awk -v a="$OURS_WALL" -v b="$ONE_FPS" 'BEGIN { printf "%.2f", a / b }')")
    printf '%-10s file to file, %s threads on cores %s: %s fps (wall) against one thread on core %s: %s fps (processor time): %sx\n' \
      "$SIZE" "$THREADS" "$CORE" "$OURS_WALL" "$ONE_CORE" "$ONE_FPS" "${RATIOS[-1]}"
  done
  MEDIAN=$(printf '%s\n' "${RATIOS[@]}" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }')
  printf '%-10s file to file, %s threads against one, by turns over %s rounds: median %sx\n' \
    "$SIZE" "$THREADS" "${#RATIOS[@]}" "$MEDIAN"
fi
