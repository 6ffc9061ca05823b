#!/usr/bin/env python3
"""Writes a dense Standard MIDI File for measuring the renderer: all 16 channels at 120 bpm,
every melodic channel a three-note chord on each beat, the drum channel on every eighth.

usage: dense_song.py OUT.mid [MINUTES]   (default 5 minutes)

The song is the same as denseSong() in bench_render.cpp, so the process-level memory figure of
`vlmconv render` and the benchmark's speed figure describe one workload.
"""
import struct
import sys

DIVISION = 480
PROGRAMS = [0, 48, 33, 24, 52, 61, 73, 89, 4, 0, 40, 19, 56, 68, 81, 94]  # channel 9: drums


def var_len(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.append(0x80 | (value & 0x7F))
        value >>= 7
    return bytes(reversed(out))


def dense_song(minutes):
    beats = int(minutes * 120)
    events = [(0, b"\xff\x51\x03\x07\xa1\x20")]  # 500000 us per quarter
    for ch, program in enumerate(PROGRAMS):
        if ch != 9:
            events.append((0, bytes([0xC0 | ch, program])))
    for beat in range(beats):
        t = beat * DIVISION
        root = 48 + (beat // 4 % 4) * 5 % 12
        for ch in range(16):
            if ch == 9:
                for half in range(2):
                    key = (36 if beat % 2 == 0 else 38) if half == 0 else 42
                    start = t + half * DIVISION // 2
                    events.append((start, bytes([0x99, key, 100])))
                    events.append((start + DIVISION // 4, bytes([0x89, key, 0])))
                continue
            base = root + 12 * (ch % 3) + (ch % 5)
            for step in (0, 4, 7):
                key = min(base + step, 120)
                events.append((t, bytes([0x90 | ch, key, 64 + ch * 3])))
                events.append((t + DIVISION - 20, bytes([0x80 | ch, key, 0])))
    # A stable sort by time, as the C++ builder does, so both give the same bytes.
    events.sort(key=lambda e: e[0])
    track = bytearray()
    now = 0
    for tick, data in events:
        track += var_len(tick - now) + data
        now = tick
    end = beats * DIVISION
    track += var_len(max(end - now, 0)) + b"\xff\x2f\x00"
    header = b"MThd" + struct.pack(">IHHH", 6, 0, 1, DIVISION)
    return header + b"MTrk" + struct.pack(">I", len(track)) + bytes(track)


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    minutes = float(sys.argv[2]) if len(sys.argv) > 2 else 5.0
    with open(sys.argv[1], "wb") as f:
        f.write(dense_song(minutes))


if __name__ == "__main__":
    main()
