#include "support/catalogue_text.h"

#include "payload/catalogue.h"

namespace sfx::test {
namespace {

std::string Join(const std::vector<std::string>& fields) {
  std::string s;
  for (size_t i = 0; i < fields.size(); ++i) s += (i ? "|" : "") + fields[i];
  return s + "\n";
}

std::string N(unsigned long v) { return std::to_string(v); }

std::string ListLine(const char* kind, const std::vector<uint32_t>& indices) {
  std::string s = kind;
  s += ":";
  for (uint32_t i : indices) s += " " + N(i);
  return s + "\n";
}

std::vector<uint32_t> Indices(const CObject* list) {
  const CDWordArray& a = static_cast<const CIndexArray*>(list)->m_dwIndices;
  std::vector<uint32_t> v;
  for (int i = 0; i < a.GetSize(); ++i) v.push_back(a.GetAt(i));
  return v;
}

}  // namespace

std::string DescribeLoaded(const CObArray& fileTable, const CBuildItems& p) {
  std::string s;
  for (int i = 0; i < fileTable.GetSize(); ++i) {
    auto* e = static_cast<CCompFileInfo*>(fileTable.GetAt(i));
    s += "entry: " + Join({e->m_strName.GetString(), N(e->m_ctime), N(e->m_mtime), N(e->m_attribute),
                           N(e->m_dwVersionMS), N(e->m_dwVersionLS), N(e->m_dwStart), N(e->m_dwEnd)});
  }
  s += "project: " + Join({p.m_strProject.GetString(), p.m_strMainProgram.GetString(),
                           p.m_strExtra.GetString(), N(p.m_wMainInWindowsDir)});
  for (int i = 0; i < p.m_arrInstallDirs.GetSize(); ++i)
    s += "installdir: " + std::string(p.m_arrInstallDirs.GetAt(i).GetString()) + "\n";
  for (int i = 0; i < p.m_arrItems.GetSize(); ++i) {
    auto* t = static_cast<CBuildItem*>(p.m_arrItems.GetAt(i));
    s += "item: " + Join({t->m_strName.GetString(), t->m_strDestDir.GetString(),
                          t->m_strPlatformDir.GetString(), t->m_strSourcePath.GetString(),
                          N(t->m_bPlatformSpecific), N(t->m_dwVersionMS), N(t->m_dwVersionLS),
                          N(t->m_dwSize)});
  }
  for (int i = 0; i < p.m_arrPrograms.GetSize(); ++i) {
    auto* x = static_cast<CExecutableItem*>(p.m_arrPrograms.GetAt(i));
    s += "program: " + Join({x->m_strName.GetString(), x->m_strDir.GetString(), N(x->m_dwReserved),
                             N(x->m_nComponent)});
  }
  for (int i = 0; i < p.m_arrComponents.GetSize(); ++i)
    s += ListLine("component", Indices(p.m_arrComponents.GetAt(i)));
  for (int i = 0; i < p.m_arrPlatforms.GetSize(); ++i)
    s += ListLine("platform", Indices(p.m_arrPlatforms.GetAt(i)));
  std::string block1((const char*)p.m_pBlock1, p.m_pBlock1 ? p.m_dwBlock1Size : 0);
  std::string block2((const char*)p.m_pBlock2, p.m_pBlock2 ? p.m_dwBlock2Size : 0);
  s += "blocks: " + Join({N(p.m_dwBlock1Size), block1, N(p.m_dwBlock2Size), block2});
  return s;
}

std::string DescribeCatalogue(const pack::Catalogue& c, const pack::PayloadLayout& layout) {
  std::string s;
  for (size_t i = 0; i < c.files.size(); ++i) {
    const pack::FileEntry& e = c.files[i];
    s += "entry: " + Join({e.name, N(e.ctime), N(e.mtime), N(e.attribute), N(e.versionMS),
                           N(e.versionLS), N(layout.starts[i]), N(layout.ends[i])});
  }
  const pack::Project& p = c.project;
  s += "project: " + Join({p.project, p.mainProgram, p.extra, N(p.mainInWindowsDir)});
  for (const std::string& d : p.installDirs) s += "installdir: " + d + "\n";
  for (const pack::Item& t : p.items)
    s += "item: " + Join({t.name, t.destDir, t.platformDir, t.sourcePath, N(t.platformSpecific),
                          N(t.versionMS), N(t.versionLS), N(t.size)});
  for (const pack::Program& x : p.programs)
    s += "program: " + Join({x.name, x.dir, N(x.reserved), N(x.component)});
  for (const auto& list : p.components) s += ListLine("component", list);
  for (const auto& list : p.platforms) s += ListLine("platform", list);
  s += "blocks: " + Join({N(p.block1.size()), std::string(p.block1.begin(), p.block1.end()),
                          N(p.block2.size()), std::string(p.block2.begin(), p.block2.end())});
  return s;
}

}  // namespace sfx::test
