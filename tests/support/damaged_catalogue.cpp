#include "support/damaged_catalogue.h"

#include <gtest/gtest.h>

#include "support/payload_builder.h"

namespace sfx::test {

const std::vector<CatalogueDamage>& CatalogueDamages() {
  static const std::vector<CatalogueDamage> cases = {
      {"project archive cut short",
       [](pack::Payload& p) { p.bytes.resize(p.layout.projectOffset + 3); },
       // An end of file is raised without a name.
       "An attempt was made to access an unnamed file past its end."},
      {"unknown class in the file table",
       [](pack::Payload& p) {
         std::string text(p.bytes.begin(), p.bytes.end());
         size_t at = text.find("CCompFileInfo", p.layout.fileTableOffset);
         ASSERT_NE(at, std::string::npos);
         p.bytes[at + 12] = 'X';
       },
       "%s contained an unexpected object."},
  };
  return cases;
}

pack::Payload DamagedPayload(const CatalogueDamage& damage) {
  CatalogueBuilder b;
  b.File(Plain("a.txt", "a"));
  pack::Payload payload = b.Write();
  damage.damage(payload);
  return payload;
}

std::string WithSetupPath(const std::string& message, const std::string& setupWindowsPath) {
  std::string text = message;
  size_t at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, setupWindowsPath);
  return text;
}

}  // namespace sfx::test
