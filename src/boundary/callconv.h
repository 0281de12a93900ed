// The exports as the library itself sees them: the public header, whose declarations the
// definitions in exports_*.cpp must agree with (a difference in a parameter, the result
// or the calling convention is a compile error), and the conventions by name.
#pragma once

#ifndef QUILLMAR_BUILDING
#error "the boundary is compiled only as part of the library (QUILLMAR_BUILDING)"
#endif
#include "quillmar.h"

#define QM_CALLEE QUILLMAR_CALLEE
#define QM_CALLER QUILLMAR_CALLER
#define QM_EXPORT extern "C" QUILLMAR_API
