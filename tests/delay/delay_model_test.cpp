// Geometric delay model against ERFA (precession, obliquity, nutation matrix,
// sidereal rotation, aberration) and against the physics of the geometry.
#include <erfa.h>
#include <erfam.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iostream>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "delay_model.h"
#include "station_delay.h"
#include "time_conversions.h"

namespace korva {
namespace {

constexpr double c = 299792458.0;
constexpr double arcseconds_per_radian = 206264.80624709636;
constexpr int32_t epoch_1980 = 315532800;   // 1980-01-01 00:00:00
constexpr int32_t epoch_2038 = 2145916800;  // 2038-01-01 00:00:00, near the end of 32-bit epochs

void report(const std::string& name, double value) {
  ::testing::Test::RecordProperty(name, std::to_string(value));
  std::cout << "largest difference, " << name << ": " << value << "\n";
}

// Epochs spread over 1980-2038 (the range of the 32-bit epoch), every one at a
// different time of day.
std::vector<int32_t> test_epochs() {
  std::vector<int32_t> epochs;
  std::mt19937_64 random(42);
  std::uniform_int_distribution<int32_t> uniform(epoch_1980, epoch_2038);
  for (int i = 0; i < 200; ++i) epochs.push_back(uniform(random));
  epochs.push_back(j2000_unix_seconds);
  epochs.push_back(epoch_1980);
  epochs.push_back(epoch_2038);
  return epochs;
}

// The epoch as an ERFA two-part date: whole days at 0 h plus the day fraction,
// both exact in double.
struct erfa_date {
  double d1, d2;
};
erfa_date erfa_date_of(int32_t t) {
  const int64_t days = static_cast<int64_t>(std::floor(t / 86400.0));
  return erfa_date{2440587.5 + static_cast<double>(days), static_cast<double>(t - days * 86400) / 86400.0};
}

// ERFA's nutation with the same additions: precession-rate corrections and
// the frame-bias offsets of the pole, radians.
void erfa_total_nutation(erfa_date d, double* dpsi, double* deps) {
  double psi = 0.0, eps = 0.0, psi_rate = 0.0, eps_rate = 0.0, psi_bias = 0.0, eps_bias = 0.0, dra = 0.0;
  eraNut00a(d.d1, d.d2, &psi, &eps);
  eraPr00(d.d1, d.d2, &psi_rate, &eps_rate);
  eraBi00(&psi_bias, &eps_bias, &dra);
  *dpsi = psi + psi_rate + psi_bias;
  *deps = eps + eps_rate + eps_bias;
}

// Minus the Greenwich apparent sidereal time from ERFA: IAU 1982 GMST plus the
// equation of the equinoxes dpsi·cos(eps0).
double erfa_rotation_angle(int32_t t) {
  const erfa_date d = erfa_date_of(t);
  double dpsi = 0.0, deps = 0.0;
  erfa_total_nutation(d, &dpsi, &deps);
  return -(eraGmst82(d.d1, d.d2) + dpsi * std::cos(eraObl80(d.d1, d.d2)));
}

double max_element_difference(const matrix3& ours, double reference[3][3]) {
  double worst = 0.0;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) worst = std::max(worst, std::fabs(ours(i, j) - reference[i][j]));
  return worst;
}

// ERFA's aberrated direction of ra, dec (J2000) with the Earth's barycentric
// velocity and the Sun's distance of date.
void erfa_aberrated(int32_t t, double ra, double dec, double out[3]) {
  const erfa_date d = erfa_date_of(t);
  double pvh[2][3], pvb[2][3], p[3], v[3];
  eraEpv00(d.d1, d.d2, pvh, pvb);
  eraS2c(ra, dec, p);
  eraSxp(ERFA_AULT / ERFA_DAYSEC, pvb[1], v);
  const double bm1 = std::sqrt(1.0 - eraPm(v) * eraPm(v));
  eraAb(p, v, eraPm(pvh[0]), bm1, out);
}

// The source direction of date from ERFA's matrices applied to the given
// direction in J2000 axes.
void erfa_true_direction(int32_t t, const double j2000[3], double out[3]) {
  const erfa_date d = erfa_date_of(t);
  double p[3][3], n[3][3], np[3][3], dpsi = 0.0, deps = 0.0;
  eraPmat76(d.d1, d.d2, p);
  erfa_total_nutation(d, &dpsi, &deps);
  eraNumat(eraObl80(d.d1, d.d2), dpsi, deps, n);
  eraRxr(n, p, np);
  double copy[3] = {j2000[0], j2000[1], j2000[2]};
  eraRxp(np, copy, out);
}

station_position station_at(double x, double y, double z) { return station_position{x, y, z}; }

struct source_direction {
  double ra, dec;  // radians, J2000
};
source_direction source_at(double ra, double dec) { return source_direction{ra, dec}; }

station_delay delay_at(const station_position& station, const source_direction& source, int32_t t) {
  return compute_station_delay(compute_delay_frame(source.ra, source.dec, t), station);
}

TEST(PrecessionMatrix, MatchesErfaPmat76) {
  // Same IAU 1976 angles, rotations composed differently: rounding of elements
  // of size up to 1 only, a few 1e-16.
  double worst = 0.0;
  for (int32_t t : test_epochs()) {
    const erfa_date d = erfa_date_of(t);
    double reference[3][3];
    eraPmat76(d.d1, d.d2, reference);
    worst = std::max(worst, max_element_difference(precession_matrix(t), reference));
  }
  report("precession matrix elements vs eraPmat76", worst);
  EXPECT_LT(worst, 2e-15);
}

TEST(PrecessionMatrix, IdentityAtJ2000) {
  double identity[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  EXPECT_LT(max_element_difference(precession_matrix(j2000_unix_seconds), identity), 1e-15);
}

TEST(NutationMatrix, ObliquityAndMatrixMatchErfa) {
  // The obliquity is one polynomial (rounding ~1e-16 rad). The series agree to
  // 1e-8 mas at the same Julian date, but here the date reaches the series as
  // one double (ulp 4e-5 s) while ERFA gets the exact two-part date; the
  // fastest terms move ~100 mas/day, so up to 3e-8 mas (1.5e-16 rad) more.
  // The matrices then differ by rounding only.
  double worst_obliquity = 0.0, worst_matrix = 0.0, worst_angles = 0.0;
  for (int32_t t : test_epochs()) {
    const erfa_date d = erfa_date_of(t);
    const nutation_of_date ours = nutation_matrix(t);
    double dpsi = 0.0, deps = 0.0, reference[3][3];
    erfa_total_nutation(d, &dpsi, &deps);
    const double eps0 = eraObl80(d.d1, d.d2);
    eraNumat(eps0, dpsi, deps, reference);
    worst_obliquity = std::max(worst_obliquity, std::fabs(ours.mean_obliquity - eps0));
    worst_angles = std::max({worst_angles, std::fabs(ours.longitude - dpsi), std::fabs(ours.obliquity - deps)});
    worst_matrix = std::max(worst_matrix, max_element_difference(ours.matrix, reference));
  }
  report("mean obliquity vs eraObl80 (rad)", worst_obliquity);
  report("nutation angles with precession-rate and bias vs ERFA (rad)", worst_angles);
  report("nutation matrix elements vs eraNumat", worst_matrix);
  EXPECT_LT(worst_obliquity, 5e-16);
  EXPECT_LT(worst_angles, 3e-16);
  EXPECT_LT(worst_matrix, 2e-15);
}

TEST(EarthRotation, AngleMatchesErfaSiderealTime) {
  // ERFA evaluates the GMST polynomial in seconds at the instant (values up to
  // 4.4e6 s, ulp 9.3e-10 s = 6.8e-14 rad); this model evaluates it at 0 h and
  // adds r·f. The two forms differ by 0.093104·dT^2 s < 7e-11 s (5e-15 rad)
  // within a day, so a tolerance of 1e-12 rad covers a few roundings of each.
  double worst = 0.0;
  for (int32_t t : test_epochs()) {
    const nutation_of_date n = nutation_matrix(t);
    const earth_rotation e = earth_rotation_matrices(t, n.mean_obliquity, n.longitude);
    const double ours = std::atan2(e.e[0](0, 1), e.e[0](0, 0));
    worst = std::max(worst, std::fabs(std::remainder(ours - erfa_rotation_angle(t), ERFA_D2PI)));
  }
  report("rotation angle vs -(eraGmst82 + equation of equinoxes) (rad)", worst);
  EXPECT_LT(worst, 1e-12);
}

TEST(EarthRotation, DerivativeMatricesFollowTheSiderealRate) {
  // The k-th derivative of R3(a + w t) is w^k R3(a + k pi/2) without its third
  // row and column; the rate w is ERFA's GMST advance over one hour (its
  // rounding, 1e-13 rad, gives 3e-17 rad/s).
  for (int32_t t : {epoch_1980 + 5000, j2000_unix_seconds, 1700000000, epoch_2038 - 7}) {
    const erfa_date d0 = erfa_date_of(t - 1800), d1 = erfa_date_of(t + 1800);
    const double rate = -std::remainder(eraGmst82(d1.d1, d1.d2) - eraGmst82(d0.d1, d0.d2), ERFA_D2PI) / 3600.0;
    const nutation_of_date n = nutation_matrix(t);
    const earth_rotation e = earth_rotation_matrices(t, n.mean_obliquity, n.longitude);
    const double a = std::atan2(e.e[0](0, 1), e.e[0](0, 0));
    for (int k = 1; k <= 4; ++k) {
      double r[3][3];
      eraIr(r);
      eraRz(a + k * ERFA_DPI / 2, r);
      const double scale = std::pow(rate, k);
      for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
          const double expected = (i < 2 && j < 2) ? scale * r[i][j] : 0.0;
          EXPECT_NEAR(e.e[k](i, j), expected, std::fabs(scale) * 1e-11) << "E" << k << " (" << i << "," << j << ") at " << t;
        }
      }
    }
    EXPECT_NEAR(rate, -7.2921158e-5, 1e-12);
  }
}

