#!/usr/bin/python3
"""python3-sgp4's positions per second for the first set of an element file, over the day after
its epoch, with its array calls (Satrec.sgp4_array and SatrecArray.sgp4), in the lines that
predict_bench prints ("<label>: <value> per second"); processor time, as predict_bench counts.

    predict_bench.py ELEMENT-FILE
"""
import importlib.metadata
import sys
import time

import numpy
from sgp4.api import Satrec, SatrecArray, accelerated

POSITIONS = 20000  # pure Python takes about 15 us a position
MIN_SECONDS = 1.0


def rate(call):
    """Positions per second of call(), which computes POSITIONS of them."""
    start, positions = time.process_time(), 0
    while time.process_time() - start < MIN_SECONDS:
        call()
        positions += POSITIONS
    return positions / (time.process_time() - start)


def main(path):
    lines = [line.rstrip() for line in open(path) if line.strip()]
    name, line1, line2 = (lines[0], lines[1], lines[2]) if lines[0][:2] != '1 ' else \
        ('', lines[0], lines[1])
    satellite = Satrec.twoline2rv(line1, line2)
    jd = numpy.full(POSITIONS, satellite.jdsatepoch)
    fr = satellite.jdsatepochF + numpy.linspace(0.0, 1.0, POSITIONS, endpoint=False)
    version = '%s (C++ extension: %s)' % (importlib.metadata.version('sgp4'),
                                          'yes' if accelerated else 'no')
    print('python3-sgp4 %s Satrec.sgp4_array, %s: %.0f per second'
          % (version, name, rate(lambda: satellite.sgp4_array(jd, fr))))
    many = SatrecArray([satellite])
    print('python3-sgp4 %s SatrecArray.sgp4, %s: %.0f per second'
          % (version, name, rate(lambda: many.sgp4(jd, fr))))


if __name__ == '__main__':
    main(sys.argv[1])
