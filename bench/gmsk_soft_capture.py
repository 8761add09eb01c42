#!/usr/bin/python3
"""Soft decisions from a real GMSK modem in loopback with white noise.

As gmsk_end_to_end.py: kestrelis_sensitivity writes a clean stream of frames
(payloads of about 40 and about 150 bytes in turn), GNU Radio's GMSK
modulator (BT 0.5, 4 samples per bit) sends it through complex Gaussian
noise, and a low-pass filter, the frequency discriminator and the clock
recovery of GNU Radio's GMSK demodulator make the bits again, the clock
recovery's gain slowed from the demodulator's default (below). Here the
discriminator's value at each decision instant is kept too, turned into one
signed byte per bit as a modem sends it to the TNC's soft input:
multiply_const_ff(63.5), add_const_ff(-0.5), float_to_char, that is
floor(63.5 x) saturated to -128 ... 127, so that "value >= 0" is the
slicer's bit. For each Eb/N0 it writes, under --out:

    EBN0dB         the slicer's bits, packed
    EBN0dB.soft    the soft values, one byte per bit
    EBN0dB.delays  where each frame's start came out (see sensitivity.cpp)
    frames         how many frames the clean stream holds

(`make sensitivity` scores them again whenever they are there.)
and then has `kestrelis_sensitivity --received` score the hard bound, the
soft bound (the bound, then the erasure search on the frames it misses), the
hard robust receiver and the soft receiver on them.

Eb/N0 is the energy per bit over the noise density with the noise source's
amplitude as its total power per sample (a unit-power signal at 4 samples per
bit: Eb = 4 and N0 = amplitude^2), as gmsk_error_patterns.py counts it;
--offset adds to it, e.g. 3.01 for a noise of N0/2 in total, not per component.
Needs Debian's gnuradio and python3-numpy; by hand only, not part of any test.

    bench/gmsk_soft_capture.py [--frames N] [--out DIR] [--offset DB]
                               [--sensitivity PATH] EBN0_DB ...
"""
import argparse
import os
import subprocess

import numpy as np
from gnuradio import analog, blocks, digital, filter, gr
from gnuradio.filter import firdes

from gmsk_end_to_end import delays, frames
from gmsk_error_patterns import SAMPLES_PER_BIT

# The clock recovery's gain_mu. The demodulator's default, 0.175, lets the
# decision instant jitter and slip at these noise levels: at 6 dB (with
# --offset 3.01) the bit error rate is 0.063 against 0.035 at 0.02 (0.032 at
# 0.005), and most wrong bits with |value| >= 32 are slipped or mistimed
# ones, which no ranking of the soft values can single out.
CLOCK_GAIN = 0.02


def received(bits, noise_db, seed):
    """The slicer's bits and the soft values of `bits` sent at `noise_db`."""
    tb = gr.top_block()
    source = blocks.vector_source_b(np.packbits(bits).tolist(), False)
    modulator = digital.gmsk_mod(samples_per_symbol=SAMPLES_PER_BIT, bt=0.5)
    sigma = np.sqrt(SAMPLES_PER_BIT / 10 ** (noise_db / 10))
    noise = analog.noise_source_c(analog.GR_GAUSSIAN, float(sigma), seed)
    add = blocks.add_cc()
    low_pass = filter.fir_filter_ccf(1, firdes.low_pass(1, SAMPLES_PER_BIT, 0.75, 0.3))
    # The demodulator's own discriminator and clock recovery, its slicer
    # beside the modem's soft output.
    demodulator = digital.gmsk_demod(samples_per_symbol=SAMPLES_PER_BIT, gain_mu=CLOCK_GAIN)
    hard = blocks.vector_sink_b()
    soft = blocks.vector_sink_b()
    tb.connect(source, modulator, (add, 0))
    tb.connect(noise, (add, 1))
    tb.connect(add, low_pass, demodulator.fmdemod, demodulator.clock_recovery)
    tb.connect(demodulator.clock_recovery, digital.binary_slicer_fb(), hard)
    tb.connect(demodulator.clock_recovery, blocks.multiply_const_ff(63.5),
               blocks.add_const_ff(-0.5), blocks.float_to_char(1, 1.0), soft)
    tb.run()
    return (np.array(hard.data(), dtype=np.uint8),
            np.array(soft.data(), dtype=np.uint8).view(np.int8))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser()
    parser.add_argument('--frames', type=int, default=500)
    parser.add_argument('--out', default=os.path.join(here, '..', 'build-bench', 'soft-captures'))
    parser.add_argument('--offset', type=float, default=0.0)
    parser.add_argument('--sensitivity', default=os.path.join(
        here, '..', 'build-bench', 'kestrelis_sensitivity'))
    parser.add_argument('ebn0_db', type=float, nargs='+')
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    clean = os.path.join(args.out, 'clean.bin')
    subprocess.run([args.sensitivity, '--write-stream', clean, str(args.frames)], check=True)
    with open(os.path.join(args.out, 'frames'), 'w') as count:
        print(args.frames, file=count)
    stream = np.unpackbits(np.fromfile(clean, dtype=np.uint8))
    placed = [(start, start, length) for start, length in frames(stream)]
    print('| Eb/N0 dB | frames | bound | soft bound | robust N=6 | soft | soft / bound | wrong |')
    print('|---|---|---|---|---|---|---|---|', flush=True)
    for ebn0 in args.ebn0_db:
        noise_db = ebn0 + args.offset
        path = os.path.join(args.out, f'{ebn0}dB')
        bits, values = received(stream, noise_db, round(noise_db * 100))
        count = min(len(bits), len(values))
        bits, values = bits[:count], values[:count]
        disagree = np.count_nonzero(bits != (values >= 0))
        np.packbits(bits).tofile(path)
        values.tofile(path + '.soft')
        found, rate = delays(stream, bits, placed, len(stream))
        found.tofile(path + '.delays')
        if disagree:
            raise SystemExit(f'{path}: {disagree} soft values disagree with the slicer')
        print(f'| {ebn0} (bit error rate {rate:.4f}) ', end='', flush=True)
        subprocess.run([args.sensitivity, '--received', path, str(args.frames)], check=True)


if __name__ == '__main__':
    main()
