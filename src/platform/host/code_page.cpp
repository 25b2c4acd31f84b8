// The emulated machine's code page: the setting, the lead bytes, and the
// conversions to and from UTF-8 (through the C library's iconv), with the
// kernel calls GetACP, IsDBCSLeadByte and WideCharToMultiByte over them.
#include "platform/host/code_page.h"

#include <iconv.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/host/prefix.h"
#include "platform/host/win_error.h"
#include "platform/platform.h"

namespace sfx::host {
namespace {

struct CodePageInfo {
  unsigned number;
  const char* iconvName;
  unsigned char leadFirst, leadLast;  // 0, 0 for a single-byte code page
  unsigned char leadFirst2, leadLast2;
};

// The lead-byte ranges are those the system reports for each code page.
const CodePageInfo kCodePages[] = {
    {1252, "CP1252", 0, 0, 0, 0},
    {932, "CP932", 0x81, 0x9F, 0xE0, 0xFC},
    {936, "CP936", 0x81, 0xFE, 0, 0},
    {949, "CP949", 0x81, 0xFE, 0, 0},
    {950, "CP950", 0x81, 0xFE, 0, 0},
};

const CodePageInfo* Find(unsigned codePage) {
  for (const CodePageInfo& info : kCodePages)
    if (info.number == codePage) return &info;
  return nullptr;
}

const char kSettingFile[] = "codepage";

std::mutex g_mutex;  // guards the cache and the converters
std::string g_cachedRoot;
unsigned g_cachedPrefixCodePage = kDefaultCodePage;
bool g_cached = false;

// One converter per direction and code page, opened on first use and
// closed at exit.
struct Converters {
  std::map<std::pair<unsigned, bool>, iconv_t> open;
  ~Converters() {
    for (auto& entry : open)
      if (entry.second != (iconv_t)-1) iconv_close(entry.second);
  }
};

iconv_t Converter(unsigned codePage, bool toUtf8) {
  static Converters s_converters;
  auto key = std::make_pair(codePage, toUtf8);
  auto it = s_converters.open.find(key);
  if (it != s_converters.open.end()) return it->second;
  const CodePageInfo* info = Find(codePage);
  iconv_t cd = info == nullptr ? (iconv_t)-1
                               : (toUtf8 ? iconv_open("UTF-8", info->iconvName) : iconv_open(info->iconvName, "UTF-8"));
  s_converters.open[key] = cd;
  return cd;
}

// Converts one unit of text (a character) with cd; false when it is no
// character of the source encoding or has none in the target.
bool ConvertUnit(iconv_t cd, const char* unit, size_t size, std::string& out) {
  if (cd == (iconv_t)-1) return false;
  char buf[16];
  char* in = const_cast<char*>(unit);
  size_t inLeft = size;
  char* o = buf;
  size_t oLeft = sizeof buf;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  size_t rc = iconv(cd, &in, &inLeft, &o, &oLeft);
  if (rc == (size_t)-1 || inLeft != 0 || o == buf) return false;
  out.append(buf, (size_t)(o - buf));
  return true;
}

// Length of the UTF-8 sequence at p (at most n bytes), 0 when it is none.
size_t Utf8Length(const unsigned char* p, size_t n) {
  size_t len = p[0] < 0x80 ? 1 : (p[0] >> 5) == 6 ? 2 : (p[0] >> 4) == 14 ? 3 : (p[0] >> 3) == 30 ? 4 : 0;
  if (len == 0 || len > n) return 0;
  for (size_t i = 1; i < len; ++i)
    if ((p[i] & 0xC0) != 0x80) return 0;
  return len;
}

void AppendUtf8(uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += (char)cp;
  } else if (cp < 0x800) {
    out += (char)(0xC0 | (cp >> 6));
    out += (char)(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += (char)(0xE0 | (cp >> 12));
    out += (char)(0x80 | ((cp >> 6) & 0x3F));
    out += (char)(0x80 | (cp & 0x3F));
  } else {
    out += (char)(0xF0 | (cp >> 18));
    out += (char)(0x80 | ((cp >> 12) & 0x3F));
    out += (char)(0x80 | ((cp >> 6) & 0x3F));
    out += (char)(0x80 | (cp & 0x3F));
  }
}

}  // namespace

bool IsKnownCodePage(unsigned codePage) { return Find(codePage) != nullptr; }

bool IsDoubleByteCodePage(unsigned codePage) {
  const CodePageInfo* info = Find(codePage);
  return info != nullptr && info->leadFirst != 0;
}

const char* KnownCodePagesText() { return "1252, 932, 936, 949, 950"; }

bool ParseCodePage(const std::string& text, unsigned& codePage) {
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  unsigned n = (unsigned)strtoul(text.c_str(), nullptr, 10);
  if (!IsKnownCodePage(n)) return false;
  codePage = n;
  return true;
}

bool ReadCodePageSetting(unsigned& codePage, std::string& source, std::string& error) {
  codePage = kDefaultCodePage;
  std::string text;
  const char* env = getenv("SFX_CODEPAGE");
  if (env != nullptr && env[0] != '\0') {
    source = "SFX_CODEPAGE";
    text = env;
  } else {
    std::string root = ChosenPrefixRoot();
    text = PrefixSetting(root, kSettingFile);
    if (text.empty()) {
      source = "default";
      return true;
    }
    source = "prefix codepage file";
  }
  if (ParseCodePage(text, codePage)) return true;
  codePage = kDefaultCodePage;
  error = source + " names code page \"" + text + "\", which the emulated machine does not have (known: " +
          KnownCodePagesText() + ")";
  return false;
}

unsigned CurrentCodePage() {
  const char* env = getenv("SFX_CODEPAGE");
  if (env != nullptr && env[0] != '\0') {
    unsigned cp;
    return ParseCodePage(env, cp) ? cp : kDefaultCodePage;
  }
  std::string root = ChosenPrefixRoot();
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_cached || root != g_cachedRoot) {
    unsigned cp = kDefaultCodePage;
    if (!ParseCodePage(PrefixSetting(root, kSettingFile), cp)) cp = kDefaultCodePage;
    g_cachedRoot = root;
    g_cachedPrefixCodePage = cp;
    g_cached = true;
  }
  return g_cachedPrefixCodePage;
}

