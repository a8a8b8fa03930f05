#!/usr/bin/env bash
# Runs each orva command once against the built-in virtual devices and checks what a
# person would: the exit status and the key line of the output. Usage: cli_smoke.sh ORVA
set -uo pipefail
orva=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

expect() { # expect NAME STATUS PATTERN -- COMMAND...
  local name=$1 status=$2 pattern=$3
  shift 4
  local out rc
  out=$("$@" 2>&1)
  rc=$?
  if [ "$rc" -ne "$status" ] || ! grep -Eq -- "$pattern" <<<"$out"; then
    echo "FAIL $name: exit $rc (wanted $status), output:"
    sed 's/^/    /' <<<"$out" | tail -15
    failures=$((failures + 1))
  else
    echo "ok   $name"
  fi
}

expect devices 0 "Orva Virtual Camera" -- "$orva" devices
expect formats 0 "1280x720" -- "$orva" formats
expect controls 0 "^ *brightness +-?[0-9]+" -- "$orva" controls
expect info 0 "firmware" -- "$orva" info
expect controls-set 0 "brightness is now 40" -- "$orva" controls set brightness 40
expect ptz 0 "head position: pan 1" -- "$orva" ptz left
expect watch 0 "\\+ camera .*PTZ" -- "$orva" devices --watch --seconds 1.5 --simulate-hotplug 0.4
expect mute 0 "mute on" -- "$orva" mute on
expect bad-camera 1 "no camera \"nope\"" -- "$orva" formats nope
expect audio-formats 0 "aac:48000:2" -- "$orva" audio-formats
expect volume-wraps 0 "volume 44" -- "$orva" volume 300
expect meter 0 "metering stopped" -- "$orva" meter --seconds 0.5
expect capture 0 "Captured [0-9]+ frames" -- "$orva" capture --format avc1:640x360 --seconds 1 --out "$work/x.h264"
expect capture-audio 0 "ADTS AAC" -- "$orva" capture-audio --format aac:48000:2 --seconds 1 --out "$work/a.aac"
expect record 0 "track 1: audio mp4a" -- "$orva" record --video avc1:640x360 --audio aac:48000:2 --seconds 1.5 "$work/r.mov"
expect probe 0 "QuickTime movie, .* 2 tracks" -- "$orva" probe "$work/r.mov"
expect record-missing-folder 1 "does not exist" -- "$orva" record --seconds 1 "$work/none/r.mov"
expect record-bad-format 2 "avc1:WIDTHxHEIGHT" -- "$orva" record --video avc1 "$work/r2.mov"
expect probe-not-a-movie 1 "cannot open the movie" -- "$orva" probe "$work/x.h264.missing"
expect catalogue 0 "product 0x08E4: 10 resolutions" -- "$orva" catalogue
expect catalogue-lookup 0 "1280x720 for H264: yes" -- "$orva" catalogue --pid 0x08E4 --codec H264 --size 1280x720
expect overlay 0 "wrote $work/frame.png" -- "$orva" overlay --out "$work/frame.png"
expect unknown-command 2 "unknown command" -- "$orva" frobnicate

if command -v ffmpeg >/dev/null; then
  if [ -n "$(ffmpeg -nostdin -v error -i "$work/r.mov" -f null - 2>&1)" ]; then
    echo "FAIL record: ffmpeg reports errors decoding the movie"
    failures=$((failures + 1))
  else
    echo "ok   record decodes silently"
  fi
fi
[ "$failures" -eq 0 ] && echo "all commands behaved" || { echo "$failures command(s) misbehaved"; exit 1; }
