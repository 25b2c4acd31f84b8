// A loaded catalogue as text, one line per element, and the text that a
// catalogue description loads as: tests compare the two.
#pragma once

#include <string>

#include "framework/collections.h"
#include "pack/payload_writer.h"

class CBuildItems;

namespace sfx::test {

// The file table and the project, as loaded.
std::string DescribeLoaded(const CObArray& fileTable, const CBuildItems& project);

// What DescribeLoaded gives for a catalogue written by the payload writer
// with that layout.
std::string DescribeCatalogue(const pack::Catalogue& catalogue, const pack::PayloadLayout& layout);

}  // namespace sfx::test
