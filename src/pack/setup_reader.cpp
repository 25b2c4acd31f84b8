#include "pack/setup_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "framework/file.h"
#include "pack/integrity_record.h"
#include "pack/setup_writer.h"
#include "payload/archive.h"
#include "payload/catalogue.h"
#include "payload/payload_locator.h"
#include "platform/byte_order.h"

namespace sfx::pack {
namespace {

const uint64_t kMaxFile = 0xFFFFFFFFull;

// Positions of the locator magic in [0, limit).
std::vector<size_t> FindMagic(const Bytes& bytes, size_t limit) {
  const Bytes magic = PayloadLocatorMagic();
  std::vector<size_t> hits;
  for (size_t at = 0; at < limit;) {
    const void* hit = memmem(bytes.data() + at, limit - at, magic.data(), magic.size());
    if (hit == nullptr) break;
    hits.push_back((size_t)((const uint8_t*)hit - bytes.data()));
    at = hits.back() + 1;
  }
  return hits;
}

LocatorInfo ReadLocator(const Bytes& bytes, size_t position) {
  if (!Fits(position, kLocatorSize, bytes.size()))
    throw ReadError("the payload locator at offset " + std::to_string(position) + " is cut short");
  LocatorInfo info;
  info.present = true;
  info.position = position;
  info.word = LoadLe16(bytes.data() + position + 4);
  info.offset = LoadLe32(bytes.data() + position + kLocatorOffsetField);
  info.size = LoadLe32(bytes.data() + position + kLocatorSizeField);
  return info;
}

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string Message(CException* e) {
  std::string text = (const char*)e->GetErrorMessage();
  e->Delete();
  return text;
}

TableEntry ToEntry(const CCompFileInfo& info) {
  TableEntry e;
  e.ctime = info.m_ctime;
  e.mtime = info.m_mtime;
  e.attribute = info.m_attribute;
  e.name.assign(info.m_strName.GetString(), (size_t)info.m_strName.GetLength());
  e.versionMS = info.m_dwVersionMS;
  e.versionLS = info.m_dwVersionLS;
  e.start = info.m_dwStart;
  e.end = info.m_dwEnd;
  return e;
}

std::string Str(const CString& s) { return std::string(s.GetString(), (size_t)s.GetLength()); }

std::vector<std::vector<uint32_t>> IndexLists(const CObArray& arr) {
  std::vector<std::vector<uint32_t>> lists;
  for (int i = 0; i < arr.GetSize(); ++i) {
    const CDWordArray& indices = static_cast<const CIndexArray*>(arr.GetAt(i))->m_dwIndices;
    std::vector<uint32_t> list;
    for (int j = 0; j < indices.GetSize(); ++j) list.push_back(indices.GetAt(j));
    lists.push_back(std::move(list));
  }
  return lists;
}

Bytes Block(const void* p, DWORD size) {
  if (p == nullptr || size == 0) return Bytes();
  return Bytes((const uint8_t*)p, (const uint8_t*)p + size);
}

Project ToProject(const CBuildItems& in) {
  Project out;
  out.project = Str(in.m_strProject);
  out.mainProgram = Str(in.m_strMainProgram);
  out.extra = Str(in.m_strExtra);
  for (int i = 0; i < in.m_arrInstallDirs.GetSize(); ++i) out.installDirs.push_back(Str(in.m_arrInstallDirs.GetAt(i)));
  out.mainInWindowsDir = in.m_wMainInWindowsDir;
  for (int i = 0; i < in.m_arrPrograms.GetSize(); ++i) {
    const auto* p = static_cast<const CExecutableItem*>(in.m_arrPrograms.GetAt(i));
    out.programs.push_back({Str(p->m_strName), Str(p->m_strDir), p->m_dwReserved, p->m_nComponent});
  }
  for (int i = 0; i < in.m_arrItems.GetSize(); ++i) {
    const auto* p = static_cast<const CBuildItem*>(in.m_arrItems.GetAt(i));
    out.items.push_back({Str(p->m_strName), Str(p->m_strDestDir), Str(p->m_strPlatformDir),
                         Str(p->m_strSourcePath), p->m_bPlatformSpecific, p->m_dwVersionMS,
                         p->m_dwVersionLS, p->m_dwSize});
  }
  out.components = IndexLists(in.m_arrComponents);
  out.platforms = IndexLists(in.m_arrPlatforms);
  out.block1 = Block(in.m_pBlock1, in.m_dwBlock1Size);
  out.block2 = Block(in.m_pBlock2, in.m_dwBlock2Size);
  return out;
}

// Deletes the loaded file table however loading ends.
struct FileTableHolder {
  CObArray arr;
  ~FileTableHolder() { DeleteFileTable(arr); }
};

void LoadFileTable(CMemFile& mem, LoadedPayload& out) {
  FileTableHolder table;
  try {
    CArchive ar(&mem, CArchive::load);
    SerializeFileTable(ar, table.arr);
    ar.Close();
  } catch (CException* e) {
    throw ReadError("file table (archive 1): " + Message(e));
  }
  for (int i = 0; i < table.arr.GetSize(); ++i)
    out.files.push_back(ToEntry(*static_cast<const CCompFileInfo*>(table.arr.GetAt(i))));
}

void LoadProject(CMemFile& mem, LoadedPayload& out) {
  CBuildItems project;
  try {
    CArchive ar(&mem, CArchive::load);
    project.Serialize(ar);
    ar.Close();
  } catch (CException* e) {
    throw ReadError("project (archive 2): " + Message(e));
  }
  out.project = ToProject(project);
}

}  // namespace

Bytes ReadHostFile(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw ReadError("cannot open " + path + ": " + strerror(errno));
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    throw ReadError(path + " is not a regular file");
  }
  if ((uint64_t)st.st_size > kMaxFile) {
    close(fd);
    throw ReadError(path + " is 4 GiB or larger");
  }
  Bytes bytes((size_t)st.st_size);
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = read(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int err = n < 0 ? errno : EIO;
      close(fd);
      throw ReadError("cannot read " + path + ": " + strerror(err));
    }
    done += (size_t)n;
  }
  close(fd);
  return bytes;
}

