// The floor of the install benchmark: an extractor built on libdeflate that
// decodes the same files from raw DEFLATE (RFC 1951) streams and writes them
// into a folder, doing nothing else (no catalogue, no log, no time stamps).
//
//   deflate_extract pack SRC_DIR ARCHIVE [--level N]   (default level 6)
//   deflate_extract extract ARCHIVE DEST_DIR
//
// `pack` compresses every regular file below SRC_DIR, in sorted path order,
// with libdeflate at the level given: the same raw streams that `sfx pack`
// makes at that level before rewriting them into its own stream format. The
// archive is a plain list: per file the relative path, the decoded size and
// the stream. `extract` reads the whole archive, then for each file decodes
// the stream into a buffer and writes it to DEST_DIR/<path> in one write,
// making folders as needed.
#include <dirent.h>
#include <fcntl.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
const char kMagic[8] = {'R', 'A', 'W', 'D', 'F', 'L', 'T', '1'};

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what + (errno ? std::string(": ") + strerror(errno) : ""));
}

Bytes ReadAll(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) Fail("cannot open " + path);
  struct stat st;
  if (fstat(fd, &st) != 0) Fail("cannot stat " + path);
  Bytes data(size_t(st.st_size));
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = read(fd, data.data() + done, data.size() - done);
    if (n <= 0) Fail("cannot read " + path);
    done += size_t(n);
  }
  close(fd);
  return data;
}

void WriteAll(int fd, const void* p, size_t n, const std::string& path) {
  const uint8_t* b = static_cast<const uint8_t*>(p);
  while (n > 0) {
    ssize_t w = write(fd, b, n);
    if (w <= 0) Fail("cannot write " + path);
    b += w;
    n -= size_t(w);
  }
}

void ListFiles(const std::string& root, const std::string& rel, std::vector<std::string>* out) {
  DIR* d = opendir((root + "/" + rel).c_str());
  if (d == nullptr) Fail("cannot list " + root + "/" + rel);
  std::vector<std::pair<std::string, bool>> entries;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    std::string path = rel.empty() ? name : rel + "/" + name;
    struct stat st;
    if (lstat((root + "/" + path).c_str(), &st) != 0) Fail("cannot stat " + path);
    if (S_ISDIR(st.st_mode) || S_ISREG(st.st_mode)) entries.push_back({path, S_ISDIR(st.st_mode)});
  }
  closedir(d);
  std::sort(entries.begin(), entries.end());
  for (const auto& [path, isDir] : entries) {
    if (isDir) ListFiles(root, path, out);
    else out->push_back(path);
  }
}

void Put64(Bytes& out, uint64_t v) {
  for (int i = 0; i < 8; i++) out.push_back(uint8_t(v >> (8 * i)));
}

uint64_t Get64(const Bytes& in, size_t* pos) {
  if (in.size() - *pos < 8) throw std::runtime_error("archive cut short");
  uint64_t v = 0;
  for (int i = 0; i < 8; i++) v |= uint64_t(in[*pos + i]) << (8 * i);
  *pos += 8;
  return v;
}

int Pack(const std::string& src, const std::string& archive, int level) {
  std::vector<std::string> files;
  ListFiles(src, "", &files);
  libdeflate_compressor* c = libdeflate_alloc_compressor(level);
  if (c == nullptr) throw std::runtime_error("no compressor for that level");
  Bytes out(kMagic, kMagic + 8);
  for (const std::string& path : files) {
    Bytes data = ReadAll(src + "/" + path);
    Bytes raw(libdeflate_deflate_compress_bound(c, data.size()));
    raw.resize(libdeflate_deflate_compress(c, data.data(), data.size(), raw.data(), raw.size()));
    Put64(out, path.size());
    out.insert(out.end(), path.begin(), path.end());
    Put64(out, data.size());
    Put64(out, raw.size());
    out.insert(out.end(), raw.begin(), raw.end());
  }
  libdeflate_free_compressor(c);
  int fd = open(archive.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) Fail("cannot create " + archive);
  WriteAll(fd, out.data(), out.size(), archive);
  close(fd);
  printf("%zu files, %zu bytes\n", files.size(), out.size());
  return 0;
}

// Makes every folder on the way to path (relative to dest); folders already
// made are remembered.
void MakeParents(const std::string& dest, const std::string& path, std::vector<std::string>* made) {
  for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    std::string dir = path.substr(0, slash);
    if (std::find(made->begin(), made->end(), dir) != made->end()) continue;
    if (mkdir((dest + "/" + dir).c_str(), 0755) != 0 && errno != EEXIST) Fail("cannot make " + dir);
    errno = 0;
    made->push_back(dir);
  }
}

int Extract(const std::string& archive, const std::string& dest) {
  Bytes in = ReadAll(archive);
  if (in.size() < 8 || memcmp(in.data(), kMagic, 8) != 0) throw std::runtime_error("not an archive");
  libdeflate_decompressor* d = libdeflate_alloc_decompressor();
  if (mkdir(dest.c_str(), 0755) != 0 && errno != EEXIST) Fail("cannot make " + dest);
  errno = 0;
  std::vector<std::string> made;
  Bytes out;
  size_t pos = 8;
  while (pos < in.size()) {
    uint64_t nameSize = Get64(in, &pos);
    if (nameSize > in.size() - pos) throw std::runtime_error("archive cut short");
    std::string path(reinterpret_cast<const char*>(in.data() + pos), size_t(nameSize));
    pos += nameSize;
    uint64_t size = Get64(in, &pos), rawSize = Get64(in, &pos);
    if (rawSize > in.size() - pos || size > (uint64_t(1) << 34)) throw std::runtime_error("bad entry");
    out.resize(size_t(size));
    size_t got = 0;
    if (libdeflate_deflate_decompress(d, in.data() + pos, size_t(rawSize), out.data(), out.size(), &got) !=
            LIBDEFLATE_SUCCESS ||
        got != size)
      throw std::runtime_error("bad stream for " + path);
    pos += rawSize;
    MakeParents(dest, path, &made);
    std::string full = dest + "/" + path;
    int fd = open(full.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) Fail("cannot create " + full);
    WriteAll(fd, out.data(), out.size(), full);
    if (close(fd) != 0) Fail("cannot close " + full);
  }
  libdeflate_free_decompressor(d);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc >= 4 && !strcmp(argv[1], "pack")) {
      int level = 6;
      if (argc == 6 && !strcmp(argv[4], "--level")) level = atoi(argv[5]);
      else if (argc != 4) throw std::runtime_error("usage");
      return Pack(argv[2], argv[3], level);
    }
    if (argc == 4 && !strcmp(argv[1], "extract")) return Extract(argv[2], argv[3]);
    fprintf(stderr, "usage: %s pack SRC_DIR ARCHIVE [--level N] | extract ARCHIVE DEST_DIR\n", argv[0]);
    return 2;
  } catch (const std::exception& e) {
    fprintf(stderr, "deflate_extract: %s\n", e.what());
    return 1;
  }
}
