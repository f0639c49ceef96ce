// Writes a synthetic field map for the benchmarks: a square area of (increments+1)^2 points in
// the post-processor's own number layout, as an SF7 table (coordinates as G14.6, fields as
// %14.6E) or, for a name ending in .t7, as an RF T7 grid file (four fields a point, %14.6E).
//
//   make_field_map <output.sf7|output.t7> [increments]   (increments defaults to 1000: 1001 x 1001)
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

// A coordinate as the post-processor prints it (a Fortran G14.6 edit): six significant digits
// in fixed notation in 10 characters and 4 blanks from 0.1 upward (zero as "0.00000"), exponent
// notation in 14 characters below.
void put_coordinate(std::FILE* out, double x) {
  const double magnitude = std::fabs(x);
  if (x == 0) {
    std::fputs("   0.00000    ", out);
  } else if (magnitude < 0.1) {
    std::fprintf(out, "%14.6E", x);
  } else {
    const int integer_digits = magnitude < 1 ? 0 : static_cast<int>(std::log10(magnitude)) + 1;
    const int decimals = integer_digits == 0 ? 6 : 6 - integer_digits;
    std::fprintf(out, "%10.*f    ", decimals < 0 ? 0 : decimals, x);
  }
}

const char* const header = "Los Alamos National Laboratory Poisson Superfish\n"
                           "Program SF7 written by the benchmark generator of norvalex\n"
                           "\n"
                           "Program SF7  7.17  released 1-13-2006 \n"
                           "\n"
                           "Solution file BENCH.T35.\n"
                           "Obtaining filename or plot type and data from SF7 pop-up menu.\n"
                           "\n"
                           "Electric fields for a rectangular area with corners at:\n"
                           "(Rmin,Zmin) = (0.0,0.0)\n"
                           "(Rmax,Zmax) = (50,50)\n";

void write_sf7(std::FILE* out, int increments);
void write_t7(std::FILE* out, int increments);

} // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fputs("usage: make_field_map output.sf7|output.t7 [increments]\n", stderr);
    return 2;
  }
  const int increments = argc == 3 ? std::atoi(argv[2]) : 1000;
  if (increments < 1) {
    std::fputs("make_field_map: increments must be at least 1\n", stderr);
    return 2;
  }
  std::FILE* out = std::fopen(argv[1], "wb");
  if (!out) {
    std::perror(argv[1]);
    return 1;
  }
  const std::string_view name = argv[1];
  if (name.size() > 3 && name.substr(name.size() - 3) == ".t7") {
    write_t7(out, increments);
  } else {
    write_sf7(out, increments);
  }
  if (std::fclose(out) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}

namespace {

void write_sf7(std::FILE* out, int increments) {
  std::fputs(header, out);
  std::fprintf(out, "R and Z increments:  %4d  %4d\n\n", increments, increments);
  std::fputs("      R             Z              Er            Ez            |E|           V \n",
             out);
  std::fputs("    (cm)          (cm)           (V/cm)        (V/cm)        (V/cm)         (V)  \n",
             out);
  const double step = 50.0 / increments;
  for (int i = 0; i <= increments; ++i) {
    const double z = i * step;
    for (int j = 0; j <= increments; ++j) {
      const double r = j * step;
      // A smooth potential with fields of both signs and a wide range of magnitudes.
      const double v = 1e3 * std::cos(0.11 * r) * std::exp(-0.05 * z) + 0.5 * r;
      const double er = 110 * std::sin(0.11 * r) * std::exp(-0.05 * z) - 0.5;
      const double ez = 50 * std::cos(0.11 * r) * std::exp(-0.05 * z);
      const double e = std::sqrt(er * er + ez * ez);
      put_coordinate(out, r);
      put_coordinate(out, z);
      std::fprintf(out, "%14.6E%14.6E%14.6E%14.6E\n", er, ez, e, v);
    }
  }
}

// An RF map on the same square, z fastest: Ez, Er, |E| in MV/m and H-phi in A/m.
void write_t7(std::FILE* out, int increments) {
  std::fprintf(out, "0 50 %d\n1300\n0 50 %d\n", increments, increments);
  const double step = 50.0 / increments;
  for (int i = 0; i <= increments; ++i) {
    const double r = i * step;
    for (int j = 0; j <= increments; ++j) {
      const double z = j * step;
      const double ez = 30 * std::cos(0.11 * z) * std::exp(-0.05 * r);
      const double er = 12 * std::sin(0.11 * z) * std::exp(-0.05 * r) * r / 50;
      const double h = 2.5e4 * std::cos(0.11 * z) * r / 50;
      std::fprintf(out, "%14.6E%14.6E%14.6E%14.6E\n", ez, er, std::sqrt(ez * ez + er * er), h);
    }
  }
}

} // namespace