TEST(ApparentSource, AberrationMatchesErfaWithin03Arcseconds) {
  // The low-precision Sun and the Earth's velocity of date applied in J2000
  // axes limit the agreement to 0.3" over 1980-2050; near J2000 the
  // eccentricity term must carry the Earth's velocity the right way (with the
  // opposite sign the error reaches about 0.7").
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> ra(0.0, 2 * ERFA_DPI), sin_dec(-1.0, 1.0);
  std::uniform_int_distribution<int32_t> epoch(epoch_1980, epoch_2038);
  double worst = 0.0, worst_near_j2000 = 0.0;
  for (int i = 0; i < 2000; ++i) {
    const bool near_j2000 = i % 4 == 0;
    const int32_t t = near_j2000 ? j2000_unix_seconds + (epoch(random) - epoch_1980) / 29 - 31557600 : epoch(random);
    const double alpha = ra(random), delta = std::asin(sin_dec(random));
    double reference[3];
    erfa_aberrated(t, alpha, delta, reference);
    vector3 ours = apparent_source_vector(t, alpha, delta);
    double p[3] = {ours.x, ours.y, ours.z};
    EXPECT_NEAR(eraPm(p), 1.0, 1e-15);
    const double separation = eraSepp(p, reference) * arcseconds_per_radian;
    worst = std::max(worst, separation);
    if (near_j2000) worst_near_j2000 = std::max(worst_near_j2000, separation);
  }
  // The last date of the 32-bit epoch lies in 2038; 2050 is reached through
  // the same formulas as the catalogue date (T) grows.
  report("aberrated direction vs eraAb + eraEpv00, 1980-2038 (arcsec)", worst);
  report("aberrated direction vs eraAb + eraEpv00, 1999-2001 (arcsec)", worst_near_j2000);
  EXPECT_LT(worst, 0.3);
  EXPECT_LT(worst_near_j2000, 0.1);
}

