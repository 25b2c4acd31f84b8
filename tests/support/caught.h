// What a framework exception said, taken out of the exception (which is
// released): CatchFramework runs a call and reports what it threw.
#pragma once

#include <string>

#include "framework/exceptions.h"

namespace sfx::test {

struct Caught {
  std::string kind = "none";  // "none", "file", "archive", "memory", "notSupported" or "other"
  int cause = 0;
  std::string fileName;
  std::string message;
  bool thrown() const { return kind != "none"; }
};

template <class Fn>
Caught CatchFramework(Fn fn) {
  Caught c;
  try {
    fn();
  } catch (CException* e) {
    c.message = (const char*)e->GetErrorMessage();
    if (auto* f = dynamic_cast<CFileException*>(e)) {
      c.kind = "file";
      c.cause = f->m_cause;
      c.fileName = (const char*)f->m_strFileName;
    } else if (auto* a = dynamic_cast<CArchiveException*>(e)) {
      c.kind = "archive";
      c.cause = a->m_cause;
      c.fileName = (const char*)a->m_strFileName;
    } else if (dynamic_cast<CMemoryException*>(e) != nullptr) {
      c.kind = "memory";
    } else if (dynamic_cast<CNotSupportedException*>(e) != nullptr) {
      c.kind = "notSupported";
    } else {
      c.kind = "other";
    }
    e->Delete();
  }
  return c;
}

}  // namespace sfx::test
