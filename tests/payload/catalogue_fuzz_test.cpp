// Thousands of damaged catalogues through the loader, as OpenPayload reads
// them: the file table, Close, then the project from where archive 1 ended.
// Every load must return or throw one of the framework's file, archive or
// memory exceptions, leak nothing (the leak checker runs at exit) and never
// make an allocation that the input's size cannot justify.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>

#include "archive_test_util.h"
#include "payload/catalogue.h"
#include "payload/owned_arrays.h"

using namespace sfx::test;

#if defined(__SANITIZE_ADDRESS__)
#define SFX_HAVE_MALLOC_HOOKS 1
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, size_t),
                                                        void (*)(const volatile void*));
#endif

namespace {

// The largest single allocation while g_watch is set.
std::atomic<bool> g_watch{false};
std::atomic<size_t> g_largest{0};

#ifdef SFX_HAVE_MALLOC_HOOKS
void OnMalloc(const volatile void*, size_t size) {
  if (!g_watch.load(std::memory_order_relaxed)) return;
  size_t prev = g_largest.load(std::memory_order_relaxed);
  while (size > prev && !g_largest.compare_exchange_weak(prev, size)) {
  }
}
void OnFree(const volatile void*) {}
bool InstallHooks() { return __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree) != 0; }
#else
bool InstallHooks() { return false; }
#endif

// Installed once per process; FALSE without AddressSanitizer, where the
// largest allocation is not watched (and stays 0).
bool Hooked() {
  static const bool hooked = InstallHooks();
  return hooked;
}

// The most one load may ask for at once: 16 bytes of array slot or map
// entry per input byte at worst (a string array of empty strings; the map
// doubling), with room for the fixed buffers.
size_t Allowance(size_t inputSize) { return 32 * inputSize + 16384; }

// A valid catalogue: archive 1 then archive 2, with every kind of member.
ByteVec ValidCatalogue(int nFiles, bool withBlocks) {
  CObArray table;
  CBuildItems project;
  for (int i = 0; i < nFiles; ++i) {
    auto* e = new CCompFileInfo;
    e->m_strName.Format("file%d.dll", i);
    e->m_dwStart = 4 + 10 * i;
    e->m_dwEnd = 14 + 10 * i;
    e->m_ctime = 946684800 + i;
    table.Add(e);
    auto* item = new CBuildItem;
    item->m_strName = e->m_strName;
    item->m_strDestDir = "%sysdir%";
    item->m_strPlatformDir = i % 2 ? "win32\\" : "";
    item->m_strSourcePath = "C:\\src\\";
    item->m_bPlatformSpecific = i % 2;
    project.m_arrItems.Add(item);
  }
  auto* prog = new CExecutableItem;
  prog->m_strName = "run.exe";
  prog->m_strDir = "%inst%";
  project.m_arrPrograms.Add(prog);
  project.m_arrInstallDirs.Add("");
  project.m_arrInstallDirs.Add("C:\\Program Files\\X\\");
  project.m_arrPlatforms.Add(NewIndexList({}));
  project.m_arrPlatforms.Add(NewIndexList({1, 3}));
  project.m_arrComponents.Add(NewIndexList({0, 1, 2, 3}));
  project.m_strProject = "Fuzz";
  project.m_strMainProgram = "file0.dll";
  if (withBlocks) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 40);
    project.m_pBlock1 = GlobalLock(h);
    memset(project.m_pBlock1, 0x42, 40);
    project.m_dwBlock1Size = 40;
  }
  ByteVec bytes = Store([&](CArchive& ar) { SerializeFileTable(ar, table); });
  ByteVec a2 = Store([&](CArchive& ar) { project.Serialize(ar); });
  bytes.insert(bytes.end(), a2.begin(), a2.end());
  DeleteFileTable(table);
  return bytes;
}

const uint32_t kBigValues[] = {0xFFFFFFFF, 0xFFFFFFFE, 0x7FFFFFFF, 0x40000000, 0x3FFFFFFE,
                               0x80000000, 0x0000FFFF, 0x00010000, 0x7FFF,     0x8000};