TEST(StationDelay, MatchesDelayComposedFromErfa) {
  // delay[k] = -(N P s)·(d^k/dt^k R3(a) x)/c with ERFA's precession, nutation
  // and sidereal time and this model's aberrated direction s. The rotation
  // angle agrees to 1e-12 rad, so delay[0] to 1e-12·|x|/c < 3e-14 s.
  const station_position stations[3] = {station_at(-2353621.22, -4641341.47, 3677052.32),
                                    station_at(4075539.52, 931735.45, 4801629.35),
                                    station_at(-3950236.74, 2522347.55, -4311562.54)};
  std::mt19937_64 random(99);
  std::uniform_real_distribution<double> ra(0.0, 2 * ERFA_DPI), sin_dec(-1.0, 1.0);
  std::uniform_int_distribution<int32_t> epoch(epoch_1980, epoch_2038);
  double worst = 0.0, worst_erfa_aberration = 0.0;
  for (int i = 0; i < 150; ++i) {
    const int32_t t = epoch(random);
    const source_direction source = source_at(ra(random), std::asin(sin_dec(random)));
    const station_position& station = stations[i % 3];
    const station_delay ours = delay_at(station, source, t);
    const vector3 s = apparent_source_vector(t, source.ra, source.dec);
    const double s_j2000[3] = {s.x, s.y, s.z};
    double s_true[3], s_true_erfa[3], s_erfa[3];
    erfa_true_direction(t, s_j2000, s_true);
    erfa_aberrated(t, source.ra, source.dec, s_erfa);
    erfa_true_direction(t, s_erfa, s_true_erfa);
    double r[3][3], x[3] = {station.x, station.y, station.z}, b[3];
    eraIr(r);
    eraRz(erfa_rotation_angle(t), r);
    eraRxp(r, x, b);
    const double delay = -eraPdp(s_true, b) / c;
    worst = std::max(worst, std::fabs(ours.delay[0] - delay));
    worst_erfa_aberration = std::max(worst_erfa_aberration, std::fabs(ours.delay[0] + eraPdp(s_true_erfa, b) / c));
  }
  report("delay[0] vs ERFA-composed delay, same aberration (s)", worst);
  report("delay[0] vs ERFA-composed delay with eraAb (s)", worst_erfa_aberration);
  EXPECT_LT(worst, 5e-14);
  // 0.3" (1.45e-6 rad) times 6.4e6 m / c.
  EXPECT_LT(worst_erfa_aberration, 1.45e-6 * 6.4e6 / c);
}

