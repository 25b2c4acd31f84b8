#include "pack/setup_writer.h"

#include <cstring>
#include <filesystem>
#include <fstream>

#include "payload/payload_locator.h"
#include "platform/byte_order.h"

namespace fs = std::filesystem;

namespace sfx::pack {
namespace {

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw SetupError("cannot read " + path);
  // One bulk read: stubs are megabytes, and a byte-wise copy is slow in
  // unoptimised builds.
  in.seekg(0, std::ios::end);
  std::streamoff size = in.tellg();
  in.seekg(0, std::ios::beg);
  if (size < 0) throw SetupError("cannot read " + path);
  std::vector<uint8_t> bytes((size_t)size);
  in.read((char*)bytes.data(), size);
  if (in.gcount() != size) throw SetupError("cannot read " + path);
  return bytes;
}

void WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw SetupError("cannot write " + path);
  out.write((const char*)bytes.data(), (std::streamsize)bytes.size());
  out.close();
  if (!out) throw SetupError("cannot write " + path);
}

}  // namespace

const char kDataFileName[] = "Data.bin";

std::vector<uint8_t> PayloadLocatorMagic() {
  // Assembled at run time rather than spelled as one literal, so that no
  // binary built from this code carries a second copy of the magic that a
  // search could take for a locator.
  std::vector<uint8_t> magic = {'w', 'w'};
  magic.push_back('e');
  magic.push_back('W');
  magic.push_back(0x98);
  magic.push_back(0x54);
  return magic;
}

size_t FindPayloadLocator(const std::vector<uint8_t>& stub) {
  const std::vector<uint8_t> magic = PayloadLocatorMagic();
  size_t found = 0, count = 0;
  // memmem rather than std::search: the scan covers the whole stub.
  for (size_t at = 0; at < stub.size();) {
    const void* hit = memmem(stub.data() + at, stub.size() - at, magic.data(), magic.size());
    if (hit == nullptr) break;
    found = (size_t)((const uint8_t*)hit - stub.data());
    ++count;
    at = found + 1;
  }
  if (count == 0) throw SetupError("the stub holds no payload locator");
  if (count > 1) throw SetupError("the stub holds more than one payload locator");
  if (!Fits(found, kLocatorSize, stub.size())) throw SetupError("the stub's payload locator is cut short");
  return found;
}

LocatorFields ReadPayloadLocator(const std::vector<uint8_t>& image, size_t position) {
  if (!Fits(position, kLocatorSize, image.size()))
    throw SetupError("payload locator outside the image");
  return {LoadLe32(&image[position + kLocatorOffsetField]), LoadLe32(&image[position + kLocatorSizeField])};
}

std::vector<uint8_t> MakeSetupImage(const std::vector<uint8_t>& stub,
                                    const std::vector<uint8_t>& payload) {
  size_t position = FindPayloadLocator(stub);
  if (ReadPayloadLocator(stub, position).offset != 0)
    throw SetupError("the stub already carries a payload");
  if ((uint64_t)stub.size() + payload.size() > 0xFFFFFFFFull)
    throw SetupError("setup executable of 4 GiB or more");
  std::vector<uint8_t> image;
  image.reserve(stub.size() + payload.size());
  image.insert(image.end(), stub.begin(), stub.end());
  image.insert(image.end(), payload.begin(), payload.end());
  StoreLe32(&image[position + kLocatorOffsetField], (uint32_t)stub.size());
  StoreLe32(&image[position + kLocatorSizeField], (uint32_t)payload.size());
  return image;
}

void WriteSetupExecutable(const std::string& stubPath, const std::vector<uint8_t>& payload,
                          const std::string& outPath) {
  WriteWholeFile(outPath, MakeSetupImage(ReadWholeFile(stubPath), payload));
  std::error_code ec;
  fs::permissions(outPath, fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                  fs::perm_options::add, ec);
  if (ec) throw SetupError("cannot make " + outPath + " executable: " + ec.message());
}

std::string WriteDataFile(const std::string& directory, const std::vector<uint8_t>& payload) {
  std::string path = (fs::path(directory) / kDataFileName).string();
  WriteWholeFile(path, payload);
  return path;
}

}  // namespace sfx::pack
