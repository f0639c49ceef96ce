// A mesh's fields as the real amplitudes of the solver's convention, for the forms that hold
// real numbers (T7, on-axis, TQS): E real, and of an RF map B as -i times a real amplitude
// (B-theta = -i mu0 H-phi). Components that share one phase are turned by it first; a mesh whose
// fields need more than one phase (a travelling wave) has no such form.
#pragma once

#include "norvalex/mesh.h"

#include <complex>
#include <cstddef>

namespace norvalex {

// "<file>: <text>", or the text alone for a mesh without a file; throws it as a failure of the
// mesh as a whole.
[[noreturn, gnu::format(gnu_printf, 2, 3)]] NORVALEX_MESH_API void
raise_mesh_error(const FieldMesh& mesh, const char* format, ...);

class NORVALEX_MESH_API RealFields {
public:
  // Throws when the mesh's fields need more than one phase, or a static mesh has complex values.
  explicit RealFields(const FieldMesh& mesh);

  // The real amplitude of `component` at `index`, times the mesh's fieldScale: E (and every
  // static field) as its real part, the magnetic field of an RF map as the real b of B = -i b,
  // b = mu0 H.
  double value(const MeshComponent& component, std::size_t index) const {
    const std::complex<double> z =
        turned_ ? component.values[index] * turn_ : component.values[index];
    // b = -Im(B), a zero part of either sign giving 0, as the solver writes it.
    const double amplitude =
        component.field == FieldKind::electric || !rf_ ? z.real() : 0.0 - z.imag();
    return scale_ == 1 ? amplitude : amplitude * scale_;
  }

private:
  bool rf_;
  double scale_; // the mesh's fieldScale, which the real forms hold in their values
  bool turned_ = false;
  std::complex<double> turn_{1, 0}; // e^{-i phase}
};

} // namespace norvalex
