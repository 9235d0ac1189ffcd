"""Reader of the correlator's output files (.cor).

A file holds one station pair and one stream of a process: a 256-byte header,
then one record per parameter period, each a 128-byte record header followed
by fft_points/2 complex float bins (cross-power spectrum, first station times
the conjugate of the second). Every field is little-endian at a fixed offset.
"""

import os
import re
import struct
from dataclasses import dataclass, field

import numpy as np

COR_MAGIC = 0x3EA2F983
FILE_HEADER_BYTES = 256
RECORD_HEADER_BYTES = 128


class CorFileError(Exception):
    """A file that is not a readable correlation output file."""


@dataclass
class Station:
    name: str
    x: float
    y: float
    z: float


@dataclass
class Source:
    name: str
    ra: float   # radians, J2000
    dec: float  # radians, J2000


@dataclass
class CorFile:
    path: str
    sample_rate: int           # samples per second
    frequency: float           # sky frequency of the stream's lower edge, Hz
    fft_points: int
    record_count: int          # records the header announces
    first: Station
    second: Station
    source: Source
    epoch_text: str = ""       # "%Y%j%H%M%S" of the process, from the file name
    stream: str = ""           # stream name, from the file name
    start_second: np.ndarray = field(default_factory=lambda: np.zeros(0, np.int32))
    start_nanoseconds: np.ndarray = field(default_factory=lambda: np.zeros(0, np.int32))
    end_second: np.ndarray = field(default_factory=lambda: np.zeros(0, np.int32))
    end_nanoseconds: np.ndarray = field(default_factory=lambda: np.zeros(0, np.int32))
    first_delay: np.ndarray = field(default_factory=lambda: np.zeros((0, 5)))   # s, s/s, ...
    second_delay: np.ndarray = field(default_factory=lambda: np.zeros((0, 5)))
    delay_epoch: np.ndarray = field(default_factory=lambda: np.zeros((0, 2), np.int32))
    period_length: np.ndarray = field(default_factory=lambda: np.zeros(0, np.float32))
    spectra: np.ndarray = field(default_factory=lambda: np.zeros((0, 0), np.complex64))
    trailing_bytes: int = 0    # bytes of an incomplete last record, not read

    @property
    def bins(self):
        return self.fft_points // 2

    @property
    def records_held(self):
        return len(self.spectra)

    @property
    def records_missing(self):
        """Records the header announces that the file does not hold (a run
        that stopped early); record_count is never rewritten."""
        return max(self.record_count - self.records_held, 0)

    def shortfall(self):
        """One line on what the file lacks of what its header announces, or
        an empty text for a complete file."""
        if self.records_missing == 0 and self.trailing_bytes == 0:
            return ""
        text = (f"{self.path}: holds {self.records_held} of the {self.record_count} records "
                "its header announces")
        if self.trailing_bytes:
            text += f", then {self.trailing_bytes} bytes of an incomplete record"
        return text

    @property
    def is_auto(self):
        return self.first.name == self.second.name

    def record_start_times(self):
        """Start of every record in seconds (float) from the first record's start second."""
        if len(self.start_second) == 0:
            return np.zeros(0)
        base = int(self.start_second[0])
        return (self.start_second - base) + self.start_nanoseconds * 1e-9

    def record_mid_times(self):
        """Middle of every record in seconds from the first record's start second."""
        if len(self.start_second) == 0:
            return np.zeros(0)
        base = int(self.start_second[0])
        start = (self.start_second - base) + self.start_nanoseconds * 1e-9
        end = (self.end_second - base) + self.end_nanoseconds * 1e-9
        return 0.5 * (start + end)


def _text(raw):
    return raw.split(b"\0", 1)[0].decode("latin-1")


def _station(raw):
    name = _text(raw[0:16])
    x, y, z = struct.unpack_from("<3d", raw, 16)
    return Station(name, x, y, z)


