#!/usr/bin/python3
"""Frames recovered from a real GMSK modem in loopback with white noise.

kestrelis_sensitivity writes a clean stream of frames (payloads of about 40
and about 150 bytes in turn). The modem chain of gmsk_error_patterns.py sends
it through noise at each level asked and kestrelis_sensitivity scores the
bits it makes: the receivers take them as they are, clock slips included; the
bound is told where each frame starts in them (where its sync word and length
field fit the bits sent best, following the slips) and how long it is. Then
the described acquisition and the robust one for N = 2 ... 6 and 8.
Needs Debian's gnuradio and python3-numpy; by hand only, not part of any test.

With --bursts, each frame goes out as a burst of its own after a preamble of
alternating bits, the carrier off between bursts, so that the demodulator's
clock recovery has to find each frame anew.

    bench/gmsk_end_to_end.py [--frames N] [--sensitivity PATH]
                             [--bursts PREAMBLE_BITS] NOISE_DB ...
"""
import argparse
import os
import subprocess
import tempfile

import numpy as np

from gmsk_error_patterns import best_fit, received_bits

BLOCK = 64  # the unit of the delays file
START_BITS = 56  # a frame's start is placed by its sync word and length field
RATE_BITS = 256  # the bit error rate is counted over this many bits from each start
SYNC_WORD = 0x930B51DE


def frames(sent):
    """The first bit and the length in bits of each frame of a clean stream."""
    windows = np.zeros(len(sent) - 31, dtype=np.uint64)
    for k in range(32):
        windows = (windows << np.uint64(1)) | sent[k:len(sent) - 31 + k].astype(np.uint64)
    starts = np.flatnonzero(windows == SYNC_WORD)
    return [(s, 56 + 8 * int(np.packbits(sent[s + 48:s + 56])[0])) for s in starts]


def bursts(sent, preamble_bits, gap_bits=64):
    """Each frame of `sent` as a burst of its own: `preamble_bits` alternating
    bits, the frame, and `gap_bits` with the carrier off. Returns the bits to
    send, whether the carrier is on at each, and the frames, each with its
    first bit in `sent` and in the bits to send, and its length."""
    pieces, on_air, placed, at = [], [], [], 0
    for start, length in frames(sent):
        pieces += [np.arange(preamble_bits, dtype=np.uint8) % 2, sent[start:start + length],
                   np.zeros(gap_bits, dtype=np.uint8)]
        on_air += [np.ones(preamble_bits + length, dtype=np.uint8),
                   np.zeros(gap_bits, dtype=np.uint8)]
        placed.append((start, at + preamble_bits, length))
        at += preamble_bits + length + gap_bits
    return np.concatenate(pieces), np.concatenate(on_air), placed


def delays(sent, out, placed, stream_bits):
    """Where the modem delivered each frame's start, as the delay of the
    block of the clean stream holding it: the best fit of the frame's sync
    word and length field near the previous frame's, following the clock
    recovery's slips. And the bit error rate over the first bits of the
    frames that came through there with at most a fifth of them wrong.
    `placed` holds each frame's first bit in the clean stream and in `sent`."""
    found = np.zeros((stream_bits + BLOCK - 1) // BLOCK, dtype='<i4')
    delay, wrong, counted = 5, 0, 0
    for clean_start, start, length in placed:
        best = best_fit(sent[start:start + START_BITS], out, start, delay, 12)
        if best is None:
            continue
        found[clean_start // BLOCK] = start - clean_start + best[1]
        if best[0] <= START_BITS // 5:
            delay = best[1]
            span = min(length, RATE_BITS)
            got = out[start + delay:start + delay + span]
            errors = np.count_nonzero(got != sent[start:start + len(got)])
            if errors <= span // 5:
                wrong += errors
                counted += len(got)
    return found, wrong / max(counted, 1)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser()
    parser.add_argument('--frames', type=int, default=1500)
    parser.add_argument('--sensitivity', default=os.path.join(
        here, '..', 'build-bench', 'kestrelis_sensitivity'))
    parser.add_argument('--bursts', type=int, metavar='PREAMBLE_BITS',
                        help='send each frame as a burst after this many preamble bits')
    parser.add_argument('noise_db', type=float, nargs='+')
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as folder:
        clean = os.path.join(folder, 'clean.bin')
        subprocess.run([args.sensitivity, '--write-stream', clean, str(args.frames)], check=True)
        stream = np.unpackbits(np.fromfile(clean, dtype=np.uint8))
        sent, on_air = stream, None
        placed = [(start, start, length) for start, length in frames(stream)]
        if args.bursts is not None:
            sent, on_air, placed = bursts(stream, args.bursts)
        print('| noise dB | bit error rate | frames | bound | described | N=2 | N=3 | N=4 | N=5 '
              '| N=6 | N=8 | N=6 / described | bound / described | N=6 / bound | wrong |')
        print('|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|', flush=True)
        for noise_db in args.noise_db:
            seed = round(noise_db * 100)  # the same noise for a level, whatever else is asked
            received = os.path.join(folder, f'{noise_db}dB')
            out = received_bits(sent, noise_db, seed, on_air)
            np.packbits(out).tofile(received)
            found, rate = delays(sent, out, placed, len(stream))
            found.tofile(received + '.delays')
            print(f'| {noise_db} | {rate:.4f} ', end='', flush=True)
            subprocess.run([args.sensitivity, '--received', received, str(args.frames)],
                           check=True)


if __name__ == '__main__':
    main()
