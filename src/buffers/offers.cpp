// Until the typed scans exist every buffer is declined.
#include "buffers/offers.hpp"

namespace quibra {

Result<Ref> offer_typed_count(PyObject*) { return Ref(); }
Result<std::optional<bool>> offer_typed_distinct(PyObject*) { return std::optional<bool>(); }
Result<Ref> offer_typed_topk(unsigned long long, PyObject*) { return Ref(); }
Result<Ref> offer_typed_unique(PyObject*) { return Ref(); }

}  // namespace quibra
