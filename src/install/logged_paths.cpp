#include "install/logged_paths.h"

#include <cstdlib>
#include <cstring>

#include "framework/exceptions.h"

namespace {

// Letter case is folded as CString::CompareNoCase folds it, character by
// character, so that two entries equal without regard to case always have
// the same hash.
DWORD FoldedHash(const char* psz) {
  DWORD h = 2166136261u;  // FNV-1a
  int nLeft = (int)strlen(psz);
  for (int nSize; nLeft > 0; psz += nSize, nLeft -= nSize) {
    UINT c = AfxFoldedChar(psz, nLeft, &nSize);
    if (c > 0xFF) h = (h ^ (c >> 8)) * 16777619u;
    h = (h ^ (c & 0xFF)) * 16777619u;
  }
  return h;
}

// A hash index over the list's entries, so that a membership test does not
// compare against every entry (quadratic over a setup of thousands of
// files). It holds list positions; a candidate is still confirmed with
// CompareNoCase. Entries added to the list directly are taken in at the next
// test; a list that shrank is indexed anew.
class CLoggedPathIndex {
 public:
  BOOL Contains(const CStringArray& arr, const char* pszPath) {
    Update(arr);
    if (m_nSlots == 0) return FALSE;
    DWORD h = FoldedHash(pszPath);
    for (UINT i = h & (m_nSlots - 1);; i = (i + 1) & (m_nSlots - 1)) {
      int nEntry = m_pSlots[i].nEntry;
      if (nEntry < 0) return FALSE;
      if (m_pSlots[i].dwHash == h && arr[nEntry].CompareNoCase(pszPath) == 0) return TRUE;
    }
  }

 private:
  struct Slot {
    DWORD dwHash;
    int nEntry;  // list position, -1 for a free slot
  };

  void Update(const CStringArray& arr) {
    int n = arr.GetSize();
    if (n < m_nIndexed) Rebuild(0);
    else if ((UINT)n * 2 >= m_nSlots) Rebuild((UINT)n);
    for (; m_nIndexed < n; ++m_nIndexed) Insert(FoldedHash(arr[m_nIndexed]), m_nIndexed);
  }

  // Room for at least twice nFor entries; nothing indexed.
  void Rebuild(UINT nFor) {
    UINT nSlots = 64;
    while (nSlots < nFor * 2 + 2) nSlots *= 2;
    Slot* p = (Slot*)malloc(sizeof(Slot) * nSlots);
    if (p == nullptr) AfxThrowMemoryException();
    for (UINT i = 0; i < nSlots; ++i) p[i].nEntry = -1;
    free(m_pSlots);
    m_pSlots = p;
    m_nSlots = nSlots;
    m_nIndexed = 0;
  }

  void Insert(DWORD h, int nEntry) {
    UINT i = h & (m_nSlots - 1);
    while (m_pSlots[i].nEntry >= 0) i = (i + 1) & (m_nSlots - 1);
    m_pSlots[i].dwHash = h;
    m_pSlots[i].nEntry = nEntry;
  }

  Slot* m_pSlots = nullptr;  // kept until the process ends, like the list
  UINT m_nSlots = 0;
  int m_nIndexed = 0;
};

CLoggedPathIndex& LoggedPathIndex() {
  static CLoggedPathIndex s_index;
  return s_index;
}

}  // namespace

CStringArray& LoggedPaths() {
  static CStringArray s_arrLoggedPaths;
  return s_arrLoggedPaths;
}

BOOL IsPathLogged(const char* pszPath) {
  return LoggedPathIndex().Contains(LoggedPaths(), pszPath != nullptr ? pszPath : "");
}

void AddLoggedPath(const char* pszPath) {
  if (!IsPathLogged(pszPath)) LoggedPaths().Add(CString(pszPath));
}

const CString& Win16PlatformDir() {
  static const CString s_strWin16("win16\\");
  return s_strWin16;
}
