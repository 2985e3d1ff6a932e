#!/bin/bash
# tfs-cat end to end, with real writer processes (the recorder tool):
#   follow    an MPEG-2 program stream copied at its own rate: the output is
#             byte for byte the finished file, ffprobe reading the pipe counts
#             its frames, and tfs-cat ends soon after the writer closes
#   pause     a writer that stops for 3 s (longer than players wait) is
#             followed to its end, not left early, and nothing is said
#   unseen    the same while tfs-cat runs as another user than the writer,
#             who is then invisible to the writer probe; and as root without
#             the right to trace, who may list the writer's descriptors but
#             not read them
#   guessed   an unseen writer that stops writing but keeps the file open:
#             the end comes after --idle, with one line saying so
#   share     an unseen writer on a network share whose clock is an hour
#             behind: the recording is followed to its end all the same
#   chunks    a recorder that closes its file for 1.3 s after every chunk
#             of 256 KiB, one every 2 s, starting from an empty file: every
#             byte, and the end soon after its last close
#   idle      with --idle 5, a recorder that closes its file for 4 s, longer
#             than the filter waits for a writer to come back: every byte all
#             the same, and the end once the file has not grown for 5 s
#   cut       the file cut below what was written out while its writer goes
#             on (a recorder starting again): a one-line error, status 1
#   replaced  the file deleted and a new, larger one written under its name:
#             the old file's exact bytes, one line, status 0, little CPU while
#             it waits; with --follow-name the new file follows the old
#   from      --from past the live edge waits for the file to get there;
#             past the end of a finished file, or out of range, one line
#   names     a name with a backslash is the file of that name
#   live      --live: the first frame comes from the last seconds of the
#             recording, and the bytes from there on are the file's
#   lag       the first byte's delay and the median lag behind a writer at
#             1 and 8 Mbit/s into a file that holds 1 MB already
#   pipe      a player that quits ends tfs-cat at once, status 0, silently
#   signals   SIGINT and SIGTERM end it at once while Load waits for the
#             first bytes, while a read waits and while a write is blocked by
#             a paused player; SIGTERM also while --stats writes to a
#             standard error nobody reads
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
# A file written whole before tfs-cat starts is dated back: where some
# process cannot be inspected, a file changed within the idle time counts as
# being written.
finished() { touch -d '1 hour ago' "$@"; }
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
awk -v a="$after" 'BEGIN { exit !(a <= 2.0) }' || fail follow "ended ${after} s after the writer closed"
[ -s follow.err ] && fail follow "wrote to stderr: $(head -c 200 follow.err)"
echo "tfs-cat: follow bytes=$(stat -c %s out.mpg) identical=$(cmp -s src.mpg out.mpg && echo yes || echo no)" \
    "frames=$piped/$frames run_s=$(elapsed "$t0" "$t_done") after_close_s=$after"

