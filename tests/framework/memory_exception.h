// Whether a call throws the framework's memory exception (then released).
#pragma once

#include "framework/exceptions.h"

template <class F>
bool ThrowsMemoryException(F f) {
  try {
    f();
  } catch (CException* e) {
    bool isMemory = dynamic_cast<CMemoryException*>(e) != nullptr;
    e->Delete();
    return isMemory;
  }
  return false;
}
