#include "pack/verify.h"

#include <algorithm>

#include "pack/destination_check.h"
#include "pack/path_variables.h"
#include "pack/stream_decode.h"

namespace sfx::pack {
namespace {

using std::to_string;

std::string EntryLabel(size_t i, const std::string& name) {
  return "entry " + to_string(i) + " (\"" + name + "\")";
}

void CheckLocator(const SetupFile& setup, std::vector<std::string>& problems) {
  const LocatorInfo& loc = setup.locator;
  if (!loc.present || loc.offset == 0) return;
  if (loc.word != 0x5498) problems.push_back("locator: word is " + to_string(loc.word) + ", not 21656 (0x5498)");
  if ((uint64_t)loc.size != setup.payloadSize())
    problems.push_back("locator: payload size is " + to_string(loc.size) + " but " +
                       to_string(setup.payloadSize()) + " bytes follow the payload offset");
  CheckAfterPayload(setup, problems);
}

// A signature is reported; one that leaves part of the payload unsigned, or
// that cannot be read, is a problem: the file would show as signed while
// what it installs is not.
void CheckSignature(const SetupFile& setup, VerifyReport& report) {
  const PeSignature& sig = setup.signature;
  if (!sig.pe || setup.payloadStart == 0) return;
  if (!sig.present) {
    report.signature = "none";
    return;
  }
  const size_t payloadEnd = setup.payloadStart + setup.payloadSize();
  const bool covered = sig.endsFile && sig.tableOffset >= payloadEnd;
  report.signature = "signed by \"" + (sig.signer.empty() ? "?" : sig.signer) + "\"; signed range [0, " +
                     to_string(sig.tableOffset) + ") " + (covered ? "covers" : "does not cover") +
                     " the whole payload [" + to_string(setup.payloadStart) + ", " + to_string(payloadEnd) + ")";
  if (!sig.problem.empty()) report.problems.push_back("signature: " + sig.problem);
  if (!covered)
    report.problems.push_back(sig.endsFile ? "signature: the payload lies outside the signed range"
                                           : "signature: the certificate table does not end the file");
}

// Offsets in range and tiling: first at 4, each start at the previous end,
// the last end at 4 + L.
void CheckTiling(const LoadedPayload& p, std::vector<std::string>& problems) {
  uint64_t expected = 4;
  const uint64_t areaEnd = 4 + (uint64_t)p.layout.dataLength;
  for (size_t i = 0; i < p.files.size(); ++i) {
    const TableEntry& e = p.files[i];
    if (e.start != expected)
      problems.push_back(EntryLabel(i, e.name) + ": starts at " + to_string(e.start) + ", expected " +
                         to_string(expected));
    if (e.end < e.start)
      problems.push_back(EntryLabel(i, e.name) + ": ends at " + to_string(e.end) + ", before its start " +
                         to_string(e.start));
    if (e.end > areaEnd || e.start > areaEnd)
      problems.push_back(EntryLabel(i, e.name) + ": stream [" + to_string(e.start) + ", " + to_string(e.end) +
                         ") runs past the stream area's end " + to_string(areaEnd));
    expected = e.end;
  }
  if (expected != areaEnd)
    problems.push_back("stream area: the streams end at " + to_string(expected) + ", the area at " +
                       to_string(areaEnd));
}

void CheckStream(const SetupFile& setup, const LoadedPayload& p, size_t i, VerifyReport& report,
                 const std::function<void(uint64_t)>& decoded) {
  const TableEntry& e = p.files[i];
  const uint64_t areaEnd = 4 + (uint64_t)p.layout.dataLength;
  if (e.start >= e.end || e.end > areaEnd) return;  // no stream, or reported by the tiling
  ByteSink sink;
  if (decoded) sink = [&decoded](const uint8_t*, size_t n) { decoded(n); };
  DecodeOutcome out = DecodeStream(setup.payload(), setup.payloadSize(), e.start, sink);
  report.streams++;
  report.decodedBytes += out.written;
  const uint64_t length = e.end - e.start;
  if (out.result != 0)
    report.problems.push_back(EntryLabel(i, e.name) + ": stream at " + to_string(e.start) +
                              " fails to decode (result " + to_string(out.result) + ")");
  else if (out.consumed != length)
    report.problems.push_back(EntryLabel(i, e.name) + ": stream ends at " + to_string(e.start + out.consumed) +
                              ", m_dwEnd is " + to_string(e.end));
  // The format has no checksum; the item's size (written by the packer,
  // unused by the stub) is the one cross-check of the decoded bytes.
  else if (i < p.project.items.size() && out.written != p.project.items[i].size)
    report.problems.push_back(EntryLabel(i, e.name) + ": decodes to " + to_string(out.written) +
                              " bytes, the item's size is " + to_string(p.project.items[i].size));
}

void CheckIndexLists(const char* what, const std::vector<std::vector<uint32_t>>& lists, uint64_t limit,
                     std::vector<std::string>& problems) {
  for (size_t l = 0; l < lists.size(); ++l)
    for (size_t k = 0; k < lists[l].size(); ++k)
      if (lists[l][k] >= limit)
        problems.push_back(std::string(what) + " " + to_string(l) + ": index " + to_string(lists[l][k]) +
                           " at position " + to_string(k) + " is out of range (" + to_string(limit) +
                           " usable items)");
}

void CheckCatalogue(const LoadedPayload& p, std::vector<std::string>& problems) {
  for (size_t i = 0; i < p.files.size(); ++i)
    if (!IsPlainName(p.files[i].name))
      problems.push_back(EntryLabel(i, p.files[i].name) + ": name is not a plain file name");
  for (size_t i = 0; i < p.project.items.size(); ++i)
    if (!IsPlainName(p.project.items[i].name))
      problems.push_back("item " + to_string(i) + " (\"" + p.project.items[i].name +
                         "\"): name is not a plain file name");
  if (p.project.components.empty()) problems.push_back("project: no component list 0");
  if (p.project.platforms.size() < 2) problems.push_back("project: no platform list 1");
  // An index names both an item and a file-table entry.
  uint64_t limit = std::min(p.files.size(), p.project.items.size());
  CheckIndexLists("component", p.project.components, limit, problems);
  CheckIndexLists("platform list", p.project.platforms, limit, problems);
  CheckProjectDestinations(p.project, problems);
}

void CheckLayout(const LoadedPayload& p, std::vector<std::string>& problems) {
  const LoadedLayout& l = p.layout;
  if (l.fileTableField != l.fileTableLength)
    problems.push_back("layout: file-table length A is " + to_string(l.fileTableField) + ", archive 1 takes " +
                       to_string(l.fileTableLength) + " bytes");
  uint64_t end = (uint64_t)l.projectOffset + l.projectLength;
  if (end != l.payloadSize)
    problems.push_back("layout: archive 2 ends at " + to_string(end) + ", the payload at " +
                       to_string(l.payloadSize));
}

}  // namespace

VerifyReport VerifySetup(const SetupFile& setup, const VerifyHooks& hooks) {
  VerifyReport report;
  CheckLocator(setup, report.problems);
  CheckSignature(setup, report);
  LoadedPayload payload;
  bool loaded = true;
  try {
    payload = LoadPayload(setup.payload(), setup.payloadSize());
  } catch (const ReadError& e) {
    report.problems.push_back(e.what());
    loaded = false;
  }
  // The record names damaged regions even when the catalogue does not load.
  std::vector<std::string> names;
  for (const TableEntry& e : payload.files) names.push_back(e.name);
  IntegrityOutcome integrity = CheckIntegrityRecord(setup, names);
  report.integrity = integrity.state;
  report.problems.insert(report.problems.end(), integrity.problems.begin(), integrity.problems.end());
  if (!loaded) return report;
  if (hooks.loaded) hooks.loaded(payload);
  report.entries = payload.files.size();
  CheckLayout(payload, report.problems);
  CheckTiling(payload, report.problems);
  CheckCatalogue(payload, report.problems);
  for (size_t i = 0; i < payload.files.size(); ++i) {
    if (hooks.progress) hooks.progress(i, payload.files.size());
    CheckStream(setup, payload, i, report, hooks.decoded);
  }
  return report;
}

}  // namespace sfx::pack