# --- pause and unseen: seeded bytes, a 3 s pause in the middle. WRITER_AS
# and READER_AS run the recorder and tfs-cat as another user or with fewer
# rights.
as_root=no
[ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null && as_root=yes
nobody=(setpriv --reuid=65534 --regid=65534 --clear-groups)
notrace=(setpriv --bounding-set=-sys_ptrace --inh-caps=-sys_ptrace)
pause_case() {
    local name=$1 writer_as=$2 reader_as=$3
    rm -f grow.bin grow.out
    : >grow.bin
    chmod 666 grow.bin
    $writer_as "$bin/recorder" grow.bin --seed 7 --size 3000000 --rate 1000000 --pause 1000000:3000 &
    local recorder=$!
    sleep 0.2
    $reader_as "$bin/tfs-cat" --margin 65536 grow.bin >grow.out 2>"$name.err" &
    local reader=$!
    wait $recorder
    local t_closed rc t_done after
    t_closed=$(now)
    wait $reader
    rc=$?
    t_done=$(now)
    after=$(elapsed "$t_closed" "$t_done")
    [ $rc -eq 0 ] || fail "$name" "status $rc: $(head -c 200 "$name.err")"
    cmp -s grow.bin grow.out || fail "$name" "$(stat -c %s grow.out) of $(stat -c %s grow.bin) bytes, or different ones"
    # Seen, the writer's exit ends the recording at once; unseen, its close
    # soon after growing is given 3 s to come back.
    local most=2.0
    [ "$name" = pause ] || most=3.6
    awk -v a="$after" -v m="$most" 'BEGIN { exit !(a <= m) }' || fail "$name" "ended ${after} s after the writer closed"
    [ -s "$name.err" ] && fail "$name" "wrote to stderr: $(head -c 200 "$name.err")"
    echo "tfs-cat: $name bytes=$(stat -c %s grow.out) identical=$(cmp -s grow.bin grow.out && echo yes || echo no)" \
        "after_close_s=$after"
}
pause_case pause "" ""
if [ $as_root = yes ]; then
    pause_case unseen "" "${nobody[*]}"
    pause_case unseen-notrace "${nobody[*]}" "${notrace[*]}"
else
    echo "tfs-cat: unseen skipped (needs root to run the reader as another user)"
fi

# --- guessed: an unseen writer stops at 1 MB but holds the file open
if [ $as_root = yes ]; then
    rm -f idle.bin idle.out
    "$bin/recorder" idle.bin --seed 8 --size 1000000 --rate 1000000 --hold 20000 &
    recorder=$!
    sleep 0.2
    "${nobody[@]}" "$bin/tfs-cat" --margin 65536 --idle 2 idle.bin >idle.out 2>idle.err &
    reader=$!
    wait $reader
    rc=$?
    after=$(elapsed "$(date -r idle.bin +%s.%N)" "$(now)")
    kill $recorder 2>/dev/null
    wait $recorder 2>/dev/null
    [ $rc -eq 0 ] && cmp -s idle.bin idle.out || fail guessed "status $rc, $(stat -c %s idle.out) bytes"
    [ "$(wc -l <idle.err)" -eq 1 ] && grep -q 'no growth for [0-9]* s and no writer visible: taken as finished' idle.err ||
        fail guessed "said: $(head -c 300 idle.err)"
    # --idle 2 from the last write, then the 3 s a writer that stopped soon
    # after growing is given to come back.
    awk -v a="$after" 'BEGIN { exit !(a >= 1.5 && a <= 6.0) }' || fail guessed "ended ${after} s after the last write"
    echo "tfs-cat: guessed status=$rc after_last_write_s=$after message=\"$(cat idle.err)\""
else
    echo "tfs-cat: guessed skipped (needs root to run the reader as another user)"
fi

# --- share: a recording on a network share (a folder the platform layer is
# told to take for one) whose server's clock is an hour behind: every write
# leaves the file an hour old. The writer is unseen (tfs-cat runs as another
# user): the file is judged by the changes seen, not by its time stamp, and
# followed to its end.
if [ $as_root = yes ]; then
    rm -rf share share.out && mkdir share && chmod 777 share
    head -c 1048576 /dev/urandom >share.src
    : >share/rec.bin && chmod 666 share/rec.bin
    touch -d '-1 hour' share/rec.bin
    (
        exec 3>>share/rec.bin
        for i in $(seq 0 15); do
            dd if=share.src bs=65536 skip="$i" count=1 status=none >&3
            touch -d '-1 hour' share/rec.bin
            sleep 0.25
        done
    ) &
    writer=$!
    sleep 0.3
    COMPAT_TEST_REMOTE_DIR="$PWD/share" "${nobody[@]}" "$bin/tfs-cat" --margin 65536 share/rec.bin \
        >share.out 2>share.err
    rc=$?
    wait $writer
    [ $rc -eq 0 ] && cmp -s share.src share.out || fail share "status $rc, $(stat -c %s share.out) of 1048576 bytes: $(head -c 200 share.err)"
    echo "tfs-cat: share status=$rc bytes=$(stat -c %s share.out) of=1048576"
else
    echo "tfs-cat: share skipped (needs root to run the reader as another user)"
fi

# --- chunks and idle: a recorder that closes its file between chunks,
# starting from an empty file, with the recorder's and tfs-cat's options
# given.
chunked_case() {
    local name=$1 recorder_options=$2 reader_options=$3
    rm -f chunks.bin chunks.out
    # shellcheck disable=SC2086
    "$bin/recorder" chunks.bin --seed 15 --truncate $recorder_options >"$name.rec" &
    local recorder=$!
    sleep 0.2
    local t0 rc t_closed t_done
    t0=$(now)
    # shellcheck disable=SC2086
    "$bin/tfs-cat" $reader_options chunks.bin >chunks.out 2>"$name.err" &
    local reader=$!
    wait $recorder
    t_closed=$(now)
    wait $reader
    rc=$?
    t_done=$(now)
    after=$(elapsed "$t_closed" "$t_done")
    [ $rc -eq 0 ] || fail "$name" "status $rc: $(head -c 200 "$name.err")"
    cmp -s chunks.bin chunks.out ||
        fail "$name" "$(stat -c %s chunks.out) of $(stat -c %s chunks.bin) bytes, or different ones"
    grep -q '^recorder: reopens refused: 0 of [1-9]' "$name.rec" || fail "$name" "the recorder said: $(cat "$name.rec")"
    [ -s "$name.err" ] && fail "$name" "wrote to stderr: $(head -c 200 "$name.err")"
    echo "tfs-cat: $name bytes=$(stat -c %s chunks.out) of=$(stat -c %s chunks.bin)" \
        "run_s=$(elapsed "$t0" "$t_done") after_close_s=$after $(cat "$name.rec" | sed 's/^recorder: //')"
}
# A chunk every 2 s, the file closed for 1.3 s of those, empty for its first
# second (tfs-cat loads it empty); the filter's verdict alone decides the
# end.
chunked_case chunks "--pause 0:1000 --size 1048576 --rate 131072 --chunk 262144 --close-every 262144 \
    --close-for 1300" ""
awk -v a="$after" 'BEGIN { exit !(a <= 3.0) }' || fail chunks "ended ${after} s after the writer's last close"
# Closed for 4 s in the middle, longer than the filter waits for a writer
# to come back; --idle 5: the end 5 s after the last growth.
chunked_case idle "--size 1048576 --rate 1048576 --chunk 262144 --close-every 524288 --close-for 4000" \
    "--margin 65536 --idle 5"
awk -v a="$after" 'BEGIN { exit !(a >= 4.8 && a <= 8.0) }' || fail idle "ended ${after} s after the writer's last close"

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
awk -v a="$after" 'BEGIN { exit !(a <= 2.0) }' || fail cut "ended ${after} s after the writer closed"
echo "tfs-cat: cut status=$rc bytes_before=$out after_close_s=$after message=\"$(cat cut.err)\""

# --- replaced: the old writer holds its 1 MB file open; a new writer starts
# a 3 MB file and moves it over the name, which deletes the old file (in one
# step, so that the name never leads to no file). The reader's CPU time is
# sampled from the replacement to its end.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null; }
replaced_case() {
    local name=$1
    shift
    rm -f rep.bin rep.old rep.out
    "$bin/recorder" rep.bin --seed 11 --size 1000000 --rate 1000000 --hold 30000 &
    local old_writer=$!
    sleep 0.2
    "$bin/tfs-cat" --margin 65536 "$@" rep.bin >rep.out 2>"$name.err" &
    local reader=$!
    sleep 2
    cp rep.bin rep.old
    local t0 cpu0 cpu
    t0=$(now)
    cpu0=$(cpu_ticks $reader)
    rm -f rep.new
    "$bin/recorder" rep.new --seed 12 --size 3000000 --rate 1000000 &
    local new_writer=$!
    while [ ! -e rep.new ]; do sleep 0.01; done
    mv -f rep.new rep.bin
    local polls=0
    while cpu=$(cpu_ticks $reader) && [ -n "$cpu" ]; do
        echo "$cpu" >cpu.last
        sleep 0.1
        # The new writer is done after 3 s: a reader still running at 20 s
        # waits for nothing.
        [ $((polls += 1)) -lt 200 ] || kill $reader
    done
    wait $reader
    local rc=$?
    local waited share
    waited=$(elapsed "$t0" "$(now)")
    share=$(awk -v a="$cpu0" -v b="$(cat cpu.last)" -v t="$waited" 'BEGIN { printf "%.1f", (b - a) / 100 / t * 100 }')
    wait $new_writer
    kill $old_writer 2>/dev/null
    wait $old_writer 2>/dev/null
    [ $rc -eq 0 ] || fail "$name" "status $rc: $(head -c 200 "$name.err")"
    [ "$(wc -l <"$name.err")" -eq 1 ] || fail "$name" "said: $(head -c 300 "$name.err")"
    awk -v a="$share" 'BEGIN { exit !(a < 5) }' || fail "$name" "used ${share}% of a core while it waited"
    echo "tfs-cat: $name status=$rc bytes=$(stat -c %s rep.out) cpu_while_waiting_pct=$share waited_s=$waited" \
        "message=\"$(cat "$name.err")\""
}
replaced_case replaced
cmp -s rep.old rep.out || fail replaced "not the old file's bytes ($(stat -c %s rep.out) of $(stat -c %s rep.old))"
grep -q 'the name now leads to a new file; the file followed ended at 1000000 bytes' replaced.err ||
    fail replaced "said: $(cat replaced.err)"
replaced_case replaced-follow-name --follow-name
cat rep.old rep.bin | cmp -s - rep.out || fail replaced-follow-name "not the old file and then the new one"
grep -q 'following it from its start' replaced-follow-name.err || fail replaced-follow-name "said: $(cat replaced-follow-name.err)"

# --- from: past the live edge, past the end of a finished file, out of range
rm -f from.bin from.out
"$bin/recorder" from.bin --seed 13 --size 3000000 --rate 1000000 &
recorder=$!
sleep 0.2
"$bin/tfs-cat" --margin 65536 --from 2000000 from.bin >from.out 2>from.err
rc=$?
wait $recorder
tail -c +2000001 from.bin | cmp -s - from.out && [ $rc -eq 0 ] && [ ! -s from.err ] ||
    fail from "status $rc, $(stat -c %s from.out) bytes: $(head -c 200 from.err)"
from_bytes=$(stat -c %s from.out)
finished from.bin
"$bin/tfs-cat" --from 5000000 from.bin >from.out 2>from-end.err
rc_end=$?
[ $rc_end -eq 1 ] && [ ! -s from.out ] && grep -q 'ended at 3000000 bytes, before --from 5000000' from-end.err ||
    fail from "past the end: status $rc_end: $(cat from-end.err)"
"$bin/tfs-cat" --from 4611686018427387904 from.bin >from.out 2>from-range.err
rc_range=$?
[ $rc_range -eq 2 ] && grep -q 'out of range' from-range.err || fail from "out of range: status $rc_range: $(cat from-range.err)"
echo "tfs-cat: from past_edge_status=$rc bytes=$from_bytes past_end_status=$rc_end" \
    "out_of_range_status=$rc_range message=\"$(head -1 from-range.err)\""

# --- names: Linux allows a backslash in a name
mkdir -p a
echo "the file a/b" >a/b
echo "the file a\\b" >'a\b'
finished a/b 'a\b'
out=$("$bin/tfs-cat" 'a\b' 2>names.err)
[ "$out" = "the file a\\b" ] || fail names "a\\b gave \"$out\" $(cat names.err)"
echo "tfs-cat: names a\\b=\"$out\""

# --- live: a program stream of 16 s at a constant 2 Mbit/s copied at its
# rate; tfs-cat --live starts 8 s into it
sh "$src/scripts/make-media.sh" "$work/live.mpg" 16 640x360 2000k cbr >/dev/null 2>&1 || fail live "no media"
rm -f rec.mpg
"$bin/recorder" rec.mpg --copy live.mpg --rate auto &
recorder=$!
sleep 8
"$bin/tfs-cat" --live rec.mpg 2>live.err | "$bin/lagmeter" rec.mpg live.out >live.lag
rc=${PIPESTATUS[0]}
wait $recorder
first_pts() { ffprobe -v quiet -select_streams v:0 -show_entries frame=pts_time -of csv=p=0 "$1" | head -1 | tr -d ,; }
from=$(first_pts live.mpg)
got=$(first_pts live.out)
back=$(awk -v a="$from" -v b="$got" 'BEGIN { printf "%.2f", 8 - (b - a) }')  # seconds behind the live edge
[ $rc -eq 0 ] && [ ! -s live.err ] || fail live "status $rc: $(head -c 200 live.err)"
[ "$(head -c 4 live.out | od -An -tx1 | tr -d ' ')" = 000001ba ] || fail live "does not begin with a pack header"
tail -c "$(stat -c %s live.out)" rec.mpg | cmp -s - live.out || fail live "not the file's last bytes"
awk -v a="$back" 'BEGIN { exit !(a >= -2 && a <= 4) }' || fail live "first frame ${back} s behind the live edge"
echo "tfs-cat: live status=$rc first_frame_behind_edge_s=$back bytes=$(stat -c %s live.out)" \
    "of=$(stat -c %s rec.mpg) $(cat live.lag)"

# --- lag: 1 MB written at once, then the recording at its rate
lag_case() {
    local name=$1 rate=$2 size=$3 chunk=$4
    rm -f lag.bin lag.out
    "$bin/recorder" lag.bin --seed 14 --size 1000000 --rate 0
    "$bin/recorder" lag.bin --seed 14 --size "$size" --rate "$rate" --chunk "$chunk" &
    local recorder=$!
    sleep 0.2
    "$bin/tfs-cat" lag.bin 2>lag.err | "$bin/lagmeter" lag.bin lag.out >lag.txt
    local rc=${PIPESTATUS[0]}
    wait $recorder
    local first median
    first=$(sed -n 's/.*first_byte_s=\([0-9.]*\).*/\1/p' lag.txt)
    median=$(sed -n 's/.*median_lag_s=\([0-9.]*\).*/\1/p' lag.txt)
    [ $rc -eq 0 ] && cmp -s lag.bin lag.out || fail "$name" "status $rc, $(stat -c %s lag.out) bytes: $(head -c 200 lag.err)"
    awk -v f="$first" -v m="$median" 'BEGIN { exit !(f < 3 && m < 3) }' || fail "$name" "$(cat lag.txt)"
    echo "tfs-cat: $name $(cat lag.txt)"
}
# ffmpeg writes a program stream in 32 KiB blocks
lag_case lag-1mbit 125000 2875000 32768
lag_case lag-8mbit 1000000 13000000 65536

# --- pipe: the player quits
head -c 8000000 /dev/zero >big.bin
finished big.bin
t0=$(now)
"$bin/tfs-cat" big.bin 2>pipe.err | head -c 1000 >/dev/null
rc=${PIPESTATUS[0]}
t=$(elapsed "$t0" "$(now)")
[ $rc -eq 0 ] || fail pipe "status $rc"
[ -s pipe.err ] && fail pipe "wrote to stderr: $(head -c 200 pipe.err)"
awk -v a="$t" 'BEGIN { exit !(a <= 1.0) }' || fail pipe "took ${t} s"
echo "tfs-cat: pipe status=$rc run_s=$t"

# --- signals: Load waiting for the first 768 KiB, a read waiting for
# growth, a write blocked by a player that reads nothing
rm -f stall
mkfifo stall
for state in load read write; do
    for sig in INT TERM; do
        rm -f slow.bin
        case $state in
            load) "$bin/recorder" slow.bin --seed 3 --size 100000000 --rate 100000 & ;;
            *) "$bin/recorder" slow.bin --seed 3 --size 100000000 --rate 500000 & ;;
        esac
        recorder=$!
        sleep 0.2
        if [ $state = write ]; then
            sleep 30 <stall &
            player=$!
            "$bin/tfs-cat" --from 0 --margin 0 slow.bin >stall 2>/dev/null &
        else
            "$bin/tfs-cat" slow.bin >/dev/null 2>/dev/null &
        fi
        reader=$!
        # the read waits once admitted, after about 1.6 s; the pipe is full at once
        case $state in load) sleep 1 ;; read) sleep 3 ;; write) sleep 2 ;; esac
        t0=$(now)
        kill -$sig $reader
        wait $reader
        rc=$?
        t=$(elapsed "$t0" "$(now)")
        kill $recorder 2>/dev/null
        wait $recorder 2>/dev/null
        [ $state = write ] && { kill $player 2>/dev/null; wait $player 2>/dev/null; }
        want=$([ $sig = INT ] && echo 130 || echo 143)
        [ $rc -eq "$want" ] || fail "SIG$sig-$state" "status $rc, not $want"
        awk -v a="$t" 'BEGIN { exit !(a <= 0.3) }' || fail "SIG$sig-$state" "took ${t} s"
        echo "tfs-cat: SIG$sig while ${state} blocks: status=$rc exit_s=$t"
    done
