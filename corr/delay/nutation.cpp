#include "nutation.h"

#include <cmath>

#include "math_constants.h"
#include "nutation_tables.h"

namespace korva {

namespace {

constexpr double arcseconds_per_turn = 1296000.0;
constexpr double arcseconds_per_radian = 206264.80624709636;
constexpr double mas_per_table_unit = 0.0001;  // tables are in 0.1 microarcsecond

// Polynomial coefficients (constant, T, T^2, T^3, T^4) of the Delaunay
// arguments, arcseconds.
constexpr double delaunay_polynomials[5][5] = {
    {485868.249036, 1717915923.2178, 31.8792, 0.051635, -0.00024470},     // l
    {1287104.79305, 129596581.0481, -0.5532, 0.000136, -0.00001149},      // l'
    {335779.526232, 1739527262.8478, -12.7512, -0.001037, 0.00000417},    // F
    {1072260.70369, 1602961601.209, -6.3706, 0.006593, -0.00003169},      // D
    {450160.398036, -6962890.5431, 7.4722, 0.007702, -0.00005939},        // Om
};

// Constant and rate per Julian century of the planetary-series arguments,
// radians; pA has in addition the T^2 term below.
constexpr double planetary_linear[14][2] = {
    {2.35555598, 8328.6914269554},   // l
    {6.24006013, 628.301955},        // l'
    {1.627905234, 8433.466158131},   // F
    {5.198466741, 7771.3771468121},  // D
    {2.1824392, -33.757045},         // Om
    {4.402608842, 2608.7903141574},  // Me
    {3.176146697, 1021.3285546211},  // Ve
    {1.753470314, 628.3075849991},   // E
    {6.203480913, 334.06124267},     // Ma
    {0.599546497, 52.9690962641},    // Ju
    {0.874016757, 21.329910496},     // Sa
    {5.481293871, 7.4781598567},     // Ur
    {5.321159, 3.8127774},           // Ne
    {0.0, 0.02438175},               // pA
};
constexpr double precession_in_longitude_t2 = 0.00000538691;

// IAU 2000 corrections to the precession rates, arcseconds per Julian century.
constexpr double precession_rate_longitude = -0.29965;
constexpr double precession_rate_obliquity = -0.02524;

}  // namespace

double centuries_of_julian_date(double jd) {
  return static_cast<double>((static_cast<long double>(jd) - 2451545.0L) / 36525.0L);
}

luni_solar_argument_set luni_solar_arguments(double jd) {
  const long double t = centuries_of_julian_date(jd);
  luni_solar_argument_set arguments{};
  for (int i = 0; i < 5; ++i) {
    const double* c = delaunay_polynomials[i];
    const double arcseconds = static_cast<double>(c[4] * t * t * t * t + c[3] * t * t * t + c[2] * t * t + c[1] * t + c[0]);
    const double reduced = std::fmod(arcseconds, arcseconds_per_turn);
    arguments[i] = static_cast<double>(static_cast<long double>(reduced) / arcseconds_per_radian);
  }
  return arguments;
}

nutation_angles luni_solar_nutation(double jd) {
  const long double t = centuries_of_julian_date(jd);
  const luni_solar_argument_set arguments = luni_solar_arguments(jd);
  double longitude = 0.0;
  double obliquity = 0.0;
  for (int row = luni_solar_rows - 1; row >= 0; --row) {
    const int32_t* c = luni_solar_table[row];
    long double sum = 0.0L;
    for (int i = 0; i < 5; ++i) {
      if (c[i] != 0) sum += static_cast<long double>(c[i]) * arguments[i];  // a zero term adds exactly 0
    }
    const double a = std::fmod(static_cast<double>(sum), two_pi);
    const double sin_a = std::sin(a);
    const double cos_a = std::cos(a);
    longitude = static_cast<double>(longitude + (c[ls_a] + c[ls_a_rate] * t) * sin_a +
                                    static_cast<long double>(c[ls_a_cos]) * cos_a);
    obliquity = static_cast<double>(obliquity + (c[ls_b] + c[ls_b_rate] * t) * cos_a +
                                    static_cast<long double>(c[ls_b_sin]) * sin_a);
  }
  return nutation_angles{static_cast<double>(static_cast<long double>(longitude) * mas_per_table_unit),
                         static_cast<double>(static_cast<long double>(obliquity) * mas_per_table_unit)};
}

planetary_argument_set planetary_arguments(double jd) {
  const long double t = centuries_of_julian_date(jd);
  planetary_argument_set arguments{};
  for (int i = 0; i < planetary_arguments_count; ++i) {
    arguments[i] = static_cast<double>(planetary_linear[i][0] + planetary_linear[i][1] * t);
  }
  arguments[13] = static_cast<double>(planetary_linear[13][1] * t + precession_in_longitude_t2 * t * t);
  return arguments;
}

nutation_angles planetary_series_sum(const planetary_argument_set& arguments) {
  double longitude = 0.0;
  double obliquity = 0.0;
  for (int row = planetary_rows - 1; row >= 0; --row) {
    const int32_t* c = planetary_table[row];
    long double sum = 0.0L;
    for (int i = 0; i < planetary_arguments_count; ++i) {
      if (c[i] != 0) sum += static_cast<long double>(c[i]) * arguments[i];  // a zero term adds exactly 0
    }
    const double a = std::fmod(static_cast<double>(sum), two_pi);
    const long double sin_a = std::sin(a);
    const long double cos_a = std::cos(a);
    longitude = static_cast<double>(longitude + (c[pl_lon_sin] * sin_a + c[pl_lon_cos] * cos_a) * mas_per_table_unit);
    obliquity = static_cast<double>(obliquity + (c[pl_obl_sin] * sin_a + c[pl_obl_cos] * cos_a) * mas_per_table_unit);
  }
  return nutation_angles{longitude, obliquity};
}

nutation_angles planetary_nutation(double jd) {
  return planetary_series_sum(planetary_arguments(jd));
}

nutation_angles precession_rate_correction(double jd) {
  const long double t = centuries_of_julian_date(jd);
  return nutation_angles{static_cast<double>(precession_rate_longitude * t * 1000.0L),
                         static_cast<double>(precession_rate_obliquity * t * 1000.0L)};
}

nutation_components nutation_total(double jd) {
  nutation_components n{};
  n.luni_solar = luni_solar_nutation(jd);
  n.planetary = planetary_nutation(jd);
  n.precession_rate = precession_rate_correction(jd);
  n.total.longitude = static_cast<double>(static_cast<long double>(n.luni_solar.longitude) + n.planetary.longitude +
                                          n.precession_rate.longitude + frame_bias_longitude_mas);
  n.total.obliquity = static_cast<double>(static_cast<long double>(n.luni_solar.obliquity) + n.planetary.obliquity +
                                          n.precession_rate.obliquity + frame_bias_obliquity_mas);
  return n;
}

}  // namespace korva
