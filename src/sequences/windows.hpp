// Regrouping a stream: interpose, sliding_window, partition_all, partition.
// The constructions are shared with Iter's methods of the same names.
#pragma once

#include "utils/sources.hpp"
#include "utils/state.hpp"

namespace quibra {

// An InterposeIter that has read nothing yet: its first element is yielded
// without a separator when it arrives (Iter.interpose; an empty source
// simply yields nothing).
Result<Ref> build_interpose(const ModuleState& module, PyObject* el, RawSource source);

// The iterator of sliding_window(n, seq) once n is known to be >= 0: an
// empty RustIter for n = 0 (seq untouched), else a SlidingWindowIter whose
// first n-1 elements are read now; their errors are raised here.
Result<Ref> build_sliding_window(const ModuleState& module, unsigned long long n, PyObject* seq);

// A RustIter of tuples of up to n elements over iter(seq) (partition_all);
// n = 0 yields nothing, but seq is still iterated once.
Result<Ref> build_chunker(const ModuleState& module, unsigned long long n, PyObject* seq);

}  // namespace quibra
