#!/usr/bin/python3
"""How fast `cvktool render` renders songs, against the fluidsynth command line rendering
the same songs with the same SoundFont: seconds of song per second of CPU (user + system,
of the process and its children), the median of ROUNDS runs each, side by side.

    render_speed.py BUILD_BIN_DIR [ROUNDS]      (needs python3-mido and fluidsynth)

The songs are written here: three minutes each, sparse (one note a second on one
channel), medium (four a second on six channels), busy (three a second on ten channels:
30 notes a second, a full arrangement), dense (eight a second on sixteen: 128 notes a
second) and extreme (sixteen a second on sixteen: 256 notes a second, far beyond any
song).
"""
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile

import mido

SOUNDFONT = '/usr/share/sounds/sf2/FluidR3_GM.sf2'


def made_song(path, channels, per_second, seconds=180):
    song = mido.MidiFile(ticks_per_beat=480)
    gap = 480 * 2 // per_second  # 120 bpm
    for c in range(channels):
        track = mido.MidiTrack()
        channel = 9 if c == 15 else c
        track.append(mido.Message('program_change', channel=channel, program=(c * 8) % 128, time=0))
        for n in range(per_second * seconds):
            note = 48 + (n + c) % 24
            track.append(mido.Message('note_on', channel=channel, note=note, velocity=90, time=0 if n == 0 else gap // 2))
            track.append(mido.Message('note_off', channel=channel, note=note, velocity=0, time=gap - gap // 2))
        song.tracks.append(track)
    song.save(path)
    return seconds


def cpu_seconds(argv):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(argv, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def main():
    if len(sys.argv) < 2 or shutil.which('fluidsynth') is None:
        print(__doc__)
        return 2
    cvktool = os.path.join(sys.argv[1], 'cvktool')
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    with tempfile.TemporaryDirectory() as folder:
        print('song     seconds  cvktool render (x real time)  fluidsynth -F (x real time)  ratio')
        for name, channels, per_second in (('sparse', 1, 1), ('medium', 6, 4), ('busy', 10, 3), ('dense', 16, 8),
                                         ('extreme', 16, 16)):
            song = os.path.join(folder, name + '.mid')
            seconds = made_song(song, channels, per_second)
            ours = [cpu_seconds([cvktool, 'render', song, os.path.join(folder, 'a.wav'), '--soundfont', SOUNDFONT])
                    for _ in range(rounds)]
            theirs = [cpu_seconds(['fluidsynth', '-ni', '-F', os.path.join(folder, 'b.wav'), '-r', '44100',
                                   SOUNDFONT, song]) for _ in range(rounds)]
            a = seconds / statistics.median(ours)
            b = seconds / statistics.median(theirs)
            print(f'{name:8} {seconds:7}  {a:26.1f}  {b:27.1f}  {a / b:5.2f}')
    return 0


if __name__ == '__main__':
    sys.exit(main())