def read_cor_header(data, path=""):
    """Parses the 256-byte file header; returns a CorFile without records."""
    if len(data) < FILE_HEADER_BYTES:
        raise CorFileError(f"{path}: {len(data)} bytes, shorter than the 256-byte header")
    magic, = struct.unpack_from("<I", data, 0)
    if magic != COR_MAGIC:
        raise CorFileError(f"{path}: not a correlation output file (magic 0x{magic:08X})")
    sample_rate, = struct.unpack_from("<i", data, 12)
    frequency, = struct.unpack_from("<d", data, 16)
    fft_points, record_count = struct.unpack_from("<ii", data, 24)
    if fft_points < 2 or fft_points > 65536:
        raise CorFileError(f"{path}: FFT size {fft_points} outside 2..65536")
    if sample_rate <= 0:
        raise CorFileError(f"{path}: sample rate {sample_rate} is not positive")
    if record_count < 0:
        raise CorFileError(f"{path}: negative record count {record_count}")
    first = _station(data[32:80])
    second = _station(data[80:128])
    source = Source(_text(data[128:144]), *struct.unpack_from("<2d", data, 144))
    return CorFile(path, sample_rate, frequency, fft_points, record_count, first, second, source)


_RECORD_HEADER = np.dtype([
    ("start_second", "<i4"), ("start_nanoseconds", "<i4"),
    ("end_second", "<i4"), ("end_nanoseconds", "<i4"),
    ("first_epoch", "<i4"), ("first_zero", "<i4"), ("first_delay", "<f8", (5,)),
    ("second_epoch", "<i4"), ("second_zero", "<i4"), ("second_delay", "<f8", (5,)),
    ("period_length", "<f4"), ("reserved", "V12"),
])
assert _RECORD_HEADER.itemsize == RECORD_HEADER_BYTES


def _name_parts(path, cor):
    """Process epoch text and stream name from "<a>_<b>_<epoch>_<stream>.cor"."""
    base = os.path.basename(path)
    prefix = f"{cor.first.name}_{cor.second.name}_"
    rest = base[len(prefix):] if base.startswith(prefix) else base
    match = re.match(r"^(\d{13})_(.*)\.cor$", rest)
    if not match:
        match = re.search(r"_(\d{13})_(.*)\.cor$", base)
    return (match.group(1), match.group(2)) if match else ("", "")


def read_cor_file(path):
    """Reads a whole file: header and every complete record."""
    with open(path, "rb") as handle:
        data = handle.read()
    cor = read_cor_header(data, path)
    cor.epoch_text, cor.stream = _name_parts(path, cor)
    record_bytes = RECORD_HEADER_BYTES + 8 * cor.bins
    body = len(data) - FILE_HEADER_BYTES
    count = body // record_bytes
    cor.trailing_bytes = body - count * record_bytes
    records = np.frombuffer(data, dtype=np.dtype([
        ("header", _RECORD_HEADER), ("spectrum", "<c8", (cor.bins,))]),
        count=count, offset=FILE_HEADER_BYTES)
    header = records["header"]
    cor.start_second = header["start_second"].astype(np.int64)
    cor.start_nanoseconds = header["start_nanoseconds"].astype(np.int64)
    cor.end_second = header["end_second"].astype(np.int64)
    cor.end_nanoseconds = header["end_nanoseconds"].astype(np.int64)
    cor.first_delay = header["first_delay"].astype(np.float64)
    cor.second_delay = header["second_delay"].astype(np.float64)
    cor.delay_epoch = np.stack([header["first_epoch"], header["second_epoch"]], axis=1)
    cor.period_length = header["period_length"].astype(np.float32)
    cor.spectra = records["spectrum"].astype(np.complex64)
    return cor


def find_cor_files(directory, epoch_text=None, stream=None):
    """Reads every .cor file of the directory, optionally of one process epoch
    ("%Y%j%H%M%S") or one stream, sorted by name. Unreadable files raise."""
    names = sorted(n for n in os.listdir(directory) if n.endswith(".cor"))
    files = []
    for name in names:
        cor = read_cor_file(os.path.join(directory, name))
        if epoch_text is not None and cor.epoch_text != epoch_text:
            continue
        if stream is not None and cor.stream != stream:
            continue
        files.append(cor)
    return files


def group_by_scan(files):
    """Groups files into {(epoch_text, stream): {(first, second): CorFile}}."""
    groups = {}
    for cor in files:
        key = (cor.epoch_text, cor.stream)
        groups.setdefault(key, {})[(cor.first.name, cor.second.name)] = cor
    return groups
