// Compression with libdeflate, then transcoding into the stream format.
#include "pack/encoder.h"

#include <libdeflate.h>

#include <cstring>
#include <memory>

#include "framework/file.h"
#include "inflate/inflater.h"

namespace sfx::pack {
namespace {

// An output file that compares what is written with the expected bytes.
class CCompareFile : public CFile {
 public:
  CCompareFile(const uint8_t* expected, size_t size) : expected_(expected), size_(size) {}
  void Write(const void* lpBuf, UINT nCount) override {
    if (nCount == 0) return;
    if (nCount > size_ - offset_ || memcmp(expected_ + offset_, lpBuf, nCount) != 0)
      mismatch_ = true;
    else
      offset_ += nCount;
  }
  bool Matches() const { return !mismatch_ && offset_ == size_; }

 private:
  const uint8_t* expected_;
  size_t size_;
  size_t offset_ = 0;
  bool mismatch_ = false;
};

}  // namespace

std::vector<uint8_t> EncodeStream(const uint8_t* data, size_t size, int level) {
  if (level < 0 || level > 12) throw std::invalid_argument("compression level must be 0 to 12");
  // A last fixed block that holds only end-of-block.
  if (size == 0) return {0x0D, 0x00};

  std::unique_ptr<libdeflate_compressor, void (*)(libdeflate_compressor*)> compressor(
      libdeflate_alloc_compressor(level), libdeflate_free_compressor);
  if (!compressor) throw EncodeError("out of memory for the compressor");
  std::vector<uint8_t> raw(libdeflate_deflate_compress_bound(compressor.get(), size));
  size_t n = libdeflate_deflate_compress(compressor.get(), data, size, raw.data(), raw.size());
  if (n == 0) throw EncodeError("compression failed");
  return TranscodeDeflate(raw.data(), n);
}

bool VerifyStream(const std::vector<uint8_t>& stream, const uint8_t* expected, size_t size) {
  if (stream.size() > 0xFFFFFFFFu) return false;
  try {
    CMemFile input(stream.data(), UINT(stream.size()));
    CCompareFile output(expected, size);
    CInflater inflater;
    return inflater.Decode(&output, &input) && output.Matches();
  } catch (CException* e) {
    e->Delete();
    return false;
  }
}

}  // namespace sfx::pack
