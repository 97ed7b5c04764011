#!/usr/bin/python3
"""The end of songs played by their own tempo map, against a computation of this script's
own: each song is read with a MIDI library (mido), its tracks merged, and the time of its
last channel message summed exactly (fractions) from every tempo event; then
tempo_map_end plays the song on the virtual clock and gives the map's time of that tick
and the time the message was sent.

    tempo_map_end.py BUILD_BIN_DIR SONG_OR_FOLDER...

Without songs it makes its own: ritardandos, accelerandos and tempo events in every
track. Prints one line a song and the worst differences; exit 1 when any differs.
"""
import os
import subprocess
import sys
import tempfile
from fractions import Fraction

import mido


def last_message(path):
    """The tick and exact time in microseconds of the song's last channel message."""
    song = mido.MidiFile(path, clip=True)
    tick = 0
    micros = Fraction(0)
    tempo = 500000
    last = None
    for message in mido.merge_tracks(song.tracks):
        micros += Fraction(message.time * tempo, song.ticks_per_beat)
        tick += message.time
        if message.type == 'set_tempo' and message.tempo != 0:
            tempo = message.tempo
        elif not message.is_meta and message.type != 'sysex':
            last = (tick, micros)
    return last


def made_songs(folder):
    """Songs whose tempo changes all the time, written with the same library."""
    paths = []
    shapes = {
        'ritardando': lambda i: 400000 + i * 9000,
        'accelerando': lambda i: 900000 - i * 11000,
        'odd': lambda i: 529801 + (i * 7919) % 300001,
    }
    for division in (96, 480, 1000):
        for name, shape in shapes.items():
            song = mido.MidiFile(ticks_per_beat=division)
            conductor = mido.MidiTrack()
            notes = mido.MidiTrack()
            other = mido.MidiTrack()
            song.tracks += [conductor, notes, other]
            for i in range(60):
                notes.append(mido.Message('note_on', note=60 + i % 12, velocity=90, time=0 if i == 0 else division // 3))
                notes.append(mido.Message('note_off', note=60 + i % 12, velocity=0, time=division - division // 3))
            # A tempo event at every note, two in three in the first track, the rest in
            # the third.
            last = [0, 0]
            for i in range(60):
                which = 0 if i % 3 else 1
                tick = i * division
                (conductor, other)[which].append(
                    mido.MetaMessage('set_tempo', tempo=shape(i), time=tick - last[which]))
                last[which] = tick
            path = os.path.join(folder, f'{name}-{division}.mid')
            song.save(path)
            paths.append(path)
    return paths


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    tool = os.path.join(sys.argv[1], 'tempo_map_end')
    songs = []
    for given in sys.argv[2:]:
        if os.path.isdir(given):
            songs += sorted(os.path.join(given, n) for n in os.listdir(given) if n.lower().endswith(('.mid', '.kar')))
        else:
            songs.append(given)
    with tempfile.TemporaryDirectory() as folder:
        if not songs:
            songs = made_songs(folder)
        args = [tool]
        expected = {}
        for song in songs:
            last = last_message(song)
            if last is None:
                continue
            expected[song] = last
            args += [song, str(last[0])]
        out = subprocess.run(args, capture_output=True, text=True, check=False)
        sys.stderr.write(out.stderr)
    worst_map = 0
    worst_sent = 0
    for line in out.stdout.splitlines():
        song, map_us, sent_us = line.split('\t')
        tick, exact = expected[song]
        map_diff = int(map_us) - int(exact)  # both rounded down to the microsecond
        # Messages leave in the millisecond period their exact time rounds to.
        sent_diff = int(float(sent_us)) - ((int(exact) + 500) // 1000) * 1000
        worst_map = max(worst_map, abs(map_diff))
        worst_sent = max(worst_sent, abs(sent_diff))
        print(f'{os.path.basename(song)}\ttick {tick}\tlast message at {float(exact) / 1e6:.6f} s'
              f'\tmap {map_diff:+d} us\tsent {sent_diff:+d} us')
    print(f'{len(expected)} songs: worst map difference {worst_map} us, '
          f'worst sent difference {worst_sent} us (virtual clock, 1 ms periods)')
    return 0 if worst_map == 0 and worst_sent == 0 else 1


if __name__ == '__main__':
    sys.exit(main())
