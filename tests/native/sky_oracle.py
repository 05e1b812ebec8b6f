"""The sky tests' reference answers, from Debian's python3-skyfield and python3-ephem.

Writes one text file that predict_sky_test.cpp reads: the stations, element sets made here, TEME
states of those sets with Skyfield's look angles, Skyfield's rises, culminations and sets, and
PyEphem's Sun and Moon. Offline: Skyfield's built-in time scale only, nothing downloaded.

Skyfield turns TEME into Earth-fixed axes with UT1 from TT - Delta T; giving it Delta T =
TT - UTC (69.184 s, constant from 2017 until at least mid-2026) makes its UT1 equal UTC, as the
library takes it. The satellite times lie in 2024, well inside that span.

Usage: sky_oracle.py OUTPUT_FILE
"""

import math
import random
import sys

import ephem
import numpy
from sgp4.api import WGS72, Satrec
from sgp4.exporter import export_tle
from skyfield.api import EarthSatellite, load, wgs84

TT_MINUS_UTC_2017_ON = 69.184
SAMPLES_PER_STATION_AND_SET = 500
SUN_MOON_SAMPLES_PER_STATION = 400
PASS_DAYS = 2.0
BODY_PASS_DAYS = 3.0

# One polar, two southern, one 3,000 m high: (name, latitude, longitude, height m).
STATIONS = [
    ("ny-alesund", 78.92, 11.93, 10.0),
    ("cape-town", -33.95, 18.47, 20.0),
    ("mauna-kea", 19.82, -155.47, 3000.0),
    ("helsinki", 60.17, 24.94, 30.0),
    ("socorro", 35.0, -106.9, 1400.0),
    ("falklands", -51.7, -57.85, 40.0),
]

# (name, catalogue number, inclination, RAAN, eccentricity, argument of perigee, mean anomaly,
# mean motion rev/day, B*): a space station, a sun-synchronous orbit, a low-inclination orbit
# that polar stations never see, a Molniya (deep space) and a geostationary one over the Pacific.
ELEMENTS = [
    ("STATION", 90001, 51.64, 247.46, 0.0006703, 130.54, 325.03, 15.50, 3.1e-4),
    ("POLAR", 90002, 98.70, 120.20, 0.0011200, 80.10, 280.00, 14.20, 1.2e-4),
    ("EQUATORIAL", 90003, 9.00, 10.00, 0.0010000, 20.00, 40.00, 14.80, 1.0e-4),
    ("MOLNIYA", 90004, 63.40, 300.00, 0.7300000, 270.00, 10.00, 2.006, 1.0e-5),
    ("GEOSTATIONARY", 90005, 0.05, 80.00, 0.0002000, 270.00, 240.00, 1.0027, 0.0),
]
EPOCH = (2024, 3, 20, 0, 0, 0.0)


def julian_date_parts(year, month, day, hour, minute, second):
    """Julian date of the calendar UTC, split at the midnight before (Fliegel & van Flandern)."""
    a = (14 - month) // 12
    y = year + 4800 - a
    m = month + 12 * a - 3
    jdn = day + (153 * m + 2) // 5 + 365 * y + y // 4 - y // 100 + y // 400 - 32045
    return jdn - 0.5, (hour * 3600 + minute * 60 + second) / 86400.0


def make_satellites(ts):
    epoch_day, epoch_fraction = julian_date_parts(*EPOCH)
    sgp4_epoch = epoch_day + epoch_fraction - 2433281.5
    satellites = []
    for name, number, incl, raan, ecc, argp, anomaly, revs, bstar in ELEMENTS:
        model = Satrec()
        model.sgp4init(WGS72, "i", number, sgp4_epoch, bstar, 0.0, 0.0, ecc,
                       math.radians(argp), math.radians(incl), math.radians(anomaly),
                       revs * 2 * math.pi / 1440.0, math.radians(raan))
        # What a published set also carries, for the exporter.
        model.classification, model.intldesg, model.elnum, model.revnum = "U", "24001A", 999, 100
        line1, line2 = export_tle(model)
        satellites.append((name, line1, line2, EarthSatellite(line1, line2, name, ts)))
    return satellites


def utc_parts(t):
    year, month, day, hour, minute, second = t.utc
    return julian_date_parts(int(year), int(month), int(day), int(hour), int(minute), second)


def write_view_samples(out, ts, satellites, stations, rng):
    for s_index, (_, lat, lon, height) in enumerate(stations):
        place = wgs84.latlon(lat, lon, elevation_m=height)
        for k, (_, _, _, satellite) in enumerate(satellites):
            seconds = sorted(rng.uniform(0, 3 * 86400) for _ in range(SAMPLES_PER_STATION_AND_SET))
            t = ts.utc(*EPOCH[:5], [EPOCH[5] + s for s in seconds])
            teme_km, teme_km_per_s, errors = satellite._position_and_velocity_TEME_km(t)
            topocentric = (satellite - place).at(t)
            alt, az, distance, alt_rate, az_rate, range_rate = \
                topocentric.frame_latlon_and_rates(place)
            for i in range(len(seconds)):
                day, fraction = julian_date_parts(*EPOCH[:5], EPOCH[5] + seconds[i])
                values = [*teme_km[:, i], *teme_km_per_s[:, i], az.degrees[i], alt.degrees[i],
                          distance.km[i], range_rate.km_per_s[i], az_rate.degrees.per_second[i],
                          alt_rate.degrees.per_second[i]]
                out.write("view %d %d %.1f %.17g %s\n" % (
                    s_index, k, day, fraction, " ".join("%.17g" % v for v in values)))


