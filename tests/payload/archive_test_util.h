// Helpers for the archive and catalogue tests: building expected bytes,
// in-memory files with a name, and index lists (a load that may throw runs
// through CatchFramework).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "framework/file.h"
#include "payload/archive.h"
#include "payload/catalogue.h"
#include "support/caught.h"

namespace sfx::test {

using ByteVec = std::vector<uint8_t>;

// Little-endian byte builder: B().w(4).cls("CIndexArray")...
class B {
 public:
  B& b(uint8_t v) {
    v_.push_back(v);
    return *this;
  }
  B& w(uint16_t v) { return b((uint8_t)v).b((uint8_t)(v >> 8)); }
  B& d(uint32_t v) { return w((uint16_t)v).w((uint16_t)(v >> 16)); }
  B& raw(const std::string& s) {
    v_.insert(v_.end(), s.begin(), s.end());
    return *this;
  }
  // A string with the prefix the writer chooses.
  B& str(const std::string& s) {
    if (s.size() < 255)
      b((uint8_t)s.size());
    else if (s.size() < 0xFFFE)
      b(0xFF).w((uint16_t)s.size());
    else
      b(0xFF).w(0xFFFF).d((uint32_t)s.size());
    return raw(s);
  }
  // A new-class tag with its descriptor, schema 0.
  B& cls(const std::string& name) { return w(0xFFFF).w(0).w((uint16_t)name.size()).raw(name); }
  B& bytes(const ByteVec& more) {
    v_.insert(v_.end(), more.begin(), more.end());
    return *this;
  }
  const ByteVec& vec() const { return v_; }
  operator ByteVec() const { return v_; }

 private:
  ByteVec v_;
};

// A CMemFile over a copy of the bytes, with a path for error messages.
class NamedMemFile : public CMemFile {
 public:
  explicit NamedMemFile(const ByteVec& bytes, const char* path = "C:\\SETUP\\Data.bin")
      : CMemFile(bytes.data(), (UINT)bytes.size()) {
    m_strFileName = path;
  }
};

inline ByteVec Contents(const CMemFile& file) {
  return ByteVec(file.GetData(), file.GetData() + file.GetLength());
}

// Stores with fn into a fresh memory file and returns the bytes.
template <class Fn>
ByteVec Store(Fn fn) {
  CMemFile file;
  CArchive ar(&file, CArchive::store);
  fn(ar);
  ar.Close();
  return Contents(file);
}

// An index list's bytes: its count, then the DWORDs.
inline B& IndexListBytes(B& b, std::initializer_list<uint32_t> values) {
  b.w((uint16_t)values.size());
  for (uint32_t v : values) b.d(v);
  return b;
}

// A new index list holding the values; the caller owns it.
inline CIndexArray* NewIndexList(std::initializer_list<DWORD> values) {
  auto* p = new CIndexArray;
  for (DWORD v : values) p->m_dwIndices.Add(v);
  return p;
}

}  // namespace sfx::test
