#!/usr/bin/env python3
"""Writes the input songs of the golden conversion set into tests/golden/inputs/.

Run once from the repository root; the files are committed, so the set never changes unless this
script changes. Every song is our own, made from fixed seeds. Together they use every event kind
the readers know: notes of every velocity and range, overlapping and repeated notes of one pitch,
drums, programs and banks, the common controllers, RPN bend range, pitch bends inside notes,
channel and key pressure, tempo, time and key signatures, texts, lyrics, markers, exclusive
messages, running status, note-on with velocity 0, RMID and karaoke wrappers, several timebases,
and a WAVE sound.
"""
import math
import os
import random
import struct

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "inputs")


def varlen(n):
    out = [n & 0x7F]
    n >>= 7
    while n:
        out.insert(0, 0x80 | (n & 0x7F))
        n >>= 7
    return bytes(out)


class Track:
    def __init__(self):
        self.events = []  # (tick, order, bytes)

    def add(self, tick, data, order=1):
        self.events.append((tick, order, len(self.events), bytes(data)))

    def meta(self, tick, kind, payload, order=0):
        if isinstance(payload, str):
            payload = payload.encode("cp932")
        self.add(tick, bytes([0xFF, kind]) + varlen(len(payload)) + payload, order)

    def note(self, tick, ch, key, vel, length, off_velocity_zero=False):
        self.add(tick, [0x90 | ch, key, vel], 2)
        if off_velocity_zero:
            self.add(tick + length, [0x90 | ch, key, 0], 0)
        else:
            self.add(tick + length, [0x80 | ch, key, 64], 0)

    def sysex(self, tick, body):
        self.add(tick, bytes([0xF0]) + varlen(len(body)) + bytes(body), 0)

    def encode(self, running_status=False):
        out = bytearray()
        last = 0
        status = None
        for tick, _, _, data in sorted(self.events, key=lambda e: (e[0], e[1], e[2])):
            out += varlen(tick - last)
            last = tick
            if running_status and data[0] < 0xF0 and data[0] == status:
                out += data[1:]
            else:
                out += data
                status = data[0] if data[0] < 0xF0 else None
        out += varlen(0) + b"\xFF\x2F\x00"
        return b"MTrk" + struct.pack(">I", len(out)) + bytes(out)


def smf(tracks, timebase=480, fmt=1, running_status=False):
    head = b"MThd" + struct.pack(">IHHH", 6, fmt, len(tracks), timebase)
    return head + b"".join(t.encode(running_status) for t in tracks)


def tempo(track, tick, bpm):
    us = int(60000000 / bpm)
    track.meta(tick, 0x51, us.to_bytes(3, "big"))


def write(name, data):
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)


