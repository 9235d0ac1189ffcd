#!/usr/bin/python3
"""Prints the leap-second table of corr/delay/leap_seconds.cpp from an IERS
Leap_Second.dat file (MJD, day, month, year, TAI-UTC per line; '#' comments).

Usage: convert_leap_seconds.py Leap_Second.dat > table.inc
"""
import sys


def main(path):
    rows = []
    with open(path) as f:
        for line in f:
            if line.startswith('#') or not line.strip():
                continue
            mjd, day, month, year, tai_utc = line.split()
            epoch = (int(float(mjd)) - 40587) * 86400
            rows.append((epoch, int(tai_utc), int(year), int(month), int(day)))
    for epoch, tai_utc, year, month, day in rows:
        print(f"    {{{epoch}, {tai_utc}}},  // {year:04d}-{month:02d}-{day:02d}")


if __name__ == '__main__':
    main(sys.argv[1])
