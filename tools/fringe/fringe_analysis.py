"""Fringe fitting of one station pair from its cross and auto spectra.

Conventions (those of the correlator's output): the cross spectrum is
A conj(B) for the first station A and the second B at baseband bin
k = 0 .. N/2-1 of an N-point FFT, frequency k fs / N above the sky frequency.
The lag function l(tau) = sum_k c_k exp(+2 pi j k tau / N) of the normalised
spectrum c peaks at the residual delay of the first station relative to the
second: a positive delay means the first station's signal arrives later than
the correlator's model assumed.
"""

from dataclasses import dataclass

import numpy as np

LAG_OVERSAMPLING = 16
PEAK_EXCLUSION_LAGS = 4  # lags on each side of the peak left out of the noise
# A record whose auto power falls below this share of the scan's median lost
# part of its data: segments outside a station's raw file are zeros.
REDUCED_AUTO_POWER = 0.9


@dataclass
class Fringe:
    first: str
    second: str
    stream: str
    epoch_text: str
    sky_frequency: float       # Hz
    sample_rate: int
    fft_points: int
    records: int
    amplitude: float           # coherent, rate-corrected, normalised by the autos
    delay_samples: float       # residual delay from the lag function
    delay_seconds: float
    phase_deg: float           # fringe phase at the middle of the scan
    phase_scatter_deg: float   # rms of the record phases about the linear fit
    fringe_rate_hz: float      # slope of the record phases
    delay_rate: float          # fringe rate / sky frequency, s/s
    snr: float                 # amplitude over the rms noise of the lag function
    model_fringe_rate_hz: float  # mean baseline fringe rate of the delay models
    segment_loss: float        # amplitude kept with one fringe phase per FFT segment
    segment_phase_deg: float   # phase that per-segment rotation adds: -180 f_r N / fs
    noise_sigma: float         # that rms, per real component
    record_times: np.ndarray   # record mid times, s from the first record's second
    record_phases_deg: np.ndarray
    record_amplitudes: np.ndarray
    frequencies: np.ndarray    # Hz, sky frequency + baseband, used bins
    spectrum: np.ndarray       # rate-corrected mean normalised spectrum, used bins
    lags: np.ndarray           # samples
    lag_function: np.ndarray   # complex, same normalisation as the amplitude
    empty_records: np.ndarray = None    # indices of records without data, left out of the fit
    partial_records: np.ndarray = None  # indices of records with part of their data missing


def normalised_spectra(cross, auto_first, auto_second):
    """Cross spectra divided by sqrt(auto_first * auto_second), records x bins.
    Bins whose auto power is not positive give 0."""
    records = min(len(cross.spectra), len(auto_first.spectra), len(auto_second.spectra))
    x = cross.spectra[:records].astype(np.complex128)
    power = (np.abs(auto_first.spectra[:records].real.astype(np.float64))
             * np.abs(auto_second.spectra[:records].real.astype(np.float64)))
    out = np.zeros_like(x)
    good = power > 0
    out[good] = x[good] / np.sqrt(power[good])
    return out


def used_bins(bins):
    """Bins that enter the fit: all but DC (bin 0), which carries any offset
    of the samplers."""
    return np.arange(1, bins)


