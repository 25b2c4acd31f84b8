// Decoding speed of CInflater against zlib's inflate (raw, windowBits -15)
// and libdeflate on the same data, and the encoder's output size against
// libdeflate's raw DEFLATE at the same level.
//
//   inflate_bench [--level N] [--runs N] [--piece BYTES] [--mib TEXT EXE GZ] [--no-sizes]
//                 [--only ours|zlib|libdeflate]
//
// --only times one decoder and prints no table: for instruction counts under
// valgrind --tool=callgrind, where the other decoders would only slow the run.
#include <libdeflate.h>
#include <zlib.h>

#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <stdexcept>

#include "bench_corpus.h"
#include "framework/file.h"
#include "inflate/inflater.h"
#include "pack/encoder.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Piece {
  std::string kind;
  Bytes data;
  Bytes raw;     // RFC 1951, from libdeflate
  Bytes stream;  // the stream format, from the encoder
};

// Collects (or just counts) what the decoder writes.
class CSinkFile : public CFile {
 public:
  explicit CSinkFile(Bytes* keep) : keep_(keep) {}
  void Write(const void* p, UINT n) override {
    written += n;
    if (keep_ != nullptr) keep_->insert(keep_->end(), (const uint8_t*)p, (const uint8_t*)p + n);
  }
  size_t written = 0;

 private:
  Bytes* keep_;
};

Bytes RawDeflate(const Bytes& data, int level) {
  libdeflate_compressor* c = libdeflate_alloc_compressor(level);
  Bytes raw(libdeflate_deflate_compress_bound(c, data.size()));
  raw.resize(libdeflate_deflate_compress(c, data.data(), data.size(), raw.data(), raw.size()));
  libdeflate_free_compressor(c);
  return raw;
}

size_t DecodeOurs(CMemFile& input, Bytes* keep) {
  input.SeekToBegin();
  CSinkFile sink(keep);
  CInflater inflater;
  if (!inflater.Decode(&sink, &input)) throw std::runtime_error("CInflater failed");
  return sink.written;
}

size_t DecodeZlib(const Piece& p, Bytes& out) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) throw std::runtime_error("inflateInit2");
  z.next_in = const_cast<Bytef*>(p.raw.data());
  z.avail_in = uInt(p.raw.size());
  z.next_out = out.data();
  z.avail_out = uInt(out.size());
  int r = inflate(&z, Z_FINISH);
  size_t n = z.total_out;
  inflateEnd(&z);
  if (r != Z_STREAM_END) throw std::runtime_error("zlib inflate failed");
  return n;
}

size_t DecodeLibdeflate(libdeflate_decompressor* d, const Piece& p, Bytes& out) {
  size_t n = 0;
  if (libdeflate_deflate_decompress(d, p.raw.data(), p.raw.size(), out.data(), out.size(), &n) !=
      LIBDEFLATE_SUCCESS)
    throw std::runtime_error("libdeflate failed");
  return n;
}

// CPU time of this thread: other work on a shared machine does not count.
double ThreadSeconds() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec * 1e-9;
}

double Seconds(const std::function<void()>& fn) {
  double t0 = ThreadSeconds();
  fn();
  return ThreadSeconds() - t0;
}

}  // namespace