TEST(StationDelay, GeocentreGivesZero) {
  for (int32_t t : {epoch_1980, j2000_unix_seconds, 1700000123}) {
    const station_delay d = delay_at(station_at(0, 0, 0), source_at(1.2, -0.4), t);
    for (double v : d.delay) EXPECT_EQ(v, 0.0);
  }
}

TEST(StationDelay, StationOnTheAxis) {
  const double z = 6356752.3;
  for (int32_t t : {epoch_1980 + 777, j2000_unix_seconds, 1700000123, epoch_2038}) {
    const source_direction source = source_at(3.9, 0.7);
    const station_delay d = delay_at(station_at(0, 0, z), source, t);
    for (int k = 1; k < 5; ++k) EXPECT_EQ(d.delay[k], 0.0);
    const vector3 s = apparent_source_vector(t, source.ra, source.dec);
    const double s_j2000[3] = {s.x, s.y, s.z};
    double s_true[3];
    erfa_true_direction(t, s_j2000, s_true);
    EXPECT_NEAR(d.delay[0], -s_true[2] * z / c, 1e-17);
  }
}

TEST(StationDelay, StationTowardsTheSourceSeesTheWavefrontEarlier) {
  // Put the station on the line from the geocentre towards the source, using
  // ERFA's direction and rotation: the delay is minus the distance over c.
  const int32_t t = 1234567890;
  const source_direction source = source_at(0.3, 0.9);
  const vector3 s = apparent_source_vector(t, source.ra, source.dec);
  const double s_j2000[3] = {s.x, s.y, s.z};
  double s_true[3], r[3][3], u[3];
  erfa_true_direction(t, s_j2000, s_true);
  eraIr(r);
  eraRz(erfa_rotation_angle(t), r);
  eraTrxp(r, s_true, u);  // terrestrial direction of the source
  double previous = 0.0;
  for (double distance : {0.0, 1000.0, 6371000.0, 6372000.0}) {
    const station_delay d = delay_at(station_at(distance * u[0], distance * u[1], distance * u[2]), source, t);
    EXPECT_NEAR(d.delay[0], -distance / c, 1e-14);
    if (distance > 0.0) {
      EXPECT_LT(d.delay[0], previous);
    }
    previous = d.delay[0];
  }
}

