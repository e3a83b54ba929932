#include "lkword/pdf/LKWPDFFontProgram.h"

#include <algorithm>

#include "lkword/pdf/LKWPDFEncoding.h"
#include "lkword/pdf/LKWPDFSyntax.h"
#include "lkword/platform/Bytes.h"

namespace lkw {

namespace {

#include "lkword/pdf/data/PDFFontProgramTables.inc"

// Glyph counts above this are damage, not fonts.
constexpr uint32_t kMaxGlyphs = 65536;
// Entries of a cmap subtable read at most (format 12 groups can claim
// ranges of any size).
constexpr uint32_t kMaxCmapEntries = 1u << 20;

// Bounds-checked big-endian reads: out-of-range reads give 0 and set Bad.
struct TReader {
  std::string_view D;
  mutable bool Bad = false;
  bool Has(size_t Off, size_t Len) const { return Off <= D.size() && Len <= D.size() - Off; }
  uint32_t U8(size_t Off) const {
    if (!Has(Off, 1)) return Bad = true, 0;
    return static_cast<uint8_t>(D[Off]);
  }
  uint32_t U16(size_t Off) const {
    if (!Has(Off, 2)) return Bad = true, 0;
    return LoadBE16(D.data() + Off);
  }
  uint32_t U32(size_t Off) const { return U16(Off) << 16 | U16(Off + 2); }
  uint32_t UN(size_t Off, uint32_t N) const {
    uint32_t v = 0;
    for (uint32_t i = 0; i < N; ++i) v = v << 8 | U8(Off + i);
    return v;
  }
};

struct TTable {
  size_t Off = 0, Len = 0;
  bool Found = false;
};

TTable FindTable(const TReader& R, std::string_view Tag) {
  const uint32_t count = R.U16(4);
  for (uint32_t i = 0; i < count && !R.Bad; ++i) {
    const size_t rec = 12 + 16 * static_cast<size_t>(i);
    if (!R.Has(rec, 16)) break;
    if (R.D.substr(rec, 4) != Tag) continue;
    TTable t;
    t.Off = R.U32(rec + 8);
    t.Len = R.U32(rec + 12);
    if (!R.Has(t.Off, 0)) return {};
    if (!R.Has(t.Off, t.Len)) t.Len = R.D.size() - t.Off;  // a truncated table: what is there
    t.Found = true;
    return t;
  }
  return {};
}

// Calls Map(code, glyph) for each mapping of a cmap subtable.
template <typename F>
void ReadCmapSubtable(const TReader& R, size_t Off, F&& Map) {
  const uint32_t format = R.U16(Off);
  if (R.Bad) return;
  if (format == 0) {
    for (uint32_t c = 0; c < 256 && R.Has(Off + 6 + c, 1); ++c) Map(c, R.U8(Off + 6 + c));
  } else if (format == 4) {
    const uint32_t segX2 = R.U16(Off + 6);
    const size_t ends = Off + 14, starts = ends + segX2 + 2, deltas = starts + segX2, ranges = deltas + segX2;
    uint32_t n = 0;
    for (uint32_t s = 0; s + 1 < segX2 + 1 && s < segX2; s += 2) {
      const uint32_t end = R.U16(ends + s), start = R.U16(starts + s), delta = R.U16(deltas + s),
                     rangeOff = R.U16(ranges + s);
      if (R.Bad) return;
      for (uint32_t c = start; c <= end && c != 0xFFFF; ++c) {
        if (++n > kMaxCmapEntries) return;
        uint32_t g;
        if (rangeOff == 0) {
          g = (c + delta) & 0xFFFF;
        } else {
          const size_t at = ranges + s + rangeOff + 2 * static_cast<size_t>(c - start);
          if (!R.Has(at, 2)) break;
          g = R.U16(at);
          if (g) g = (g + delta) & 0xFFFF;
        }
        if (g) Map(c, g);
      }
    }
  } else if (format == 6) {
    const uint32_t first = R.U16(Off + 6), count = R.U16(Off + 8);
    for (uint32_t i = 0; i < count && R.Has(Off + 10 + 2 * static_cast<size_t>(i), 2); ++i)
      Map(first + i, R.U16(Off + 10 + 2 * static_cast<size_t>(i)));
  } else if (format == 12) {
    const uint32_t groups = R.U32(Off + 12);
    uint32_t n = 0;
    for (uint32_t i = 0; i < groups; ++i) {
      const size_t g = Off + 16 + 12 * static_cast<size_t>(i);
      if (!R.Has(g, 12)) return;
      const uint32_t start = R.U32(g), end = R.U32(g + 4), glyph = R.U32(g + 8);
      if (end < start || end > 0x10FFFF) continue;
      for (uint32_t c = start; c <= end; ++c) {
        if (++n > kMaxCmapEntries) return;
        Map(c, glyph + (c - start));
      }
    }
  }
}

void ReadCmap(const TReader& R, const TTable& T, TPDFFontProgram& P, uint32_t NumGlyphs) {
  const TReader sub{R.D.substr(T.Off, T.Len)};
  const uint32_t count = sub.U16(2);
  size_t uni = 0, uniRank = 0;
  for (uint32_t i = 0; i < count && sub.Has(4 + 8 * static_cast<size_t>(i), 8); ++i) {
    const size_t rec = 4 + 8 * static_cast<size_t>(i);
    const uint32_t platform = sub.U16(rec), encoding = sub.U16(rec + 2), off = sub.U32(rec + 4);
    if (!sub.Has(off, 2)) continue;
    if (platform == 3 && encoding == 0) {
      P.HasSymbolCmap = true;
      ReadCmapSubtable(sub, off, [&](uint32_t c, uint32_t g) {
        // Symbol subtables put one-byte codes at F000+code (some at code).
        if (c >= 0xF000 && c <= 0xF0FF) P.SymbolCodeToGlyph[c - 0xF000] = static_cast<int32_t>(g);
        else if (c < 256 && P.SymbolCodeToGlyph[c] < 0) P.SymbolCodeToGlyph[c] = static_cast<int32_t>(g);
      });
    } else if (platform == 1 && encoding == 0) {
      P.HasMacCmap = true;
      ReadCmapSubtable(sub, off, [&](uint32_t c, uint32_t g) {
        if (c < 256) P.MacCodeToGlyph[c] = static_cast<int32_t>(g);
      });
    } else {
      const size_t rank = platform == 3 && encoding == 10 ? 3 : platform == 3 && encoding == 1 ? 2 : platform == 0 ? 1 : 0;
      if (rank > uniRank) uniRank = rank, uni = off;
    }
  }
  if (uniRank == 0) return;
  P.GlyphUnicode.assign(NumGlyphs, 0);
  ReadCmapSubtable(sub, uni, [&](uint32_t c, uint32_t g) {
    if (g == 0) return;
    P.UnicodeToGlyph.emplace(static_cast<char32_t>(c), g);
    // The lowest code wins for a glyph that several codes share.
    if (g < P.GlyphUnicode.size() && P.GlyphUnicode[g] == 0) P.GlyphUnicode[g] = static_cast<char32_t>(c);
  });
}

void ReadPost(const TReader& R, const TTable& T, TPDFFontProgram& P, uint32_t NumGlyphs) {
  const TReader post{R.D.substr(T.Off, T.Len)};
  const uint32_t version = post.U32(0);
  if (post.Bad) return;
  if (version == 0x00010000) {
    const uint32_t n = std::min<uint32_t>(NumGlyphs, 258);
    P.GlyphNames.assign(n, std::string());
    for (uint32_t g = 0; g < n; ++g) P.GlyphNames[g] = PoolName(kMacGlyphNames[g]);
    return;
  }
  if (version != 0x00020000) return;
  const uint32_t n = post.U16(32);
  if (!post.Has(34, 2 * static_cast<size_t>(n))) return;
  // The Pascal strings after the index array, in order.
  std::vector<std::string_view> extra;
  for (size_t at = 34 + 2 * static_cast<size_t>(n); at < post.D.size();) {
    const size_t len = post.U8(at);
    if (!post.Has(at + 1, len)) break;
    extra.push_back(post.D.substr(at + 1, len));
    at += 1 + len;
  }
  P.GlyphNames.assign(n, std::string());
  for (uint32_t g = 0; g < n; ++g) {
    const uint32_t index = post.U16(34 + 2 * static_cast<size_t>(g));
    if (index < 258) P.GlyphNames[g] = PoolName(kMacGlyphNames[index]);
    else if (index - 258 < extra.size()) P.GlyphNames[g] = extra[index - 258];
  }
}

// CFF INDEX: Count offsets into the data that follows; returns the offset
// after the INDEX (0 on damage) and the items' ranges.
size_t ReadIndex(const TReader& R, size_t Off, std::vector<std::string_view>* Items) {
  const uint32_t count = R.U16(Off);
  if (R.Bad) return 0;
  if (count == 0) return Off + 2;
  const uint32_t offSize = R.U8(Off + 2);
  if (offSize < 1 || offSize > 4) return 0;
  const size_t offs = Off + 3;
  if (!R.Has(offs, (static_cast<size_t>(count) + 1) * offSize)) return 0;
  const size_t base = offs + (static_cast<size_t>(count) + 1) * offSize - 1;
  uint32_t prev = R.UN(offs, offSize);
  for (uint32_t i = 1; i <= count; ++i) {
    const uint32_t cur = R.UN(offs + static_cast<size_t>(i) * offSize, offSize);
    if (cur < prev || !R.Has(base + prev, cur - prev)) return 0;
    if (Items) Items->push_back(R.D.substr(base + prev, cur - prev));
    prev = cur;
  }
  return base + prev;
}

// Top DICT operators we need, with their first operand.
struct TTopDict {
  int64_t Charset = 0, Encoding = 0, CharStrings = -1;
  bool ROS = false;
};

void ReadTopDict(std::string_view D, TTopDict& Top) {
  const TReader r{D};
  std::vector<double> ops;
  for (size_t i = 0; i < D.size();) {
    const uint32_t b = r.U8(i);
    if (b <= 21) {
      uint32_t op = b;
      ++i;
      if (b == 12) op = 1200 + r.U8(i++);
      const int64_t v = ops.empty() ? 0 : static_cast<int64_t>(ops[0]);
      if (op == 15) Top.Charset = v;
      else if (op == 16) Top.Encoding = v;
      else if (op == 17) Top.CharStrings = v;
      else if (op == 1230) Top.ROS = true;
      ops.clear();
    } else if (b == 28) {
      ops.push_back(static_cast<int16_t>(r.U16(i + 1)));
      i += 3;
    } else if (b == 29) {
      ops.push_back(static_cast<int32_t>(r.U32(i + 1)));
      i += 5;
    } else if (b == 30) {  // a real: only its nibbles' extent matters here
      ++i;
      while (i < D.size()) {
        const uint32_t n = r.U8(i++);
        if ((n & 0x0F) == 0x0F || (n >> 4) == 0x0F) break;
      }
      ops.push_back(0);
    } else if (b >= 32 && b <= 246) {
      ops.push_back(static_cast<int>(b) - 139);
      ++i;
    } else if (b >= 247 && b <= 250) {
      ops.push_back((static_cast<int>(b) - 247) * 256 + static_cast<int>(r.U8(i + 1)) + 108);
      i += 2;
    } else if (b >= 251 && b <= 254) {
      ops.push_back(-(static_cast<int>(b) - 251) * 256 - static_cast<int>(r.U8(i + 1)) - 108);
      i += 2;
    } else {
      ++i;
    }
    if (ops.size() > 48) ops.clear();
  }
}

std::string_view SIDName(uint32_t SID, const std::vector<std::string_view>& Strings) {
  if (SID < 391) return PoolName(kCFFStandardStrings[SID]);
  return SID - 391 < Strings.size() ? Strings[SID - 391] : std::string_view();
}

}  // namespace

bool ParseCFFProgram(std::string_view Data, TPDFFontProgram& P) {
  const TReader r{Data};
  const uint32_t hdrSize = r.U8(2);
  if (r.Bad || r.U8(0) != 1) return false;
  const size_t afterNames = ReadIndex(r, hdrSize, nullptr);
  if (afterNames == 0) return false;
  std::vector<std::string_view> tops, strings;
  const size_t afterTop = ReadIndex(r, afterNames, &tops);
  if (afterTop == 0 || tops.empty()) return false;
  ReadIndex(r, afterTop, &strings);
  TTopDict top;
  ReadTopDict(tops[0], top);
  P.CIDKeyed = top.ROS;
  if (top.CharStrings <= 0 || !r.Has(static_cast<size_t>(top.CharStrings), 2)) return false;
  uint32_t numGlyphs = r.U16(static_cast<size_t>(top.CharStrings));
  numGlyphs = std::min(numGlyphs, kMaxGlyphs);
  if (numGlyphs == 0) return false;

  // Charset: SIDs (names) or, in a CID-keyed font, CIDs by glyph.
  std::vector<uint32_t> ids(numGlyphs, 0);
  if (top.Charset == 0 && !top.ROS) {
    for (uint32_t g = 0; g < numGlyphs; ++g) ids[g] = g < 229 ? g : 0;  // ISOAdobe: SID = glyph
  } else if (top.Charset > 2 && r.Has(static_cast<size_t>(top.Charset), 1)) {
    size_t at = static_cast<size_t>(top.Charset);
    const uint32_t format = r.U8(at++);
    uint32_t g = 1;
    if (format == 0) {
      for (; g < numGlyphs && r.Has(at, 2); ++g, at += 2) ids[g] = r.U16(at);
    } else if (format == 1 || format == 2) {
      while (g < numGlyphs && !r.Bad) {
        const uint32_t first = r.U16(at);
        const uint32_t left = format == 1 ? r.U8(at + 2) : r.U16(at + 2);
        at += format == 1 ? 3 : 4;
        if (r.Bad) break;
        for (uint32_t k = 0; k <= left && g < numGlyphs; ++k) ids[g++] = first + k;
      }
    }
  }
  if (top.ROS) {
    P.GlyphCID = ids;
  } else {
    P.GlyphNames.assign(numGlyphs, std::string());
    for (uint32_t g = 0; g < numGlyphs; ++g) P.GlyphNames[g] = SIDName(ids[g], strings);
    // Built-in encoding: Standard (0), or codes listed per glyph.
    if (top.Encoding == 0) {
      for (int c = 0; c < 256; ++c) P.Encoding[c] = PDFEncodingGlyphName(TPDFBaseEncoding::beStandard, static_cast<uint8_t>(c));
      P.HasEncoding = true;
    } else if (top.Encoding > 1 && r.Has(static_cast<size_t>(top.Encoding), 2)) {
      size_t at = static_cast<size_t>(top.Encoding);
      const uint32_t format = r.U8(at++);
      const uint32_t count = r.U8(at++);
      if ((format & 0x7F) == 0) {
        for (uint32_t i = 0; i < count && i + 1 < numGlyphs && r.Has(at + i, 1); ++i)
          P.Encoding[r.U8(at + i)] = P.GlyphNames[i + 1];
        at += count;
      } else if ((format & 0x7F) == 1) {
        uint32_t g = 1;
        for (uint32_t i = 0; i < count && r.Has(at + 2 * static_cast<size_t>(i), 2); ++i) {
          const uint32_t first = r.U8(at + 2 * static_cast<size_t>(i)), left = r.U8(at + 2 * static_cast<size_t>(i) + 1);
          for (uint32_t k = 0; k <= left && g < numGlyphs && first + k < 256; ++k) P.Encoding[first + k] = P.GlyphNames[g++];
        }
        at += 2 * static_cast<size_t>(count);
      }
      if (format & 0x80) {  // supplements: more codes for named glyphs
        const uint32_t n = r.U8(at++);
        for (uint32_t i = 0; i < n && r.Has(at + 3 * static_cast<size_t>(i), 3); ++i)
          P.Encoding[r.U8(at + 3 * static_cast<size_t>(i))] = SIDName(r.U16(at + 3 * static_cast<size_t>(i) + 1), strings);
      }
      P.HasEncoding = true;
    }
  }
  return true;
}

bool ParseTrueTypeProgram(std::string_view Data, TPDFFontProgram& P) {
  const TReader r{Data};
  const uint32_t tag = r.U32(0);
  if (r.Bad) return false;
  if (tag == 0x74746366) return false;  // a collection: not in PDF files
  if (tag != 0x00010000 && tag != 0x4F54544F && tag != 0x74727565) return false;
  const TTable maxp = FindTable(r, "maxp");
  uint32_t numGlyphs = maxp.Found ? r.U16(maxp.Off + 4) : 0;
  if (numGlyphs == 0) numGlyphs = kMaxGlyphs;
  numGlyphs = std::min(numGlyphs, kMaxGlyphs);
  if (const TTable cmap = FindTable(r, "cmap"); cmap.Found) ReadCmap(r, cmap, P, numGlyphs);
  if (const TTable cff = FindTable(r, "CFF "); cff.Found) {
    ParseCFFProgram(Data.substr(cff.Off, cff.Len), P);
  } else if (const TTable post = FindTable(r, "post"); post.Found) {
    ReadPost(r, post, P, numGlyphs);
  }
  return true;
}

bool ParseType1Program(std::string_view Data, TPDFFontProgram& P) {
  // The encoding is in the cleartext part, before eexec.
  const size_t eexec = Data.find("eexec");
  std::string_view clear = Data.substr(0, eexec);
  const size_t enc = clear.find("/Encoding");
  if (enc == std::string_view::npos) return false;
  TPDFLexer lx(clear, enc + 9);
  TPDFToken t;
  if (!lx.Next(t)) return false;
  if (t.Kind == TPDFTokenKind::tkKeyword && t.Text == "StandardEncoding") {
    for (int c = 0; c < 256; ++c) P.Encoding[c] = PDFEncodingGlyphName(TPDFBaseEncoding::beStandard, static_cast<uint8_t>(c));
    P.HasEncoding = true;
    return true;
  }
  // dup <code> /<name> put, until the array is defined.
  TPDFToken a, b, c;
  while (lx.Next(t)) {
    if (t.Kind == TPDFTokenKind::tkKeyword && (t.Text == "def" || t.Text == "readonly")) break;
    if (t.Kind != TPDFTokenKind::tkKeyword || t.Text != "dup") continue;
    if (!lx.Next(a) || a.Kind != TPDFTokenKind::tkInteger) continue;
    if (!lx.Next(b) || b.Kind != TPDFTokenKind::tkName) continue;
    if (!lx.Next(c) || c.Kind != TPDFTokenKind::tkKeyword || c.Text != "put") continue;
    if (a.IntValue >= 0 && a.IntValue < 256) {
      P.Encoding[static_cast<size_t>(a.IntValue)] = b.Text;
      P.HasEncoding = true;
    }
  }
  return P.HasEncoding;
}

bool ParseFontProgram(std::string_view Data, TPDFFontProgram& P) {
  if (Data.size() >= 4) {
    const uint32_t tag = TReader{Data}.U32(0);
    if (tag == 0x00010000 || tag == 0x4F54544F || tag == 0x74727565) return ParseTrueTypeProgram(Data, P);
    if (static_cast<uint8_t>(Data[0]) == 1 && static_cast<uint8_t>(Data[1]) == 0) return ParseCFFProgram(Data, P);
  }
  return ParseType1Program(Data, P);
}

}  // namespace lkw
