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
    """Least-squares slope and value at mean(t); slope 0 for fewer than 3 points."""
    if len(t) < 3:
        return 0.0, float(np.mean(y)) if len(y) else 0.0
    tm = np.mean(t)
    slope = np.sum((t - tm) * (y - np.mean(y))) / np.sum((t - tm) ** 2)
    return float(slope), float(np.mean(y))


def fit_fringe(cross, auto_first, auto_second):
    """Fringe amplitude, residual delay, phase, phase scatter, rate and SNR of
    one cross pair."""
    c = normalised_spectra(cross, auto_first, auto_second)
    records, bins = c.shape
    if records == 0:
        raise ValueError(f"{cross.path}: no complete record")
    n = cross.fft_points
    k = np.arange(bins)
    used = used_bins(bins)
    times = cross.record_mid_times()[:records]

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
    sigma = float(np.sqrt(np.mean(np.abs(residual_values[off_peak]) ** 2) / 2.0))
    snr = amplitude / sigma if sigma > 0 else float("inf")

    fringe_rate = slope / (2 * np.pi)
    model_rates = model_fringe_rate(cross)[:records]
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
        segment_phase_deg=-180.0 * model_rate * n / cross.sample_rate, noise_sigma=sigma, record_times=times,
        record_phases_deg=np.degrees(np.angle(vis)),
        record_amplitudes=np.abs(vis),
        frequencies=cross.frequency + used * cross.sample_rate / n,
        spectrum=spectrum[used], lags=lags, lag_function=values)


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
    return float(abs(np.sinc(fringe_rate_hz * fft_points / sample_rate)))


def model_fringe_rate(cross):
    """Baseline fringe rate (Hz) of every record from the geometric delay
    rates in its header, f_sky (rate_first - rate_second); clock rates, which
    the headers do not carry, come on top."""
    return cross.frequency * (cross.first_delay[:, 1] - cross.second_delay[:, 1])
