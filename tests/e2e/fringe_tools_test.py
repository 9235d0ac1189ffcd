"""Tests of the fringe inspector's reader and fringe fit on synthetic output
files written here byte by byte from the file layout."""

import os
import struct
import subprocess
import sys
import tempfile
import unittest
import warnings

import numpy as np

SOURCE_DIR = os.environ.get("KORVA_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
FRINGE_DIR = os.path.join(SOURCE_DIR, "tools", "fringe")
sys.path.insert(0, FRINGE_DIR)

import cor_reader  # noqa: E402
import fringe_analysis  # noqa: E402

EPOCH = 1712750400  # 2024/101 12:00:00
EPOCH_TEXT = "2024101120000"


def station_record(name, xyz):
    return name.encode().ljust(16, b"\0") + struct.pack("<3d", *xyz) + bytes(8)


def file_header(first, second, sample_rate, frequency, fft_points, record_count):
    data = struct.pack("<Iiii", 0x3EA2F983, 0x01000000, 0x01000000, sample_rate)
    data += struct.pack("<dii", frequency, fft_points, record_count)
    data += station_record(*first) + station_record(*second)
    data += b"SRC1".ljust(16, b"\0") + struct.pack("<2d", 1.25, -0.5)
    data += bytes(96)
    assert len(data) == 256
    return data


def record(second, period, per_second, delays_first, delays_second, spectrum):
    start_ns = period * 1000000000 // per_second
    end_ns = (period + 1) * 1000000000 // per_second
    end_second = second
    if end_ns == 1000000000:
        end_second, end_ns = second + 1, 0
    data = struct.pack("<4i", second, start_ns, end_second, end_ns)
    for delays in (delays_first, delays_second):
        data += struct.pack("<ii5d", second, 0, *delays)
    data += struct.pack("<f", 1.0 / per_second) + bytes(12)
    assert len(data) == 128
    return data + np.asarray(spectrum, "<c8").tobytes()


class Scan:
    """Writes the three files of a two-station scan with a known fringe.
    alpha_data maps record indices to the share of ALPHA's data they hold
    (missing segments are zeros: its auto and cross power scale with it)."""

    def __init__(self, directory, amplitude, delay_samples, phase_deg, fringe_rate_hz,
                 noise=0.0, seconds=4, per_second=4, fft_points=256, sample_rate=1000000,
                 frequency=2.0e9, seed=3, stream="CH1", alpha_data=None):
        rng = np.random.default_rng(seed)
        bins = fft_points // 2
        k = np.arange(bins)
        a, b = ("ALPHA", (1.0, 2.0, 3.0)), ("BRAVO", (4.0, 5.0, 6.0))
        self.paths = {}
        for pair in ((a, a), (a, b), (b, b)):
            name = f"{pair[0][0]}_{pair[1][0]}_{EPOCH_TEXT}_{stream}.cor"
            path = os.path.join(directory, name)
            with open(path, "wb") as out:
                out.write(file_header(pair[0], pair[1], sample_rate, frequency, fft_points,
                                      seconds * per_second))
                for s in range(seconds):
                    for p in range(per_second):
                        t = s + (p + 0.5) / per_second
                        if pair[0] is pair[1]:
                            spectrum = np.full(bins, 4.0 + 0j)  # autos: flat power 4
                        else:
                            phase = (np.radians(phase_deg) + 2 * np.pi * fringe_rate_hz * t
                                     - 2 * np.pi * k * delay_samples / fft_points)
                            spectrum = 4.0 * amplitude * np.exp(1j * phase)
                            spectrum = spectrum + 4.0 * noise * (
                                rng.standard_normal(bins) + 1j * rng.standard_normal(bins))
                        if pair[0] is a:
                            spectrum = spectrum * (alpha_data or {}).get(s * per_second + p, 1.0)
                        out.write(record(EPOCH + s, p, per_second, (1e-3, 2e-7, 0, 0, 0),
                                         (-2e-3, -1e-7, 0, 0, 0), spectrum))
            self.paths[(pair[0][0], pair[1][0])] = path


class ReaderTest(unittest.TestCase):
    def test_header_records_and_names_read_back(self):
        with tempfile.TemporaryDirectory() as directory:
            scan = Scan(directory, 0.5, 0.0, 0.0, 0.0, seconds=2, per_second=3)
            cor = cor_reader.read_cor_file(scan.paths[("ALPHA", "BRAVO")])
            self.assertEqual((cor.sample_rate, cor.fft_points, cor.record_count), (1000000, 256, 6))
            self.assertEqual(cor.frequency, 2.0e9)
            self.assertEqual((cor.first.name, cor.second.name, cor.source.name),
                             ("ALPHA", "BRAVO", "SRC1"))
            self.assertEqual((cor.first.x, cor.second.z), (1.0, 6.0))
            self.assertEqual((cor.source.ra, cor.source.dec), (1.25, -0.5))
            self.assertEqual((cor.epoch_text, cor.stream), (EPOCH_TEXT, "CH1"))
            self.assertEqual(cor.spectra.shape, (6, 128))
            self.assertEqual(list(cor.start_nanoseconds[:3]), [0, 333333333, 666666666])
            self.assertEqual(cor.end_second[2], EPOCH + 1)
            self.assertEqual(cor.end_nanoseconds[2], 0)
            self.assertAlmostEqual(cor.first_delay[0, 1], 2e-7)
            self.assertAlmostEqual(cor.second_delay[4, 0], -2e-3)
            np.testing.assert_allclose(cor.record_mid_times()[:2], [1 / 6, 0.5], atol=1e-9)

    def test_incomplete_last_record_is_left_out(self):
        with tempfile.TemporaryDirectory() as directory:
            scan = Scan(directory, 0.5, 0.0, 0.0, 0.0, seconds=1, per_second=2)
            path = scan.paths[("ALPHA", "BRAVO")]
            with open(path, "ab") as out:
                out.write(bytes(100))
            cor = cor_reader.read_cor_file(path)
            self.assertEqual(len(cor.spectra), 2)
            self.assertEqual(cor.trailing_bytes, 100)

    def test_file_shorter_than_its_header_announces_is_reported(self):
        with tempfile.TemporaryDirectory() as directory:
            scan = Scan(directory, 0.5, 0.0, 0.0, 0.0, seconds=2, per_second=4)
            path = scan.paths[("ALPHA", "BRAVO")]
            self.assertEqual(cor_reader.read_cor_file(path).shortfall(), "")
            record_bytes = 128 + 8 * 128
            with open(path, "r+b") as out:
                out.truncate(256 + 3 * record_bytes + 40)  # a run stopped in its fourth record
            cor = cor_reader.read_cor_file(path)
            self.assertEqual((cor.record_count, cor.records_held, cor.records_missing), (8, 3, 5))
            self.assertEqual(cor.shortfall(), f"{path}: holds 3 of the 8 records its header "
                                              "announces, then 40 bytes of an incomplete record")

    def test_foreign_and_short_files_are_refused(self):
        with tempfile.TemporaryDirectory() as directory:
            path = os.path.join(directory, "x.cor")
            with open(path, "wb") as out:
                out.write(bytes(256))
            with self.assertRaises(cor_reader.CorFileError):
                cor_reader.read_cor_file(path)
            with open(path, "wb") as out:
                out.write(struct.pack("<I", 0x3EA2F983))
            with self.assertRaises(cor_reader.CorFileError):
                cor_reader.read_cor_file(path)
            # Headers no correlator writes: no samples per second, or a
            # negative record count.
            for sample_rate, count in ((0, 4), (1000000, -4)):
                with open(path, "wb") as out:
                    out.write(file_header(("A", (0, 0, 0)), ("A", (0, 0, 0)), sample_rate, 8e9, 256, count))
                with self.assertRaises(cor_reader.CorFileError):
                    cor_reader.read_cor_file(path)

    def test_directory_grouping_by_scan(self):
        with tempfile.TemporaryDirectory() as directory:
            Scan(directory, 0.5, 0.0, 0.0, 0.0, seconds=1, per_second=1)
            groups = cor_reader.group_by_scan(cor_reader.find_cor_files(directory))
            self.assertEqual(list(groups), [(EPOCH_TEXT, "CH1")])
            self.assertEqual(sorted(groups[(EPOCH_TEXT, "CH1")]),
                             [("ALPHA", "ALPHA"), ("ALPHA", "BRAVO"), ("BRAVO", "BRAVO")])
            self.assertEqual(cor_reader.find_cor_files(directory, stream="CH2"), [])


class FringeFitTest(unittest.TestCase):
    def fit(self, **scan):
        with tempfile.TemporaryDirectory() as directory:
            Scan(directory, **scan)
            groups = cor_reader.group_by_scan(cor_reader.find_cor_files(directory))
            fringes, missing = fringe_analysis.fringes_of_scan(groups[(EPOCH_TEXT, "CH1")])
        self.assertEqual(missing, [])
        self.assertEqual(len(fringes), 1)
        return fringes[0]

    def test_noise_free_fringe_is_recovered(self):
        f = self.fit(amplitude=0.3, delay_samples=2.37, phase_deg=40.0, fringe_rate_hz=0.05)
        self.assertAlmostEqual(f.amplitude, 0.3, delta=0.003)
        self.assertAlmostEqual(f.delay_samples, 2.37, delta=0.02)
        self.assertAlmostEqual(f.delay_seconds, 2.37e-6, delta=2e-8)
        self.assertAlmostEqual(f.fringe_rate_hz, 0.05, delta=1e-6)
        self.assertAlmostEqual(f.delay_rate, 0.05 / 2.0e9, delta=1e-15)
        # Phase at the scan's middle (2 s): 40 deg + 360 x 0.05 x 2.
        self.assertAlmostEqual(f.phase_deg, 40.0 + 36.0, delta=0.5)
        self.assertLess(f.phase_scatter_deg, 0.1)
        self.assertEqual(f.records, 16)

    def test_negative_integer_delay_moves_the_peak(self):
        f = self.fit(amplitude=0.2, delay_samples=-5.0, phase_deg=0.0, fringe_rate_hz=0.0,
                     noise=0.05)
        self.assertAlmostEqual(f.delay_samples, -5.0, delta=0.05)

    def test_noise_sets_snr_and_phase_scatter(self):
        # Per bin and record each component has noise 0.05; the mean over
        # 127 bins x 16 records has sigma 0.05 / sqrt(2032) per component.
        f = self.fit(amplitude=0.05, delay_samples=0.0, phase_deg=-30.0, fringe_rate_hz=0.0,
                     noise=0.05)
        expected_sigma = 0.05 / np.sqrt(127 * 16)
        self.assertAlmostEqual(f.noise_sigma / expected_sigma, 1.0, delta=0.15)
        self.assertAlmostEqual(f.snr, 0.05 / expected_sigma, delta=0.2 * 0.05 / expected_sigma)
        # One record: sigma 0.05 / sqrt(127), so the phase scatter is about
        # that over the amplitude, in degrees.
        per_record = np.degrees(0.05 / np.sqrt(127) / 0.05)
        self.assertAlmostEqual(f.phase_scatter_deg / per_record, 1.0, delta=0.45)
        self.assertAlmostEqual(f.phase_deg, -30.0, delta=3 * per_record / 4)

    def test_pure_noise_gives_no_significant_fringe(self):
        f = self.fit(amplitude=0.0, delay_samples=0.0, phase_deg=0.0, fringe_rate_hz=0.0,
                     noise=0.05)
        self.assertLess(f.snr, 7.0)

    def test_records_with_missing_data_are_flagged_and_empty_ones_left_out(self):
        # Records 0 and 1 hold no data of ALPHA, record 9 half of it.
        with warnings.catch_warnings():
            warnings.simplefilter("error")  # a 0/0 would raise here
            f = self.fit(amplitude=0.3, delay_samples=1.5, phase_deg=20.0, fringe_rate_hz=0.0,
                         alpha_data={0: 0.0, 1: 0.0, 9: 0.5})
        self.assertEqual(list(f.empty_records), [0, 1])
        self.assertEqual(list(f.partial_records), [9])
        self.assertEqual(f.records, 14)
        # The empty records do not dilute the fringe; the half record, scaled by
        # its own autos, keeps sqrt(1/2) of its amplitude.
        expected = 0.3 * (13 + np.sqrt(0.5)) / 14
        self.assertAlmostEqual(f.amplitude, expected, delta=0.003)
        self.assertAlmostEqual(f.delay_samples, 1.5, delta=0.02)
        clean = self.fit(amplitude=0.3, delay_samples=1.5, phase_deg=20.0, fringe_rate_hz=0.0)
        self.assertEqual((len(clean.empty_records), len(clean.partial_records)), (0, 0))

    def test_scan_without_data_is_refused_without_dividing_zero_by_zero(self):
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            with self.assertRaisesRegex(ValueError, "no record holds data"):
                self.fit(amplitude=0.3, delay_samples=0.0, phase_deg=0.0, fringe_rate_hz=0.0,
                         seconds=1, per_second=2, alpha_data={0: 0.0, 1: 0.0})
            # Records of one time give no rate, not 0/0.
            self.assertEqual(fringe_analysis._linear_fit(np.ones(4), np.arange(4.0)), (0.0, 1.5))

    def test_fringe_rate_loss_is_a_sinc(self):
        self.assertAlmostEqual(fringe_analysis.fringe_rate_loss(0.0, 1024, 1e6), 1.0)
        # f_r N / fs = 0.5: sin(pi/2) / (pi/2).
        self.assertAlmostEqual(fringe_analysis.fringe_rate_loss(500.0, 1000, 1e6), 2 / np.pi)
        self.assertAlmostEqual(fringe_analysis.fringe_rate_loss(1000.0, 1000, 1e6), 0.0)


class CommandLineTest(unittest.TestCase):
    def run_fringe(self, *arguments):
        return subprocess.run([sys.executable, os.path.join(FRINGE_DIR, "korva_fringe"), *arguments],
                              capture_output=True, text=True)

    def test_kv_report_and_plot(self):
        with tempfile.TemporaryDirectory() as directory:
            Scan(directory, amplitude=0.25, delay_samples=1.0, phase_deg=10.0, fringe_rate_hz=0.0,
                 noise=0.01)
            png = os.path.join(directory, "fringe.png")
            result = self.run_fringe("--cor-dir", directory, "--format", "kv", "--plot", png)
            self.assertEqual(result.returncode, 0, result.stderr)
            fields = dict(item.split("=", 1) for item in result.stdout.split())
            self.assertEqual(fields["pair"], "ALPHA-BRAVO")
            self.assertAlmostEqual(float(fields["amplitude"]), 0.25, delta=0.005)
            self.assertAlmostEqual(float(fields["delay_samples"]), 1.0, delta=0.05)
            with open(png, "rb") as image:
                self.assertEqual(image.read(8), b"\x89PNG\r\n\x1a\n")

    def test_one_plot_per_scan_when_there_are_several(self):
        with tempfile.TemporaryDirectory() as directory:
            Scan(directory, 0.3, 0.0, 0.0, 0.0, seconds=1, per_second=2, stream="CH1")
            Scan(directory, 0.2, 3.0, 0.0, 0.0, seconds=1, per_second=2, stream="CH2")
            result = self.run_fringe("--cor-dir", directory, "--format", "kv",
                                     "--plot", os.path.join(directory, "f.png"))
            self.assertEqual(result.returncode, 0, result.stderr)
            reports = [dict(item.split("=", 1) for item in line.split())
                       for line in result.stdout.splitlines()]
            self.assertEqual([r["stream"] for r in reports], ["CH1", "CH2"])
            self.assertAlmostEqual(float(reports[1]["delay_samples"]), 3.0, delta=0.05)
            for stream in ("CH1", "CH2"):
                self.assertTrue(os.path.exists(
                    os.path.join(directory, f"f_{EPOCH_TEXT}_{stream}.png")))
            result = self.run_fringe("--cor-dir", directory, "--stream", "CH2", "--format", "kv")
            self.assertEqual(len(result.stdout.splitlines()), 1)

    def test_short_files_and_missing_data_are_reported_on_standard_error(self):
        with tempfile.TemporaryDirectory() as directory:
            scan = Scan(directory, 0.3, 0.0, 0.0, 0.0, seconds=2, per_second=2,
                        alpha_data={2: 0.0, 3: 0.25})
            bravo = scan.paths[("BRAVO", "BRAVO")]
            with open(bravo, "r+b") as out:
                out.truncate(256)  # a run stopped before its first record
            result = self.run_fringe("--cor-dir", directory, "--format", "kv")
            self.assertNotEqual(result.returncode, 0)
            self.assertEqual(result.stderr.splitlines()[0],
                             f"korva_fringe: warning: {bravo}: holds 0 of the 4 records its header "
                             "announces")
            # Without BRAVO's autos nothing can be normalised: one line says so.
            self.assertTrue(result.stderr.splitlines()[1].endswith("no complete record"))
            os.remove(bravo)
            Scan(directory, 0.3, 0.0, 0.0, 0.0, seconds=2, per_second=2, alpha_data={2: 0.0, 3: 0.25})
            result = self.run_fringe("--cor-dir", directory, "--format", "kv")
            self.assertEqual(result.returncode, 0, result.stderr)
            scan_name = f"pair ALPHA-BRAVO of scan {EPOCH_TEXT} CH1"
            self.assertEqual(result.stderr.splitlines(), [
                f"korva_fringe: warning: {scan_name}: 1 records without data (zero auto power) "
                "left out: records 2",
                f"korva_fringe: warning: {scan_name}: 1 records with part of their data missing "
                "(auto power clearly reduced): records 3"])
            self.assertEqual(dict(item.split("=", 1) for item in result.stdout.split())["records"], "3")

    def test_missing_directory_and_missing_autos_fail_with_one_line(self):
        result = self.run_fringe("--cor-dir", "/nonexistent/korva")
        self.assertNotEqual(result.returncode, 0)
        self.assertTrue(result.stderr.startswith("korva_fringe: "))
        self.assertEqual(result.stderr.count("\n"), 1)
        with tempfile.TemporaryDirectory() as directory:
            scan = Scan(directory, 0.5, 0.0, 0.0, 0.0, seconds=1, per_second=1)
            os.remove(scan.paths[("BRAVO", "BRAVO")])
            result = self.run_fringe("--cor-dir", directory)
            self.assertNotEqual(result.returncode, 0)
            self.assertIn("lacks an auto spectrum", result.stderr)


if __name__ == "__main__":
    unittest.main()
