// Earth orientation in the delay model against ERFA: the compiled leap-second
// table, the sidereal rotation at UT1, the polar-motion matrix and the delay
// built from ERFA's terrestrial-to-celestial transformation; interpolation of
// the tabulated values, across a leap second too.
#include <erfa.h>
#include <erfam.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "delay_model.h"
#include "earth_orientation.h"
#include "leap_seconds.h"
#include "station_delay.h"
#include "time_conversions.h"

namespace korva {
namespace {

constexpr double c = 299792458.0;
constexpr double arcsec = ERFA_DAS2R;

int32_t epoch_of_mjd(int mjd) { return static_cast<int32_t>((mjd - 40587) * 86400); }

// IERS finals2000A values at 0 h UTC (Bulletin A): MJD, UT1-UTC s, x_p, y_p ".
struct iers_day {
  int mjd;
  double ut1_minus_utc, x_p, y_p;
};
// Around the leap second at the start of 1999 (the largest UT1-UTC of the
// last decades right after it), around the one at the start of 2017, and in
// April 2024.
const std::vector<iers_day> days_1999 = {{51177, -0.2812099, 0.140683, 0.298896}, {51178, -0.2823341, 0.139760, 0.297462},
                                         {51179, 0.7166631, 0.138662, 0.295726},  {51180, 0.7157538, 0.137870, 0.293747},
                                         {51181, 0.7148929, 0.137506, 0.291866},  {51182, 0.7140423, 0.137217, 0.290294}};
const std::vector<iers_day> days_2017 = {{57750, -0.4052850, 0.086813, 0.264636}, {57751, -0.4060885, 0.084635, 0.264193},
                                         {57752, -0.4069180, 0.082883, 0.263539}, {57753, -0.4077601, 0.081400, 0.263094},
                                         {57754, 0.5912821, 0.080504, 0.263145},  {57755, 0.5901752, 0.080285, 0.263605},
                                         {57756, 0.5889406, 0.080265, 0.264004},  {57757, 0.5875626, 0.080001, 0.264281}};
const std::vector<iers_day> days_2024 = {{60407, -0.0149326, -0.009215, 0.353790}, {60408, -0.0158724, -0.009114, 0.356398},
                                         {60409, -0.0167880, -0.009186, 0.358715}, {60410, -0.0174832, -0.008732, 0.360725},
                                         {60411, -0.0178856, -0.007986, 0.362553}, {60412, -0.0179594, -0.007427, 0.364398}};

std::vector<eop_record> records_of(const std::vector<iers_day>& days) {
  std::vector<eop_record> records;
  for (const iers_day& d : days) records.push_back(eop_record{epoch_of_mjd(d.mjd), 0, d.ut1_minus_utc, d.x_p, d.y_p});
  return records;
}

// Daily records with the same values on every day, so that the interpolated
// values are those values (up to the rounding of the weights).
std::vector<eop_record> constant_records(int32_t around, double ut1_minus_utc, double x_p, double y_p) {
  const int32_t midnight = around - ((around % 86400) + 86400) % 86400;
  std::vector<eop_record> records;
  for (int d = -2; d <= 3; ++d) records.push_back(eop_record{midnight + d * 86400, 0, ut1_minus_utc, x_p, y_p});
  return records;
}

struct erfa_date {
  double d1, d2;
};
erfa_date erfa_date_of(int32_t t, double extra_seconds = 0.0) {
  const int64_t days = static_cast<int64_t>(std::floor(t / 86400.0));
  return erfa_date{2440587.5 + static_cast<double>(days),
                   (static_cast<double>(t - days * 86400) + extra_seconds) / 86400.0};
}

void erfa_total_nutation(erfa_date d, double* dpsi, double* deps) {
  double psi = 0.0, eps = 0.0, psi_rate = 0.0, eps_rate = 0.0, psi_bias = 0.0, eps_bias = 0.0, dra = 0.0;
  eraNut00a(d.d1, d.d2, &psi, &eps);
  eraPr00(d.d1, d.d2, &psi_rate, &eps_rate);
  eraBi00(&psi_bias, &eps_bias, &dra);
  *dpsi = psi + psi_rate + psi_bias;
  *deps = eps + eps_rate + eps_bias;
}

// Greenwich apparent sidereal time from ERFA: IAU 1982 GMST at UT1 plus the
// equation of the equinoxes at t.
double erfa_apparent_sidereal_time(int32_t t, double ut1_minus_utc) {
  const erfa_date d = erfa_date_of(t), ut1 = erfa_date_of(t, ut1_minus_utc);
  double dpsi = 0.0, deps = 0.0;
  erfa_total_nutation(d, &dpsi, &deps);
  return eraGmst82(ut1.d1, ut1.d2) + dpsi * std::cos(eraObl80(d.d1, d.d2));
}

// The delay built with ERFA's equinox-based terrestrial-to-celestial matrix
// (eraC2teqx: polar motion eraPom00 with s' = 0, sidereal rotation, nutation
// and IAU 1976 precession) and the model's aberrated source direction.
double erfa_delay(int32_t t, const station_position& station, double ra, double dec, double ut1_minus_utc,
                  double x_p, double y_p) {
  const erfa_date d = erfa_date_of(t);
  double p[3][3], n[3][3], npb[3][3], rpom[3][3], rc2t[3][3], dpsi = 0.0, deps = 0.0;
  eraPmat76(d.d1, d.d2, p);
  erfa_total_nutation(d, &dpsi, &deps);
  eraNumat(eraObl80(d.d1, d.d2), dpsi, deps, n);
  eraRxr(n, p, npb);
  eraPom00(x_p, y_p, 0.0, rpom);
  eraC2teqx(npb, erfa_apparent_sidereal_time(t, ut1_minus_utc), rpom, rc2t);
  double x[3] = {station.x, station.y, station.z}, b[3];
  eraTrxp(rc2t, x, b);  // terrestrial to celestial
  const vector3 s = apparent_source_vector(t, ra, dec);
  double s_j2000[3] = {s.x, s.y, s.z};
  return -eraPdp(s_j2000, b) / c;
}

station_delay delay_with(const earth_orientation_series* eop, const station_position& station, double ra,
                         double dec, int32_t t) {
  return compute_station_delay(compute_delay_frame(ra, dec, t, eop), station);
}

TEST(LeapSeconds, CompiledTableMatchesErfaEveryDaySince1972) {
  for (int mjd = 41317; mjd <= 61405; ++mjd) {  // 1972-01-01 .. 2026-12-31
    int year = 0, month = 0, day = 0;
    double fraction = 0.0, tai_utc = 0.0;
    ASSERT_GE(eraJd2cal(2400000.5, mjd, &year, &month, &day, &fraction), 0);
    ASSERT_GE(eraDat(year, month, day, 0.0, &tai_utc), 0);
    ASSERT_EQ(tai_minus_utc(epoch_of_mjd(mjd)), tai_utc) << year << "-" << month << "-" << day;
    ASSERT_EQ(tai_minus_utc(epoch_of_mjd(mjd) + 86399), tai_utc) << year << "-" << month << "-" << day;
  }
}

TEST(EopInterpolation, FourPointLagrangeIsExactForCubics) {
  const int32_t x[4] = {1000000000, 1000086400, 1000172800, 1000260000};  // unequal steps
  auto cubic = [](long double t) {
    const long double u = (t - 1000000000.0L) / 86400.0L;
    return -36.5L + 1e-3L * u - 4e-5L * u * u + 3e-6L * u * u * u;
  };
  const long double y[4] = {cubic(x[0]), cubic(x[1]), cubic(x[2]), cubic(x[3])};
  for (int32_t t = x[0]; t <= x[3]; t += 7777) EXPECT_NEAR(static_cast<double>(lagrange_4(x, y, t)), static_cast<double>(cubic(t)), 1e-13);
}

TEST(EopInterpolation, SpanHasAPointOnEitherSide) {
  const std::vector<eop_record> records = records_of(days_2017);
  const earth_orientation_series eop(records.data(), static_cast<int>(records.size()));
  ASSERT_TRUE(eop.has_span());
  EXPECT_EQ(eop.span().first, records[1].epoch);
  EXPECT_EQ(eop.span().last, records[records.size() - 2].epoch);
  EXPECT_TRUE(eop.covers(records[1].epoch));
  EXPECT_FALSE(eop.covers(records[1].epoch - 1));
  EXPECT_TRUE(eop.covers(records[records.size() - 2].epoch));
  EXPECT_FALSE(eop.covers(records[records.size() - 2].epoch + 1));
  const earth_orientation_series three(records.data(), 3);
  EXPECT_FALSE(three.has_span());
  EXPECT_FALSE(three.covers(records[1].epoch));
  // The table form stops at its first empty record.
  std::vector<eop_record> table(max_eop_records, eop_record{});
  std::copy(records.begin(), records.begin() + 5, table.begin());
  EXPECT_EQ(earth_orientation_series(table.data()).span().last, records[3].epoch);
}

TEST(EopInterpolation, AcrossALeapSecondUt1IsSmoothAndUt1MinusUtcJumpsBy1s) {
  // 2016-12-31 23:59:60 was inserted: UT1-UTC steps up by 1 s between the
  // last second of 2016 and the first of 2017, while UT1 itself runs on.
  const std::vector<eop_record> records = records_of(days_2017);
  const earth_orientation_series eop(records.data(), static_cast<int>(records.size()));
  const int32_t new_year = epoch_of_mjd(57754);
  const double before = eop.at(new_year - 1).ut1_minus_utc, after = eop.at(new_year).ut1_minus_utc;
  EXPECT_NEAR(after - before, 1.0, 1e-6);  // UT1-UTC drifts ~1.2 ms/day, 1.4e-8 s per second
  for (const eop_record& r : records) {
    if (!eop.covers(r.epoch)) continue;
    EXPECT_NEAR(eop.at(r.epoch).ut1_minus_utc, r.ut1_minus_utc, 1e-12);
    EXPECT_NEAR(eop.at(r.epoch).x_p, r.x_p * arcsec, 1e-18);
    EXPECT_NEAR(eop.at(r.epoch).y_p, r.y_p * arcsec, 1e-18);
  }
  // Hourly UT1-TAI: piecewise cubics bend at the nodes by about a sixth of
  // the data's third difference per day (up to 1e-4 s in these days, so
  // 7e-7 s over an hour), hence 2e-6 s. The same interpolation of UT1-UTC
  // instead puts the 1 s step into the days around the leap second.
  double worst = 0.0, worst_naive = 0.0;
  std::vector<long double> naive_values;
  for (const eop_record& r : records) naive_values.push_back(r.ut1_minus_utc);
  auto ut1_minus_tai = [&](int32_t t) { return eop.at(t).ut1_minus_utc - tai_minus_utc(t); };
  auto naive = [&](int32_t t) {
    int i = 1;
    while (i + 1 < static_cast<int>(records.size()) - 2 && records[i + 1].epoch <= t) ++i;
    int32_t x[4];
    for (int j = 0; j < 4; ++j) x[j] = records[i - 1 + j].epoch;
    return static_cast<double>(lagrange_4(x, &naive_values[i - 1], t)) - tai_minus_utc(t);
  };
  for (int32_t t = eop.span().first + 3600; t + 3600 <= eop.span().last; t += 3600) {
    worst = std::max(worst, std::fabs(ut1_minus_tai(t + 3600) - 2 * ut1_minus_tai(t) + ut1_minus_tai(t - 3600)));
    worst_naive = std::max(worst_naive, std::fabs(naive(t + 3600) - 2 * naive(t) + naive(t - 3600)));
  }
  std::cout << "hourly second difference of UT1-TAI across 2017-01-01: " << worst << " s (interpolating UT1-UTC: "
            << worst_naive << " s)\n";
  EXPECT_LT(worst, 2e-6);
  EXPECT_GT(worst_naive, 0.1);
}

TEST(EarthRotationWithUt1, AngleMatchesErfaGmst82AtUt1PlusEquationOfEquinoxes) {
  // Same tolerance as without UT1-UTC: ERFA evaluates the GMST polynomial at
  // the UT1 instant, this model at the preceding 0 h UTC plus r times the UT1
  // time of day (forms differ by < 1e-14 rad, also when UT1 and UTC lie on
  // either side of midnight); 1e-12 rad leaves room for the roundings.
  std::mt19937_64 random(3);
  std::uniform_int_distribution<int32_t> epoch(315532800, 2145916800);
  double worst = 0.0;
  for (int i = 0; i < 300; ++i) {
    const double dut1 = (i % 6 - 2.5) * 0.36;  // -0.9 .. +0.9 s
    const int32_t t = i % 10 == 0 ? epoch(random) / 86400 * 86400 + (dut1 > 0 ? 86399 : 0) : epoch(random);
    const nutation_of_date n = nutation_matrix(t);
    const earth_rotation e = earth_rotation_matrices(t, n.mean_obliquity, n.longitude, dut1);
    const double ours = std::atan2(e.e[0](0, 1), e.e[0](0, 0));
    worst = std::max(worst, std::fabs(std::remainder(ours + erfa_apparent_sidereal_time(t, dut1), ERFA_D2PI)));
    // The derivatives are those of the rotation: E1 = w·dR3/da at the same angle.
    EXPECT_NEAR(e.e[1](0, 0), 7.2921158e-5 * std::sin(ours), 1e-11);
  }
  std::cout << "rotation angle at UT1 vs -(eraGmst82(UT1) + equation of equinoxes): " << worst << " rad\n";
  EXPECT_LT(worst, 1e-12);
  // Zero UT1-UTC is the model without Earth orientation, bit for bit.
  const nutation_of_date n = nutation_matrix(1500000000);
  const earth_rotation a = earth_rotation_matrices(1500000000, n.mean_obliquity, n.longitude);
  const earth_rotation b = earth_rotation_matrices(1500000000, n.mean_obliquity, n.longitude, 0.0);
  EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
}

TEST(PolarMotion, MatrixIsTheTransposeOfErfaPom00) {
  // eraPom00 turns intermediate into terrestrial coordinates; W goes the other
  // way. Same elementary rotations: differences are roundings of elements <= 1.
  double worst = 0.0;
  for (double x_p : {-0.3, 0.0, 0.0812, 0.25}) {
    for (double y_p : {-0.1, 0.0, 0.2631, 0.6}) {
      double rpom[3][3];
      eraPom00(x_p * arcsec, y_p * arcsec, 0.0, rpom);
      const matrix3 w = polar_motion_matrix(x_p * arcsec, y_p * arcsec);
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) worst = std::max(worst, std::fabs(w(i, j) - rpom[j][i]));
    }
  }
  EXPECT_LT(worst, 1e-16);
}

TEST(StationDelayWithEop, MatchesDelayFromErfaTerrestrialToCelestialMatrix) {
  // Same Earth orientation given to both (constant daily values, so the
  // interpolation returns them), same aberrated direction. The rotation angle
  // agrees to 1e-12 rad, so delay[0] to 1e-12 · 6.4e6 m / c = 2e-14 s; 5e-14 s
  // leaves room for the rounding of the products.
  const station_position stations[3] = {{-2353621.22, -4641341.47, 3677052.32},
                                        {4075539.52, 931735.45, 4801629.35},
                                        {-3950236.74, 2522347.55, -4311562.54}};
  std::mt19937_64 random(11);
  std::uniform_real_distribution<double> ra(0.0, 2 * ERFA_DPI), sin_dec(-1.0, 1.0), dut1(-0.9, 0.9), pole(-0.6, 0.6);
  std::uniform_int_distribution<int32_t> epoch(eop_first_epoch + 3 * 86400, 2145916800 - 3 * 86400);
  double worst = 0.0;
  for (int i = 0; i < 150; ++i) {
    const int32_t t = epoch(random);
    const double alpha = ra(random), delta = std::asin(sin_dec(random));
    const double u = dut1(random), x_p = pole(random), y_p = pole(random);
    const std::vector<eop_record> records = constant_records(t, u, x_p, y_p);
    const earth_orientation_series eop(records.data(), static_cast<int>(records.size()));
    ASSERT_TRUE(eop.covers(t));
    const station_position& station = stations[i % 3];
    const station_delay ours = delay_with(&eop, station, alpha, delta, t);
    worst = std::max(worst, std::fabs(ours.delay[0] - erfa_delay(t, station, alpha, delta, u, x_p * arcsec, y_p * arcsec)));
  }
  std::cout << "delay[0] with UT1-UTC and polar motion vs ERFA eraC2teqx delay: " << worst << " s\n";
  EXPECT_LT(worst, 5e-14);
}

TEST(StationDelayWithEop, WithoutSeriesTheFrameIsTheModelWithoutEarthOrientation) {
  const station_position station{4075539.52, 931735.45, 4801629.35};
  for (int32_t t : {946728000, 1483228800, 1712600000}) {
    const station_delay a = compute_station_delay(compute_delay_frame(1.1, 0.3, t), station);
    const station_delay b = delay_with(nullptr, station, 1.1, 0.3, t);
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
  }
}

// Largest change over one day, sampled every 5 minutes, that the real IERS
// values make to the delay of an intercontinental baseline, and the largest
// difference from the ERFA-built delay with the same interpolated values.
TEST(StationDelayWithEop, RealDaysOnALongBaseline) {
  const station_position first{-2353621.22, -4641341.47, 3677052.32}, second{4075539.52, 931735.45, 4801629.35};
  const double ra = 3.276, dec = 0.0366;  // a source near the equator
  struct day_case {
    const char* name;
    const std::vector<iers_day>* days;
    int mjd;
  };
  for (const day_case& d : {day_case{"1999-01-02", &days_1999, 51180}, day_case{"2016-12-31", &days_2017, 57753},
                            day_case{"2024-04-09", &days_2024, 60409}}) {
    const std::vector<eop_record> records = records_of(*d.days);
    const earth_orientation_series eop(records.data(), static_cast<int>(records.size()));
    double largest = 0.0, worst_erfa = 0.0;
    for (int32_t t = epoch_of_mjd(d.mjd); t < epoch_of_mjd(d.mjd + 1); t += 300) {
      ASSERT_TRUE(eop.covers(t));
      const double with = delay_with(&eop, first, ra, dec, t).delay[0] - delay_with(&eop, second, ra, dec, t).delay[0];
      const double without =
          delay_with(nullptr, first, ra, dec, t).delay[0] - delay_with(nullptr, second, ra, dec, t).delay[0];
      largest = std::max(largest, std::fabs(with - without));
      const earth_orientation e = eop.at(t);
      for (const station_position* s : {&first, &second}) {
        worst_erfa = std::max(worst_erfa, std::fabs(delay_with(&eop, *s, ra, dec, t).delay[0] -
                                                    erfa_delay(t, *s, ra, dec, e.ut1_minus_utc, e.x_p, e.y_p)));
      }
    }
    std::cout << d.name << ": largest baseline delay change from Earth orientation " << largest * 1e6
              << " us, largest difference from the ERFA-built delay " << worst_erfa << " s\n";
    ::testing::Test::RecordProperty(std::string("eop_delay_change_us_") + d.name, std::to_string(largest * 1e6));
    // Bounded by the baseline's equatorial length times the rotation angle
    // UT1-UTC·w, plus the pole's 0.6" times the baseline.
    const double baseline = std::hypot(first.x - second.x, first.y - second.y, first.z - second.z);
    const double dut1 = std::fabs((*d.days)[2].ut1_minus_utc);
    EXPECT_LT(largest, baseline * (dut1 * 7.3e-5 + 0.6 * arcsec) / c);
    EXPECT_LT(worst_erfa, 5e-14);
  }
}

}  // namespace
}  // namespace korva
