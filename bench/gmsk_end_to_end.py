#!/usr/bin/python3
"""Frames recovered from a real GMSK modem in loopback with white noise.

kestrelis_sensitivity writes a clean stream of frames (payloads of about 40
and about 150 bytes in turn). The modem chain of gmsk_error_patterns.py sends
it through noise at each level asked and kestrelis_sensitivity scores the
bits it makes: the receivers take them as they are, clock slips included; the
bound is told where each frame starts in them (the bits are lined up with
those sent, 64 at a time, following the slips) and how long it is. Then the
described acquisition and the robust one for N = 2 ... 6.
Needs Debian's gnuradio and python3-numpy; by hand only, not part of any test.

    bench/gmsk_end_to_end.py [--frames N] [--sensitivity PATH] NOISE_DB ...
"""
import argparse
import os
import subprocess
import tempfile

import numpy as np

from gmsk_error_patterns import received_bits

BLOCK = 64


def delays(sent, out):
    """For each block of sent bits, where the modem delivered it, following
    the clock recovery's slips; and the bit error rate of the blocks it did
    not garble beyond a fifth of their bits."""
    delay, found, wrong, counted = 5, [], 0, 0
    for start in range(0, len(sent), BLOCK):
        want = sent[start:start + BLOCK]
        best = None
        for d in range(delay - 6, delay + 7):
            if start + d < 0 or start + d + len(want) > len(out):
                continue
            errors = np.count_nonzero(out[start + d:start + d + len(want)] != want)
            if best is None or errors < best[0]:
                best = (errors, d)
        if best is not None and best[0] <= len(want) // 5:
            delay = best[1]
            wrong += best[0]
            counted += len(want)
        found.append(delay)
    return np.array(found, dtype='<i4'), wrong / max(counted, 1)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser()
    parser.add_argument('--frames', type=int, default=1500)
    parser.add_argument('--sensitivity', default=os.path.join(
        here, '..', 'build-bench', 'kestrelis_sensitivity'))
    parser.add_argument('noise_db', type=float, nargs='+')
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as folder:
        clean = os.path.join(folder, 'clean.bin')
        subprocess.run([args.sensitivity, '--write-stream', clean, str(args.frames)], check=True)
        sent = np.unpackbits(np.fromfile(clean, dtype=np.uint8))
        print('| noise dB | bit error rate | frames | bound | described | N=2 | N=3 | N=4 | N=5 '
              '| N=6 | N=4 / described | bound / described | N=4 / bound | wrong |')
        print('|---|---|---|---|---|---|---|---|---|---|---|---|---|---|', flush=True)
        for noise_db in args.noise_db:
            seed = round(noise_db * 100)  # the same noise for a level, whatever else is asked
            received = os.path.join(folder, f'{noise_db}dB')
            out = received_bits(sent, noise_db, seed)
            np.packbits(out).tofile(received)
            found, rate = delays(sent, out)
            found.tofile(received + '.delays')
            print(f'| {noise_db} | {rate:.4f} ', end='', flush=True)
            subprocess.run([args.sensitivity, '--received', received, str(args.frames)],
                           check=True)


if __name__ == '__main__':
    main()
