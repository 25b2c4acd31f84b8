// Loading one catalogue archive from bytes, and storing what was loaded:
// the canonical form of a loaded catalogue must load again and store to the
// same bytes, so the reader and the writer agree on every element.
#pragma once

#include <cstdint>
#include <vector>

#include "framework/exceptions.h"
#include "framework/file.h"
#include "fuzz_support.h"
#include "payload/archive.h"

namespace sfx::fuzz {

// Runs load(ar) over the bytes. TRUE when it returned; FALSE when it threw
// one of the framework's file, archive or memory exceptions, the only ways
// a damaged archive may end. Any other exception goes on to the fuzzer.
template <typename Load>
bool LoadArchive(const uint8_t* data, size_t size, Load load, DWORD* pConsumed = nullptr) {
  CMemFile file(data, (UINT)size);
  try {
    CArchive ar(&file, CArchive::load);
    load(ar);
    ar.Close();
  } catch (CArchiveException* e) {
    e->Delete();
    return false;
  } catch (CFileException* e) {
    e->Delete();
    return false;
  } catch (CMemoryException* e) {
    e->Delete();
    return false;
  }
  FUZZ_CHECK(file.GetPosition() <= size, "archive stands past the input's end after Close");
  if (pConsumed) *pConsumed = file.GetPosition();
  return true;
}

template <typename Store>
std::vector<uint8_t> StoreArchive(Store store) {
  CMemFile file;
  CArchive ar(&file, CArchive::store);
  store(ar);
  ar.Close();
  return std::vector<uint8_t>(file.GetData(), file.GetData() + file.GetLength());
}

}  // namespace sfx::fuzz