def lag_function(spectrum, fft_points, oversampling=1):
    """Lag function of a spectrum of fft_points/2 bins, on lags spaced
    1/oversampling samples from -fft_points/2; normalised by the bin count, so
    a spectrum of ones gives 1 at lag 0. Bin 0 is left out."""
    bins = fft_points // 2
    size = fft_points * oversampling
    padded = np.zeros(size, np.complex128)
    padded[1:bins] = spectrum[1:bins]
    values = np.fft.fftshift(np.fft.ifft(padded)) * size / max(bins - 1, 1)
    lags = (np.arange(size) - size // 2) / oversampling
    return lags, values


def peak_delay(spectrum, fft_points):
    """Residual delay in samples: the peak of |lag function|, on the
    oversampled grid refined by a parabola through its neighbours."""
    lags, values = lag_function(spectrum, fft_points, LAG_OVERSAMPLING)
    power = np.abs(values)
    i = int(np.argmax(power))
    if 0 < i < len(power) - 1:
        a, b, c = power[i - 1], power[i], power[i + 1]
        denominator = a - 2 * b + c
        offset = 0.5 * (a - c) / denominator if denominator != 0 else 0.0
        return lags[i] + offset / LAG_OVERSAMPLING
    return lags[i]


def _linear_fit(t, y):
    """Least-squares slope and value at mean(t); slope 0 for fewer than 3
    points or when every point has the same time."""
    if len(t) < 3:
        return 0.0, float(np.mean(y)) if len(y) else 0.0
    tm = np.mean(t)
    spread = np.sum((t - tm) ** 2)
    if spread == 0:
        return 0.0, float(np.mean(y))
    slope = np.sum((t - tm) * (y - np.mean(y))) / spread
    return float(slope), float(np.mean(y))


def record_auto_power(auto, records):
    """Mean auto power of each of the first records records, bin 0 left out
    (it carries the samplers' offset)."""
    spectra = auto.spectra[:records].real.astype(np.float64)
    if spectra.shape[1] > 1:
        spectra = spectra[:, 1:]
    if spectra.shape[1] == 0:
        return np.zeros(len(spectra))
    power = np.abs(spectra).mean(axis=1)
    return np.where(np.isfinite(power), power, 0.0)


def missing_data_records(auto_first, auto_second, records):
    """Records whose data was missing at either station, as two index arrays:
    wholly (auto power zero) and partly (auto power clearly below the median
    of the scan's records that have data)."""
    empty = np.zeros(records, bool)
    reduced = np.zeros(records, bool)
    for auto in (auto_first, auto_second):
        power = record_auto_power(auto, records)
        has_data = power > 0
        empty |= ~has_data
        if has_data.any():
            reduced |= has_data & (power < REDUCED_AUTO_POWER * np.median(power[has_data]))
    return np.flatnonzero(empty), np.flatnonzero(reduced & ~empty)


def fit_fringe(cross, auto_first, auto_second):
    """Fringe amplitude, residual delay, phase, phase scatter, rate and SNR of
    one cross pair."""
    c = normalised_spectra(cross, auto_first, auto_second)
    if len(c) == 0:
        raise ValueError(f"{cross.path}: no complete record")
    # Records without data at a station hold zeros: they would only dilute
    # the fringe, so they are left out (and reported).
    empty, partial = missing_data_records(auto_first, auto_second, len(c))
    kept = np.setdiff1d(np.arange(len(c)), empty)
    if len(kept) == 0:
        raise ValueError(f"{cross.path}: no record holds data (the auto spectra are zero)")
    c = c[kept]
    records, bins = c.shape
    n = cross.fft_points
    k = np.arange(bins)
    used = used_bins(bins)
    times = cross.record_mid_times()[kept]

    # Delay from the scan's mean spectrum, then one visibility per record with
    # that delay removed.
    delay = peak_delay(c.mean(axis=0), n)
    derotate = np.exp(2j * np.pi * k * delay / n)
    vis = (c[:, used] * derotate[used]).mean(axis=1)
    phases = np.unwrap(np.angle(vis))
    slope, _ = _linear_fit(times, phases)  # rad/s
    tm = float(np.mean(times))
    rate_corrected = np.exp(-1j * slope * (times - tm))

    mean_vis = np.mean(vis * rate_corrected)
    amplitude = float(np.abs(mean_vis))
    residual = np.angle(vis * rate_corrected * np.conj(mean_vis))
    dof = max(records - (2 if records >= 3 else 1), 1)
    scatter = float(np.degrees(np.sqrt(np.sum(residual ** 2) / dof))) if records > 1 else 0.0

    spectrum = (c * rate_corrected[:, None]).mean(axis=0)
    lags, values = lag_function(spectrum, n)
    # Noise: the lag function of what the fitted fringe leaves, away from the
    # peak (the fringe's own sidelobes, falling as 1/lag, would inflate it).
    model = mean_vis * np.conj(derotate)
    _, residual_values = lag_function(spectrum - model, n)
    off_peak = np.abs(lags - delay) > PEAK_EXCLUSION_LAGS
    sigma = float(np.sqrt(np.mean(np.abs(residual_values[off_peak]) ** 2) / 2.0)) if off_peak.any() else 0.0
    snr = amplitude / sigma if sigma > 0 else float("inf")

    fringe_rate = slope / (2 * np.pi)
    model_rates = model_fringe_rate(cross)[kept]
    segment_loss = float(np.mean([fringe_rate_loss(r, n, cross.sample_rate) for r in model_rates]))
    model_rate = float(np.mean(model_rates))
    return Fringe(
        first=cross.first.name, second=cross.second.name, stream=cross.stream,
        epoch_text=cross.epoch_text, sky_frequency=cross.frequency,
        sample_rate=cross.sample_rate, fft_points=n, records=records,
        amplitude=amplitude, delay_samples=float(delay),
        delay_seconds=float(delay) / cross.sample_rate if cross.sample_rate else 0.0,
        phase_deg=float(np.degrees(np.angle(mean_vis))), phase_scatter_deg=scatter,
        fringe_rate_hz=float(fringe_rate),
        delay_rate=float(fringe_rate / cross.frequency) if cross.frequency else 0.0,
        snr=float(snr), model_fringe_rate_hz=model_rate, segment_loss=segment_loss,
        segment_phase_deg=-180.0 * model_rate * n / cross.sample_rate if cross.sample_rate else 0.0,
        noise_sigma=sigma, record_times=times,
        record_phases_deg=np.degrees(np.angle(vis)),
        record_amplitudes=np.abs(vis),
        frequencies=cross.frequency + used * cross.sample_rate / n,
        spectrum=spectrum[used], lags=lags, lag_function=values,
        empty_records=empty, partial_records=partial)


def fringes_of_scan(pairs):
    """Fits every cross pair of one scan ({(first, second): CorFile}) that has
    both auto spectra; returns (fringes, names of pairs lacking an auto)."""
    fringes, missing = [], []
    for (a, b), cross in sorted(pairs.items()):
        if a == b:
            continue
        if (a, a) not in pairs or (b, b) not in pairs:
            missing.append(f"{a}-{b}")
            continue
        fringes.append(fit_fringe(cross, pairs[(a, a)], pairs[(b, b)]))
    return fringes, missing


def fringe_rate_loss(fringe_rate_hz, fft_points, sample_rate):
    """Amplitude kept when one fringe phase is applied per FFT segment:
    |sinc(f_r N / fs)|. The phase, taken at the segment's start, also lags
    the segment's mean by 180 f_r N / fs degrees."""
    if sample_rate <= 0:
        return 1.0
    return float(abs(np.sinc(fringe_rate_hz * fft_points / sample_rate)))


def model_fringe_rate(cross):
    """Baseline fringe rate (Hz) of every record from the geometric delay
    rates in its header, f_sky (rate_first - rate_second); clock rates, which
    the headers do not carry, come on top."""
    return cross.frequency * (cross.first_delay[:, 1] - cross.second_delay[:, 1])
