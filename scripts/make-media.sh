#!/bin/sh
# Makes a test recording once and keeps it: an MPEG-2 program stream (VOB
# flavour: MPEG-2 video, MP2 audio) of a test picture with a running frame
# counter and clock, and a tone. Beside it, OUT.frames holds the video frame
# count ffprobe decodes.
#
#   make-media.sh OUT SECONDS [WIDTHxHEIGHT] [VIDEO_BITRATE] [cbr] [video-only|audio-only] [audio=RATE] [interlaced]
#
# With cbr the video holds its bit rate exactly (the encoder pads what the
# picture does not need): the file grows by the same number of bytes every
# second, as a broadcast recording does. Without it the rate is an upper
# bound, and a test picture needs a small part of it. video-only leaves the
# tone out. audio-only makes a radio recording instead: the tone alone, MP2
# at 192 kbit/s (audio=RATE: another rate, 128k say), SECONDS long
# (OUT.frames holds 0). interlaced codes the
# picture as interlaced frames, top field first, as SD broadcasts are.
#
# The tone runs one second longer than the picture. Wine's GStreamer splitter
# ends every stream at the file's duration counted from the first pack's
# clock, while the frames keep their own time stamps, which ffmpeg's muxer
# starts half a second later: with both streams ending together the last
# half second of video would never reach a renderer.
set -eu
out=$1
seconds=$2
size=${3:-320x240}
vrate=${4:-1500k}
shift $(( $# < 4 ? $# : 4 ))
minrate=
tone=yes
picture=yes
interlace=
arate=192k
for flag in "$@"; do
    case "$flag" in
        cbr) minrate="-minrate $vrate" ;;
        video-only) tone= ;;
        audio-only) picture= ;;
        interlaced) interlace="-flags +ilme+ildct -top 1" ;;
        audio=*) arate=${flag#audio=} ;;
        *) echo "make-media.sh: unknown option $flag" >&2; exit 2 ;;
    esac
done
if [ -s "$out" ] && [ -s "$out.frames" ]; then
    exit 0
fi
mkdir -p "$(dirname "$out")"
tmp="$out.tmp.$$"
trap 'rm -f "$tmp" "$tmp.frames"' EXIT
if [ -z "$picture" ]; then
    ffmpeg -nostdin -hide_banner -loglevel error -y \
        -f lavfi -i "sine=frequency=440:beep_factor=4:sample_rate=48000:duration=$seconds" \
        -c:a mp2 -b:a "$arate" -ac 2 -f vob "$tmp"
    echo 0 >"$tmp.frames"
    mv "$tmp.frames" "$out.frames"
    mv "$tmp" "$out"
    echo "media: $out sound only, $(wc -c <"$out") bytes, ${seconds} s"
    exit 0
fi
audio=$((seconds + 1))
if [ -n "$tone" ]; then
    toneinput="-f lavfi -i sine=frequency=440:beep_factor=4:sample_rate=48000:duration=$audio"
    tonecodec="-c:a mp2 -b:a 128k -ac 2"
else
    toneinput=
    tonecodec=-an
fi
make() {
    ffmpeg -nostdin -hide_banner -loglevel error -y \
        -f lavfi -i "testsrc=size=$size:rate=25:duration=$seconds" $toneinput \
        "$@" -c:v mpeg2video -b:v "$vrate" $minrate -maxrate "$vrate" -bufsize 1835k -g 12 $interlace \
        $tonecodec -f vob "$tmp"
}
# The frame number and the clock drawn large; testsrc's own counter remains
# if no font is at hand.
make -vf "drawtext=text='frame %{frame_num}  %{pts\\:hms}':fontsize=h/10:fontcolor=white:box=1:boxcolor=black@0.6:x=(w-tw)/2:y=h-2*th" 2>/dev/null || make
ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$tmp" \
    | tr -d ' ,\n' >"$tmp.frames"
[ -s "$tmp.frames" ] || { echo "make-media.sh: ffprobe found no video frames in $tmp" >&2; exit 1; }
mv "$tmp.frames" "$out.frames"
mv "$tmp" "$out"
echo "media: $out $(cat "$out.frames") frames, $(wc -c <"$out") bytes, ${seconds} s"