namespace {

// Without a locator the payload runs to the file's end, less an integrity
// record that closes the file.
void PlaceBarePayload(SetupFile& setup) {
  setup.payloadEnd = setup.bytes.size();
  size_t record = TrailingRecordLength(setup.payload(), setup.payloadSize());
  if (record == 0) return;
  setup.payloadEnd -= record;
  setup.recordLength = record;
}

// With a locator the payload is the size it gives (the whole rest of the
// file when that is too large: verify reports it); a record directly after
// it is noted, whatever follows (a signature's certificate table).
void PlaceLocatedPayload(SetupFile& setup) {
  const LocatorInfo& loc = setup.locator;
  setup.payloadEnd = setup.bytes.size();
  if ((uint64_t)loc.offset + loc.size > setup.bytes.size()) return;
  setup.payloadEnd = loc.offset + (size_t)loc.size;
  const size_t rest = setup.bytes.size() - setup.payloadEnd;
  if (!StartsIntegrityRecord(setup.record(), rest)) return;
  try {
    ParseIntegrityRecord(setup.record(), rest, &setup.recordLength);
  } catch (const ReadError&) {
    setup.recordLength = rest;  // damaged: verify says how
  }
}

}  // namespace

SetupFile ReadSetupFile(const std::string& path, PayloadSource source) {
  SetupFile setup;
  setup.path = path;
  setup.payloadPath = path;
  setup.bytes = ReadHostFile(path);
  if (source == PayloadSource::Payload) {
    PlaceBarePayload(setup);
    return setup;
  }

  std::vector<size_t> hits = FindMagic(setup.bytes, setup.bytes.size());
  if (hits.empty()) {  // a bare payload or a "Data.bin"
    PlaceBarePayload(setup);
    return setup;
  }
  setup.locator = ReadLocator(setup.bytes, hits[0]);
  const LocatorInfo& loc = setup.locator;
  if (loc.offset != 0) {
    if (loc.offset > setup.bytes.size())
      throw ReadError("the locator's payload offset " + std::to_string(loc.offset) +
                      " lies beyond the end of " + path);
    if (loc.offset < loc.position + kLocatorSize)
      throw ReadError("the locator's payload offset " + std::to_string(loc.offset) +
                      " lies before the locator's end");
    // Copies of the magic inside the payload (a packed setup, say) are data.
    if (FindMagic(setup.bytes, loc.offset).size() != 1)
      throw ReadError(path + " holds more than one payload locator");
    setup.payloadStart = loc.offset;
    PlaceLocatedPayload(setup);
    setup.signature = ReadPeSignature(setup.bytes.data(), setup.bytes.size());
    // Only what follows the payload and its record counts as added by
    // signing: a table that starts inside them leaves the payload unsigned,
    // which verify reports.
    const size_t contentEnd = setup.payloadEnd + setup.recordLength;
    if (setup.signature.endsFile && setup.signature.tableOffset >= setup.payloadStart)
      setup.signatureBytes = setup.bytes.size() -
                             std::max(contentEnd, SignedContentEnd(setup.signature, setup.bytes.data(),
                                                                   setup.bytes.size(), contentEnd));
    return setup;
  }
  if (hits.size() != 1) throw ReadError(path + " holds more than one payload locator");
  // No offset: the stub reads "Data.bin" in its own directory.
  std::string dataPath = DirectoryOf(path) + "/" + kDataFileName;
  if (access(dataPath.c_str(), F_OK) != 0)
    throw ReadError(path + " carries no payload and there is no " + kDataFileName + " beside it");
  setup.payloadPath = dataPath;
  setup.bytes = ReadHostFile(dataPath);
  PlaceBarePayload(setup);
  return setup;
}

LoadedPayload LoadPayload(const uint8_t* payload, size_t size) {
  if (size > kMaxFile) throw ReadError("payload of 4 GiB or more");
  if (size < 4) throw ReadError("payload of " + std::to_string(size) + " bytes ends inside its data length");
  LoadedPayload out;
  LoadedLayout& layout = out.layout;
  layout.payloadSize = (uint32_t)size;
  layout.dataLength = LoadLe32(payload);
  if (!Fits(4, (uint64_t)layout.dataLength + 4, size))
    throw ReadError("payload of " + std::to_string(size) + " bytes ends inside its stream area of " +
                    std::to_string(layout.dataLength) + " bytes or the file-table length after it");
  layout.fileTableField = LoadLe32(payload + 4 + layout.dataLength);
  layout.fileTableOffset = layout.dataLength + 8;

  CMemFile mem(payload, (UINT)size);
  mem.Seek((LONG)layout.fileTableOffset, CFile::begin);
  LoadFileTable(mem, out);
  layout.projectOffset = mem.GetPosition();
  layout.fileTableLength = layout.projectOffset - layout.fileTableOffset;
  LoadProject(mem, out);
  layout.projectLength = mem.GetPosition() - layout.projectOffset;
  return out;
}

}  // namespace sfx::pack
