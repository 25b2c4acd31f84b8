#include "pack/stream_decode.h"

#include <cstring>

#include "framework/file.h"
#include "inflate/inflater.h"

namespace sfx::pack {
namespace {

// Read-only view of borrowed bytes: the decoder's input without a copy.
class CSpanFile : public CFile {
 public:
  CSpanFile(const uint8_t* data, size_t size) : m_pData(data), m_nSize(size) {}
  UINT Read(void* lpBuf, UINT nCount) override {
    size_t n = m_nSize - m_nPos < nCount ? m_nSize - m_nPos : nCount;
    if (n > 0) memcpy(lpBuf, m_pData + m_nPos, n);
    m_nPos += n;
    return (UINT)n;
  }
  DWORD GetPosition() const override { return (DWORD)m_nPos; }
  DWORD GetLength() const override { return (DWORD)m_nSize; }

 private:
  const uint8_t* m_pData;
  size_t m_nSize;
  size_t m_nPos = 0;
};

// Hands every write to the sink and counts it.
class CSinkFile : public CFile {
 public:
  explicit CSinkFile(const ByteSink& sink) : m_sink(sink) {}
  void Write(const void* lpBuf, UINT nCount) override {
    if (m_sink && nCount > 0) m_sink((const uint8_t*)lpBuf, nCount);
    m_nWritten += nCount;
  }
  uint64_t Written() const { return m_nWritten; }

 private:
  const ByteSink& m_sink;
  uint64_t m_nWritten = 0;
};

}  // namespace

DecodeOutcome DecodeStream(const uint8_t* input, size_t size, size_t offset, const ByteSink& sink) {
  DecodeOutcome outcome;
  if (offset > size) offset = size;
  CSpanFile in(input + offset, size - offset);
  CSinkFile out(sink);
  CInflater inflater;
  // Decode's steps, kept apart so that the buffer and bit counts can be read
  // before Detach clears them.
  if (!inflater.Attach(&in)) {
    outcome.result = INFLATE_NO_MEMORY;
    return outcome;
  }
  inflater.m_pOutput = &out;
  outcome.result = inflater.Inflate();
  // Whole bytes still buffered or held in the bit buffer were read ahead,
  // not used; a partly used last byte belongs to the stream. Zero bits
  // supplied past the input's end sit at the top of the bit buffer.
  UINT nRealBits = inflater.m_nBitCount >= inflater.m_nPastEnd
                       ? inflater.m_nBitCount - inflater.m_nPastEnd : 0;
  uint64_t unused = inflater.m_nAvail + nRealBits / 8;
  uint64_t delivered = in.GetPosition();
  outcome.consumed = unused <= delivered ? delivered - unused : 0;
  inflater.Detach();
  outcome.written = out.Written();
  return outcome;
}

}  // namespace sfx::pack
