// Archive 2, the project, loaded as OpenPayload loads it (the root object
// with no tag). A project that loads must store to bytes that load again to
// the same project.
#include "archive_roundtrip.h"
#include "payload/catalogue.h"

SFX_FUZZ_TARGET(project) {
  using namespace sfx::fuzz;
  CBuildItems project;
  DWORD consumed = 0;
  if (!LoadArchive(data, size, [&](CArchive& ar) { project.Serialize(ar); }, &consumed)) return 0;

  const CObArray* arrays[] = {&project.m_arrPrograms, &project.m_arrItems, &project.m_arrComponents,
                              &project.m_arrPlatforms};
  const CRuntimeClass* classes[] = {RUNTIME_CLASS(CExecutableItem), RUNTIME_CLASS(CBuildItem),
                                    RUNTIME_CLASS(CIndexArray), RUNTIME_CLASS(CIndexArray)};
  for (int a = 0; a < 4; ++a)
    for (int i = 0; i < arrays[a]->GetSize(); ++i)
      FUZZ_CHECK(arrays[a]->GetAt(i) != nullptr && arrays[a]->GetAt(i)->IsKindOf(classes[a]),
                 "a project array holds an element of the wrong kind");
  FUZZ_CHECK((project.m_dwBlock1Size == 0) == (project.m_pBlock1 == nullptr), "block 1 size and pointer disagree");
  FUZZ_CHECK((project.m_dwBlock2Size == 0) == (project.m_pBlock2 == nullptr), "block 2 size and pointer disagree");

  std::vector<uint8_t> stored = StoreArchive([&](CArchive& ar) { project.Serialize(ar); });
  FUZZ_CHECK(stored.size() <= consumed, "canonical form is longer than the input it came from");
  CBuildItems again;
  DWORD consumedAgain = 0;
  FUZZ_CHECK(LoadArchive(stored.data(), stored.size(), [&](CArchive& ar) { again.Serialize(ar); }, &consumedAgain),
             "stored project does not load");
  FUZZ_CHECK(consumedAgain == stored.size(), "stored project is not read to its end");
  std::vector<uint8_t> storedAgain = StoreArchive([&](CArchive& ar) { again.Serialize(ar); });
  FUZZ_CHECK(storedAgain == stored, "project changed in a load/store round trip");
  return 0;
}
