#!/usr/bin/python3
"""Where clicks sung exactly on the beat sit in a take, before and after the window lines
the take up with its song: the loopback test (tests/integration/window/
take_alignment_test.cpp, the microphone hearing the speakers) run ROUNDS times at each
buffer size; per buffer size the median over the rounds of each round's median error of
the twelve clicks against their note times, before and after, and of each round's
spread (latest click's error less the earliest's); and, when the performance plays from
its start, how much later the voice's clicks are heard than the song's.

    take_alignment.py BUILD_BIN_DIR [ROUNDS]     (under scripts/pulse-server.sh's server)
"""
import os
import re
import statistics
import subprocess
import sys

LINE = re.compile(r'take alignment: buffer (\d+) bytes, before median ([-\d.]+) ms, '
                  r'after median ([-\d.]+) ms, spread ([-\d.]+) ms')
PLAYBACK = re.compile(r'take alignment: buffer (\d+) bytes, in playback the voice ([-\d.]+) ms after the song')


def main():
    if len(sys.argv) < 2 or 'PULSE_SERVER' not in os.environ:
        sys.exit(__doc__)
    binary = os.path.join(sys.argv[1], 'integration_window_tests')
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    source = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    environment = dict(os.environ, CVK_SOURCE_DIR=source, QT_QPA_PLATFORM='offscreen')
    figures = {}
    playback = {}
    for _ in range(rounds):
        said = subprocess.run([binary, '--gtest_filter=*TakeAlignmentOnServer*'], env=environment,
                              capture_output=True, text=True, check=False).stdout
        for match in LINE.finditer(said):
            figures.setdefault(int(match.group(1)), []).append(tuple(float(g) for g in match.groups()[1:]))
        for match in PLAYBACK.finditer(said):
            playback.setdefault(int(match.group(1)), []).append(float(match.group(2)))
    print(f'{"buffer":>8} {"rounds":>6} {"before":>10} {"after":>10} {"spread":>10} {"playback":>10}   (ms, medians)')
    for buffer, rows in sorted(figures.items(), reverse=True):
        before, after, spread = (statistics.median(column) for column in zip(*rows))
        heard = statistics.median(playback[buffer]) if playback.get(buffer) else float('nan')
        print(f'{buffer:>8} {len(rows):>6} {before:>10.2f} {after:>10.2f} {spread:>10.2f} {heard:>10.2f}'
              f'   after: {min(r[1] for r in rows):.2f} .. {max(r[1] for r in rows):.2f}')


if __name__ == '__main__':
    main()
