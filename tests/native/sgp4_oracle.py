#!/usr/bin/python3
"""Writes python3-sgp4's answers on the 2006 revision's verification file (the SGP4-VER.TLE that
Debian's python3-sgp4 ships) for the native model test (predict_sgp4_test.cpp) to compare with.

Every set at every time the file gives (start, stop and step after line 2, and minute 0), in the
'i' mode with each gravity model and in the 'a' mode with WGS-72; and, for 'i' with WGS-72, the
same times given as split Julian dates. The file's deliberately broken sets carry edited lines
whose checksums were not mended; they are mended here, since the model's test is not about them.

    sgp4_oracle.py OUTPUT
"""
import importlib.metadata
import sys
from importlib.resources import files

from sgp4 import io
from sgp4.api import Satrec
from sgp4.earth_gravity import wgs72, wgs72old, wgs84

RUNS = [('i', 'wgs72', wgs72), ('i', 'wgs72old', wgs72old), ('i', 'wgs84', wgs84),
        ('a', 'wgs72', wgs72)]


def verification_sets():
    """(line 1, line 2, times) of each set in the verification file."""
    lines = files('sgp4').joinpath('SGP4-VER.TLE').read_text().splitlines()
    for index, line in enumerate(lines):
        if not line.startswith('1 '):
            continue
        line1, line2 = line[:69], lines[index + 1][:69]
        start, stop, step = (float(field) for field in lines[index + 1][69:].split())
        times, time = [0.0], start
        while time <= stop:  # stepped as the revision's test driver steps
            if time != 0.0:
                times.append(time)
            time += step
        if times[-1] != stop:
            times.append(stop)
        yield io.fix_checksum(line1), io.fix_checksum(line2), times


def state_text(error, position, velocity):
    return ' '.join([str(error)] + [repr(value) for value in (*position, *velocity)])


def main(output_path):
    out = ['# python3-sgp4 %s on its SGP4-VER.TLE' % importlib.metadata.version('sgp4')]
    for line1, line2, times in verification_sets():
        epoch = Satrec.twoline2rv(line1, line2)
        for mode, gravity_name, gravity in RUNS:
            satellite = io.twoline2rv(line1, line2, gravity, mode, Satrec())
            out += ['set %s %s %r %r' % (mode, gravity_name, epoch.jdsatepoch, epoch.jdsatepochF),
                    line1, line2]
            for time in times:
                out.append('t %r %s' % (time, state_text(*satellite.sgp4_tsince(time))))
            if (mode, gravity_name) == ('i', 'wgs72'):
                for time in times:
                    whole, fraction = divmod(time / 1440.0, 1.0)
                    jd, fr = epoch.jdsatepoch + whole, epoch.jdsatepochF + fraction
                    out.append('j %r %r %s' % (jd, fr, state_text(*epoch.sgp4(jd, fr))))
    with open(output_path, 'w') as output:
        output.write('\n'.join(out) + '\n')


if __name__ == '__main__':
    main(sys.argv[1])