def everything():
    tb = 480
    conductor = Track()
    conductor.meta(0, 0x03, "ゴールデン全部入り")
    conductor.meta(0, 0x02, "(c) vlmplay tests")
    conductor.meta(0, 0x58, bytes([3, 2, 24, 8]))
    conductor.meta(0, 0x59, bytes([0xFE, 0]))
    tempo(conductor, 0, 132)
    tempo(conductor, 8 * tb, 96)
    tempo(conductor, 12 * tb, 150)
    conductor.meta(4 * tb, 0x06, "A")
    conductor.meta(8 * tb, 0x06, "B")
    conductor.sysex(0, [0x7E, 0x7F, 0x09, 0x01, 0xF7])
    conductor.sysex(0, [0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7])
    lead, bass, pad, drums = Track(), Track(), Track(), Track()
    lead.meta(0, 0x03, "Lead")
    for t, ch, prog in ((lead, 0, 80), (bass, 1, 33), (pad, 2, 88)):
        t.add(0, [0xB0 | ch, 0, 0])
        t.add(0, [0xB0 | ch, 32, 0])
        t.add(0, [0xC0 | ch, prog])
        t.add(0, [0xB0 | ch, 7, 100])
        t.add(0, [0xB0 | ch, 10, 32 + ch * 30])
        t.add(0, [0xB0 | ch, 91, 40])
        t.add(0, [0xB0 | ch, 93, 10])
    # RPN 0 bend range 12 on the lead, then an RPN null.
    for c, v in ((101, 0), (100, 0), (6, 12), (38, 0), (101, 127), (100, 127)):
        lead.add(1, [0xB0, c, v])
    melody = [72, 74, 76, 77, 79, 79, 81, 79, 77, 76, 74, 72, 72, 71, 72, 84]
    syllables = ["か", "え", "る", "の", "う", "た", "が", "き", "こ", "え", "て", "く", "る", "よ", "ー", "\r"]
    for i, key in enumerate(melody):
        start = i * tb // 2
        lead.note(start, 0, key, 60 + (i * 7) % 67, tb // 2 - 10)
        lead.meta(start, 0x05, syllables[i])
        if i % 4 == 1:
            for j in range(5):  # a rising bend inside the note
                lead.add(start + j * 40, [0xE0, 0, 64 + j * 12])
            lead.add(start + tb // 2 - 5, [0xE0, 0, 64])
        if i % 5 == 2:
            lead.add(start + 20, [0xB0, 1, 90])
            lead.add(start + 200, [0xB0, 1, 0])
        if i % 6 == 3:
            lead.add(start + 30, [0xD0, 80])
            lead.add(start + 60, [0xA0, key, 70])
    for i in range(8):  # repeated notes of one pitch, back to back and overlapping
        lead.note(8 * tb + i * tb // 4, 0, 67, 100, tb // 4 if i % 2 else tb // 2)
    lead.add(8 * tb, [0xB0, 64, 127])
    lead.add(10 * tb, [0xB0, 64, 0])
    lead.add(10 * tb, [0xB0, 11, 70])
    for bar in range(4):
        root = [36, 33, 29, 31][bar]
        for beat in range(4):
            bass.note(bar * 4 * tb + beat * tb, 1, root + (12 if beat % 2 else 0), 100, tb - 40,
                      off_velocity_zero=True)
            pad.note(bar * 4 * tb + beat * tb, 2, root + 24, 70, tb * 2)
            pad.note(bar * 4 * tb + beat * tb, 2, root + 28, 70, tb * 2)
            pad.note(bar * 4 * tb + beat * tb, 2, root + 31, 70, tb * 2)
    for i in range(64):
        drums.note(i * tb // 4, 9, [36, 42, 38, 42][i % 4], 80 + i % 40, 30)
        if i % 8 == 7:
            drums.note(i * tb // 4, 9, 49, 110, 30)
    return smf([conductor, lead, bass, pad, drums], tb, running_status=True)


def dense(seed, channels=16, notes=600, tb=480, low=0, high=127):
    rnd = random.Random(seed)
    tracks = [Track()]
    tempo(tracks[0], 0, 120)
    for ch in range(channels):
        t = Track()
        if ch != 9:
            t.add(0, [0xC0 | ch, rnd.randrange(128)])
        t.add(0, [0xB0 | ch, 7, rnd.randrange(40, 128)])
        tracks.append(t)
    for _ in range(notes):
        ch = rnd.randrange(channels)
        start = rnd.randrange(0, 32 * tb)
        length = rnd.choice([tb // 8, tb // 4, tb // 2, tb, 2 * tb, 3 * tb // 2])
        tracks[ch + 1].note(start, ch, rnd.randrange(low, high + 1), rnd.randrange(1, 128),
                            length)
        if rnd.random() < 0.05:
            tracks[ch + 1].add(start, [0xE0 | ch, rnd.randrange(128), rnd.randrange(128)])
        if rnd.random() < 0.05:
            tracks[ch + 1].add(start, [0xB0 | ch, rnd.choice([1, 7, 10, 11, 64]),
                                       rnd.randrange(128)])
    return smf(tracks, tb)


def long_song(minutes=3):
    tb = 96
    t0, t1, t2 = Track(), Track(), Track()
    tempo(t0, 0, 140)
    t0.meta(0, 0x03, "Long song")
    beats = int(minutes * 140)
    rnd = random.Random(7)
    scale = [0, 2, 4, 5, 7, 9, 11]
    for b in range(beats):
        for half in range(2):
            k = 60 + scale[rnd.randrange(7)] + 12 * rnd.randrange(2)
            t1.note(b * tb + half * tb // 2, 0, k, 100, tb // 2 - 4)
        t2.note(b * tb, 1, 36 + scale[(b // 4) % 7], 90, tb - 4)
    return smf([t0, t1, t2], tb)


def bends():
    tb = 480
    t = Track()
    tempo(t, 0, 120)
    t.add(0, [0xC0, 0])
    for c, v in ((101, 0), (100, 0), (6, 2), (38, 0)):
        t.add(0, [0xB0, c, v])
    for i in range(8):
        start = i * tb
        t.note(start, 0, 60 + (i % 3) * 2 if i % 4 != 3 else 62, 100, tb)
        for j in range(8):
            t.add(start + 30 + j * 50, [0xE0, 0, 64 + j * 8])
        t.add(start + tb - 1, [0xE0, 0, 64])
    for c, v in ((101, 0), (100, 0), (6, 12), (38, 0)):
        t.add(8 * tb, [0xB0, c, v])
    for i in range(4):
        t.note(8 * tb + i * tb, 0, 67, 90, tb)
        t.add(8 * tb + i * tb + 100, [0xE0, 0x7F, 0x7F if i % 2 else 0x00])
    t.add(12 * tb, [0xE0, 0, 64])
    return smf([t], tb, fmt=0)


def karaoke():
    tb = 120
    t0, words, melody = Track(), Track(), Track()
    t0.meta(0, 0x01, "@KMIDI KARAOKE FILE")
    t0.meta(0, 0x01, "@Tgolden karaoke")
    tempo(t0, 0, 100)
    text = ["\\Twin", "kle ", "twin", "kle ", "lit", "tle ", "star", "/How ", "I ", "won", "der"]
    notes = [60, 60, 67, 67, 69, 69, 67, 65, 65, 64, 64]
    for i, (w, k) in enumerate(zip(text, notes)):
        words.meta(i * tb, 0x01, w)
        melody.note(i * tb, 0, k, 90, tb - 10)
    return smf([t0, words, melody], tb)


def rmid():
    inner = smf([everything_small()], 48, fmt=0)
    data = b"RMID" + b"data" + struct.pack("<I", len(inner)) + inner
    info = b"INAM" + struct.pack("<I", 6) + b"title\0" + b"ICOP" + struct.pack("<I", 4) + b"me\0\0"
    data += b"LIST" + struct.pack("<I", 4 + len(info)) + b"INFO" + info
    return b"RIFF" + struct.pack("<I", len(data)) + data


def everything_small():
    t = Track()
    tempo(t, 0, 200)
    t.meta(0, 0x03, "rmid")
    for i in range(24):
        t.note(i * 12, i % 3, 48 + i, 100, 11, off_velocity_zero=True)
    return t


def extremes():
    tb = 960
    t = Track()
    tempo(t, 0, 30)
    tempo(t, 4 * tb, 300)
    tempo(t, 8 * tb, 600)
    for i in range(32):
        t.note(i * tb // 4, 0, [0, 127, 12, 115, 24, 108][i % 6], 127 if i % 2 else 1, tb // 4)
    t.sysex(tb, [0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7])
    t.add(2 * tb, [0xB0, 121, 0])
    t.add(2 * tb, [0xB0, 123, 0])
    return smf([t], tb, fmt=0)


def one_note():
    t = Track()
    t.note(0, 0, 69, 100, 480)
    return smf([t], 480, fmt=0)


def no_notes():
    t = Track()
    tempo(t, 0, 120)
    t.meta(0, 0x03, "silence")
    t.add(0, [0xC0, 5])
    t.meta(1920, 0x06, "end")
    return smf([t], 480, fmt=0)


def tone_wav(rate=8000, seconds=1.0):
    n = int(rate * seconds)
    samples = b"".join(
        struct.pack("<h", int(12000 * math.sin(2 * math.pi * 440 * i / rate) *
                              min(1.0, i / 400, (n - i) / 400)))
        for i in range(n))
    fmt = struct.pack("<HHIIHH", 1, 1, rate, rate * 2, 2, 16)
    body = b"WAVE" + b"fmt " + struct.pack("<I", 16) + fmt + b"data" + struct.pack("<I", len(samples)) + samples
    return b"RIFF" + struct.pack("<I", len(body)) + body


def raw_track(body):
    """A track from ready-made event bytes (deltas included), closed by an end of track."""
    out = bytes(body) + varlen(0) + b"\xFF\x2F\x00"
    return b"MTrk" + struct.pack(">I", len(out)) + out


def kinds():
    """Event kinds the other songs lack: GS, universal and XG master volume, GS rhythm-part and
    Yamaha bank-select rhythm switches, cue texts, escaped and split exclusives, sequencer data
    with slash lyrics, NRPN data entry, running status across meta events, channel 16, a note
    longer than a 16-bit duration, notes that end without starting, one key struck from two
    tracks, and tracks that hold nothing."""
    tb = 384
    conductor = Track()
    conductor.meta(0, 0x01, "text before the name")
    conductor.meta(0, 0x03, "kinds")
    conductor.meta(0, 0x03, "second name")
    tempo(conductor, 0, 110)
    conductor.sysex(0, [0x7F, 0x7F, 0x04, 0x01, 0x00, 0x60, 0xF7])
    conductor.sysex(tb, [0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x04, 0x50, 0x6C, 0xF7])
    conductor.sysex(2 * tb, [0x43, 0x10, 0x4C, 0x00, 0x00, 0x04, 0x70, 0xF7])
    # GS: part 4 (channel 4) becomes a rhythm part, later melodic again.
    conductor.sysex(0, [0x41, 0x10, 0x42, 0x12, 0x40, 0x14, 0x15, 0x01, 0x16, 0xF7])
    conductor.sysex(8 * tb, [0x41, 0x10, 0x42, 0x12, 0x40, 0x14, 0x15, 0x00, 0x17, 0xF7])
    conductor.meta(tb, 0x07, "START")
    conductor.meta(9 * tb, 0x07, "STOP")
    conductor.meta(5 * tb, 0x07, "other cue")
    conductor.meta(0, 0x7F, bytes([0x43, 0x7B, 0x00, 0x58, 0x46, 0x01]))
    conductor.meta(0, 0x21, bytes([0]))
    # A split exclusive: F0 without its end, then the rest as an escape.
    conductor.add(3 * tb, bytes([0xF0, 3, 0x41, 0x10, 0x42]), 0)
    conductor.add(3 * tb, bytes([0xF7, 3, 0x12, 0x00, 0xF7]), 0)
    conductor.add(3 * tb + 10, bytes([0xF7, 2, 0xF8, 0xFA]), 0)
    lyrics = Track()
    for i, w in enumerate(["/", "ha", "ru", "/", "<na", "tsu"]):
        lyrics.meta(i * tb // 2, 0x05, w)
    rhythm = Track()
    rhythm.add(0, [0xC3, 16])
    for i in range(32):
        rhythm.note(i * tb // 2, 3, [36, 38, 42, 46][i % 4], 90, tb // 4)
    # Yamaha bank select on channel 6: 127 makes it a rhythm channel, 126 a second kind, 0 back.
    yam = Track()
    yam.sysex(0, [0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7])
    for i, bank in enumerate([127, 126, 0, 127]):
        yam.add(i * 2 * tb, [0xB5, 0, bank])
        yam.add(i * 2 * tb, [0xC5, 0])
        yam.note(i * 2 * tb + 1, 5, 40 + i, 100, tb)
    yam.add(9 * tb, [0xB9, 0, 0])
    # NRPN then data entry: not a bend range.
    for c, v in ((99, 1), (98, 8), (6, 70), (101, 0), (100, 0), (6, 7)):
        yam.add(tb, [0xB5, c, v])
    high = Track()
    high.add(0, [0xCF, 73])
    high.add(0, [0xBF, 11, 90])
    high.note(0, 15, 60, 80, 70000)  # longer than 16 bits of ticks
    high.add(tb, [0x8F, 61, 0])  # ends a note that never started
    high.add(tb, [0x9F, 62, 0])
    for i in range(12):
        high.note(tb + i * tb // 3, 15, 72 + i, 70, tb // 3)
        high.add(tb + i * tb // 3 + 10, [0xEF, i * 10, 0x40 + i])
    # The same key on one channel from two tracks at once.
    twin_a, twin_b = Track(), Track()
    for i in range(6):
        twin_a.note(i * tb, 7, 64, 100, tb * 2)
        twin_b.note(i * tb + tb // 2, 7, 64, 60, tb)
    # Running status across meta events, written byte by byte.
    body = bytearray()
    body += varlen(0) + bytes([0x91, 50, 100])
    body += varlen(96) + bytes([0xFF, 0x06, 1]) + b"m"
    body += varlen(0) + bytes([50, 0])
    body += varlen(0) + bytes([52, 90])
    body += varlen(96) + bytes([0xFF, 0x01, 1]) + b"t"
    body += varlen(0) + bytes([52, 0, 96, 53, 80, 96, 53, 0])
    body += varlen(0) + bytes([0xF0, 1, 0xF7])
    body += varlen(0) + bytes([55, 70, 96, 55, 0])
    running = raw_track(body)
    empty = raw_track(b"")
    tracks = [conductor, lyrics, rhythm, yam, high, twin_a, twin_b]
    head = b"MThd" + struct.pack(">IHHH", 6, 1, len(tracks) + 2, tb)
    return head + b"".join(t.encode() for t in tracks) + running + empty


def crowd():
    """More notes at once than the note tables hold, over 20 tracks whose events coincide."""
    tb = 120
    tracks = []
    for k in range(20):
        t = Track()
        ch = k % 16
        t.add(0, [0xC0 | ch, (k * 5) % 128])
        for i in range(8):
            t.note(i * tb // 2, ch, 30 + (k * 8 + i) % 90, 40 + k, 6 * tb)
        for i in range(16):
            t.note(4 * tb + i * tb // 4, ch, 60 + (i + k) % 24, 100, tb // 4)
        tracks.append(t)
    tempo(tracks[0], 0, 90)
    return smf(tracks, tb)


def melody_block(channel, tempo, codes):
    """A melody block of a PMD file without header: 4-bit codes, the first in the low nibble
    of the byte whose high nibble is the tempo, then high before low."""
    data = [tempo << 4 | (codes[0] if codes else 0)]
    for i in range(1, len(codes), 2):
        data.append(codes[i] << 4 | (codes[i + 1] if i + 1 < len(codes) else 0xF))
    return bytes([channel, len(data)] + data)


def phone_songs():
    """Small songs in the older phone formats, so that their readers are in the set too."""
    dat = bytes([0x04, 0x08, 0x48, 0x82, 0x00, 0x01, 0xFF, 0x05, 0xC4, 0x10, 0xFF])
    als = bytes([0xE1, 0xF0]) + b"Song" + bytes([0xFD, 0x33, 0xF1, 0x62, 0xC4, 0xC6, 0x27, 0x00,
                                                0x70, 0xD5, 0x28, 0xF3, 0x30, 0x65, 0xFF, 0x01])
    cmd = b"My tune\r\n*6*66411\r\n401\n601900A32"
    mel = b"x<MEL=0,a&lt&gt&cmm&ampb,9,0041 1 x 5 6>junk<HMEL=p,q,r,0,726>"
    jsky = bytes([0x1B, ord("$"), ord("D"), 0x21, 0x29, 0x2B, 0x2F, 0x22, 0x2E, 0x2F, 0x22, 0x33,
                  0x26, 0x22, 0x23, 0x21, 0x22, 0x2A, 0x21, 0x24, 0x21, 0x26, 0x2A, 0x2A, 0x2A,
                  0x2A, 0x21, 0x2E, 0x21, 0x2E, 0x21, 0x2E, 0x21, 0x28, 0x0F, 0x1B, ord("$"),
                  ord("D"), 0x21, 0x2B, 0x21, 0x2C, 0x28, 0x0F])
    pmd = (b"ML\0\0" + bytes([0x42, 3, 0x01, 0x38, 11, 0x43, 2, 0x05, 0x05, 0x80, 2, 0xAA, 0xBB])
           + melody_block(2, 9, [4, 1, 1, 4, 3, 2, 6, 0, 1, 12, 5, 5, 4, 0, 0, 2, 2, 1])
           + melody_block(10, 1, [4, 1, 0, 4, 2, 0, 4, 3, 0, 4, 2, 0]))
    return {"p01_pmelody.dat": dat, "p02_pmelody.als": als, "p03_chara.cmd": cmd,
            "p04_melody.mel": mel, "p05_jsky.smd": jsky, "p06_no_header.pmd": pmd}


def main():
    os.makedirs(OUT, exist_ok=True)
    write("g01_everything.mid", everything())
    write("g02_dense16.mid", dense(2))
    write("g03_long.mid", long_song())
    write("g04_bends.mid", bends())
    write("g05_karaoke.kar", karaoke())
    write("g06_rmid.rmi", rmid())
    write("g07_extremes.mid", extremes())
    write("g08_one_note.mid", one_note())
    write("g09_no_notes.mid", no_notes())
    write("g10_dense4.mid", dense(10, channels=4, notes=300, tb=96, low=40, high=90))
    write("g11_tone.wav", tone_wav())
    write("g12_kinds.mid", kinds())
    write("g13_crowd.mid", crowd())
    for name, data in phone_songs().items():
        write(name, data)


if __name__ == "__main__":
    main()
