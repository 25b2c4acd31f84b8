#include "framework/collections.h"

#include "framework/exceptions.h"

namespace afx_detail {

void ThrowArrayMemory() { AfxThrowMemoryException(); }

}  // namespace afx_detail
