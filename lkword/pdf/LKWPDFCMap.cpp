#include "lkword/pdf/LKWPDFCMap.h"

#include <algorithm>

#include "lkword/pdf/LKWPDFEncoding.h"
#include "lkword/pdf/LKWPDFSyntax.h"
#include "lkword/platform/Bytes.h"
#include "lkword/platform/CodePages.h"

namespace lkw {

namespace {

// A range is spelled out entry by entry up to this size; larger ranges are
// kept whole and searched.
constexpr uint32_t kExpandRange = 256;
// Spelled-out entries per CMap, so that a small hostile CMap cannot ask for
// much memory.
constexpr size_t kMaxExpanded = size_t{1} << 20;
constexpr size_t kMaxCodeSpaces = 256;
// One value longer than this is no glyph's text (and the font ignores much
// shorter ones); the pool of values is bounded too.
constexpr size_t kMaxValue = 256;
constexpr size_t kMaxPool = size_t{8} << 20;
// How far back a lookup searches among ranges that start below the code
// (ranges overlap only in damaged CMaps).
constexpr int kRangeLookBack = 8;
// CIDs are below 2^24 (a larger value is damage).
constexpr int64_t kMaxCID = 0xFFFFFF;

bool CodeOf(std::string_view Bytes, uint32_t& Code) {
  if (Bytes.empty() || Bytes.size() > 4) return false;
  Code = 0;
  for (const char c : Bytes) Code = Code << 8 | static_cast<uint8_t>(c);
  return true;
}

// The UTF-16BE bytes of a destination string. One odd byte (some producers
// write <41>) is taken as a Latin-1 character.
std::u16string Utf16Of(std::string_view Bytes) {
  std::u16string out;
  if (Bytes.size() == 1) {
    out.push_back(static_cast<uint8_t>(Bytes[0]));
    return out;
  }
  out.reserve(Bytes.size() / 2);
  for (size_t i = 0; i + 1 < Bytes.size(); i += 2)
    out.push_back(static_cast<char16_t>(LoadBE16(Bytes.data() + i)));
  return out;
}

// Adds Delta to the last character of Base (a surrogate pair counts as one).
void AppendIncremented(std::u16string& Out, std::u16string_view Base, uint32_t Delta) {
  if (Base.empty()) return;
  size_t lastLen = 1;
  uint32_t last = Base.back();
  if (Base.size() >= 2 && last >= 0xDC00 && last <= 0xDFFF && Base[Base.size() - 2] >= 0xD800 &&
      Base[Base.size() - 2] <= 0xDBFF) {
    last = 0x10000 + ((Base[Base.size() - 2] - 0xD800u) << 10) + (last - 0xDC00);
    lastLen = 2;
  }
  Out.append(Base.substr(0, Base.size() - lastLen));
  uint32_t v = last + Delta;
  if (v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF && lastLen == 1 && last < 0xD800)) v = 0xFFFD;
  if (v < 0x10000) Out.push_back(static_cast<char16_t>(v));
  else AppendCodePoint(Out, v);
}

}  // namespace

void TPDFCMap::AddChar(uint32_t Code, int Len, std::u16string_view Text) {
  if (FChars.size() >= kMaxExpanded || Text.size() > kMaxValue || FPool.size() + Text.size() > kMaxPool) return;
  const uint64_t value = static_cast<uint64_t>(FPool.size()) << 16 | Text.size();
  FPool.append(Text);
  FChars[Key(Code, Len)] = value;
}

void TPDFCMap::AddRange(uint32_t Lo, uint32_t Hi, int Len, std::u16string_view Base) {
  if (Base.empty() || Base.size() > kMaxValue || FRanges.size() >= kMaxExpanded) return;
  if (Hi - Lo < kExpandRange && FChars.size() + (Hi - Lo) < kMaxExpanded) {
    std::u16string text;
    for (uint32_t c = Lo;; ++c) {
      text.clear();
      AppendIncremented(text, Base, c - Lo);
      AddChar(c, Len, text);
      if (c == Hi) break;
    }
    return;
  }
  if (FPool.size() + Base.size() > kMaxPool) return;
  FRanges.push_back({Lo, Hi, static_cast<uint8_t>(Len), static_cast<uint32_t>(FPool.size()),
                     static_cast<uint32_t>(Base.size())});
  FPool.append(Base);
}