bool WritePrefixCodePage(const std::string& root, unsigned codePage) {
  if (!WritePrefixSetting(root, kSettingFile, std::to_string(codePage))) return false;
  std::lock_guard<std::mutex> lock(g_mutex);
  g_cached = false;
  return true;
}

bool IsLeadByte(unsigned codePage, unsigned char byte) {
  const CodePageInfo* info = Find(codePage);
  if (info == nullptr || info->leadFirst == 0) return false;
  return (byte >= info->leadFirst && byte <= info->leadLast) ||
         (info->leadFirst2 != 0 && byte >= info->leadFirst2 && byte <= info->leadLast2);
}

std::string CodePageToUtf8(unsigned codePage, const std::string& text, BadBytes bad) {
  std::lock_guard<std::mutex> lock(g_mutex);
  iconv_t cd = Converter(codePage, true);
  std::string out;
  for (size_t i = 0; i < text.size();) {
    unsigned char c = (unsigned char)text[i];
    // As the engine steps: no second byte is below 0x40.
    size_t unit = (IsLeadByte(codePage, c) && i + 1 < text.size() && (unsigned char)text[i + 1] >= 0x40) ? 2 : 1;
    if (c < 0x80) {
      out += (char)c;
    } else if (!ConvertUnit(cd, text.data() + i, unit, out)) {
      for (size_t k = 0; k < unit; ++k) {
        if (bad == BadBytes::Keep) {
          out += text[i + k];
        } else {
          char hex[8];
          snprintf(hex, sizeof hex, "\\x%02X", (unsigned char)text[i + k]);
          out += hex;
        }
      }
    }
    i += unit;
  }
  return out;
}

std::string Utf8ToCodePage(unsigned codePage, const std::string& text) {
  std::lock_guard<std::mutex> lock(g_mutex);
  iconv_t cd = Converter(codePage, false);
  std::string out;
  const unsigned char* p = (const unsigned char*)text.data();
  for (size_t i = 0; i < text.size();) {
    size_t len = Utf8Length(p + i, text.size() - i);
    if (len == 0) {
      out += text[i++];  // not UTF-8: kept, so that Keep-mode text comes back
      continue;
    }
    if (len == 1 || !ConvertUnit(cd, text.data() + i, len, out)) {
      if (len == 1) out += text[i];
      else out += '?';
    }
    i += len;
  }
  return out;
}

std::string HostName(const std::string& windowsText) {
  unsigned cp = CurrentCodePage();
  return IsDoubleByteCodePage(cp) ? CodePageToUtf8(cp, windowsText, BadBytes::Keep) : windowsText;
}

std::string WindowsName(const std::string& hostText) {
  unsigned cp = CurrentCodePage();
  return IsDoubleByteCodePage(cp) ? Utf8ToCodePage(cp, hostText) : hostText;
}

}  // namespace sfx::host

using namespace sfx::host;

UINT GetACP() { return CurrentCodePage(); }

BOOL IsDBCSLeadByte(BYTE TestChar) {
  // No code page has a lead byte below 0x81: plain text needs no look-up.
  return TestChar >= 0x81 && IsLeadByte(CurrentCodePage(), TestChar) ? TRUE : FALSE;
}

int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                        LPBOOL lpUsedDefaultChar) {
  (void)dwFlags;
  if (lpWideCharStr == nullptr || cchWideChar == 0 || cbMultiByte < 0 ||
      (cbMultiByte > 0 && lpMultiByteStr == nullptr))
    return (int)FailWith(ERROR_INVALID_PARAMETER);
  unsigned cp = CodePage == CP_ACP ? CurrentCodePage() : CodePage;
  if (!IsKnownCodePage(cp)) return (int)FailWith(ERROR_INVALID_PARAMETER);
  size_t count = 0;
  if (cchWideChar < 0) {
    while (lpWideCharStr[count] != 0) ++count;
    ++count;  // the terminator is converted too
  } else {
    count = (size_t)cchWideChar;
  }
  char chDefault = (lpDefaultChar != nullptr && lpDefaultChar[0] != 0) ? lpDefaultChar[0] : '?';
  BOOL usedDefault = FALSE;
  std::string out;
  for (size_t i = 0; i < count; ++i) {
    uint32_t c = lpWideCharStr[i];
    bool ok = true;
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < count && lpWideCharStr[i + 1] >= 0xDC00 && lpWideCharStr[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (lpWideCharStr[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      ok = false;  // a lone surrogate
    }
    std::string unit;
    if (ok) AppendUtf8(c, unit);
    std::string converted = ok ? Utf8ToCodePage(cp, unit) : std::string("?");
    if (!ok || (converted == "?" && c != '?')) {
      out += chDefault;
      usedDefault = TRUE;
    } else {
      out += converted;
    }
  }
  if (lpUsedDefaultChar != nullptr) *lpUsedDefaultChar = usedDefault;
  if (cbMultiByte == 0) return (int)out.size();
  if (out.size() > (size_t)cbMultiByte) return (int)FailWith(ERROR_INSUFFICIENT_BUFFER);
  memcpy(lpMultiByteStr, out.data(), out.size());
  SetLastError(ERROR_SUCCESS);
  return (int)out.size();
}