def refine_events(ts, satellite, place, times, events):
    """Skyfield's events to a millisecond: find_events stops at half a second, which is 0.05 deg
    at a low satellite's rise. Crossings by two secant steps on its altitude, peaks by the
    parabola through its altitude a second either side (a second is 1e-5 s on the day)."""
    def altitude(days):
        t = ts.tt_jd(days)
        return (satellite - place).at(t).altaz()[0].degrees

    days = times.tt.copy()
    crossing = events != 1
    for half_width in (1.0, 0.05):
        d = half_width / 86400.0
        a, b = altitude(days - d), altitude(days + d)
        secant = days - d + 2 * d * a / (a - b)
        days = numpy.where(crossing, secant, days)
    d = 1.0 / 86400.0
    before, middle, after = altitude(days - d), altitude(days), altitude(days + d)
    curvature = before - 2 * middle + after
    offset = numpy.where(crossing, 0.0, 0.5 * (before - after) / numpy.where(crossing, 1.0, curvature))
    peak = middle - 0.25 * (before - after) * offset
    return ts.tt_jd(days + offset * d), numpy.where(crossing, 0.0, peak)


def write_satellite_passes(out, ts, satellites, stations):
    start = ts.utc(*EPOCH)
    end = ts.utc(*EPOCH[:2], EPOCH[2] + PASS_DAYS)
    for s_index, (_, lat, lon, height) in enumerate(stations):
        place = wgs84.latlon(lat, lon, elevation_m=height)
        for k, (_, _, _, satellite) in enumerate(satellites):
            times, events = satellite.find_events(place, start, end, altitude_degrees=0.0)
            if len(times) == 0:
                continue
            times, altitudes = refine_events(ts, satellite, place, times, events)
            for t, event, altitude in zip(times, events, altitudes):
                day, fraction = utc_parts(t)
                out.write("event %d %d %d %.1f %.17g %.17g\n" % (
                    s_index, k, event, day, fraction, altitude))


def ephem_observer(lat, lon, height):
    observer = ephem.Observer()
    observer.lat, observer.lon, observer.elevation = str(lat), str(lon), height
    observer.pressure = 0  # no refraction
    return observer


def ephem_date_parts(date):
    year, month, day, hour, minute, second = date.tuple()
    return julian_date_parts(year, month, day, hour, minute, second)


def write_sun_moon(out, stations, rng):
    """Apparent topocentric places: PyEphem's alt/az with pressure 0 (its a_ra/a_dec are
    geocentric astrometric, a degree off for the Moon)."""
    bodies = (("sun", ephem.Sun()), ("moon", ephem.Moon()))
    first, last = ephem.Date("1950/1/1"), ephem.Date("2100/12/31")
    for s_index, (_, lat, lon, height) in enumerate(stations):
        observer = ephem_observer(lat, lon, height)
        for _ in range(SUN_MOON_SAMPLES_PER_STATION):
            observer.date = ephem.Date(rng.uniform(first, last))
            day, fraction = ephem_date_parts(observer.date)
            for name, body in bodies:
                body.compute(observer)
                out.write("%s %d %.1f %.17g %.17g %.17g\n" % (
                    name, s_index, day, fraction, math.degrees(body.az), math.degrees(body.alt)))


def write_body_passes(out, stations):
    """Rises and sets of the centres of the Sun and Moon at the geometric horizon."""
    for s_index, (_, lat, lon, height) in enumerate(stations):
        observer = ephem_observer(lat, lon, height)
        observer.horizon = "0"
        for name, body in (("sun", ephem.Sun()), ("moon", ephem.Moon())):
            for event, search in (("rise", observer.next_rising), ("set", observer.next_setting)):
                observer.date = ephem.Date("%d/%d/%d" % EPOCH[:3])
                end = observer.date + BODY_PASS_DAYS
                while True:
                    try:
                        when = search(body, use_center=True)
                    except (ephem.AlwaysUpError, ephem.NeverUpError):
                        break
                    if when >= end:
                        break
                    day, fraction = ephem_date_parts(when)
                    out.write("%s_%s %d %.1f %.17g\n" % (name, event, s_index, day, fraction))
                    observer.date = when + ephem.minute


def main():
    ts = load.timescale(builtin=True, delta_t=TT_MINUS_UTC_2017_ON)
    rng = random.Random(23)
    satellites = make_satellites(ts)
    with open(sys.argv[1], "w") as out:
        day, fraction = julian_date_parts(*EPOCH)
        out.write("window %.1f %.17g %g %g\n" % (day, fraction, PASS_DAYS, BODY_PASS_DAYS))
        for _, lat, lon, height in STATIONS:
            out.write("station %r %r %r\n" % (lat, lon, height))
        for name, line1, line2, _ in satellites:
            out.write("tle %s\ntle %s\ntle %s\n" % (name, line1, line2))
        write_view_samples(out, ts, satellites, STATIONS[:5], rng)
        write_satellite_passes(out, ts, satellites, STATIONS)
        write_sun_moon(out, STATIONS[:5], rng)
        write_body_passes(out, STATIONS)


if __name__ == "__main__":
    main()
