#include "pack/payload_writer.h"

#include <cstring>
#include <memory>

#include "framework/file.h"
#include "pack/encoder.h"
#include "payload/archive.h"
#include "payload/catalogue.h"

namespace sfx::pack {
namespace {

const uint64_t kMaxPayload = 0xFFFFFFFFull;

// Runs fn, turning a framework exception into a PayloadError.
template <class Fn>
auto Guarded(const std::string& what, Fn fn) -> decltype(fn()) {
  try {
    return fn();
  } catch (CException* e) {
    std::string message = what + ": " + (const char*)e->GetErrorMessage();
    e->Delete();
    throw PayloadError(message);
  }
}

CString ToCString(const std::string& s) {
  if (s.size() > 0x7FFFFFFEu) throw PayloadError("string too long for the catalogue: " + s.substr(0, 40));
  return CString(s.data(), (int)s.size());
}

Bytes StreamFor(const FileEntry& file, int level) {
  if (file.stream) return *file.stream;
  if (file.data.size() >= kMaxPayload) throw PayloadError("file too large: " + file.name);
  // An empty vector's data() may be null; the encoder and its check are
  // handed a valid pointer whatever the size.
  static const uint8_t kNoBytes[1] = {0};
  const uint8_t* data = file.data.empty() ? kNoBytes : file.data.data();
  Bytes stream;
  try {
    stream = EncodeStream(data, file.data.size(), level);
  } catch (const std::exception& e) {
    throw PayloadError("compressing " + file.name + ": " + e.what());
  }
  // What goes into a payload is what the stub will decode, checked here
  // rather than on the user's machine.
  bool ok = Guarded("checking the stream of " + file.name,
                    [&] { return VerifyStream(stream, data, file.data.size()); });
  if (!ok) throw PayloadError("the stream of " + file.name + " does not decode back to it");
  return stream;
}

// What a storing archive writes, as a byte vector.
template <class Fn>
Bytes StoreArchive(Fn serialize) {
  CMemFile mem;
  CArchive ar(&mem, CArchive::store);
  serialize(ar);
  ar.Close();
  return Bytes(mem.GetData(), mem.GetData() + mem.GetLength());
}

// Owns the objects of a CObArray built here.
struct OwnedObArray {
  CObArray arr;
  ~OwnedObArray() {
    for (int i = 0; i < arr.GetSize(); ++i) delete arr.GetAt(i);
  }
};

CIndexArray* MakeIndexArray(const std::vector<uint32_t>& indices) {
  auto list = std::make_unique<CIndexArray>();
  for (uint32_t index : indices) list->m_dwIndices.Add(index);
  return list.release();
}

// A data block as the project holds it: locked moveable global memory.
void SetBlock(const Bytes& bytes, DWORD& dwSize, void*& pBlock) {
  dwSize = 0;
  pBlock = nullptr;
  if (bytes.empty()) return;
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
  void* p = h != nullptr ? GlobalLock(h) : nullptr;
  if (p == nullptr) {
    if (h != nullptr) GlobalFree(h);
    throw PayloadError("out of memory for a data block");
  }
  memcpy(p, bytes.data(), bytes.size());
  dwSize = (DWORD)bytes.size();
  pBlock = p;
}

void FillProject(const Project& in, CBuildItems& out) {
  out.m_strProject = ToCString(in.project);
  out.m_strMainProgram = ToCString(in.mainProgram);
  out.m_strExtra = ToCString(in.extra);
  for (const std::string& dir : in.installDirs) out.m_arrInstallDirs.Add(ToCString(dir));
  out.m_wMainInWindowsDir = in.mainInWindowsDir;
  for (const Program& program : in.programs) {
    auto p = std::make_unique<CExecutableItem>();
    p->m_strName = ToCString(program.name);
    p->m_strDir = ToCString(program.dir);
    p->m_dwReserved = program.reserved;
    p->m_nComponent = program.component;
    out.m_arrPrograms.Add(p.release());
  }
  for (const Item& item : in.items) {
    auto p = std::make_unique<CBuildItem>();
    p->m_strName = ToCString(item.name);
    p->m_strDestDir = ToCString(item.destDir);
    p->m_strPlatformDir = ToCString(item.platformDir);
    p->m_strSourcePath = ToCString(item.sourcePath);
    p->m_bPlatformSpecific = item.platformSpecific;
    p->m_dwVersionMS = item.versionMS;
    p->m_dwVersionLS = item.versionLS;
    p->m_dwSize = item.size;
    out.m_arrItems.Add(p.release());
  }
  for (const auto& list : in.components) out.m_arrComponents.Add(MakeIndexArray(list));
  for (const auto& list : in.platforms) out.m_arrPlatforms.Add(MakeIndexArray(list));
  SetBlock(in.block1, out.m_dwBlock1Size, out.m_pBlock1);
  SetBlock(in.block2, out.m_dwBlock2Size, out.m_pBlock2);
}

}  // namespace

Bytes WriteFileTableArchive(const Catalogue& catalogue, const std::vector<uint32_t>& starts,
                            const std::vector<uint32_t>& ends) {
  return Guarded("writing the file table", [&] {
    OwnedObArray table;
    for (size_t i = 0; i < catalogue.files.size(); ++i) {
      const FileEntry& file = catalogue.files[i];
      auto entry = std::make_unique<CCompFileInfo>();
      entry->m_ctime = file.ctime;
      entry->m_mtime = file.mtime;
      entry->m_attribute = file.attribute;
      entry->m_strName = ToCString(file.name);
      entry->m_dwVersionMS = file.versionMS;
      entry->m_dwVersionLS = file.versionLS;
      entry->m_dwStart = i < starts.size() ? starts[i] : 0;
      entry->m_dwEnd = i < ends.size() ? ends[i] : 0;
      table.arr.Add(entry.release());
    }
    return StoreArchive([&](CArchive& ar) { SerializeFileTable(ar, table.arr); });
  });
}

Bytes WriteProjectArchive(const Project& project) {
  return Guarded("writing the project", [&] {
    CBuildItems items;  // deletes what FillProject gives it
    FillProject(project, items);
    return StoreArchive([&](CArchive& ar) { items.Serialize(ar); });
  });
}

Payload WritePayload(const Catalogue& catalogue, const PayloadOptions& options) {
  if (options.level < 0 || options.level > 12) throw PayloadError("compression level must be 0 to 12");
  Payload result;
  PayloadLayout& layout = result.layout;
  Bytes& out = result.bytes;
  AppendDword(out, 0);  // L, filled in below

  for (const FileEntry& file : catalogue.files) {
    Bytes stream = StreamFor(file, options.level);
    if (out.size() + stream.size() > kMaxPayload) throw PayloadError("payload of 4 GiB or more");
    layout.starts.push_back((uint32_t)out.size());
    out.insert(out.end(), stream.begin(), stream.end());
    layout.ends.push_back((uint32_t)out.size());
  }
  layout.dataLength = (uint32_t)(out.size() - 4);
  for (int i = 0; i < 4; ++i) out[i] = (uint8_t)(layout.dataLength >> (8 * i));

  Bytes fileTable = WriteFileTableArchive(catalogue, layout.starts, layout.ends);
  Bytes project = WriteProjectArchive(catalogue.project);
  if (out.size() + 4 + fileTable.size() + project.size() > kMaxPayload)
    throw PayloadError("payload of 4 GiB or more");

  layout.fileTableLength = (uint32_t)fileTable.size();
  AppendDword(out, options.fileTableLength.value_or(layout.fileTableLength));
  layout.fileTableOffset = (uint32_t)out.size();
  out.insert(out.end(), fileTable.begin(), fileTable.end());
  layout.projectOffset = (uint32_t)out.size();
  layout.projectLength = (uint32_t)project.size();
  out.insert(out.end(), project.begin(), project.end());
  return result;
}

void AppendDword(Bytes& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back((uint8_t)(v >> (8 * i)));
}

}  // namespace sfx::pack
