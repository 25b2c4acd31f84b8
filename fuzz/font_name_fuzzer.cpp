// The TrueType full-name reader on arbitrary bytes, through a CMemFile as
// InstallFont reads the installed file. A name it returns must fit the
// registry value's buffer and stand in the file as it is.
#include <cstring>

#include "framework/file.h"
#include "fuzz_support.h"
#include "install/font.h"

SFX_FUZZ_TARGET(font_name) {
  CMemFile file(data, (UINT)size);
  char name[kFontNameBufferSize];
  memset(name, 0xA5, sizeof name);
  BOOL found = ReadFontFullName(file, name);
  const void* nul = memchr(name, 0, sizeof name);
  FUZZ_CHECK(nul != nullptr, "name buffer is not terminated");
  size_t length = strlen(name);
  FUZZ_CHECK((found != 0) == (length > 0), "result and name disagree");
  FUZZ_CHECK(length <= (size_t)kMaxFontNameLength, "name too long for the registry value");
  if (length > 0)
    FUZZ_CHECK(memmem(data, size, name, length) != nullptr, "name does not stand in the file");
  return 0;
}
