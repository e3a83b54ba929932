#include "lkword/platform/CodePages.h"

#include "lkword/platform/CodePageTables.h"

#include <iconv.h>
#include <locale.h>
#include <wctype.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace lkw {

namespace {

std::atomic<uint32_t> g_acp{1252};

std::string IconvName(uint32_t cp) {
  switch (cp) {
    case CP_UTF8: return "UTF-8";
    case CP_UTF16LE: return "UTF-16LE";
    case CP_UTF16BE: return "UTF-16BE";
    case 1361: return "JOHAB";
    case 20127: return "ASCII";
    case 20866: return "KOI8-R";
    case 21866: return "KOI8-U";
    case 10000: return "MACINTOSH";
    case 10007: return "MAC-CYRILLIC";
    case 10029: return "MAC-CENTRALEUROPE";
    case 54936: return "GB18030";
    case 51932: return "EUC-JP";
    case 51949: return "EUC-KR";
    case 50220: return "ISO-2022-JP";
    case 20932: return "EUC-JP";
    case 437: case 737: case 775: case 850: case 852: case 855: case 857: case 860:
    case 861: case 862: case 863: case 864: case 865: case 866: case 869: case 874:
    case 932: case 936: case 949: case 950:
    case 1250: case 1251: case 1252: case 1253: case 1254: case 1255: case 1256:
    case 1257: case 1258:
      return "CP" + std::to_string(cp);
    default:
      if (cp >= 28591 && cp <= 28606) return "ISO-8859-" + std::to_string(cp - 28590);
      return "CP" + std::to_string(cp);
  }
}

using Table = std::array<char16_t, 256>;

const detail::TBuiltinCodePage* FindBuiltin(uint32_t cp) {
  for (size_t i = 0; i < detail::kBuiltinCodePageCount; ++i)
    if (detail::kBuiltinCodePages[i].CodePage == cp) return &detail::kBuiltinCodePages[i];
  return nullptr;
}

}  // namespace

