#!/bin/bash
# tfs-cat end to end, with real writer processes (the recorder tool):
#   follow    an MPEG-2 program stream copied at its own rate: the output is
#             byte for byte the finished file, ffprobe reading the pipe counts
#             its frames, and tfs-cat ends soon after the writer closes
#   pause     a writer that stops for 3 s (longer than players wait) is
#             followed to its end, not left early
#   unseen    the same while tfs-cat runs as another user than the writer,
#             who is then invisible to the writer probe
#   cut       the file cut below what was written out while its writer goes
#             on (a recorder starting again): a one-line error, status 1
#   pipe      a player that quits ends tfs-cat at once, status 0, silently
#   signals   SIGINT and SIGTERM end a waiting read within a second
#   missing   a file that cannot be opened: one line, status 1
# Prints one line per case beginning "tfs-cat:".
#
# Usage: tfs-cat.sh BIN_DIR WORK_DIR
set -u
bin=$(cd "$1" && pwd)
work=$2
src=$(cd "$(dirname "$0")/../.." && pwd)
rm -rf "$work"
mkdir -p "$work"
chmod 755 "$work"
cd "$work" || exit 1
failed=0
fail() {
    echo "tfs-cat: $1 FAILED: $2"
    failed=1
}
now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }

# --- follow: a program stream copied at its own rate
sh "$src/scripts/make-media.sh" "$work/src.mpg" 8 640x360 3000k >/dev/null 2>&1 || { echo "tfs-cat: no media"; exit 1; }
frames=$(cat "$work/src.mpg.frames")
"$bin/recorder" rec.mpg --copy src.mpg --rate auto &
recorder=$!
sleep 0.2
t0=$(now)
"$bin/tfs-cat" rec.mpg 2>follow.err | tee out.mpg |
    ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 - \
        >probe.txt 2>/dev/null &
reader=$!
wait $recorder
t_closed=$(now)
wait $reader
t_done=$(now)
piped=$(tr -d '[:space:],' <probe.txt)
after=$(elapsed "$t_closed" "$t_done")
cmp -s src.mpg out.mpg || fail follow "output differs from the file ($(stat -c %s out.mpg) of $(stat -c %s src.mpg) bytes)"
[ "$piped" = "$frames" ] || fail follow "ffprobe counted $piped frames from the pipe, $frames in the file"
awk -v a="$after" 'BEGIN { exit !(a <= 1.5) }' || fail follow "ended ${after} s after the writer closed"
[ -s follow.err ] && fail follow "wrote to stderr: $(head -c 200 follow.err)"
echo "tfs-cat: follow bytes=$(stat -c %s out.mpg) identical=$(cmp -s src.mpg out.mpg && echo yes || echo no)" \
    "frames=$piped/$frames run_s=$(elapsed "$t0" "$t_done") after_close_s=$after"

# --- pause and unseen: seeded bytes, a 3 s pause in the middle
pause_case() {
    name=$1
    shift
    rm -f grow.bin grow.out
    "$bin/recorder" grow.bin --seed 7 --size 3000000 --rate 1000000 --pause 1000000:3000 &
    recorder=$!
    sleep 0.2
    "$@" "$bin/tfs-cat" --margin 65536 grow.bin >grow.out 2>"$name.err" &
    reader=$!
    wait $recorder
    t_closed=$(now)
    wait $reader
    rc=$?
    t_done=$(now)
    after=$(elapsed "$t_closed" "$t_done")
    [ $rc -eq 0 ] || fail "$name" "status $rc: $(head -c 200 "$name.err")"
    cmp -s grow.bin grow.out || fail "$name" "$(stat -c %s grow.out) of $(stat -c %s grow.bin) bytes, or different ones"
    awk -v a="$after" 'BEGIN { exit !(a <= 1.5) }' || fail "$name" "ended ${after} s after the writer closed"
    echo "tfs-cat: $name bytes=$(stat -c %s grow.out) identical=$(cmp -s grow.bin grow.out && echo yes || echo no)" \
        "after_close_s=$after"
}
pause_case pause
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null; then
    pause_case unseen setpriv --reuid=65534 --regid=65534 --clear-groups
else
    echo "tfs-cat: unseen skipped (needs root to run the reader as another user)"
fi

# --- cut: the writer pauses at 2 MB, the file is cut to 100 kB, the writer
# appends 1 MB more and closes
rm -f cut.bin cut.out
"$bin/recorder" cut.bin --seed 9 --size 3000000 --rate 1000000 --pause 2000000:3000 &
recorder=$!
sleep 0.2
"$bin/tfs-cat" --margin 65536 cut.bin >cut.out 2>cut.err &
reader=$!
sleep 3
truncate -s 100000 cut.bin
wait $recorder
t_closed=$(now)
wait $reader
rc=$?
after=$(elapsed "$t_closed" "$(now)")
out=$(stat -c %s cut.out)
[ $rc -eq 1 ] && [ "$(wc -l <cut.err)" -eq 1 ] && grep -q 'cut to [0-9]* bytes below the read position' cut.err ||
    fail cut "status $rc: $(head -c 200 cut.err)"
[ "$out" -le 2100000 ] || fail cut "wrote $out bytes, more than the file held before the cut"
awk -v a="$after" 'BEGIN { exit !(a <= 1.5) }' || fail cut "ended ${after} s after the writer closed"
echo "tfs-cat: cut status=$rc bytes_before=$out after_close_s=$after message=\"$(cat cut.err)\""

# --- pipe: the player quits
head -c 8000000 /dev/zero >big.bin
t0=$(now)
"$bin/tfs-cat" big.bin 2>pipe.err | head -c 1000 >/dev/null
rc=${PIPESTATUS[0]}
t=$(elapsed "$t0" "$(now)")
[ $rc -eq 0 ] || fail pipe "status $rc"
[ -s pipe.err ] && fail pipe "wrote to stderr: $(head -c 200 pipe.err)"
awk -v a="$t" 'BEGIN { exit !(a <= 1.0) }' || fail pipe "took ${t} s"
echo "tfs-cat: pipe status=$rc run_s=$t"

# --- signals: a read that waits for growth
for sig in INT TERM; do
    rm -f slow.bin
    "$bin/recorder" slow.bin --seed 3 --size 100000000 --rate 500000 &
    recorder=$!
    sleep 0.2
    "$bin/tfs-cat" slow.bin >/dev/null 2>/dev/null &
    reader=$!
    sleep 3  # admitted at 768 KiB after about 1.6 s; then reads wait near the end
    t0=$(now)
    kill -$sig $reader
    wait $reader
    rc=$?
    t=$(elapsed "$t0" "$(now)")
    kill $recorder 2>/dev/null
    wait $recorder 2>/dev/null
    want=$([ $sig = INT ] && echo 130 || echo 143)
    [ $rc -eq "$want" ] || fail "SIG$sig" "status $rc, not $want"
    awk -v a="$t" 'BEGIN { exit !(a <= 1.0) }' || fail "SIG$sig" "took ${t} s"
    echo "tfs-cat: SIG$sig status=$rc exit_s=$t"
done

# --- missing
"$bin/tfs-cat" "$work/no such file.mpg" >/dev/null 2>missing.err
rc=$?
lines=$(wc -l <missing.err)
[ $rc -eq 1 ] && [ "$lines" -eq 1 ] || fail missing "status $rc, $lines lines: $(cat missing.err)"
echo "tfs-cat: missing status=$rc message=\"$(cat missing.err)\""

exit $failed