namespace {

bool IsKeyword(const TPDFToken& T, std::string_view Keyword) {
  return T.Kind == TPDFTokenKind::tkKeyword && T.Text == Keyword;
}

}  // namespace

void TPDFCMap::Parse(std::string_view Text) {
  TPDFLexer lx(Text);
  TPDFToken t, prev;
  while (lx.Next(t)) {
    if (t.Kind == TPDFTokenKind::tkName && t.Text == "WMode") {
      TPDFToken v;
      if (lx.Next(v) && v.Kind == TPDFTokenKind::tkInteger) FWMode = v.IntValue == 1 ? 1 : 0;
      continue;
    }
    if (t.Kind != TPDFTokenKind::tkKeyword) {
      prev = t;
      continue;
    }
    if (t.Text == "usecmap") {
      if (prev.Kind == TPDFTokenKind::tkName) FUseCMap = prev.Text;
    } else if (t.Text == "begincodespacerange") {
      ReadCodeSpaceRanges(lx);
    } else if (t.Text == "beginbfchar") {
      ReadBFChars(lx);
    } else if (t.Text == "beginbfrange") {
      ReadBFRanges(lx);
    } else if (t.Text == "begincidchar") {
      ReadCIDChars(lx);
    } else if (t.Text == "begincidrange") {
      ReadCIDRanges(lx);
    }
    prev = t;
  }
  Index();
}

void TPDFCMap::ReadCodeSpaceRanges(TPDFLexer& Lexer) {
  TPDFToken lo, hi;
  while (Lexer.Next(lo) && !IsKeyword(lo, "endcodespacerange")) {
    if (lo.Kind != TPDFTokenKind::tkString || !Lexer.Next(hi)) continue;
    if (hi.Kind != TPDFTokenKind::tkString || lo.Text.size() != hi.Text.size() || lo.Text.empty() ||
        lo.Text.size() > 4 || FCodeSpace.size() >= kMaxCodeSpaces)
      continue;
    TCodeSpace cs{};
    cs.Len = static_cast<uint8_t>(lo.Text.size());
    for (size_t i = 0; i < 4 && i < lo.Text.size(); ++i) {
      cs.Lo[i] = static_cast<uint8_t>(lo.Text[i]);
      cs.Hi[i] = static_cast<uint8_t>(hi.Text[i]);
    }
    FCodeSpace.push_back(cs);
  }
}

void TPDFCMap::ReadBFChars(TPDFLexer& Lexer) {
  TPDFToken src, dst;
  while (Lexer.Next(src) && !IsKeyword(src, "endbfchar")) {
    uint32_t code;
    // A pair is read whole even when its code is unusable, to stay in step.
    if (src.Kind != TPDFTokenKind::tkString || !Lexer.Next(dst) || !CodeOf(src.Text, code)) continue;
    const int len = static_cast<int>(src.Text.size());
    if (dst.Kind == TPDFTokenKind::tkString) {
      AddChar(code, len, Utf16Of(dst.Text));
    } else if (dst.Kind == TPDFTokenKind::tkName) {
      std::u16string text;
      if (GetGlyphCharacter(dst.Text, text)) AddChar(code, len, text);
    } else if (IsKeyword(dst, "endbfchar")) {
      break;
    }
  }
}

