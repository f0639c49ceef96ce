// Writes a synthetic 3-D field export for the benchmarks: a grid of nx x ny x nz points of an RF
// field, as CST writes its text export (a names line with units, a line of dashes, x fastest,
// coordinates in mm (twelve digits), each component's real and imaginary parts side by side,
// numbers right aligned in columns of 16) or as HFSS's field calculator writes a grid (two header
// lines, z fastest, coordinates in m, numbers in their shortest form of up to 15 digits, one blank
// apart). E in V/m, or H in A/m with `h`.
//
//   make_field_export cst|hfss OUT nx ny nz [h]
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <string>

namespace {

// A cavity-like field at (x, y, z) in m: smooth, of every sign, no two points alike.
void field_at(double x, double y, double z, double values[6]) {
  const double k = std::numbers::pi / 0.1;
  const double s = std::sin(k * z);
  const double c = std::cos(k * z);
  const double r2 = (x * x + y * y) / 0.0004;
  values[0] = 1e6 * x * c * (1 - 0.1 * r2);
  values[1] = -2e3 * x * s;
  values[2] = 1e6 * y * c * (1 - 0.1 * r2);
  values[3] = -2e3 * y * s;
  values[4] = 2e7 * s * (1 - 0.25 * r2);
  values[5] = 4e4 * c * (1 + r2);
}

void write_cst(std::FILE* out, int nx, int ny, int nz, char field) {
  const char* unit = field == 'E' ? "V/m" : "A/m";
  std::fprintf(out, "%-16s%-16s%-16s", "x [mm]", "y [mm]", "z [mm]");
  for (const char axis : {'x', 'y', 'z'}) {
    for (const char* part : {"Re", "Im"}) {
      const std::string name = std::string(1, field) + axis + part + " [" + unit + "]";
      std::fprintf(out, "%-16s", name.c_str());
    }
  }
  std::fputs("\n", out);
  for (int k = 0; k < 16 * 9; ++k)
    std::fputc('-', out);
  std::fputs("\n", out);
  double values[6];
  for (int k = 0; k < nz; ++k) {
    for (int j = 0; j < ny; ++j) {
      for (int i = 0; i < nx; ++i) {
        const double x = -10 + 20.0 * i / (nx - 1);
        const double y = -10 + 20.0 * j / (ny - 1);
        const double z = 100.0 * k / (nz - 1);
        field_at(x / 1e3, y / 1e3, z / 1e3, values);
        std::fprintf(out, "%16.12g%16.12g%16.12g", x, y, z);
        for (const double v : values)
          std::fprintf(out, "%16.7e", v);
        std::fputs("\n", out);
      }
    }
  }
}

void write_hfss(std::FILE* out, int nx, int ny, int nz, char field) {
  std::fprintf(out,
               "Grid Output Min: [-10mm -10mm 0mm] Max: [10mm 10mm 100mm] Grid Size: [%.15gmm "
               "%.15gmm %.15gmm]\n",
               20.0 / (nx - 1), 20.0 / (ny - 1), 100.0 / (nz - 1));
  std::fprintf(out, "X, Y, Z, Complex Vector data \"<%cx,%cy,%cz>\"\n", field, field, field);
  double values[6];
  for (int i = 0; i < nx; ++i) {
    for (int j = 0; j < ny; ++j) {
      for (int k = 0; k < nz; ++k) {
        const double x = -0.01 + 0.02 * i / (nx - 1);
        const double y = -0.01 + 0.02 * j / (ny - 1);
        const double z = 0.1 * k / (nz - 1);
        field_at(x, y, z, values);
        std::fprintf(out, "%.15g %.15g %.15g", x, y, z);
        for (const double v : values)
          std::fprintf(out, " %.15g", v);
        std::fputs("\n", out);
      }
    }
  }
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 6 || argc > 7 ||
      (std::strcmp(argv[1], "cst") != 0 && std::strcmp(argv[1], "hfss") != 0)) {
    std::fputs("usage: make_field_export cst|hfss OUT nx ny nz [h]\n", stderr);
    return 2;
  }
  const int nx = std::atoi(argv[3]);
  const int ny = std::atoi(argv[4]);
  const int nz = std::atoi(argv[5]);
  if (nx < 2 || ny < 2 || nz < 2) {
    std::fputs("make_field_export: every count must be at least 2\n", stderr);
    return 2;
  }
  const char field = argc == 7 && std::strcmp(argv[6], "h") == 0 ? 'H' : 'E';
  std::FILE* out = std::fopen(argv[2], "wb");
  if (!out) {
    std::perror(argv[2]);
    return 1;
  }
  if (argv[1][0] == 'c')
    write_cst(out, nx, ny, nz, field);
  else
    write_hfss(out, nx, ny, nz, field);
  if (std::fclose(out) != 0) {
    std::perror(argv[2]);
    return 1;
  }
  return 0;
}
