// The stream decoder on arbitrary bytes, read from a CMemFile as the stub
// reads the payload, with the output bounded. Checked against the simple
// bit-by-bit decoder of the tests: same verdict, same bytes on success, and
// only the whole 32 KiB windows decoded before a failure.
#include <algorithm>
#include <vector>

#include "framework/file.h"
#include "fuzz_support.h"
#include "inflate/inflater.h"
#include "inflate/reference_decoder.h"

namespace {

const size_t kWindow = 32768;
const size_t kWindows = 16;  // whole windows kept: 512 KiB
// Output of this length or more is refused: the 16 windows and any final
// remainder fit, a 17th whole window does not.
const size_t kRefused = (kWindows + 1) * kWindow;

// Keeps what is written below the bound and refuses any write that reaches
// it, as a full disk would.
class BoundedOutput : public CMemFile {
 public:
  void Write(const void* p, UINT n) override {
    if (data.size() + n >= kRefused) AfxThrowFileException(CFileException::diskFull);
    data.insert(data.end(), (const uint8_t*)p, (const uint8_t*)p + n);
  }
  std::vector<uint8_t> data;
};

}  // namespace

SFX_FUZZ_TARGET(inflate) {
  CMemFile input(data, (UINT)size);
  BoundedOutput output;
  CInflater inflater;
  int verdict;  // 1 decoded, 0 failed, -1 output refused
  try {
    verdict = inflater.Decode(&output, &input) ? 1 : 0;
  } catch (CFileException* e) {
    e->Delete();
    verdict = -1;
  }

  std::vector<uint8_t> stream(data, data + size);
  sfx::test::ReferenceDecoder ref(stream, kRefused);
  int r = ref.Run();
  const std::vector<uint8_t>& out = output.data;
  if (ref.out.size() >= kRefused) {
    // The decoder filled a 17th window and its write was refused: it holds
    // exactly the windows before it.
    FUZZ_CHECK(verdict == -1, "output past the bound was not written");
    FUZZ_CHECK(out.size() == kWindows * kWindow, "refused write left a partial window");
    FUZZ_CHECK(std::equal(out.begin(), out.end(), ref.out.begin()), "output differs from the reference");
    return 0;
  }
  FUZZ_CHECK(verdict != -1, "a write was refused below the bound");
  FUZZ_CHECK((verdict == 1) == (r == 0), "verdict differs from the reference decoder's");
  if (r == 0) {
    FUZZ_CHECK(out == ref.out, "decoded bytes differ from the reference");
  } else {
    FUZZ_CHECK(out.size() == ref.out.size() / kWindow * kWindow, "a failed decode left more than whole windows");
    FUZZ_CHECK(std::equal(out.begin(), out.end(), ref.out.begin()), "output before the failure differs");
  }
  return 0;
}