TEST(StationDelay, EquatorialStationSwingsOverASiderealDay) {
  // 6,000,000 m from the axis: the delay swings between about +-6e6/c =
  // +-0.02001 s and the rate stays below 6e6·w/c with the sidereal rate
  // w = 7.2921159e-5 rad/s (1.4594e-6 s/s). Rounding w to 7.2921e-5 would give
  // a bound the true peak rate exceeds by 2e-6 of itself, so the lower check
  // keeps that margin. Sampling every 20 s misses a
  // peak by at most (7.3e-4 rad)^2 / 2 of it, about 6e-9 s.
  const station_position station = station_at(6.0e6, 0.0, 0.0);
  const source_direction source = source_at(0.0, 0.0);
  double highest = -1.0, lowest = 1.0, fastest = 0.0;
  for (int32_t t = j2000_unix_seconds; t < j2000_unix_seconds + 86164; t += 20) {
    const station_delay d = delay_at(station, source, t);
    highest = std::max(highest, d.delay[0]);
    lowest = std::min(lowest, d.delay[0]);
    fastest = std::max(fastest, std::fabs(d.delay[1]));
  }
  std::cout << "equatorial station: delay " << lowest << " .. " << highest << " s, largest rate " << fastest << " s/s\n";
  const double swing = 6.0e6 / c;
  EXPECT_NEAR(highest, swing, 1e-8);
  EXPECT_NEAR(lowest, -swing, 1e-8);
  EXPECT_GT(highest, 0.02001);
  EXPECT_LT(fastest, 6.0e6 * 7.2921159e-5 / c);
  EXPECT_GT(fastest, 6.0e6 * 7.2921e-5 / c * (1 - 1e-6));
}

TEST(StationDelay, DerivativesPredictTheNextSeconds) {
  // Only the rotation moves within the series; the source direction of date
  // drifts by aberration and precession at ~3e-11 rad/s, i.e. < 2e-11 s of
  // delay within 30 s. The second pair of epochs crosses 0 h UTC, where the
  // GMST at 0 h and the time of day both restart.
  const station_position station = station_at(-2353621.22, -4641341.47, 3677052.32);
  const source_direction source = source_at(4.4, 0.2);
  for (int32_t start : {1300000000, 1300060800 - 15}) {
    const station_delay base = delay_at(station, source, start);
    for (int dt = 1; dt <= 30; ++dt) {
      double predicted = 0.0, factorial = 1.0;
      for (int k = 0; k < 5; ++k) {
        if (k > 0) factorial *= k;
        predicted += base.delay[k] * std::pow(static_cast<double>(dt), k) / factorial;
      }
      EXPECT_NEAR(delay_at(station, source, start + dt).delay[0], predicted, 3e-11)
          << "from " << start << " + " << dt;
    }
  }
}