bool ConverterCodePageTable(uint32_t cp, Table& t) {
  iconv_t cd = iconv_open("UTF-16LE", IconvName(cp).c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  bool ok = true;
  for (int b = 0; b < 256 && ok; ++b) {
    char in = static_cast<char>(b);
    char out[8];
    char* ip = &in;
    size_t il = 1;
    char* op = out;
    size_t ol = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    size_t r = iconv(cd, &ip, &il, &op, &ol);
    // CP1255 and CP1258 hold back a base letter awaiting combining marks.
    if (r != static_cast<size_t>(-1)) iconv(cd, nullptr, nullptr, &op, &ol);
    size_t produced = sizeof out - ol;
    if (r == static_cast<size_t>(-1) && errno == EINVAL && b >= 0x80) {
      ok = false;  // lead byte of a multi-byte code page
    } else if (r == static_cast<size_t>(-1) || produced != 2) {
      // Undefined in this code page: Windows passes it through as C1/Latin-1.
      t[b] = static_cast<char16_t>(b);
    } else {
      t[b] = static_cast<char16_t>(static_cast<uint8_t>(out[0]) | (static_cast<uint8_t>(out[1]) << 8));
    }
  }
  iconv_close(cd);
  return ok;
}

namespace {

struct TableEntry {
  bool single = false;
  bool known = false;
  Table table{};
};

std::mutex g_tableMutex;
std::map<uint32_t, std::unique_ptr<TableEntry>> g_tables;  // entries never change once made

const TableEntry& GetTableEntry(uint32_t cp) {
  std::lock_guard<std::mutex> lock(g_tableMutex);
  auto& slot = g_tables[cp];
  if (!slot) {
    auto e = std::make_unique<TableEntry>();
    if (cp == CP_UTF8 || cp == CP_UTF16LE || cp == CP_UTF16BE) {
      e->known = true;
    } else if (const detail::TBuiltinCodePage* b = FindBuiltin(cp)) {
      e->known = e->single = true;
      std::copy(std::begin(b->Chars), std::end(b->Chars), e->table.begin());
    } else {
      iconv_t cd = iconv_open("UTF-16LE", IconvName(cp).c_str());
      e->known = cd != reinterpret_cast<iconv_t>(-1);
      if (e->known) {
        iconv_close(cd);
        e->single = ConverterCodePageTable(cp, e->table);
      }
    }
    slot = std::move(e);
  }
  return *slot;
}

// One iconv descriptor per thread and direction/code page.
struct IconvCache {
  std::unordered_map<uint64_t, iconv_t> map;
  ~IconvCache() {
    for (auto& kv : map)
      if (kv.second != reinterpret_cast<iconv_t>(-1)) iconv_close(kv.second);
  }
  iconv_t Get(uint32_t cp, bool toWide) {
    uint64_t key = (uint64_t{cp} << 1) | (toWide ? 1 : 0);
    auto it = map.find(key);
    if (it != map.end()) {
      if (it->second != reinterpret_cast<iconv_t>(-1)) iconv(it->second, nullptr, nullptr, nullptr, nullptr);
      return it->second;
    }
    iconv_t cd = toWide ? iconv_open("UTF-16LE", IconvName(cp).c_str())
                        : iconv_open(IconvName(cp).c_str(), "UTF-16LE");
    map.emplace(key, cd);
    return cd;
  }
};

IconvCache& ThreadIconv() {
  thread_local IconvCache cache;
  return cache;
}

WideString Utf16BytesToWide(std::string_view b, bool bigEndian) {
  WideString out;
  out.resize(b.size() / 2);
  for (size_t i = 0; i + 1 < b.size(); i += 2) {
    uint8_t lo = static_cast<uint8_t>(b[i + (bigEndian ? 1 : 0)]);
    uint8_t hi = static_cast<uint8_t>(b[i + (bigEndian ? 0 : 1)]);
    out[i / 2] = static_cast<char16_t>(lo | (hi << 8));
  }
  return out;
}

}  // namespace

uint32_t GetACP() { return g_acp.load(std::memory_order_relaxed); }

void SetActiveCodePage(uint32_t CodePage) { g_acp.store(CodePage, std::memory_order_relaxed); }

uint32_t MacCodePageOf(uint32_t WindowsCodePage) {
  switch (WindowsCodePage) {
    case 1252: return 10000;
    case 1250: return 10029;
    case 1251: return 10007;
    case 1253: return 10006;
    case 1254: return 10081;
    case 1255: return 10005;
    case 1256: return 10004;
    case 932: return 10001;
    case 950: return 10002;
    case 949: return 10003;
    case 936: return 10008;
    case 874: return 10021;
    default: return 0;
  }
}

uint32_t CodePageFromUserName(std::string_view Value) {
  uint32_t cp = 0;
  if (!Value.empty() && Value.size() <= 5 && Value.find_first_not_of("0123456789") == std::string_view::npos) {
    for (const char c : Value) cp = cp * 10 + static_cast<uint32_t>(c - '0');
  } else {
    cp = CodePageFromEncodingName(Value);
  }
  return cp != 0 && IsCodePageSupported(cp) ? cp : 0;
}

uint32_t CodePageFromEncodingName(std::string_view name) {
  std::string n;
  for (char c : name) n += (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
  auto number = [](std::string_view digits) -> uint32_t {
    if (digits.empty() || digits.size() > 5) return 0;
    uint32_t v = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return 0;
      v = v * 10 + static_cast<uint32_t>(c - '0');
    }
    return v;
  };
  if (n == "utf-8" || n == "utf8" || n == "utf-16" || n == "utf-16le" || n == "utf-16be" || n == "unicode")
    return CP_UTF8;  // a UTF-16 name on bytes we could read as ASCII is wrong
  if (n.rfind("windows-", 0) == 0) {
    uint32_t cp = number(std::string_view(n).substr(8));
    return cp ? cp : GetACP();
  }
  if (n.rfind("x-cp", 0) == 0) return number(std::string_view(n).substr(4));
  if (n.rfind("cp", 0) == 0) return number(std::string_view(n).substr(2));
  if (n.rfind("iso-8859-", 0) == 0 || n.rfind("iso8859-", 0) == 0 || n.rfind("iso_8859-", 0) == 0) {
    uint32_t part = number(std::string_view(n).substr(n.find('-', 4) + 1));
    return part >= 1 && part <= 16 ? 28590 + part : 0;
  }
  struct TAlias {
    const char* Name;
    uint32_t CodePage;
  };
  static constexpr TAlias kAliases[] = {
      {"latin1", 28591},     {"koi8-r", 20866},      {"koi8-u", 21866},    {"shift_jis", 932},
      {"shift-jis", 932},    {"sjis", 932},          {"x-sjis", 932},      {"ms_kanji", 932},
      {"gb2312", 936},       {"gbk", 936},           {"x-gbk", 936},       {"gb18030", 54936},
      {"big5", 950},         {"big5-hkscs", 950},    {"euc-kr", 949},      {"ks_c_5601-1987", 949},
      {"euc-jp", 51932},     {"iso-2022-jp", 50220}, {"macintosh", 10000}, {"x-mac-cyrillic", 10007},
      {"ibm866", 866},       {"us-ascii", CP_UTF8},  {"ascii", CP_UTF8},
  };
  for (const auto& a : kAliases)
    if (n == a.Name) return a.CodePage;
  return 0;
}

bool IsCodePageSupported(uint32_t CodePage) { return GetTableEntry(CodePage).known; }

bool IsSingleByteCodePage(uint32_t CodePage) { return GetTableEntry(CodePage).single; }

std::vector<uint32_t> BuiltinCodePages() {
  std::vector<uint32_t> out;
  for (size_t i = 0; i < detail::kBuiltinCodePageCount; ++i) out.push_back(detail::kBuiltinCodePages[i].CodePage);
  return out;
}

WideString MultiByteToWide(uint32_t CodePage, std::string_view Bytes) {
  if (Bytes.empty()) return {};
  if (CodePage == CP_UTF8) return Utf8ToWide(Bytes);
  if (CodePage == CP_UTF16LE) return Utf16BytesToWide(Bytes, false);
  if (CodePage == CP_UTF16BE) return Utf16BytesToWide(Bytes, true);
  const TableEntry* e = &GetTableEntry(CodePage);
  if (!e->known) {
    CodePage = GetACP();
    e = &GetTableEntry(CodePage);
    if (!e->known) {
      CodePage = 1252;
      e = &GetTableEntry(CodePage);
    }
  }
  if (e->single) {
    WideString out(Bytes.size(), u'\0');
    for (size_t i = 0; i < Bytes.size(); ++i) out[i] = e->table[static_cast<uint8_t>(Bytes[i])];
    return out;
  }
  iconv_t cd = ThreadIconv().Get(CodePage, true);
  WideString out;
  if (cd == reinterpret_cast<iconv_t>(-1)) return out;
  out.reserve(Bytes.size());
  std::vector<char> buf(std::max<size_t>(Bytes.size() * 2 + 16, 64));
  char* ip = const_cast<char*>(Bytes.data());
  size_t il = Bytes.size();
  while (il > 0) {
    char* op = buf.data();
    size_t ol = buf.size();
    size_t r = iconv(cd, &ip, &il, &op, &ol);
    size_t produced = buf.size() - ol;
    for (size_t i = 0; i + 1 < produced; i += 2)
      out.push_back(static_cast<char16_t>(static_cast<uint8_t>(buf[i]) | (static_cast<uint8_t>(buf[i + 1]) << 8)));
    if (r == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      // Invalid or incomplete sequence: one replacement character per byte.
      out.push_back(u'\uFFFD');
      ++ip;
      --il;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  return out;
}

RawByteString WideToMultiByte(uint32_t CodePage, std::u16string_view Text) {
  if (Text.empty()) return {};
  if (CodePage == CP_UTF8) return WideToUtf8(Text);
  RawByteString out;
  if (CodePage == CP_UTF16LE || CodePage == CP_UTF16BE) {
    out.reserve(Text.size() * 2);
    for (char16_t c : Text) {
      char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>(c >> 8);
      if (CodePage == CP_UTF16LE) {
        out += lo;
        out += hi;
      } else {
        out += hi;
        out += lo;
      }
    }
    return out;
  }
  iconv_t cd = ThreadIconv().Get(CodePage, false);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    for (char16_t c : Text) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
  }
  std::vector<char> buf(Text.size() * 4 + 16);
  for (size_t i = 0; i < Text.size(); ++i) {
    // Convert one code point at a time so that unmappable ones become '?'.
    size_t n = 1;
    if (Text[i] >= 0xD800 && Text[i] < 0xDC00 && i + 1 < Text.size() && Text[i + 1] >= 0xDC00 && Text[i + 1] < 0xE000)
      n = 2;
    char16_t units[2] = {Text[i], n == 2 ? Text[i + 1] : u'\0'};
    char in[4];
    for (size_t k = 0; k < n; ++k) {
      in[2 * k] = static_cast<char>(units[k] & 0xFF);
      in[2 * k + 1] = static_cast<char>(units[k] >> 8);
    }
    char* ip = in;
    size_t il = 2 * n;
    char* op = buf.data();
    size_t ol = buf.size();
    size_t r = iconv(cd, &ip, &il, &op, &ol);
    if (r == static_cast<size_t>(-1) || r > 0) {
      // r > 0: a non-reversible (approximate) conversion; Windows uses '?'.
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      out += '?';
    } else {
      out.append(buf.data(), buf.size() - ol);
    }
    i += n - 1;
  }
  return out;
}

std::string WideToUtf8(std::u16string_view Text) {
  std::string out;
  out.reserve(Text.size() + Text.size() / 2);
  for (size_t i = 0; i < Text.size(); ++i) {
    uint32_t c = Text[i];
    if (c < 0x80) {
      out += static_cast<char>(c);
      continue;
    }
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < Text.size() && Text[i + 1] >= 0xDC00 && Text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (Text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

void AppendCodePoint(WideString& Out, uint32_t c) {
  if (c >= 0x110000 || (c >= 0xD800 && c < 0xE000)) c = 0xFFFD;
  if (c < 0x10000) {
    Out.push_back(static_cast<char16_t>(c));
  } else {
    c -= 0x10000;
    Out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
    Out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
  }
}

RawByteString WideToUtf16LEBytes(std::u16string_view Text) {
  RawByteString out;
  out.reserve(Text.size() * 2);
  for (char16_t c : Text) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out;
}

WideString Utf8ToWide(std::string_view Text) {
  WideString out;
  out.reserve(Text.size());
  const auto* s = reinterpret_cast<const uint8_t*>(Text.data());
  size_t n = Text.size();
  size_t i = 0;
  while (i < n) {
    uint8_t b = s[i];
    if (b < 0x80) {
      out.push_back(b);
      ++i;
      continue;
    }
    int len = b >= 0xF0 && b < 0xF5 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 && b < 0xE0 ? 2 : 0;
    if (b >= 0xF5) len = 0;
    if (len == 0 || i + len > n) {
      out.push_back(u'\uFFFD');
      ++i;
      continue;
    }
    uint32_t c = b & (0xFF >> (len + 1));
    bool ok = true;
    for (int k = 1; k < len; ++k) {
      uint8_t t = s[i + k];
      if ((t & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      c = (c << 6) | (t & 0x3F);
    }
    if (ok && ((len == 3 && (c < 0x800 || (c >= 0xD800 && c < 0xE000))) || (len == 4 && (c < 0x10000 || c > 0x10FFFF))))
      ok = false;
    if (!ok) {
      out.push_back(u'\uFFFD');
      ++i;
      continue;
    }
    AppendCodePoint(out, c);
    i += static_cast<size_t>(len);
  }
  return out;
}

WideString AsciiToWide(std::string_view Text) {
  WideString out(Text.size(), u'\0');
  for (size_t i = 0; i < Text.size(); ++i) out[i] = static_cast<uint8_t>(Text[i]);
  return out;
}

namespace {
// Case mapping must not depend on the process locale, so use the built-in
// C.UTF-8 locale's tables (ASCII only if it is missing).
locale_t UnicodeLocale() {
  static const locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  return loc;
}

char16_t MapCase(char16_t C, bool upper) {
  locale_t loc = UnicodeLocale();
  if (!loc) return C;
  wint_t r = upper ? towupper_l(static_cast<wint_t>(C), loc) : towlower_l(static_cast<wint_t>(C), loc);
  return r <= 0xFFFF ? static_cast<char16_t>(r) : C;
}
}  // namespace

char16_t WideUpCase(char16_t C) {
  if (C < 0x80) return (C >= 'a' && C <= 'z') ? static_cast<char16_t>(C - 32) : C;
  if (C >= 0xD800 && C < 0xE000) return C;
  return MapCase(C, true);
}

char16_t WideLowCase(char16_t C) {
  if (C < 0x80) return (C >= 'A' && C <= 'Z') ? static_cast<char16_t>(C + 32) : C;
  if (C >= 0xD800 && C < 0xE000) return C;
  return MapCase(C, false);
}

int CompareTextIgnoreCase(std::u16string_view A, std::u16string_view B) {
  size_t n = std::min(A.size(), B.size());
  for (size_t i = 0; i < n; ++i) {
    char16_t a = WideUpCase(A[i]), b = WideUpCase(B[i]);
    if (a != b) return a < b ? -1 : 1;
  }
  if (A.size() == B.size()) return 0;
  return A.size() < B.size() ? -1 : 1;
}

}  // namespace lkw
