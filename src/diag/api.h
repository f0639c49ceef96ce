// Marks the declarations that make up the libraries' public interface. A shared library exports
// these and hides every other symbol (it is compiled with hidden visibility); a static library
// needs no marks. NORVALEX_SHARED comes with the targets of a shared build, and CMake defines
// <target>_EXPORTS while it compiles that shared library itself.
#pragma once

#if defined(NORVALEX_SHARED)
#if defined(_WIN32)
#define NORVALEX_EXPORT_ __declspec(dllexport)
#define NORVALEX_IMPORT_ __declspec(dllimport)
#else
#define NORVALEX_EXPORT_ __attribute__((visibility("default")))
#define NORVALEX_IMPORT_ __attribute__((visibility("default")))
#endif
// One mark per library: while one of them is compiled, the others' declarations are imports.
#if defined(norvalex_diag_EXPORTS)
#define NORVALEX_DIAG_API NORVALEX_EXPORT_
#else
#define NORVALEX_DIAG_API NORVALEX_IMPORT_
#endif
#if defined(norvalex_tqs_EXPORTS)
#define NORVALEX_TQS_API NORVALEX_EXPORT_
#else
#define NORVALEX_TQS_API NORVALEX_IMPORT_
#endif
#if defined(norvalex_sf7_EXPORTS)
#define NORVALEX_SF7_API NORVALEX_EXPORT_
#else
#define NORVALEX_SF7_API NORVALEX_IMPORT_
#endif
#else
#define NORVALEX_DIAG_API
#define NORVALEX_TQS_API
#define NORVALEX_SF7_API
#endif
