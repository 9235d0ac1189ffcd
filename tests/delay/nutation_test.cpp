// IAU 2000A nutation series against ERFA, the independent implementation of
// the same IAU models, and against the published coefficient rows.
#include <erfa.h>
#include <erfam.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "nutation.h"
#include "nutation_tables.h"

namespace korva {
namespace {

constexpr double mas_per_radian = 180.0 / ERFA_DPI * 3600.0 * 1000.0;
constexpr double jd_1980 = 2444239.5;  // 1980-01-01 0 h
constexpr double jd_2050 = 2469807.5;  // 2050-01-01 0 h

// Julian dates spread over 1980-2050: a regular grid plus random dates.
std::vector<double> test_dates() {
  std::vector<double> dates;
  for (double jd = jd_1980; jd <= jd_2050; jd += 37.25) dates.push_back(jd);
  std::mt19937_64 random(20000101);
  std::uniform_real_distribution<double> uniform(jd_1980, jd_2050);
  for (int i = 0; i < 300; ++i) dates.push_back(uniform(random));
  dates.push_back(2451545.0);
  return dates;
}

void report(const std::string& name, double value) {
  ::testing::Test::RecordProperty(name, std::to_string(value));
  std::cout << "largest difference, " << name << ": " << value << "\n";
}

TEST(NutationTables, PublishedRowsAreInPlace) {
  const int32_t first[11] = {0, 0, 0, 0, 1, -172064161, -174666, 92052331, 9086, 33386, 15377};
  const int32_t second[11] = {0, 0, 2, -2, 2, -13170906, -1675, 5730336, -3015, -13696, -4587};
  const int32_t last[11] = {2, 0, 2, 4, 1, -3, 0, 2, 0, 0, 0};
  EXPECT_TRUE(std::equal(first, first + 11, luni_solar_table[0]));
  EXPECT_TRUE(std::equal(second, second + 11, luni_solar_table[1]));
  EXPECT_TRUE(std::equal(last, last + 11, luni_solar_table[luni_solar_rows - 1]));
  const int32_t planetary_first[18] = {0, 0, 0, 0, 0, 0, 0, 8, -16, 4, 5, 0, 0, 0, 1440, 0, 0, 0};
  const int32_t planetary_last[18] = {0, 0, 2, 2, 2, 0, 0, 2, 0, -2, 0, 0, 0, 0, 3, 0, 0, -1};
  EXPECT_TRUE(std::equal(planetary_first, planetary_first + 18, planetary_table[0]));
  EXPECT_TRUE(std::equal(planetary_last, planetary_last + 18, planetary_table[planetary_rows - 1]));
}

TEST(NutationSeries, LuniSolarPlusPlanetaryMatchesErfa) {
  double worst_longitude = 0.0, worst_obliquity = 0.0;
  for (double jd : test_dates()) {
    double dpsi = 0.0, deps = 0.0;
    eraNut00a(jd, 0.0, &dpsi, &deps);
    const nutation_angles ls = luni_solar_nutation(jd);
    const nutation_angles pl = planetary_nutation(jd);
    worst_longitude = std::max(worst_longitude, std::fabs(ls.longitude + pl.longitude - dpsi * mas_per_radian));
    worst_obliquity = std::max(worst_obliquity, std::fabs(ls.obliquity + pl.obliquity - deps * mas_per_radian));
  }
  report("nutation in longitude, series vs eraNut00a (mas)", worst_longitude);
  report("nutation in obliquity, series vs eraNut00a (mas)", worst_obliquity);
  EXPECT_LT(worst_longitude, 1e-8);
  EXPECT_LT(worst_obliquity, 1e-8);
}

TEST(NutationSeries, TotalIsSumOfPartsAndBias) {
  for (double jd : {jd_1980, 2451545.0, 2460000.25, jd_2050}) {
    const nutation_components n = nutation_total(jd);
    EXPECT_EQ(n.luni_solar.longitude, luni_solar_nutation(jd).longitude);
    EXPECT_EQ(n.planetary.obliquity, planetary_nutation(jd).obliquity);
    // The total is rounded once to a double of about 2e4 mas (ulp ~4e-12 mas).
    EXPECT_NEAR(n.total.longitude - (n.luni_solar.longitude + n.planetary.longitude + n.precession_rate.longitude),
                -41.775, 1e-11);
    EXPECT_NEAR(n.total.obliquity - (n.luni_solar.obliquity + n.planetary.obliquity + n.precession_rate.obliquity),
                -6.8192, 1e-11);
  }
  const nutation_components j2000 = nutation_total(2451545.0);
  EXPECT_EQ(j2000.precession_rate.longitude, 0.0);
  EXPECT_EQ(j2000.precession_rate.obliquity, 0.0);
}

TEST(NutationSeries, FrameBiasOffsetsMatchErfa) {
  double dpsibi = 0.0, depsbi = 0.0, dra = 0.0;
  eraBi00(&dpsibi, &depsbi, &dra);
  EXPECT_NEAR(frame_bias_longitude_mas, dpsibi * mas_per_radian, 1e-12);
  EXPECT_NEAR(frame_bias_obliquity_mas, depsbi * mas_per_radian, 1e-12);
  report("frame-bias longitude vs eraBi00 (mas)", std::fabs(frame_bias_longitude_mas - dpsibi * mas_per_radian));
  report("frame-bias obliquity vs eraBi00 (mas)", std::fabs(frame_bias_obliquity_mas - depsbi * mas_per_radian));
}

TEST(NutationSeries, PrecessionRateCorrectionMatchesErfa) {
  double worst = 0.0;
  for (double jd : test_dates()) {
    double dpsipr = 0.0, depspr = 0.0;
    eraPr00(jd, 0.0, &dpsipr, &depspr);
    const nutation_angles p = precession_rate_correction(jd);
    worst = std::max({worst, std::fabs(p.longitude - dpsipr * mas_per_radian),
                      std::fabs(p.obliquity - depspr * mas_per_radian)});
  }
  report("precession-rate corrections vs eraPr00 (mas)", worst);
  EXPECT_LT(worst, 1e-10);  // values below 150 mas, rounding only
}

TEST(NutationArguments, DelaunayArgumentsMatchErfa) {
  // Same polynomials, except that the nutation model rounds the constants of
  // l' and D to 1e-5" (1287104.79305", 1072260.70369") where ERFA's general
  // arguments keep 1287104.793048" and 1072260.703692": 2e-6" = 9.7e-12 rad.
  // Otherwise rounding of values up to 9e8" (ulp 1.2e-7" = 6e-13 rad).
  double worst = 0.0;
  for (double jd : test_dates()) {
    const double t = (jd - ERFA_DJ00) / ERFA_DJC;
    const double reference[5] = {eraFal03(t), eraFalp03(t), eraFaf03(t), eraFad03(t), eraFaom03(t)};
    const luni_solar_argument_set arguments = luni_solar_arguments(jd);
    for (int i = 0; i < 5; ++i) {
      const double difference = std::remainder(arguments[i] - reference[i], ERFA_D2PI);
      const bool rounded_constant = i == 1 || i == 3;
      if (!rounded_constant) worst = std::max(worst, std::fabs(difference));
      EXPECT_LT(std::fabs(difference), rounded_constant ? 1.1e-11 : 2e-12) << "argument " << i << " at " << jd;
      EXPECT_LT(std::fabs(arguments[i]), ERFA_D2PI);
    }
  }
  report("Delaunay arguments l, F, Om vs eraFal03..eraFaom03 (rad)", worst);
}

TEST(NutationArguments, PlanetaryLongitudesMatchErfa) {
  // Mercury to Uranus and the general precession share their IERS 2003
  // expressions with ERFA, except that the Uranus constant of the nutation
  // model is 5.481293871 rad against 5.481293872: 1e-9 rad apart.
  double worst = 0.0;
  for (double jd : test_dates()) {
    const double t = (jd - ERFA_DJ00) / ERFA_DJC;
    const planetary_argument_set a = planetary_arguments(jd);
    const double reference[8] = {eraFame03(t), eraFave03(t), eraFae03(t),  eraFama03(t),
                                 eraFaju03(t), eraFasa03(t), eraFaur03(t), eraFapa03(t)};
    const int index[8] = {5, 6, 7, 8, 9, 10, 11, 13};
    for (int i = 0; i < 8; ++i) {
      const double difference = std::fabs(std::remainder(a[index[i]] - reference[i], ERFA_D2PI));
      EXPECT_LT(difference, i == 6 ? 1.1e-9 : 2e-12) << "argument " << index[i] << " at " << jd;
      if (i != 6) worst = std::max(worst, difference);
    }
  }
  report("planetary arguments Me..Sa, pA vs eraFa*03 (rad)", worst);
}

TEST(NutationSeries, ValuesAtJ2000AreTheKnownNutation) {
  // At J2000.0 the IAU 2000A nutation is dpsi = -13.93", deps = -5.77".
  const nutation_components n = nutation_total(2451545.0);
  EXPECT_NEAR(n.luni_solar.longitude + n.planetary.longitude, -13932.0, 5.0);
  EXPECT_NEAR(n.luni_solar.obliquity + n.planetary.obliquity, -5769.0, 5.0);
  EXPECT_LT(std::fabs(n.planetary.longitude), 2.0);  // planetary terms stay below a few mas
}

}  // namespace
}  // namespace korva
