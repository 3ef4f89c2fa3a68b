// The catalogue: the three callables the extension offers, as the host is told of them.
#ifndef SAMPLE_CALLABLES_CATALOGUE_H_
#define SAMPLE_CALLABLES_CATALOGUE_H_

#include "base/json_ref.h"

inline constexpr char CALLABLE_ECHO[] = "sample.echo";
inline constexpr char CALLABLE_FAIL[] = "sample.fail";
inline constexpr char CALLABLE_WAIT[] = "sample.wait";

// A new array of the three callable descriptors, in the order echo, fail, wait, each an
// object of eleven members. The caller owns the array. Returns an empty JsonRef if the
// array could not be built whole.
JsonRef build_catalogue();

#endif  // SAMPLE_CALLABLES_CATALOGUE_H_