void TPDFCMap::ReadBFRanges(TPDFLexer& Lexer) {
  TPDFToken lo, hi, dst;
  while (Lexer.Next(lo) && !IsKeyword(lo, "endbfrange")) {
    uint32_t a = 0, b = 0;
    if (lo.Kind != TPDFTokenKind::tkString || !Lexer.Next(hi)) continue;
    if (hi.Kind != TPDFTokenKind::tkString || !Lexer.Next(dst)) continue;
    const int len = static_cast<int>(lo.Text.size());
    if (!CodeOf(lo.Text, a) || !CodeOf(hi.Text, b) || hi.Text.size() != lo.Text.size() || b < a) {
      // An unusable range still has its array of values passed over.
      if (dst.Kind == TPDFTokenKind::tkArrayBegin)
        while (Lexer.Next(dst) && dst.Kind != TPDFTokenKind::tkArrayEnd && !IsKeyword(dst, "endbfrange")) {
        }
      continue;
    }
    if (dst.Kind == TPDFTokenKind::tkString) AddRange(a, b, len, Utf16Of(dst.Text));
    else if (dst.Kind == TPDFTokenKind::tkArrayBegin) ReadBFRangeArray(Lexer, a, b, len);
  }
}

// "[<v1> <v2> ...]": one value per code from Lo on; values past Hi are read
// and ignored.
void TPDFCMap::ReadBFRangeArray(TPDFLexer& Lexer, uint32_t Lo, uint32_t Hi, int Len) {
  uint32_t c = Lo;
  TPDFToken item;
  while (Lexer.Next(item) && item.Kind != TPDFTokenKind::tkArrayEnd) {
    if (IsKeyword(item, "endbfrange")) break;
    if (item.Kind == TPDFTokenKind::tkString && c <= Hi) {
      AddChar(c, Len, Utf16Of(item.Text));
    } else if (item.Kind == TPDFTokenKind::tkName && c <= Hi) {
      std::u16string text;
      if (GetGlyphCharacter(item.Text, text)) AddChar(c, Len, text);
    }
    if (c == 0xFFFFFFFFu) break;
    ++c;
  }
}

void TPDFCMap::ReadCIDChars(TPDFLexer& Lexer) {
  TPDFToken src, dst;
  while (Lexer.Next(src) && !IsKeyword(src, "endcidchar")) {
    uint32_t code;
    if (src.Kind != TPDFTokenKind::tkString || !Lexer.Next(dst) || !CodeOf(src.Text, code)) continue;
    if (dst.Kind == TPDFTokenKind::tkInteger && dst.IntValue >= 0 && dst.IntValue <= kMaxCID &&
        FCIDChars.size() < kMaxExpanded)
      FCIDChars[Key(code, static_cast<int>(src.Text.size()))] = static_cast<uint32_t>(dst.IntValue);
  }
}

void TPDFCMap::ReadCIDRanges(TPDFLexer& Lexer) {
  TPDFToken lo, hi, dst;
  while (Lexer.Next(lo) && !IsKeyword(lo, "endcidrange")) {
    uint32_t a = 0, b = 0;
    if (lo.Kind != TPDFTokenKind::tkString || !Lexer.Next(hi)) continue;
    if (hi.Kind != TPDFTokenKind::tkString || !Lexer.Next(dst)) continue;
    if (!CodeOf(lo.Text, a) || !CodeOf(hi.Text, b)) continue;
    if (dst.Kind != TPDFTokenKind::tkInteger || dst.IntValue < 0 || dst.IntValue > kMaxCID || b < a ||
        hi.Text.size() != lo.Text.size() || FCIDRanges.size() >= kMaxExpanded)
      continue;
    FCIDRanges.push_back({a, b, static_cast<uint8_t>(lo.Text.size()), static_cast<uint32_t>(dst.IntValue)});
  }
}

