// Rewrites raw DEFLATE blocks (RFC 1951) into the stream format.
#include <cstring>

#include "inflate/stream_format.h"
#include "pack/encoder.h"
#include "pack/encoder_bits.h"

namespace sfx::pack {
namespace {

using detail::BitReader;
using detail::BitWriter;

const int kRfcCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
using stream_format::kCodeLengthOrder;
using stream_format::kDistanceExtra;
using stream_format::kLengthExtra;
const int kMaxBits = int(stream_format::kMaxCodeBits);
using BlockType = stream_format::BlockType;
const BlockType kStored = stream_format::kBlockStored;
const BlockType kFixed = stream_format::kBlockFixed;
const BlockType kDynamic = stream_format::kBlockDynamic;

// A canonical code read from a DEFLATE stream: one lookup on the next
// maxLen bits gives the symbol and its length.
class CodeReader {
 public:
  void Build(const uint8_t* lengths, int n) {
    int count[kMaxBits + 1] = {};
    maxLen_ = 0;
    for (int i = 0; i < n; i++) {
      if (lengths[i] > kMaxBits) throw EncodeError("code length above 15");
      count[lengths[i]]++;
      if (lengths[i] > maxLen_) maxLen_ = lengths[i];
    }
    count[0] = 0;
    // Kraft sum in units of 2^-15; above 2^15 no prefix code exists.
    uint32_t kraft = 0;
    used_ = 0;
    for (int len = 1; len <= kMaxBits; len++) {
      kraft += uint32_t(count[len]) << (kMaxBits - len);
      used_ += count[len];
    }
    if (kraft > (1u << kMaxBits)) throw EncodeError("over-subscribed code");
    complete_ = kraft == (1u << kMaxBits);
    singleOneBit_ = used_ == 1 && maxLen_ == 1;

    uint32_t next[kMaxBits + 2] = {};
    uint32_t code = 0;
    for (int len = 1; len <= kMaxBits; len++) {
      code = (code + count[len - 1]) << 1;
      next[len] = code;
    }
    table_.assign(size_t(1) << maxLen_, 0);
    for (int sym = 0; sym < n; sym++) {
      int len = lengths[sym];
      if (len == 0) continue;
      uint32_t c = next[len]++;
      uint32_t reversed = 0;
      for (int i = 0; i < len; i++) reversed |= ((c >> i) & 1u) << (len - 1 - i);
      for (size_t idx = reversed; idx < table_.size(); idx += size_t(1) << len)
        table_[idx] = (uint32_t(sym) << 8) | uint32_t(len);
    }
  }

  int Decode(BitReader& in) const {
    uint32_t entry = used_ == 0 ? 0 : table_[in.Peek(maxLen_)];
    if (entry == 0) throw EncodeError("invalid Huffman code in DEFLATE stream");
    in.Skip(int(entry & 0xff));
    return int(entry >> 8);
  }

  // Whether the stub's decoder builds this code: complete, a single 1-bit
  // code, or no code at all.
  bool AcceptedByStub() const { return complete_ || singleOneBit_ || used_ == 0; }

