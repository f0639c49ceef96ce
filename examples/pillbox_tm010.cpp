// Writes the bundled example field map: the TM010 mode of a pillbox cavity, computed
// analytically on a Z-R grid and laid out as the SF7 post-processor lays out its tables,
// with the code page 437 column names that the converter renames.
//
//   Ez = E0 J0(k r),  H_phi = (E0 / Z0) J1(k r),  k = j01 / Rc
//
// Usage: pillbox_tm010 > pillbox-tm010.sf7
#include "platform/platform.h"

#include <cmath>
#include <cstdio>
#include <numbers>

using namespace norvalex;

int main() {
  constexpr double cavity_radius_cm = 5.0;
  constexpr double cavity_length_cm = 10.0;
  constexpr int z_increments = 10;
  constexpr int r_increments = 5;
  constexpr double e0_mv_per_m = 10.0;
  constexpr double first_zero_of_j0 = 2.404825557695773;
  constexpr double free_space_impedance_ohm = 376.730313668;
  constexpr double speed_of_light_m_per_s = 299792458.0;

  const double k_per_cm = first_zero_of_j0 / cavity_radius_cm;
  const double frequency_mhz = first_zero_of_j0 * speed_of_light_m_per_s /
                               (2 * std::numbers::pi * cavity_radius_cm * 1e-2) * 1e-6;

  // The same bytes on Windows: line feeds without carriage returns.
  platform_set_binary(stdout);
  std::printf("Pillbox cavity, TM010 mode, computed analytically for the norvalex example\n");
  std::printf("Program SF7 table layout\n\n");
  std::printf("Electromagnetic fields for a rectangular area with corners at:\n");
  std::printf("(Zmin,Rmin) = (0.0,0.0)\n");
  std::printf("(Zmax,Rmax) = (%g,%g)\n", cavity_length_cm, cavity_radius_cm);
  std::printf("Z and R increments:    %d    %d\n", z_increments, r_increments);
  std::printf("Frequency = %.4f MHz, E0 = %g MV/m\n\n", frequency_mhz, e0_mv_per_m);
  // 0xB3 is a box-drawing vertical line and 0xED the letter phi in code page 437.
  std::printf("      Z             R              Ez            Er           \xB3"
              "E\xB3           H\xED \n");
  std::printf(
      "    (cm)          (cm)           (MV/m)        (MV/m)        (MV/m)        (A/m) \n");
  // As in the solver's own tables, the first named coordinate (Z) varies fastest.
  for (int j = 0; j <= r_increments; ++j) {
    const double r = cavity_radius_cm * j / r_increments;
    for (int i = 0; i <= z_increments; ++i) {
      const double z = cavity_length_cm * i / z_increments;
      const double ez = e0_mv_per_m * std::cyl_bessel_j(0.0, k_per_cm * r);
      const double h =
          e0_mv_per_m * 1e6 / free_space_impedance_ohm * std::cyl_bessel_j(1.0, k_per_cm * r);
      std::printf("%10.4f    %10.5f    %14.6E%14.6E%14.6E%14.6E\n", z, r, ez, 0.0, std::fabs(ez),
                  h);
    }
  }
  return 0;
}