TEST(StationDelay, RecordEpochAndZeroBytes) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    station_position station;
    source_direction source;
    int32_t t;
  } cases[] = {
      {station_at(1e6, -2e6, 3e6), source_at(0.5, 0.5), 0x12345678},
      {station_at(0, 0, 0), source_at(-7.0, 3.0), -1},
      {station_at(nan, 1.0, 1.0), source_at(nan, nan), INT32_MIN},
      {station_at(1e300, -1e300, 1e300), source_at(1e10, -1e10), INT32_MAX},
  };
  for (const auto& c : cases) {
    const station_delay d = delay_at(c.station, c.source, c.t);
    unsigned char bytes[sizeof(station_delay)];
    std::memcpy(bytes, &d, sizeof bytes);
    const uint32_t u = static_cast<uint32_t>(c.t);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(bytes[i], (u >> (8 * i)) & 0xff);
    for (int i = 4; i < 8; ++i) EXPECT_EQ(bytes[i], 0);
    EXPECT_EQ(d.epoch, c.t);
  }
  static_assert(offsetof(station_delay, delay) == 8);
}

TEST(DelayFrame, SharedFrameGivesTheBitsOfTheWholeChainPerStation) {
  // The whole chain evaluated afresh for each station, in the model's order:
  // nutation, precession, rotation, aberrated source, precession then
  // nutation on it, then E_k x dotted with it over -c. One frame shared by
  // every station must give the same bits.
  const station_position stations[] = {station_at(-2353621.22, -4641341.47, 3677052.32),
                                        station_at(4075539.52, 931735.45, 4801629.35),
                                        station_at(-3950236.74, 2522347.55, -4311562.54), station_at(0, 0, 0)};
  std::mt19937_64 random(5);
  std::uniform_real_distribution<double> ra(0.0, 2 * ERFA_DPI), sin_dec(-1.0, 1.0);
  std::uniform_int_distribution<int32_t> epoch(epoch_1980, epoch_2038);
  for (int i = 0; i < 40; ++i) {
    const int32_t t = epoch(random);
    const source_direction source = source_at(ra(random), std::asin(sin_dec(random)));
    const delay_frame frame = compute_delay_frame(source.ra, source.dec, t);
    EXPECT_EQ(frame.epoch, t);
    for (const station_position& station : stations) {
      const nutation_of_date n = nutation_matrix(t);
      const matrix3 p = precession_matrix(t);
      const earth_rotation e = earth_rotation_matrices(t, n.mean_obliquity, n.longitude);
      const vector3 s = matrix_vector_product(n.matrix, matrix_vector_product(p, apparent_source_vector(t, source.ra, source.dec)));
      station_delay whole{};
      whole.epoch = t;
      for (int k = 0; k < 5; ++k) {
        const vector3 b = matrix_vector_product(e.e[k], vector3{station.x, station.y, station.z});
        whole.delay[k] = static_cast<double>(static_cast<long double>(vector_dot(s, b)) / -c);
      }
      const station_delay shared = compute_station_delay(frame, station);
      EXPECT_EQ(std::memcmp(&whole, &shared, sizeof whole), 0) << "t=" << t;
    }
  }
}

TEST(StationDelay, RepeatedCallsGiveIdenticalRecords) {
  const station_position station = station_at(4075539.52, 931735.45, 4801629.35);
  const source_direction source = source_at(2.2, -0.3);
  const station_delay a = delay_at(station, source, 1500000000);
  delay_at(station, source, 1600000000);
  const station_delay b = delay_at(station, source, 1500000000);
  EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
}

}  // namespace
}  // namespace korva