 private:
  std::vector<uint32_t> table_;
  int maxLen_ = 0;
  int used_ = 0;
  bool complete_ = false;
  bool singleOneBit_ = false;
};

const CodeReader& FixedLiteralCode() {
  static const CodeReader code = [] {
    uint8_t lengths[288];
    memset(lengths, 8, 144);
    memset(lengths + 144, 9, 112);
    memset(lengths + 256, 7, 24);
    memset(lengths + 280, 8, 8);
    CodeReader c;
    c.Build(lengths, 288);
    return c;
  }();
  return code;
}

const CodeReader& FixedDistanceCode() {
  static const CodeReader code = [] {
    uint8_t lengths[32];
    memset(lengths, 5, 32);
    CodeReader c;
    c.Build(lengths, 32);
    return c;
  }();
  return code;
}

void PutFixedLiteralLength(BitWriter& out, int sym) {
  if (sym < 144) out.PutCode(0x30 + sym, 8);
  else if (sym < 256) out.PutCode(0x190 + (sym - 144), 9);
  else if (sym < 280) out.PutCode(sym - 256, 7);
  else out.PutCode(0xC0 + (sym - 280), 8);
}

// Walks a block's symbols up to end-of-block, checking each; with a writer,
// re-emits them with the fixed codes.
void WalkSymbols(BitReader& in, const CodeReader& literal, const CodeReader& distance,
                 BitWriter* fixedOut) {
  for (;;) {
    int sym = literal.Decode(in);
    if (sym > 285) throw EncodeError("invalid length symbol");
    if (fixedOut != nullptr) PutFixedLiteralLength(*fixedOut, sym);
    if (sym == 256) return;
    if (sym < 256) continue;
    int lengthExtra = kLengthExtra[sym - stream_format::kFirstLengthSymbol];
    uint32_t lengthBits = in.Bits(lengthExtra);
    int dsym = distance.Decode(in);
    if (dsym > 29) throw EncodeError("invalid distance symbol");
    int distExtra = kDistanceExtra[dsym];
    uint32_t distBits = in.Bits(distExtra);
    if (fixedOut != nullptr) {
      fixedOut->Put(lengthBits, lengthExtra);
      fixedOut->PutCode(uint32_t(dsym), 5);
      fixedOut->Put(distBits, distExtra);
    }
  }
}

void PutHeader(BitWriter& out, BlockType type, bool last) {
  out.Put(uint32_t(type) | (last ? stream_format::kLastBlockFlag : 0u), stream_format::kHeaderBits);
}

void TranscodeStored(BitReader& in, BitWriter& out, bool last) {
  in.AlignToByte();
  uint32_t len = in.Bits(16);
  uint32_t nlen = in.Bits(16);
  if ((len ^ 0xFFFFu) != nlen) throw EncodeError("stored block length check fails");
  if (in.bitsLeft() < size_t(len) * 8) throw EncodeError("DEFLATE stream is truncated");
  PutHeader(out, kStored, last);
  out.AlignToByte();
  out.Put(len, 16);
  out.PutBytes(in.BytePointer(), len);
  in.Skip(int(len * 8));
}

void TranscodeFixed(BitReader& in, BitWriter& out, bool last) {
  size_t start = in.position();
  WalkSymbols(in, FixedLiteralCode(), FixedDistanceCode(), nullptr);
  PutHeader(out, kFixed, last);
  out.CopyBits(in, start, in.position());
}

// Reads the literal/length and distance code lengths after the dynamic
// header, checking every repeat.
void ReadCodeLengths(BitReader& in, const CodeReader& lengthCode, uint8_t* lengths, int n) {
  int i = 0;
  while (i < n) {
    int sym = lengthCode.Decode(in);
    if (sym < 16) {
      lengths[i++] = uint8_t(sym);
      continue;
    }
    int repeat;
    uint8_t value = 0;
    if (sym == 16) {
      if (i == 0) throw EncodeError("repeat with no previous length");
      value = lengths[i - 1];
      repeat = 3 + int(in.Bits(2));
    } else if (sym == 17) {
      repeat = 3 + int(in.Bits(3));
    } else {
      repeat = 11 + int(in.Bits(7));
    }
    if (i + repeat > n) throw EncodeError("code length repeat past the end");
    memset(lengths + i, value, size_t(repeat));
    i += repeat;
  }
}

// Returns true if the block was re-encoded with fixed codes.
bool TranscodeDynamic(BitReader& in, BitWriter& out, bool last) {
  int hlit = int(in.Bits(5));
  int hdist = int(in.Bits(5));
  int hclen = int(in.Bits(4));
  if (hlit > 29 || hdist > 29) throw EncodeError("too many length or distance codes");
  uint8_t clLengths[19] = {};
  for (int i = 0; i < hclen + 4; i++) clLengths[kRfcCodeLengthOrder[i]] = uint8_t(in.Bits(3));
  const size_t lengthsStart = in.position();

  CodeReader lengthCode;
  lengthCode.Build(clLengths, 19);
  const int nl = hlit + 257, nd = hdist + 1;
  uint8_t lengths[286 + 30];
  ReadCodeLengths(in, lengthCode, lengths, nl + nd);
  const size_t symbolsStart = in.position();
  CodeReader literal, distance;
  literal.Build(lengths, nl);
  distance.Build(lengths + nl, nd);
  WalkSymbols(in, literal, distance, nullptr);
  const size_t end = in.position();

  if (!lengthCode.AcceptedByStub() || !literal.AcceptedByStub() || !distance.AcceptedByStub()) {
    PutHeader(out, kFixed, last);
    in.Seek(symbolsStart);
    WalkSymbols(in, literal, distance, &out);
    return true;
  }

  // The code-length code in the stream's order, trailing zeros dropped.
  int count = 19;
  while (count > 4 && clLengths[kCodeLengthOrder[count - 1]] == 0) count--;
  PutHeader(out, kDynamic, last);
  out.Put(uint32_t(hlit), 5);
  out.Put(uint32_t(hdist), 5);
  out.Put(uint32_t(count - 4), 4);
  for (int i = 0; i < count; i++) out.Put(clLengths[kCodeLengthOrder[i]], 3);
  out.CopyBits(in, lengthsStart, end);
  return false;
}

}  // namespace

std::vector<uint8_t> TranscodeDeflate(const uint8_t* raw, size_t size, TranscodeStats* stats) {
  TranscodeStats local;
  TranscodeStats& s = stats != nullptr ? *stats : local;
  s = TranscodeStats();
  BitReader in(raw, size);
  BitWriter out;
  bool last = false;
  while (!last) {
    last = in.Bits(1) != 0;
    switch (in.Bits(2)) {
      case 0:
        TranscodeStored(in, out, last);
        s.storedBlocks++;
        break;
      case 1:
        TranscodeFixed(in, out, last);
        s.fixedBlocks++;
        break;
      case 2:
        if (TranscodeDynamic(in, out, last)) s.reencodedBlocks++;
        else s.dynamicBlocks++;
        break;
      default:
        throw EncodeError("invalid DEFLATE block type 3");
    }
  }
  return out.Finish();
}

}  // namespace sfx::pack
