#!/usr/bin/python3
"""Counts the bit error patterns of a GMSK modem in loopback with white noise.

Random bits go through GNU Radio's GMSK modulator (BT 0.5, 4 samples per bit),
complex Gaussian noise is added, and a low-pass filter, the frequency
discriminator and clock recovery of GNU Radio's GMSK demodulator make the
bits again. The output is lined up with the input block by block (256 bits),
following the clock recovery's slips; blocks with more than a fifth of their
bits wrong are left out. Errors no more than 3 bits apart count as one event.

Prints, per noise level, the bit error rate, the slips and the most frequent
patterns with their counts: the tables of the simulator's GMSK channel.
Needs Debian's gnuradio and python3-numpy; by hand only, not part of any test.

    bench/gmsk_error_patterns.py [--bits N] [--top K] NOISE_DB ...

NOISE_DB is the signal-to-noise setting (in dB per bit, as the noise
source's amplitude counts it); 11.5 and 10.6 gave the rates 0.0146 and 0.029.
"""
import argparse
import tempfile

import numpy as np
from gnuradio import analog, blocks, digital, filter, gr
from gnuradio.filter import firdes

SAMPLES_PER_BIT = 4
BLOCK = 256


def received_bits(bits, noise_db, seed, on_air=None):
    """The demodulated bits; `on_air`, one flag per bit, keys the carrier off
    where it is 0 (noise only, as between the bursts of a transmitter)."""
    tb = gr.top_block()
    source = blocks.vector_source_b(np.packbits(bits).tolist(), False)
    modulator = digital.gmsk_mod(samples_per_symbol=SAMPLES_PER_BIT, bt=0.5)
    with tempfile.NamedTemporaryFile(suffix='.c64') as envelope:
        first = modulator
        if on_air is not None:
            np.repeat(np.asarray(on_air, dtype=np.complex64), SAMPLES_PER_BIT).tofile(envelope.name)
            first = blocks.multiply_cc()
            tb.connect(modulator, (first, 0))
            tb.connect(blocks.file_source(gr.sizeof_gr_complex, envelope.name, False), (first, 1))
        sigma = np.sqrt(SAMPLES_PER_BIT / 10 ** (noise_db / 10))
        noise = analog.noise_source_c(analog.GR_GAUSSIAN, float(sigma), seed)
        add = blocks.add_cc()
        low_pass = filter.fir_filter_ccf(1, firdes.low_pass(1, SAMPLES_PER_BIT, 0.75, 0.3))
        demodulator = digital.gmsk_demod(samples_per_symbol=SAMPLES_PER_BIT)
        sink = blocks.vector_sink_b()
        tb.connect(source, modulator)
        tb.connect(first, (add, 0))
        tb.connect(noise, (add, 1))
        tb.connect(add, low_pass, demodulator, sink)
        tb.run()
    return np.array(sink.data(), dtype=np.uint8)


def best_fit(want, out, start, delay, spread):
    """(wrong bits, delay) of the delay within `spread` of `delay` at which
    `out` holds the bits `want` sent from `start` with the fewest wrong; None
    when no such delay lies within `out`."""
    best = None
    for d in range(delay - spread, delay + spread + 1):
        if start + d < 0 or start + d + len(want) > len(out):
            continue
        wrong = np.count_nonzero(out[start + d:start + d + len(want)] != want)
        if best is None or wrong < best[0]:
            best = (wrong, d)
    return best


def error_mask(bits, out):
    delay, slips, dropped, masks = 5, 0, 0, []
    for start in range(64, len(bits) - BLOCK - 64, BLOCK):
        want = bits[start:start + BLOCK]
        best = best_fit(want, out, start, delay, 6)
        if best[1] != delay:
            slips += 1
            delay = best[1]
        if best[0] > BLOCK // 5:
            dropped += 1
            continue
        masks.append((out[start + delay:start + delay + BLOCK] != want).astype(np.uint8))
    return np.concatenate(masks), slips, dropped


def patterns(mask):
    counts = {}
    positions = np.flatnonzero(mask)
    if len(positions) == 0:
        return counts
    first = last = positions[0]
    for p in list(positions[1:]) + [None]:
        if p is not None and p - last <= 3:
            last = p
            continue
        key = ''.join(str(b) for b in mask[first:last + 1])
        counts[key] = counts.get(key, 0) + 1
        if p is not None:
            first = last = p
    return counts


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--bits', type=int, default=2_000_000)
    parser.add_argument('--top', type=int, default=24)
    parser.add_argument('noise_db', type=float, nargs='+')
    args = parser.parse_args()
    bits = np.random.default_rng(1).integers(0, 2, args.bits, dtype=np.uint8)
    for noise_db in args.noise_db:
        mask, slips, dropped = error_mask(bits, received_bits(bits, noise_db, 1))
        counts = patterns(mask)
        events = sum(counts.values())
        print(f'{noise_db} dB: bit error rate {np.count_nonzero(mask) / len(mask):.4g}, '
              f'{events} events, {slips} slips, {dropped} blocks left out')
        ranked = sorted(counts.items(), key=lambda kv: (-kv[1], len(kv[0]), kv[0]))
        print('  ' + ', '.join(f'{k}:{v}' for k, v in ranked[:args.top]), flush=True)


if __name__ == '__main__':
    main()
