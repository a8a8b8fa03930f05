#!/usr/bin/env bash
# Runs the orva commands against the built-in virtual devices and checks what a person
# (or a script) would: exit statuses, what goes to standard output and what to standard
# error, that no file of theirs is lost, strict parsing, JSON that parses, and files
# other tools read, JSON documents as docs/cli-json.md describes them, and streams
# piped into ffprobe. Usage: cli_smoke.sh ORVA CLI-JSON.md
set -uo pipefail
orva=$1
jsonDoc=$2
work=$(mktemp -d)
child=""
cleanup() {
  [ -n "$child" ] && kill -KILL "$child" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
export ORVA_SIMULATE=1
failures=0
out="$work/stdout" err="$work/stderr"

# check NAME STATUS STDOUT-PATTERN STDERR-PATTERN -- COMMAND...  ("" matches anything)
check() {
  local name=$1 status=$2 outPattern=$3 errPattern=$4
  shift 5
  "$@" >"$out" 2>"$err"
  local rc=$? problem=""
  [ "$rc" -eq "$status" ] || problem="exit $rc, wanted $status"
  [ -z "$outPattern" ] || grep -Eq -- "$outPattern" "$out" || problem="$problem; stdout lacks /$outPattern/"
  [ -z "$errPattern" ] || grep -Eq -- "$errPattern" "$err" || problem="$problem; stderr lacks /$errPattern/"
  if [ -n "$problem" ]; then
    echo "FAIL $name: $problem"
    echo "  stdout:"; tail -8 "$out" | sed 's/^/    /'
    echo "  stderr:"; tail -8 "$err" | sed 's/^/    /'
    failures=$((failures + 1))
  else
    echo "ok   $name"
  fi
}
fail() { echo "FAIL $1"; failures=$((failures + 1)); }
json() { # json NAME -- COMMAND...: one JSON document on stdout, exit 0
  local name=$1
  shift 2
  if "$@" 2>"$err" | jq -e . >/dev/null; then echo "ok   $name"; else fail "$name: not one JSON document"; fi
}

# documented SECTION -- COMMAND...: the command's JSON (a document, or a line each)
# has only snake_case keys, each named in the section of docs/cli-json.md whose
# heading names `orva SECTION`.
documented() {
  local section=$1 keys text missing=""
  shift 2
  "$@" >"$out" 2>"$err" || { fail "$section JSON: exit $? ($(tail -2 "$err"))"; return; }
  keys=$(jq -r '[.. | objects | keys[]] | unique[]' "$out" | sort -u) || { fail "$section JSON does not parse"; return; }
  text=$(awk -v want="\`orva $section" '/^## /{inside = index($0, want " ") || index($0, want "`")} inside' "$jsonDoc")
  [ -n "$text" ] || { fail "docs/cli-json.md has no section for orva $section"; return; }
  for k in $keys; do
    [[ $k =~ ^[a-z][a-z0-9_]*$ ]] || missing="$missing $k(not snake_case)"
    grep -Fq -e "\"$k\"" -e "\`$k\`" <<<"$text" || missing="$missing $k"
  done
  if [ -n "$missing" ]; then fail "orva $section JSON keys not in docs/cli-json.md:$missing"; else echo "ok   $section JSON as documented"; fi
}

# Every command explains itself, with an example.
for c in devices formats controls ptz info capture record repair probe doctor overlay catalogue \
         audio-formats meter volume mute capture-audio; do
  "$orva" "$c" --help >"$out" 2>&1 && grep -q "^example" "$out" && grep -q -- "--help" "$out" || fail "$c --help"
done
check version 0 "^orva [0-9]+\.[0-9]+" "" -- "$orva" --version
check unknown-command 2 "" "unknown command" -- "$orva" frobnicate
check unknown-option 2 "" "unknown option --frob.*--help" -- "$orva" formats --frob

# Listing commands: results on stdout, nothing else there.
check devices 0 "Orva Virtual Camera" "" -- "$orva" devices
check formats 0 "1280x720" "" -- "$orva" formats
check controls 0 "^ *brightness +-?[0-9]+" "" -- "$orva" controls
check info 0 "firmware" "" -- "$orva" info
check audio-formats 0 "aac:48000:2" "" -- "$orva" audio-formats
check watch 0 "\\+ camera .*PTZ" "Watching" -- "$orva" devices --watch --seconds 1.5 --simulate-hotplug 0.4
check bad-camera 1 "" "no camera \"nope\"" -- "$orva" formats nope
for c in devices formats controls info audio-formats catalogue; do json "$c --json" -- "$orva" "$c" --json; done
# A failing capture library is a failure, not an empty list.
for fault in "devices VCI_Enum_Devices" "devices ACI_Enum_Devices" "formats VCI_Enum_Pixel_Formats" \
             "controls VCI_Get_Property" "audio-formats ACI_Enum_Wave_Formats"; do
  set -- $fault
  check "$1 with $2 failing" 1 "" "failed" -- env ORVA_SIM_FAULTS="$2=1" "$orva" "$1"
done
check watch-json 0 '^\{"event":"added"' "" -- "$orva" devices --watch --seconds 1 --simulate-hotplug 0.3 --json
head -1 "$out" | grep -q '^{"event":"present","device":{"index":0,"name":"Orva Virtual Camera"' ||
  fail "watch-json does not start with the cameras present: $(head -1 "$out")"

# Strict parsing: names in any case, numbers whole and in range, ranges named.
check controls-case 0 "brightness is now 40" "" -- "$orva" controls set Brightness 40
check controls-range 2 "" "brightness is a whole number from 0 to 255, not \"400\"" -- "$orva" controls set brightness 400
check controls-huge 2 "" "not \"99999999999\"" -- "$orva" controls set brightness 99999999999
check controls-switch 0 "auto-focus set to off" "" -- "$orva" controls set AUTO-FOCUS Off
check volume-range 2 "" "0 to 255, not \"300\"" -- "$orva" volume 300
check volume-negative 2 "" "not \"-1\"" -- "$orva" volume -1
check volume 0 "volume 128" "" -- "$orva" volume 128
check mute 0 "mute on" "" -- "$orva" mute on
check ptz 0 "head position: pan \\+1 \\(1 step left\\)" "" -- "$orva" ptz left
check ptz-junk 2 "" "not \"3abc\"" -- "$orva" ptz left 3abc
check format-junk 2 "" "not \"avc1:1280x720junk\"" -- "$orva" capture --format avc1:1280x720junk
check seconds-junk 2 "" "positive number of seconds" -- "$orva" meter --seconds 1s
check record-empty-name 2 "" "empty" -- "$orva" record ""
check record-bad-format 2 "" "CODEC:WIDTHxHEIGHT" -- "$orva" record --video avc1 "$work/r2.mov"
check catalogue 0 "product 0x7E01: 10 resolutions" "" -- "$orva" catalogue
check catalogue-decimal 0 "1280x720 for avc1: yes" "" -- "$orva" catalogue --pid 32257 --codec avc1 --size 1280x720
check catalogue-hex 0 "1280x720 for avc1: yes" "" -- "$orva" catalogue --pid 0x7E01 --codec avc1 --size 1280x720
check catalogue-missing 1 "not in the catalogue" "" -- "$orva" catalogue --pid 0x1234
check catalogue-no 1 "for avc1: no" "" -- "$orva" catalogue --pid 0x7E01 --codec avc1 --size 1x1

# Files: never lose what is there; validate before touching anything.
echo keep >"$work/keep.mov"
check record-bad-camera 1 "" "no camera \"nosuch\"" -- "$orva" record --camera nosuch --seconds 1 "$work/keep.mov" -y
check record-exists 1 "" "exists; add -y" -- "$orva" record --seconds 1 "$work/keep.mov"
for c in "capture --out" "capture-audio --out" "overlay --out"; do
  check "$c-exists" 1 "" "exists; add -y" -- "$orva" $c "$work/keep.mov"
done
[ "$(cat "$work/keep.mov")" = keep ] || fail "keep.mov was touched"
check record-device 1 "" "not a regular file" -- "$orva" record --seconds 1 -y /dev/null
[ -c /dev/null ] || fail "/dev/null is no longer a device"
check record-folder 1 "" "does not exist" -- "$orva" record --seconds 1 "$work/none/r.mov"

# Recording: the summary on stdout, the component's own lines nowhere (or on stderr
# with --log), no progress into a file unless asked.
check record 0 "track 1: audio mp4a" "" -- "$orva" record --video avc1:640x360 --audio aac:48000:2 --seconds 1.5 "$work/r.mov"
grep -Eq "Starting writing|0x[0-9a-f]{6,}" "$out" "$err" && fail "record: the component's console lines leak"
grep -q $'\r' "$err" && fail "record: a progress line on a non-terminal"
check record-log 0 "track 0" "Starting writing" -- "$orva" record --seconds 0.5 --log -y "$work/r.mov"
check record-shorter-than-a-frame 0 "1 frames" "" -- "$orva" record --seconds 0.001 --audio none -y "$work/tiny.mov"
check record-progress 0 "" $'\r' -- "$orva" record --seconds 0.5 --progress -y "$work/r.mov"
json "record --json" -- "$orva" record --seconds 0.5 -y --json "$work/r.mov"
check probe 0 "QuickTime movie, .* 2 tracks" "" -- "$orva" probe "$work/r.mov"
json "probe --json" -- "$orva" probe --json "$work/r.mov"
check probe-not-a-movie 1 "" "cannot read .*missing.mov" -- "$orva" probe "$work/missing.mov"
# Inputs that are not files are refused at once (a pipe would block for ever).
mkfifo "$work/fifo"
check probe-fifo 1 "" "is a pipe" -- timeout 60 "$orva" probe "$work/fifo"
check repair-fifo 1 "" "not a file" -- timeout 60 "$orva" repair "$work/fifo" "$work/fifo-repaired.mov"
check catalogue-fifo 1 "" "is a pipe" -- timeout 60 "$orva" catalogue "$work/fifo"
check catalogue-device 1 "" "is a device" -- timeout 60 "$orva" catalogue /dev/zero
check overlay-fifo 1 "" "is a pipe" -- timeout 60 "$orva" overlay --status-image "$work/fifo" --out "$work/o.png"

# Files other tools read, of the length asked for.
check capture-audio-wav 0 "0.300 s.*WAV" "" -- "$orva" capture-audio --seconds 0.3 --out "$work/a.wav"
[ "$(head -c 4 "$work/a.wav")" = RIFF ] || fail "a.wav has no RIFF header"
check capture-audio-aac 0 "ADTS AAC" "" -- "$orva" capture-audio --format aac:48000:2 --seconds 1 --out "$work/a.aac"
# A loaded machine's simulated camera drops frames, as a camera does; never more than a second's worth.
check capture 0 "Captured ([1-9]|[12][0-9]|30) frames" "" -- "$orva" capture --format avc1:640x360 --seconds 1 --out "$work/x.h264"
check capture-movie 0 "QuickTime movie" "" -- "$orva" capture --format avc1:640x360 --seconds 1 --out "$work/x.mov"
# A device unplugged mid-way ends the command at once (not after its 30 s), keeps what
# came before it went, and says so with exit 1.
check capture-unplugged 1 "Captured [1-9]" "Camera was unplugged; what it sent before is kept" -- \
  "$orva" capture --seconds 30 --simulate-unplug 1 --out "$work/u.h264"
check capture-audio-unplugged 1 "WAV" "Microphone was unplugged" -- \
  "$orva" capture-audio --seconds 30 --simulate-unplug 1 --out "$work/u.wav"
check record-unplugged 1 "2 tracks" "unplugged: movie kept up to [0-9.]+ s at $work/u.mov" -- \
  "$orva" record --seconds 30 --simulate-unplug 1.5 "$work/u.mov"
check unplug-needs-simulate 2 "" "add --simulate" -- env -u ORVA_SIMULATE "$orva" capture --simulate-unplug 1
check meter-json 0 '"channels":\[\{"level_db":[-0-9.]+,"peak_db":[-0-9.]+\},\{' "" -- "$orva" meter --seconds 0.3 --json
ticks=$(wc -l <"$out") # one a tenth of a second; a loaded machine's timers may merge some
{ [ "$ticks" -ge 1 ] && [ "$ticks" -le 3 ]; } || fail "meter --seconds 0.3 gave $ticks ticks, not up to 3"
check meter 0 "ch2 .*dBFS" "" -- "$orva" meter --seconds 0.5
check overlay 0 "wrote $work/frame.png" "" -- "$orva" overlay --out "$work/frame.png"
if command -v ffprobe >/dev/null; then
  [ "$(ffprobe -v error -show_entries stream=duration -of csv=p=0 "$work/a.wav")" = "0.300000" ] || fail "a.wav is not 0.3 s"
  [ "$(ffprobe -v error -show_entries stream=r_frame_rate -of csv=p=0 "$work/x.h264")" = "30/1" ] ||
    fail "x.h264 does not declare 30 fps"
  decoded=$(ffmpeg -nostdin -v error -i "$work/r.mov" -f null - 2>&1)
  [ -z "$decoded" ] || fail "ffmpeg reports errors decoding r.mov: $(head -c 600 <<<"$decoded")"
  # A constant frame rate: every frame lasts whole periods of 1/30 s. (ffprobe's
  # r_frame_rate is a guess from the frames' spacing: a simulated camera starved by a
  # sanitizer on a busy machine gives 3 to 9 frames in the half second, each lasting
  # 2 to 6 periods, and the guess follows them: 15/1, 5/1.)
  odd=$(ffprobe -v error -select_streams v -show_entries packet=duration -of csv=p=0 "$work/r.mov" | awk '$1 % 3000' | head -3)
  [ -z "$odd" ] || fail "r.mov has frames that are not whole periods: $odd"
fi

# Every JSON document holds what docs/cli-json.md says.
for c in devices formats controls info audio-formats catalogue doctor volume mute; do documented "$c" -- "$orva" "$c" --json; done
documented "devices" -- "$orva" devices --watch --json --seconds 1 --simulate-hotplug 0.3
documented "capture" -- "$orva" capture --seconds 0.3 --json
documented "capture-audio" -- "$orva" capture-audio --seconds 0.3 --json --out "$work/j.wav"
documented "record" -- "$orva" record --seconds 0.5 -y --json "$work/r.mov"
documented "probe" -- "$orva" probe --json "$work/r.mov"
documented "meter" -- "$orva" meter --seconds 0.3 --json
cp "$work/r.mov" "$work/.broken.mov.recording"
documented "repair" -- "$orva" repair --json "$work/.broken.mov.recording"

# Pipes: streams go to standard output for another program; movies need a file.
if command -v ffprobe >/dev/null; then
  probe() { ffprobe -v error -of csv=p=0 "$@" - 2>&1; }
  got=$("$orva" capture --format 2vuy:640x480 --seconds 0.5 --out - 2>"$err" |
        probe -f rawvideo -pixel_format uyvy422 -video_size 640x480 -show_entries stream=codec_name,width)
  [ "$got" = "rawvideo,640" ] || fail "capture 2vuy to a pipe: ffprobe says \"$got\""
  grep -q "Captured .* frames" "$err" || fail "capture --out -: the summary is not on standard error"
  got=$("$orva" capture --format avc1:640x360 --seconds 0.5 --out - 2>/dev/null | probe -f h264 -show_entries stream=codec_name,width)
  [ "$got" = "h264,640" ] || fail "capture H.264 to a pipe: ffprobe says \"$got\""
  got=$("$orva" capture-audio --seconds 0.5 --out - 2>/dev/null | probe -show_entries stream=codec_name,sample_rate)
  [ "$got" = "pcm_s16le,48000" ] || fail "capture-audio WAV to a pipe: ffprobe says \"$got\""
  got=$("$orva" capture-audio --format aac:48000:2 --seconds 0.5 --out /dev/stdout 2>/dev/null | probe -show_entries stream=codec_name)
  [ "$got" = "aac" ] || fail "capture-audio AAC to /dev/stdout: ffprobe says \"$got\""
  # A reader that stops early ends the capture, not with a write error.
  "$orva" capture --format 2vuy:640x480 --seconds 30 --out - 2>"$err" | head -c 1000000 >/dev/null
  grep -q "the reader closed the pipe" "$err" || fail "capture into a closed pipe: $(tail -2 "$err")"
fi
check record-pipe 2 "" "needs a seekable file" -- "$orva" record -
check capture-pipe-json 2 "" "--json and --out - both want standard output" -- "$orva" capture --out - --json

# Ctrl-C: the movie is still finished, and the status says the run was cut short.
"$orva" record --seconds 60 "$work/cut.mov" >"$out" 2>"$err" &
child=$!
working="$work/.cut.mov.recording"
for _ in $(seq 600); do [ "$(stat -c %s "$working" 2>/dev/null || echo 0)" -gt 16384 ] && break; sleep 0.1; done # a first fragment
kill -INT "$child"
wait "$child"
rc=$?
child=""
[ "$rc" -eq 130 ] || fail "record interrupted: exit $rc, wanted 130"
"$orva" probe "$work/cut.mov" >/dev/null 2>&1 || fail "record interrupted: no movie"

[ "$failures" -eq 0 ] && echo "all commands behaved" || { echo "$failures check(s) failed"; exit 1; }
