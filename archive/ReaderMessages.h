// The reader's error texts, word for word as users and scripts know them
// (misspellings included).
#pragma once

namespace zef::reader_messages {

inline constexpr char kCouldNotOpenFile[] = "could not open file %s";
inline constexpr char kWrongHeader[] = "wrong header";
inline constexpr char kWrongFile[] = "wrong file";
inline constexpr char kWrongVersion[] = "wrong version";
inline constexpr char kWrongImageData[] = "wrong image data";
inline constexpr char kNoPaletteVector[] = "no Palette Vector...";
inline constexpr char kPaletteVectorNotCorrect[] = "Palette vector not correct...";
inline constexpr char kCouldNotReadPaletteSpecifications[] = "could not read PaletteSpecifications...";
inline constexpr char kWrongPaletteSpecification[] = "wrong palette specification";
inline constexpr char kWrongPaletteSpec[] = "wrong palette spec";
inline constexpr char kWrongPaletteData[] = "wrong palette data";

inline constexpr char kTooShort[] = "error in image data (too short)";
inline constexpr char kRleLineTooLong[] = "error in image data (RLE line too long)";
inline constexpr char kOutsidePalette[] = "error in image data (color outside palette dimenions)";
inline constexpr char kLineEntriesNotValid[] = "error in image data (entries not valid at a line)";
inline constexpr char kImageEntriesNotValid[] = "entries!=allentries?!";

// Version 4 image data, which the described reader class never reads.
inline constexpr char kIndexBitsNotValid[] = "error in image data (index bits not valid)";
inline constexpr char kEntriesPastIndexBits[] = "error in image data (more palette entries than the index bits address)";
inline constexpr char kOpPastLine[] = "error in image data (op past the end of its line)";
inline constexpr char kIndexOutsidePalette[] = "error in image data (index outside the palette)";

// Not reachable by the stream rules: an image whose data is sound but which
// is too large to create in this process, and memory running out elsewhere.
inline constexpr char kImageTooLarge[] = "error in image data (image too large)";
inline constexpr char kOutOfMemory[] = "out of memory";

}  // namespace zef::reader_messages