ByteVec Mutate(ByteVec v, std::mt19937& rng) {
  auto pick = [&](size_t n) { return n == 0 ? 0 : (size_t)(rng() % n); };
  int kind = (int)(rng() % 6);
  switch (kind) {
    case 0: {  // flip a few bytes
      int n = 1 + (int)(rng() % 4);
      for (int i = 0; i < n && !v.empty(); ++i) v[pick(v.size())] = (uint8_t)rng();
      break;
    }
    case 1:  // truncate
      v.resize(pick(v.size() + 1));
      break;
    case 2: {  // insert a big count: WORD 0xFFFF and a large DWORD
      uint32_t big = kBigValues[pick(std::size(kBigValues))];
      ByteVec count = B().w(0xFFFF).d(big);
      size_t at = pick(v.size() + 1);
      v.insert(v.begin() + at, count.begin(), count.end());
      break;
    }
    case 3: {  // overwrite a value with a large one
      if (v.size() < 4) break;
      uint32_t big = kBigValues[pick(std::size(kBigValues))];
      size_t at = pick(v.size() - 3);
      for (int i = 0; i < 4; ++i) v[at + i] = (uint8_t)(big >> (8 * i));
      break;
    }
    case 4: {  // insert random bytes
      size_t n = 1 + pick(16);
      size_t at = pick(v.size() + 1);
      for (size_t i = 0; i < n; ++i) v.insert(v.begin() + at, (uint8_t)rng());
      break;
    }
    default: {  // remove a span
      if (v.empty()) break;
      size_t at = pick(v.size());
      size_t n = 1 + pick(std::min<size_t>(16, v.size() - at));
      v.erase(v.begin() + at, v.begin() + at + n);
      break;
    }
  }
  return v;
}

enum class Outcome { ok, archive, file, memory, unexpected };

// Loads like OpenPayload. bGenericTable: the file table through the
// generic CObArray::Serialize, which accepts any element.
Outcome LoadCatalogue(const ByteVec& bytes, bool bGenericTable) {
  NamedMemFile file(bytes, "C:\\fuzz\\setup.exe");
  CObArray table;
  CBuildItems* project = new CBuildItems;
  Outcome outcome = Outcome::ok;
  try {
    CArchive ar1(&file, CArchive::load);
    if (bGenericTable)
      table.Serialize(ar1);
    else
      SerializeFileTable(ar1, table);
    ar1.Close();
    CArchive ar2(&file, CArchive::load);
    project->Serialize(ar2);
    ar2.Close();
  } catch (CArchiveException* e) {
    outcome = Outcome::archive;
    e->Delete();
  } catch (CFileException* e) {
    outcome = Outcome::file;
    e->Delete();
  } catch (CMemoryException* e) {
    outcome = Outcome::memory;
    e->Delete();
  } catch (CException* e) {
    outcome = Outcome::unexpected;
    e->Delete();
  } catch (...) {
    outcome = Outcome::unexpected;
  }
  DeleteOwnedElements(table);  // each distinct element once, even when repeated
  delete project;
  return outcome;
}

}  // namespace

TEST(CatalogueFuzz, DamagedCataloguesFailCleanly) {
  Hooked();
  const ByteVec seeds[] = {ValidCatalogue(4, false), ValidCatalogue(9, true)};
  for (const ByteVec& seed : seeds) ASSERT_EQ(LoadCatalogue(seed, false), Outcome::ok);

  std::mt19937 rng(20240611);
  int counts[5] = {};
  const int kRuns = 6000;
  for (int run = 0; run < kRuns; ++run) {
    ByteVec bytes;
    if (run % 10 == 9) {  // wholly random bytes
      bytes.resize(rng() % 400);
      for (auto& b : bytes) b = (uint8_t)rng();
    } else {
      bytes = Mutate(seeds[run % 2], rng);
      if (run % 3 == 0) bytes = Mutate(bytes, rng);
    }
    g_largest = 0;
    g_watch = true;
    Outcome outcome = LoadCatalogue(bytes, run % 4 == 3);
    g_watch = false;
    ++counts[(int)outcome];
    ASSERT_NE(outcome, Outcome::unexpected) << "run " << run;
    ASSERT_LE(g_largest.load(), Allowance(bytes.size())) << "run " << run;
  }
  // The mutations reach deep enough to load some catalogues and fail others.
  EXPECT_GT(counts[(int)Outcome::ok], 0);
  EXPECT_GT(counts[(int)Outcome::archive], kRuns / 4);
}

// The watch is real: it sees the loader's own allocations, here a data
// block of the size that the input claims and holds.
TEST(CatalogueFuzz, AllocationWatchSeesBlocks) {
  if (!Hooked()) GTEST_SKIP() << "no allocation hooks in a build without AddressSanitizer";
  ByteVec bytes = B().w(0).w(0).w(0).w(0).w(0).d(100000).bytes(ByteVec(100000, 7)).d(0).w(0).b(0).b(0).b(0);
  NamedMemFile file(bytes);  // its copy of the bytes is made before watching
  CBuildItems project;
  g_largest = 0;
  g_watch = true;
  {
    CArchive ar(&file, CArchive::load);
    project.Serialize(ar);
  }
  g_watch = false;
  EXPECT_GE(g_largest.load(), 100000u);
  EXPECT_EQ(project.m_dwBlock1Size, 100000u);
}