void TPDFCMap::Index() {
  const auto byStart = [](const auto& x, const auto& y) { return x.Len != y.Len ? x.Len < y.Len : x.Lo < y.Lo; };
  std::stable_sort(FRanges.begin(), FRanges.end(), byStart);
  std::stable_sort(FCIDRanges.begin(), FCIDRanges.end(), byStart);

  FMinLen = FMaxLen = 0;
  std::fill(std::begin(FLenByFirstByte), std::end(FLenByFirstByte), uint8_t{0});
  for (const TCodeSpace& cs : FCodeSpace) {
    if (FMinLen == 0 || cs.Len < FMinLen) FMinLen = cs.Len;
    if (cs.Len > FMaxLen) FMaxLen = cs.Len;
  }
  // Where every range a first byte falls in has the same length, that byte
  // alone decides the length (0xFF marks a byte that needs the full test).
  for (int b = 0; b < 256; ++b) {
    for (const TCodeSpace& cs : FCodeSpace) {
      if (b < cs.Lo[0] || b > cs.Hi[0]) continue;
      uint8_t& slot = FLenByFirstByte[b];
      slot = slot == 0 ? cs.Len : (slot == cs.Len ? slot : 0xFF);
    }
  }
}

int TPDFCMap::CodeLength(std::string_view Bytes, int DefaultLength) const {
  const int avail = static_cast<int>(Bytes.size() < 4 ? Bytes.size() : 4);
  if (avail == 0) return 0;
  if (FCodeSpace.empty()) return DefaultLength < avail ? DefaultLength : avail;
  const uint8_t first = static_cast<uint8_t>(Bytes[0]);
  const uint8_t quick = FLenByFirstByte[first];
  if (quick != 0 && quick != 0xFF) return quick < avail ? quick : avail;
  for (int len = 1; len <= avail; ++len) {
    for (const TCodeSpace& cs : FCodeSpace) {
      if (cs.Len != len) continue;
      bool in = true;
      for (int i = 0; i < len && in; ++i) {
        const uint8_t c = static_cast<uint8_t>(Bytes[static_cast<size_t>(i)]);
        in = c >= cs.Lo[i] && c <= cs.Hi[i];
      }
      if (in) return len;
    }
  }
  // Outside every range: the shortest code length keeps the reader in step
  // with most damaged strings.
  return FMinLen < avail ? FMinLen : avail;
}

bool TPDFCMap::Lookup(uint32_t Code, int Length, std::u16string& Out) const {
  if (const auto it = FChars.find(Key(Code, Length)); it != FChars.end()) {
    Out.append(FPool, static_cast<size_t>(it->second >> 16), static_cast<size_t>(it->second & 0xFFFF));
    return true;
  }
  if (FRanges.empty()) return false;
  const TRange probe{Code, Code, static_cast<uint8_t>(Length), 0, 0};
  auto it = std::upper_bound(FRanges.begin(), FRanges.end(), probe, [](const TRange& x, const TRange& y) {
    return x.Len != y.Len ? x.Len < y.Len : x.Lo < y.Lo;
  });
  for (int k = 0; k < kRangeLookBack && it != FRanges.begin(); ++k) {
    --it;
    if (it->Len != Length) break;
    if (Code >= it->Lo && Code <= it->Hi) {
      AppendIncremented(Out, std::u16string_view(FPool).substr(it->Offset, it->Count), Code - it->Lo);
      return true;
    }
  }
  return false;
}

bool TPDFCMap::LookupCID(uint32_t Code, int Length, uint32_t& CID) const {
  if (const auto it = FCIDChars.find(Key(Code, Length)); it != FCIDChars.end()) {
    CID = it->second;
    return true;
  }
  if (FCIDRanges.empty()) return false;
  const TCIDRange probe{Code, Code, static_cast<uint8_t>(Length), 0};
  auto it = std::upper_bound(FCIDRanges.begin(), FCIDRanges.end(), probe, [](const TCIDRange& x, const TCIDRange& y) {
    return x.Len != y.Len ? x.Len < y.Len : x.Lo < y.Lo;
  });
  for (int k = 0; k < kRangeLookBack && it != FCIDRanges.begin(); ++k) {
    --it;
    if (it->Len != Length) break;
    if (Code >= it->Lo && Code <= it->Hi) {
      CID = it->CID + (Code - it->Lo);
      return true;
    }
  }
  return false;
}

}  // namespace lkw
