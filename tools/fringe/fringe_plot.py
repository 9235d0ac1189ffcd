"""PNG of the fringes of one scan: per cross pair, amplitude and phase against
frequency, the lag function around its peak, and the phase of every record."""

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

LAG_HALF_WIDTH = 32  # lags shown on each side of the peak


def plot_fringes(fringes, path, title=""):
    rows = len(fringes)
    figure, axes = plt.subplots(rows, 4, figsize=(17, 3.6 * rows + 0.6), squeeze=False)
    for row, f in zip(axes, fringes):
        pair = f"{f.first}-{f.second}"
        mhz = (f.frequencies - f.sky_frequency) / 1e6
        band_label = f"frequency above {f.sky_frequency / 1e6:.3f} MHz (MHz)"
        amplitude, phase, lag_axis, time_axis = row

        amplitude.plot(mhz, np.abs(f.spectrum), lw=0.8, color="tab:blue")
        amplitude.axhline(f.amplitude, color="tab:red", lw=0.8, ls="--",
                          label=f"band mean {f.amplitude:.4f}")
        amplitude.set_ylim(0, max(1.5 * float(np.max(np.abs(f.spectrum))), 1e-3))
        amplitude.set_xlabel(band_label)
        amplitude.set_ylabel("normalised amplitude")
        amplitude.set_title(f"{pair}: amplitude")
        amplitude.legend(loc="lower right", fontsize=8)

        derotated = f.spectrum * np.exp(
            2j * np.pi * (f.frequencies - f.sky_frequency) * f.delay_seconds)
        phase.plot(mhz, np.degrees(np.angle(derotated)), ".", ms=2, color="tab:green")
        phase.set_ylim(-180, 180)
        phase.set_yticks([-180, -90, 0, 90, 180])
        phase.set_xlabel(band_label)
        phase.set_ylabel("phase (deg)")
        phase.set_title(f"phase, delay {f.delay_samples:+.3f} samples removed")

        near = np.abs(f.lags - f.delay_samples) <= LAG_HALF_WIDTH
        lag_axis.plot(f.lags[near], np.abs(f.lag_function[near]), "-o", ms=2.5, lw=0.8,
                      color="tab:purple")
        lag_axis.axhline(3 * f.noise_sigma * np.sqrt(2), color="gray", lw=0.6, ls=":",
                         label="3 x rms noise")
        lag_axis.set_xlabel("lag (samples)")
        lag_axis.set_ylabel("|lag function|")
        lag_axis.set_title(f"lag: peak {f.delay_samples:+.3f}, SNR {f.snr:.1f}")
        lag_axis.legend(loc="upper right", fontsize=8)

        time_axis.plot(f.record_times, f.record_phases_deg, "o", ms=3, color="tab:orange")
        time_axis.set_ylim(-180, 180)
        time_axis.set_yticks([-180, -90, 0, 90, 180])
        time_axis.set_xlabel("time in scan (s)")
        time_axis.set_ylabel("record phase (deg)")
        time_axis.set_title(f"phase {f.phase_deg:+.1f}, scatter {f.phase_scatter_deg:.2f} deg")
        for axis in row:
            axis.grid(True, lw=0.3, alpha=0.5)
    if title:
        figure.suptitle(title)
    figure.tight_layout()
    figure.savefig(path, dpi=90)
    plt.close(figure)
