// The emulated machine's ANSI code page, for the host side: which one is in
// force, its lead bytes, and conversion of its text to and from UTF-8.
//
// Host-only (std::string); the engine sees GetACP, IsDBCSLeadByte and
// WideCharToMultiByte of win32_api.h. Known code pages: 1252 (the default,
// single-byte) and the double-byte 932 (Japanese), 936 (Simplified Chinese),
// 949 (Korean) and 950 (Traditional Chinese).
#pragma once

#include <string>

namespace sfx::host {

const unsigned kDefaultCodePage = 1252;

bool IsKnownCodePage(unsigned codePage);
bool IsDoubleByteCodePage(unsigned codePage);
// "1252, 932, 936, 949, 950", for messages.
const char* KnownCodePagesText();
// Decimal text naming a known code page.
bool ParseCodePage(const std::string& text, unsigned& codePage);

// The code page in force: SFX_CODEPAGE when set, else the prefix's
// "codepage" file (`sfx prefix init --codepage`), else 1252. source says
// which ("SFX_CODEPAGE", "prefix codepage file", "default"). false when the
// setting names no known code page; error then says so in one line.
bool ReadCodePageSetting(unsigned& codePage, std::string& source, std::string& error);
// The code page in force, 1252 when the setting is unknown (the host stub
// refuses to start then). Cached per prefix; cheap enough for every byte.
unsigned CurrentCodePage();
// Stores the prefix's code page in <root>/codepage. false on a write error.
bool WritePrefixCodePage(const std::string& root, unsigned codePage);

// Lead bytes of the double-byte code pages; none in single-byte ones.
bool IsLeadByte(unsigned codePage, unsigned char byte);

// What becomes of bytes that form no character of the code page (or, the
// other way, of bytes that are not UTF-8): kept as they are, so that the
// conversion can be undone, or shown as \xNN.
enum class BadBytes { Keep, Escape };

// Code-page text to UTF-8, a double-byte character taken as one unit.
std::string CodePageToUtf8(unsigned codePage, const std::string& text, BadBytes bad);
// UTF-8 to code-page text; a character the code page lacks becomes '?',
// bytes that are not UTF-8 stay as they are.
std::string Utf8ToCodePage(unsigned codePage, const std::string& text);

// A Windows path or name of the machine -> the host's form, and back. The
// double-byte code pages name host files in UTF-8; 1252 keeps its bytes
// unchanged, as host names always did.
std::string HostName(const std::string& windowsText);
std::string WindowsName(const std::string& hostText);

}  // namespace sfx::host