int main(int argc, char** argv) {
  int level = 6, runs = 5;
  bool sizes = true;
  std::string only;
  size_t piece = 1 << 20, mib[3] = {24, 20, 12};
  for (int i = 1; i < argc; i++) {
    if (!strcmp(argv[i], "--level") && i + 1 < argc) level = atoi(argv[++i]);
    else if (!strcmp(argv[i], "--runs") && i + 1 < argc) runs = atoi(argv[++i]);
    else if (!strcmp(argv[i], "--no-sizes")) sizes = false;
    else if (!strcmp(argv[i], "--only") && i + 1 < argc) only = argv[++i];
    else if (!strcmp(argv[i], "--piece") && i + 1 < argc) piece = strtoul(argv[++i], nullptr, 10);
    else if (!strcmp(argv[i], "--mib") && i + 3 < argc)
      for (size_t& m : mib) m = strtoul(argv[++i], nullptr, 10);
    else {
      fprintf(stderr, "usage: %s [--level N] [--runs N] [--piece BYTES] [--mib TEXT EXE GZ] [--no-sizes] [--only ours|zlib|libdeflate]\n", argv[0]);
      return 2;
    }
  }

  std::vector<Piece> pieces;
  std::map<std::string, sfx::pack::TranscodeStats> blocks;
  size_t total = 0;
  for (auto& part : sfx::bench::BuildCorpus(mib[0] << 20, mib[1] << 20, mib[2] << 20, piece)) {
    Piece p{part.kind, std::move(part.data), {}, {}};
    p.raw = RawDeflate(p.data, level);
    sfx::pack::TranscodeStats st;
    p.stream = sfx::pack::TranscodeDeflate(p.raw.data(), p.raw.size(), &st);
    sfx::pack::TranscodeStats& sum = blocks[p.kind];
    sum.storedBlocks += st.storedBlocks;
    sum.fixedBlocks += st.fixedBlocks;
    sum.dynamicBlocks += st.dynamicBlocks;
    sum.reencodedBlocks += st.reencodedBlocks;
    total += p.data.size();
    pieces.push_back(std::move(p));
  }
  printf("corpus: %.1f MiB in %zu pieces of up to %zu bytes, level %d, best thread CPU time of %d runs\n",
         total / 1048576.0, pieces.size(), piece, level, runs);

  for (const auto& [kind, st] : blocks)
    printf("  %-5s blocks: %zu stored, %zu fixed, %zu dynamic, %zu re-encoded\n", kind.c_str(),
           st.storedBlocks, st.fixedBlocks, st.dynamicBlocks, st.reencodedBlocks);

  // Every decoder gives back the corpus before anything is timed.
  libdeflate_decompressor* d = libdeflate_alloc_decompressor();
  Bytes out(piece);
  std::vector<CMemFile*> inputs;
  for (const Piece& p : pieces) {
    inputs.push_back(new CMemFile(p.stream.data(), UINT(p.stream.size())));
    Bytes ours;
    DecodeOurs(*inputs.back(), &ours);
    if (ours != p.data) throw std::runtime_error("CInflater output differs");
    if (DecodeZlib(p, out) != p.data.size() || memcmp(out.data(), p.data.data(), p.data.size()))
      throw std::runtime_error("zlib output differs");
    if (DecodeLibdeflate(d, p, out) != p.data.size() || memcmp(out.data(), p.data.data(), p.data.size()))
      throw std::runtime_error("libdeflate output differs");
  }

  if (!only.empty()) {
    for (int r = 0; r < runs; r++)
      for (size_t i = 0; i < pieces.size(); i++) {
        if (only == "ours") DecodeOurs(*inputs[i], nullptr);
        else if (only == "zlib") DecodeZlib(pieces[i], out);
        else DecodeLibdeflate(d, pieces[i], out);
      }
    for (CMemFile* f : inputs) delete f;
    libdeflate_free_decompressor(d);
    return 0;
  }

  printf("\n%-6s %9s %8s | %12s %12s %12s | %9s %9s\n", "kind", "MiB", "ratio", "CInflater",
         "zlib", "libdeflate", "vs zlib", "vs libdfl");
  std::map<std::string, size_t> bytes, packed;
  for (const std::string kind : {"text", "exe", "gz", "all"}) {
    auto each = [&](const std::function<void(size_t)>& fn) {
      for (size_t i = 0; i < pieces.size(); i++)
        if (kind == "all" || pieces[i].kind == kind) fn(i);
    };
    each([&](size_t i) {
      bytes[kind] += pieces[i].data.size();
      packed[kind] += pieces[i].stream.size();
    });
    // The decoders take turns, so that a busy moment of the machine does not
    // fall on one of them only; each keeps its best time.
    double t[3] = {1e30, 1e30, 1e30};
    for (int r = 0; r < runs; r++) {
      t[0] = std::min(t[0], Seconds([&] { each([&](size_t i) { DecodeOurs(*inputs[i], nullptr); }); }));
      t[1] = std::min(t[1], Seconds([&] { each([&](size_t i) { DecodeZlib(pieces[i], out); }); }));
      t[2] = std::min(t[2], Seconds([&] { each([&](size_t i) { DecodeLibdeflate(d, pieces[i], out); }); }));
    }
    double mb = bytes[kind] / 1e6;
    printf("%-6s %9.1f %8.3f | %7.1f MB/s %7.1f MB/s %7.1f MB/s | %8.2fx %8.2fx\n", kind.c_str(),
           bytes[kind] / 1048576.0, double(packed[kind]) / bytes[kind], mb / t[0], mb / t[1],
           mb / t[2], t[1] / t[0], t[2] / t[0]);
  }
  for (CMemFile* f : inputs) delete f;
  libdeflate_free_decompressor(d);

  // Encoder output against libdeflate's raw output, whole corpus.
  if (!sizes) return 0;
  printf("\n%-6s %14s %14s %10s\n", "level", "raw DEFLATE", "encoder", "diff");
  for (int lv : {0, 1, 6, 9, 12}) {
    size_t raw = 0, ours = 0;
    for (const Piece& p : pieces) {
      Bytes r = lv == level ? p.raw : RawDeflate(p.data, lv);
      raw += r.size();
      ours += lv == level ? p.stream.size() : sfx::pack::EncodeStream(p.data.data(), p.data.size(), lv).size();
    }
    printf("%-6d %14zu %14zu %+9.4f%%\n", lv, raw, ours, 100.0 * (double(ours) - double(raw)) / raw);
  }
  return 0;
}
