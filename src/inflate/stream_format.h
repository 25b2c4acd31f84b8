// Constants of the compressed stream format, shared by the decoder and the
// encoder.
//
// The format is DEFLATE with its own 4-bit block header (a 3-bit type, then
// the last-block flag), its own code-length order and stored blocks that
// carry LEN only. The symbol alphabets and the length and distance tables
// are DEFLATE's.
#pragma once

namespace stream_format {

// Block header: the type in the low 3 bits, then the last-block flag.
enum BlockType { kBlockFixed = 5, kBlockDynamic = 6, kBlockStored = 7 };
const unsigned kHeaderBits = 4;
const unsigned kLastBlockFlag = 8;

const unsigned kMaxCodeBits = 15;       // longest code a stream can define
const unsigned kEndOfBlock = 256;       // literal/length symbol that ends a block
const unsigned kFirstLengthSymbol = 257;
const unsigned kLengthSymbols = 29;     // 257-285
const unsigned kDistanceSymbols = 30;   // 0-29
const unsigned kMaxLiteralLengths = 286;  // HLIT + 257 may not exceed this
const unsigned kMaxDistanceLengths = 30;  // HDIST + 1 may not exceed this
const unsigned kFixedLiteralSymbols = 288;  // 286 and 287 are invalid codes
const unsigned kCodeLengthSymbols = 19;

// The order in which a dynamic block sends the code-length code's lengths.
inline constexpr unsigned char kCodeLengthOrder[kCodeLengthSymbols] = {
    18, 17, 16, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

// Base lengths and extra-bit counts of length symbols 257-285.
inline constexpr unsigned short kLengthBase[kLengthSymbols] = {
    3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31, 35, 43, 51, 59, 67, 83, 99, 115,
    131, 163, 195, 227, 258};
inline constexpr unsigned char kLengthExtra[kLengthSymbols] = {
    0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};

// Base distances and extra-bit counts of distance symbols 0-29.
inline constexpr unsigned short kDistanceBase[kDistanceSymbols] = {
    1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129, 193, 257, 385, 513, 769, 1025,
    1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
inline constexpr unsigned char kDistanceExtra[kDistanceSymbols] = {
    0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

}  // namespace stream_format