done

# --- stats: --stats with a standard error that a reader holds but never
# reads, filled before tfs-cat starts: its statistics line blocks, SIGTERM
# still ends it at once
rm -f slow.bin errpipe
mkfifo errpipe
"$bin/recorder" slow.bin --seed 3 --size 100000000 --rate 500000 &
recorder=$!
sleep 30 <errpipe &
stalled=$!
exec 7>errpipe
timeout 1 cat /dev/zero >&7 2>/dev/null
"$bin/tfs-cat" --stats slow.bin >/dev/null 2>&7 &
reader=$!
exec 7>&-
# One that does not end is ended after 5 s (status 137).
(sleep 7.5 && kill -KILL $reader 2>/dev/null) &
watchdog=$!
sleep 2.5
t0=$(now)
kill -TERM $reader
wait $reader
rc=$?
t=$(elapsed "$t0" "$(now)")
kill $recorder $stalled $watchdog 2>/dev/null
wait $recorder $stalled $watchdog 2>/dev/null
[ $rc -eq 143 ] || fail stats-blocked "status $rc, not 143"
awk -v a="$t" 'BEGIN { exit !(a <= 0.3) }' || fail stats-blocked "took ${t} s"
echo "tfs-cat: SIGTERM while --stats writes to a full stderr: status=$rc exit_s=$t"

# --- missing
"$bin/tfs-cat" "$work/no such file.mpg" >/dev/null 2>missing.err
rc=$?
lines=$(wc -l <missing.err)
[ $rc -eq 1 ] && [ "$lines" -eq 1 ] || fail missing "status $rc, $lines lines: $(cat missing.err)"
echo "tfs-cat: missing status=$rc message=\"$(cat missing.err)\""

exit $failed
