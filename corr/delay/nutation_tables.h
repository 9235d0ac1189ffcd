// Constant coefficient tables of the IAU 2000A nutation series (MHB2000),
// in the published row order. Amplitudes are integers in units of
// 0.1 microarcsecond (1e-4 mas); luni-solar rates are per Julian century.
#pragma once

#include <cstdint>

namespace korva {

inline constexpr int luni_solar_rows = 678;
inline constexpr int planetary_rows = 687;

// Columns of a luni-solar row.
enum luni_solar_column : int {
  ls_l, ls_l_prime, ls_f, ls_d, ls_omega,  // argument multipliers
  ls_a, ls_a_rate,                         // longitude sine amplitude and its rate
  ls_b, ls_b_rate,                         // obliquity cosine amplitude and its rate
  ls_a_cos,                                // longitude cosine amplitude
  ls_b_sin,                                // obliquity sine amplitude
  luni_solar_columns
};

// Columns of a planetary row: 14 argument multipliers, then the amplitudes.
inline constexpr int planetary_arguments_count = 14;
enum planetary_column : int {
  pl_lon_sin = planetary_arguments_count,
  pl_lon_cos,
  pl_obl_sin,
  pl_obl_cos,
  planetary_columns
};

extern const int32_t luni_solar_table[luni_solar_rows][luni_solar_columns];
extern const int32_t planetary_table[planetary_rows][planetary_columns];

}  // namespace korva
