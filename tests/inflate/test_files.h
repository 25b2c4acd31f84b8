// Files and hooks for observing the decoder: an input that records the size
// of every Read, an output that records every Write (and may refuse to grow
// past a bound), and a counter of the decoder's allocations.
#pragma once

#include <algorithm>
#include <cstring>
#include <vector>

#include "framework/file.h"
#include "inflate/inflate_alloc.h"
#include "inflate/inflater.h"

namespace sfx::test {

class ScriptedInput : public CFile {
 public:
  explicit ScriptedInput(std::vector<uint8_t> data) : data_(std::move(data)) {}
  UINT Read(void* lpBuf, UINT nCount) override {
    readSizes.push_back(nCount);
    size_t n = std::min<size_t>(nCount, data_.size() - pos_);
    if (n > 0) memcpy(lpBuf, data_.data() + pos_, n);
    pos_ += n;
    returned.push_back(UINT(n));
    return UINT(n);
  }
  std::vector<UINT> readSizes;  // the count asked for, per call
  std::vector<UINT> returned;   // the count given, per call

 private:
  std::vector<uint8_t> data_;
  size_t pos_ = 0;
};

class RecordingOutput : public CFile {
 public:
  explicit RecordingOutput(size_t limit = SIZE_MAX) : limit_(limit) {}
  void Write(const void* lpBuf, UINT nCount) override {
    writeSizes.push_back(nCount);
    if (nCount > limit_ - data.size()) AfxThrowFileException(CFileException::diskFull);
    const uint8_t* p = static_cast<const uint8_t*>(lpBuf);
    data.insert(data.end(), p, p + nCount);
  }
  std::vector<uint8_t> data;
  std::vector<UINT> writeSizes;

 private:
  size_t limit_;
};

// Counts the decoder's allocations while in scope and keeps the size of the
// last; the allocation numbered failAt (1-based; 0 = none) fails.
class AllocCounter {
 public:
  explicit AllocCounter(int failAt = 0) {
    count_ = 0;
    failAt_ = failAt;
    previous_ = SetInflateAllocHook(&Hook);
  }
  ~AllocCounter() { SetInflateAllocHook(previous_); }
  int count() const { return count_; }
  size_t lastBytes() const { return lastBytes_; }

 private:
  static bool Hook(size_t n) {
    lastBytes_ = n;
    return ++count_ != failAt_;
  }
  static inline size_t lastBytes_ = 0;
  static inline int count_ = 0;
  static inline int failAt_ = 0;
  InflateAllocHook previous_;
};

struct DecodeOutcome {
  int result = -1;  // Inflate's result; -1 when the output refused to grow
  std::vector<uint8_t> out;
  std::vector<UINT> readSizes;
  std::vector<UINT> writeSizes;
};

// Runs the decoder's block loop over the bytes, as Decode does, keeping the
// result code.
inline DecodeOutcome RunInflate(const std::vector<uint8_t>& stream, size_t limit = SIZE_MAX) {
  ScriptedInput input(stream);
  RecordingOutput output(limit);
  CInflater inflater;
  DecodeOutcome o;
  if (!inflater.Attach(&input)) return o;
  inflater.m_pOutput = &output;
  try {
    o.result = inflater.Inflate();
  } catch (CException* e) {
    e->Delete();
  }
  o.out = std::move(output.data);
  o.readSizes = std::move(input.readSizes);
  o.writeSizes = std::move(output.writeSizes);
  return o;
}

}  // namespace sfx::test
