#include "lkword/pdf/LKWPDFFont.h"

#include <algorithm>
#include <array>

#include "lkword/pdf/LKWPDF.h"
#include "lkword/pdf/LKWPDFCMap.h"
#include "lkword/pdf/LKWPDFEncoding.h"
#include "lkword/pdf/LKWPDFFontProgram.h"
#include "lkword/platform/Ascii.h"
#include "lkword/platform/Bytes.h"
#include "lkword/platform/CodePages.h"
#include "lkword/platform/Exceptions.h"

namespace lkw {

WideString DecodePDFTextString(std::string_view Bytes) {
  WideString out;
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(Bytes[i]); };
  if (Bytes.size() >= 2 && ((byte(0) == 0xFE && byte(1) == 0xFF) || (byte(0) == 0xFF && byte(1) == 0xFE))) {
    // A byte-swapped mark is not allowed, but some producers write it.
    const bool le = byte(0) == 0xFF;
    out.reserve(Bytes.size() / 2);
    bool inEscape = false;
    for (size_t i = 2; i + 1 < Bytes.size(); i += 2) {
      const char16_t c = le ? LoadLE16(Bytes.data() + i) : LoadBE16(Bytes.data() + i);
      // ESC language-code ESC marks a language change, not text.
      if (c == 0x1B) {
        inEscape = !inEscape;
        continue;
      }
      if (inEscape || c == 0) continue;
      out.push_back(c);
    }
    return out;
  }
  if (Bytes.size() >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) {
    out = Utf8ToWide(Bytes.substr(3));
    std::erase(out, u'\0');
    return out;
  }
  out.reserve(Bytes.size());
  for (size_t i = 0; i < Bytes.size(); ++i) {
    if (byte(i) == 0) continue;
    const char16_t c = PDFDocEncodingChar(byte(i));
    out.push_back(c ? c : u'\uFFFD');
  }
  return out;
}

namespace {

// A Type 0 font's code-to-text route when it has no ToUnicode map.
enum class TUnicodeRoute : uint8_t { urNone, urUCS2, urUTF16, urUTF8, urUTF32, urCodePage };

// How a predefined CMap name splits codes.
enum class TCodeRule : uint8_t { crFixed, crUTF16, crUTF8, crShiftJIS, crLead81, crLeadA1, crEUCJP };

// How a code's bytes become the code page's: as they are, or from the 7-bit
// row/cell form of a national character set (JIS X 0208 to Shift-JIS; GB 2312
// and KS X 1001 to their EUC form).
enum class TByteForm : uint8_t { bfAsIs, bfJISRowCell, bfHighBit };


// Entries read from a /W array at most, and CIDs a CIDToGIDMap is read for
// (CID fonts have at most 65536 glyphs; this bounds hostile ones).
constexpr size_t kMaxWidthEntries = 1u << 17;
constexpr size_t kMaxCIDs = 1u << 17;
// A ToUnicode value longer than this for one glyph is a producer's mistake
// (one seen maps a mark to its whole paragraph), not a ligature.
constexpr size_t kMaxGlyphText = 16;
// Width of a glyph when nothing says otherwise (half an em).
constexpr double kDefaultWidth = 0.5;
// A Type 3 font with at least this many glyphs at codes 0 or 1 onwards, none
// left out, numbered its glyphs as it drew them.
constexpr int kSequentialCodes = 8;

bool StartsWith(std::string_view S, std::string_view P) { return S.size() >= P.size() && S.substr(0, P.size()) == P; }
bool EndsWith(std::string_view S, std::string_view P) {
  return S.size() >= P.size() && S.substr(S.size() - P.size()) == P;
}

// A predefined CMap that writes vertically: "V" itself and every "...-V".
bool IsVerticalCMapName(std::string_view Name) { return Name == "V" || EndsWith(Name, "-V"); }

// Text that says nothing a reader can use: controls, the private-use areas,
// the replacement character.
bool IsBlankControl(char16_t C) { return C == 0x09 || C == 0x0A || C == 0x0D; }

bool IsPoorText(std::u16string_view Text) {
  if (Text.empty()) return true;
  for (const char16_t c : Text) {
    const bool poor = (c < 0x20 && !IsBlankControl(c)) || (c >= 0x7F && c <= 0x9F) || (c >= 0xE000 && c <= 0xF8FF) || c == 0xFFFD ||
                      (c >= 0xDB80 && c <= 0xDBFF);  // high surrogates of the supplementary private-use planes
    if (!poor) return false;
  }
  return true;
}

// Fonts of symbols and pictures, whose codes are no letters whatever they
// look like in a text encoding.
bool IsSymbolFontName(std::string_view Name) {
  for (const char* word : {"symbol", "dingbat", "wingding", "webding", "marlett", "mtextra", "mt extra", "math",
                           "bookshelf", "holidays", "opensymbol", "fontawesome", "icon", "emoji"})
    if (FindTextAscii(Name, word) != std::string_view::npos) return true;
  return false;
}

bool IsPUA(char32_t C) { return (C >= 0xE000 && C <= 0xF8FF) || C >= 0xF0000; }

struct TLoadContext {
  TLKPDFReader& Reader;
  TPDFObject Get(const TPDFObject& Dict, std::string_view Key) {
    const TPDFObject* v = Dict.Get(Key);
    if (!v) return TPDFObject();
    try {
      return v->IsRef() ? Reader.Resolve(*v) : *v;
    } catch (const Exception&) {
      return TPDFObject();
    }
  }
  TPDFObject Resolve(const TPDFObject& Obj) {
    try {
      return Reader.Resolve(Obj);
    } catch (const Exception&) {
      return TPDFObject();
    }
  }
  // The decoded data of a stream value (a reference).
  bool Stream(const TPDFObject& Dict, std::string_view Key, RawByteString& Data) {
    const TPDFObject* v = Dict.Get(Key);
    if (!v || !v->IsRef()) return false;
    try {
      return Reader.GetStreamData(v->RefNum, Data);
    } catch (const Exception&) {
      return false;
    }
  }
};


}  // namespace

struct TLKPDFFont::TImpl {
  enum class TKind : uint8_t { fkSimple, fkType3, fkComposite };
  TKind Kind = TKind::fkSimple;

  // Simple fonts: everything per code, computed at load.
  struct TCodeInfo {
    std::u16string Text;
    double Width = 0;
    bool Mapped = false;
  };
  std::array<TCodeInfo, 256> Codes;

  // Composite fonts.
  TPDFCMap EncodingCMap;  // an embedded encoding CMap
  bool HasEncodingCMap = false;
  bool IdentityCodes = true;  // code = CID (Identity-H/V, or unknown)
  TCodeRule Rule = TCodeRule::crFixed;
  int FixedLength = 2;
  TUnicodeRoute Route = TUnicodeRoute::urNone;
  uint32_t CodePage = 0;
  TByteForm ByteForm = TByteForm::bfAsIs;
  TPDFCMap ToUnicode;
  bool HasToUnicode = false;
  bool ToUnicodeGiven = false;  // the font names a ToUnicode map, empty or not
  // Widths by CID (in text space for size 1).
  std::unordered_map<uint32_t, double> W;
  struct TWidthRange {
    uint32_t Lo, Hi;
    double Width;
  };
  std::vector<TWidthRange> WRanges;
  double DW = 1.0;
  // From the embedded program: CID -> Unicode text through CIDToGIDMap and
  // the program's cmap or glyph names.
  bool HasCIDToGIDStream = false;
  std::vector<uint16_t> CIDToGID;
  bool CIDKeyedProgram = false;
  std::unordered_map<uint32_t, uint32_t> CIDToGlyph;  // CID-keyed CFF: CID -> glyph
  TPDFFontProgram Program;
  bool HasProgram = false;
  bool CJKWidthGuess = false;  // predefined CMaps: widths by the CIDs of ASCII
  // A simple font whose name is no symbol font's: a code with nothing else
  // to name it reads as a WinAnsi letter.
  bool CodesAreLatin = false;
  // The Adobe character collection the CIDs belong to (Japan1, GB1, ...),
  // and whether it is trusted before the program (a CFF or non-embedded CID
  // font: its CIDs are the collection's; TrueType CID fonts often declare a
  // collection while their CIDs are glyph numbers).
  std::string Ordering;
  bool CollectionFirst = false;
  mutable std::unordered_map<uint32_t, std::u16string> TextCache;

  double CIDWidth(uint32_t CID) const {
    if (const auto it = W.find(CID); it != W.end()) return it->second;
    // Ranges sorted by their start; overlapping ones only in damaged fonts.
    auto it = std::upper_bound(WRanges.begin(), WRanges.end(), CID,
                               [](uint32_t c, const TWidthRange& r) { return c < r.Lo; });
    if (it != WRanges.begin() && CID <= (it - 1)->Hi) return (it - 1)->Width;
    return DW;
  }

  int CompositeCodeLength(std::string_view Bytes) const {
    if (HasEncodingCMap && EncodingCMap.HasCodeSpace()) return EncodingCMap.CodeLength(Bytes, 2);
    const int avail = static_cast<int>(Bytes.size() < 4 ? Bytes.size() : 4);
    const uint8_t b = static_cast<uint8_t>(Bytes[0]);
    int len = FixedLength;
    switch (Rule) {
      case TCodeRule::crFixed: break;
      case TCodeRule::crUTF16: len = (b >= 0xD8 && b <= 0xDB) ? 4 : 2; break;
      case TCodeRule::crUTF8: len = b < 0xC0 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4; break;
      case TCodeRule::crShiftJIS: len = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC) ? 2 : 1; break;
      case TCodeRule::crLead81: len = b >= 0x81 && b <= 0xFE ? 2 : 1; break;
      case TCodeRule::crLeadA1: len = b >= 0xA1 && b <= 0xFE ? 2 : 1; break;
      case TCodeRule::crEUCJP: len = b == 0x8F ? 3 : (b >= 0xA1 && b <= 0xFE) || b == 0x8E ? 2 : 1; break;
    }
    return len < avail ? len : avail;
  }

  bool CollectionText(uint32_t CID, std::u16string& Out) const {
    if (Ordering.empty()) return false;
    const char32_t u = CIDCollectionUnicode(Ordering, CID);
    if (u == 0 || IsPUA(u)) return false;
    std::u16string t;
    AppendCodePoint(t, u);
    AppendExpandingPresentationForms(Out, t);
    return true;
  }

  // A composite font's program is read when a glyph first needs it: most
  // such fonts carry a ToUnicode map, and their programs are large.
  TLKPDFReader* PendingReader = nullptr;
  TPDFObject PendingDescriptor;

  // Text of a CID through the embedded program.
  bool ProgramText(uint32_t CID, std::u16string& Out) const {
    if (PendingReader) {
      auto* self = const_cast<TImpl*>(this);
      TLoadContext c{*PendingReader};
      self->PendingReader = nullptr;
      self->LoadProgram(c, PendingDescriptor);
      self->PendingDescriptor = TPDFObject();
    }
    if (!HasProgram) return false;
    uint32_t glyph = CID;
    if (CIDKeyedProgram) {
      const auto it = CIDToGlyph.find(CID);
      if (it == CIDToGlyph.end()) return false;
      glyph = it->second;
    } else if (HasCIDToGIDStream) {
      if (CID >= CIDToGID.size()) return false;
      glyph = CIDToGID[CID];
    }
    if (glyph == 0) return false;
    return GlyphText(glyph, Out);
  }

  // A program glyph's text: the Unicode value its tables give (not a
  // private-use one), else what its name says.
  bool GlyphText(uint32_t Glyph, std::u16string& Out) const {
    if (Glyph < Program.GlyphUnicode.size() && Program.GlyphUnicode[Glyph] && !IsPUA(Program.GlyphUnicode[Glyph])) {
      std::u16string t;
      AppendCodePoint(t, Program.GlyphUnicode[Glyph]);
      AppendExpandingPresentationForms(Out, t);
      return true;
    }
    if (const std::string* name = Program.GlyphName(Glyph)) return GetGlyphCharacter(*name, Out);
    return false;
  }

  // Text of a code through the predefined CMap's own character set.
  bool RouteText(uint32_t Code, std::string_view CodeBytes, std::u16string& Out) const {
    switch (Route) {
      case TUnicodeRoute::urNone: return false;
      case TUnicodeRoute::urUCS2:
        if (CodeBytes.size() != 2) return false;
        Out.push_back(static_cast<char16_t>(Code));
        return true;
      case TUnicodeRoute::urUTF16:
        if (CodeBytes.size() == 2) Out.push_back(static_cast<char16_t>(Code));
        else if (CodeBytes.size() == 4) Out.append({static_cast<char16_t>(Code >> 16), static_cast<char16_t>(Code)});
        else return false;
        return true;
      case TUnicodeRoute::urUTF8: Out += Utf8ToWide(CodeBytes); return true;
      case TUnicodeRoute::urUTF32:
        if (CodeBytes.size() != 4 || Code > 0x10FFFF) return false;
        AppendCodePoint(Out, Code);
        return true;
      case TUnicodeRoute::urCodePage: {
        const uint32_t key = Code | static_cast<uint32_t>(CodeBytes.size()) << 24;
        auto it = TextCache.find(key);
        if (it == TextCache.end()) it = TextCache.emplace(key, ApplyCJKCodePage(CodeBytes)).first;
        Out += it->second;
        return !it->second.empty();
      }
    }
    return false;
  }

  // --- Loading -----------------------------------------------------------

  // Predefined CMaps whose codes are the characters of a code page or of a
  // Unicode form; others give CIDs only through their data, which is not
  // carried, so their codes are taken as CIDs.
  void ClassifyPredefined(std::string_view Name) {
    IdentityCodes = true;
    Rule = TCodeRule::crFixed;
    FixedLength = 2;
    if (StartsWith(Name, "Identity-")) return;
    const auto has = [&](std::string_view p) { return Name.find(p) != std::string_view::npos; };
    if (StartsWith(Name, "Uni")) {
      IdentityCodes = false;
      CJKWidthGuess = true;
      if (has("UCS2")) Route = TUnicodeRoute::urUCS2;
      else if (has("UTF16")) Route = TUnicodeRoute::urUTF16, Rule = TCodeRule::crUTF16;
      else if (has("UTF8")) Route = TUnicodeRoute::urUTF8, Rule = TCodeRule::crUTF8;
      else if (has("UTF32")) Route = TUnicodeRoute::urUTF32, FixedLength = 4;
      else IdentityCodes = true, CJKWidthGuess = false;
      return;
    }
    uint32_t cp = 0;
    TCodeRule rule = TCodeRule::crLead81;
    TByteForm form = TByteForm::bfAsIs;
    // The bare names (H, V, GB-H, KSC-V, ...) write the national set's
    // row/cell bytes, two 7-bit bytes a character.
    const std::string_view base =
        EndsWith(Name, "-H") || EndsWith(Name, "-V") ? Name.substr(0, Name.size() - 2) : Name;
    if (base == "H" || base == "V" || base == "Add" || base == "Ext" || base == "NWP")
      cp = 932, rule = TCodeRule::crFixed, form = TByteForm::bfJISRowCell;
    else if (base == "EUC") cp = 20932, rule = TCodeRule::crEUCJP;
    else if (base == "GB" || base == "GBT") cp = 936, rule = TCodeRule::crFixed, form = TByteForm::bfHighBit;
    else if (base == "KSC") cp = 949, rule = TCodeRule::crFixed, form = TByteForm::bfHighBit;
    else if (has("RKSJ")) cp = 932, rule = TCodeRule::crShiftJIS;
    else if (StartsWith(Name, "GB-EUC") || StartsWith(Name, "GBT-EUC")) cp = 936, rule = TCodeRule::crLeadA1;
    else if (StartsWith(Name, "GB")) cp = 936;
    else if (has("Johab")) cp = 1361, rule = TCodeRule::crLead81;
    else if (StartsWith(Name, "KSC-EUC") || StartsWith(Name, "KSCpc-EUC")) cp = 949, rule = TCodeRule::crLeadA1;
    else if (StartsWith(Name, "KSC")) cp = 949;
    else if (StartsWith(Name, "B5") || StartsWith(Name, "ETen") || StartsWith(Name, "ETHK") || StartsWith(Name, "HK"))
      cp = 950;
    if (cp == 0) return;
    ByteForm = form;
    IdentityCodes = false;
    CJKWidthGuess = true;
    Route = TUnicodeRoute::urCodePage;
    CodePage = cp;
    Rule = rule;
  }

  // A /W array: c [w1 w2 ...] and c_first c_last w.
  void ReadW(TLoadContext& C, const TPDFObject& Arr, double Scale) {
    const size_t n = Arr.Items.size() < kMaxWidthEntries ? Arr.Items.size() : kMaxWidthEntries;
    for (size_t i = 0; i + 1 < n;) {
      const TPDFObject& first = Arr.Items[i];
      const TPDFObject second = Arr.Items[i + 1].IsRef() ? C.Resolve(Arr.Items[i + 1]) : Arr.Items[i + 1];
      if (!first.IsNumber()) {
        ++i;
        continue;
      }
      const int64_t c0 = first.AsInt();
      if (second.IsArray()) {
        for (size_t k = 0; k < second.Items.size() && W.size() < kMaxWidthEntries; ++k) {
          const int64_t cid = c0 + static_cast<int64_t>(k);
          const TPDFObject& item = second.Items[k];
          const TPDFObject value = item.IsRef() ? C.Resolve(item) : item;
          if (cid >= 0 && cid <= 0xFFFFFFFF && value.IsNumber()) W[static_cast<uint32_t>(cid)] = value.AsNumber() * Scale;
        }
        i += 2;
      } else if (i + 2 < n && second.IsNumber() && Arr.Items[i + 2].IsNumber()) {
        const int64_t c1 = second.AsInt();
        if (c0 >= 0 && c1 >= c0 && c1 <= 0xFFFFFFFF)
          WRanges.push_back({static_cast<uint32_t>(c0), static_cast<uint32_t>(c1), Arr.Items[i + 2].AsNumber() * Scale});
        i += 3;
      } else {
        ++i;
      }
    }
  }

  enum class TProgramKind : uint8_t { pkNone, pkType1, pkTrueType, pkCFF };
  TProgramKind ProgramKind = TProgramKind::pkNone;

  void LoadProgram(TLoadContext& C, const TPDFObject& Descriptor) {
    if (!Descriptor.IsDict()) return;
    RawByteString data;
    try {
      if (C.Stream(Descriptor, "FontFile2", data)) {
        HasProgram = ParseTrueTypeProgram(data, Program);
        ProgramKind = TProgramKind::pkTrueType;
      } else if (C.Stream(Descriptor, "FontFile3", data)) {
        HasProgram = ParseFontProgram(data, Program);
        ProgramKind = data.size() >= 4 && data[0] == 1 ? TProgramKind::pkCFF : TProgramKind::pkTrueType;
        if (!Program.GlyphCID.empty() || (Program.HasEncoding && Program.UnicodeToGlyph.empty()))
          ProgramKind = TProgramKind::pkCFF;
      } else if (C.Stream(Descriptor, "FontFile", data)) {
        HasProgram = ParseType1Program(data, Program);
        ProgramKind = TProgramKind::pkType1;
      }
    } catch (const Exception&) {
      // A damaged program gives what was read before the damage.
    }
    if (!Program.GlyphCID.empty()) {
      CIDKeyedProgram = true;
      for (uint32_t g = 0; g < Program.GlyphCID.size(); ++g) CIDToGlyph.emplace(Program.GlyphCID[g], g);
    }
    if (!HasProgram && ProgramKind != TProgramKind::pkNone && Program.GlyphNames.empty() && Program.GlyphUnicode.empty())
      ProgramKind = TProgramKind::pkNone;
  }

  void ReadToUnicode(TLoadContext& C, const TPDFObject& Dict) {
    RawByteString data;
    const TPDFObject* tu = Dict.Get("ToUnicode");
    ToUnicodeGiven = tu != nullptr;
    // /ToUnicode /Identity-H is no CMap, but its writers mean codes that are
    // UCS-2.
    if (tu && tu->IsName() && StartsWith(tu->Str, "Identity-")) {
      if (Kind == TKind::fkComposite && Route == TUnicodeRoute::urNone) Route = TUnicodeRoute::urUCS2;
      return;
    }
    if (!C.Stream(Dict, "ToUnicode", data)) return;
    ToUnicode.Parse(data);
    HasToUnicode = ToUnicode.HasUnicode();
  }

  void ReadExtent(TLKPDFFont& Font, const TPDFObject& Descriptor, double Scale) {
    if (!Descriptor.IsDict()) return;
    const TPDFObject* a = Descriptor.Get("Ascent");
    const TPDFObject* d = Descriptor.Get("Descent");
    const double asc = a ? a->AsNumber() * Scale : 0, desc = d ? d->AsNumber() * Scale : 0;
    if (asc > 0.2 && asc < 3) Font.FAscent = asc;
    if (desc != 0 && desc > -2 && desc < 2) Font.FDescent = desc < 0 ? desc : -desc;
  }

  void LoadSimple(TLKPDFFont& Font, TLoadContext& C, const TPDFObject& Dict) {
    const bool type3 = Font.FSubtype == "Type3";
    Kind = type3 ? TKind::fkType3 : TKind::fkSimple;
    double scale = 0.001, vscale = 0.001;
    if (type3) {
      const TPDFObject m = C.Get(Dict, "FontMatrix");
      if (m.IsArray() && m.Items.size() == 6) {
        scale = m.Items[0].AsNumber(0.001);
        vscale = m.Items[3].AsNumber(0.001);
        if (scale < 0) scale = -scale;
        if (vscale < 0) vscale = -vscale;
      }
    }
    const TPDFObject desc = C.Get(Dict, "FontDescriptor");
    const int64_t flags = desc.IsDict() && desc.Get("Flags") ? C.Get(desc, "Flags").AsInt() : 0;
    const bool symbolic = (flags & 4) != 0;
    if (!type3) LoadProgram(C, desc);
    const int std14 = type3 ? -1 : StandardFontIndex(Font.FBaseFont);
    const bool dingbats = StandardFontEncoding(std14) == TPDFBaseEncoding::beZapfDingbats ||
                          Font.FBaseFont.find("Dingbats") != std::string::npos;
    // The standard fonts have encodings of their own, Zapf Dingbats among them.
    CodesAreLatin = !type3 && std14 < 0 && !IsSymbolFontName(Font.FBaseFont);

    // Glyph names by code: base encoding, then Differences.
    std::array<std::string, 256> names;
    TPDFBaseEncoding base = TPDFBaseEncoding::beNone;
    bool baseNamed = false;
    const TPDFObject enc = C.Get(Dict, "Encoding");
    TPDFObject diffs;
    if (enc.IsName()) {
      base = PDFBaseEncodingFromName(enc.Str);
      Font.FEncoding = SlashLowerName(enc.Str);
    } else if (enc.IsDict()) {
      const TPDFObject be = C.Get(enc, "BaseEncoding");
      if (be.IsName()) {
        base = PDFBaseEncodingFromName(be.Str);
        Font.FEncoding = SlashLowerName(be.Str);
      }
      diffs = C.Get(enc, "Differences");
    }
    baseNamed = base != TPDFBaseEncoding::beNone;
    const bool programEncoding = !baseNamed && HasProgram && Program.HasEncoding &&
                                 (ProgramKind == TProgramKind::pkType1 || ProgramKind == TProgramKind::pkCFF);
    if (!baseNamed && !programEncoding) {
      if (std14 >= 0) base = StandardFontEncoding(std14);
      else if (ProgramKind == TProgramKind::pkTrueType) base = symbolic ? TPDFBaseEncoding::beNone : TPDFBaseEncoding::beWinAnsi;
      else if (!type3) base = TPDFBaseEncoding::beStandard;
    }
    for (int c = 0; c < 256; ++c) {
      if (programEncoding) names[c] = Program.Encoding[c];
      else names[c] = PDFEncodingGlyphName(base, static_cast<uint8_t>(c));
    }
    if (diffs.IsArray()) SetDifferencies(diffs, names);
    ReadToUnicode(C, Dict);

    // Widths.
    const TPDFObject widths = C.Get(Dict, "Widths");
    const int64_t firstChar = C.Get(Dict, "FirstChar").AsInt(0);
    const double missing = desc.IsDict() && desc.Get("MissingWidth") ? C.Get(desc, "MissingWidth").AsNumber() * scale : -1;
    for (int c = 0; c < 256; ++c) {
      TCodeInfo& info = Codes[static_cast<size_t>(c)];
      double w = -1;
      if (widths.IsArray()) {
        const int64_t at = c - firstChar;
        if (at >= 0 && at < static_cast<int64_t>(widths.Items.size())) {
          const TPDFObject& item = widths.Items[static_cast<size_t>(at)];
          w = (item.IsRef() ? C.Resolve(item) : item).AsNumber() * scale;
        }
      }
      if (w < 0 && std14 >= 0 && !names[c].empty()) {
        const int sw = StandardFontWidth(std14, names[c]);
        if (sw > 0) w = sw * 0.001;
      }
      if (w < 0) w = missing >= 0 ? missing : (widths.IsArray() ? 0 : kDefaultWidth);
      info.Width = w;
      SetSimpleCodeText(c, names[c], dingbats, symbolic, info);
    }
    if (type3) ReadCodeNumberNames(C, Dict, names);
    if (desc.IsDict()) ReadExtent(Font, desc, type3 ? vscale : 0.001);
    else if (std14 >= 0) {
      int a = 0, d = 0;
      StandardFontExtent(std14, a, d);
      Font.FAscent = a * 0.001;
      Font.FDescent = d * 0.001;
    }
  }

  // The text of one-byte code Code: ToUnicode unless it says nothing
  // useful, else the glyph name, else what the font program knows of the
  // glyph.
  void SetSimpleCodeText(int Code, const std::string& Name, bool Dingbats, bool Symbolic, TCodeInfo& Info) const {
    std::u16string tu, named;
    const auto code = static_cast<uint32_t>(Code);
    const bool hasTU = HasToUnicode && (ToUnicode.Lookup(code, 1, tu) || ToUnicode.Lookup(code, 2, tu)) &&
                       tu.size() <= kMaxGlyphText;
    bool nameOK = !Name.empty() && GetGlyphCharacter(Name, named, Dingbats);
    if (!nameOK && HasProgram && ProgramKind == TProgramKind::pkTrueType) nameOK = TrueTypeCodeText(Code, Symbolic, named);
    if (hasTU && !IsPoorText(tu)) {
      AppendMappedText(Info.Text, tu);
      Info.Mapped = true;
    } else if (nameOK) {
      Info.Text = named;
      Info.Mapped = true;
    } else if (hasTU && !tu.empty()) {
      // Private-use text is the producer's word; controls are dropped.
      AppendMappedText(Info.Text, tu);
      Info.Mapped = !Info.Text.empty();
    }
  }

  // Bitmap fonts of TeX documents name each glyph by its code (a65) and keep
  // the codes of the TeX font they were made from, so those codes are their
  // text. Only codes that have a glyph procedure count: a font whose codes
  // run on from the first ones was numbered as its glyphs were drawn, and
  // one with a single glyph draws a pattern (dots, a rule) with it.
  void ReadCodeNumberNames(TLoadContext& C, const TPDFObject& Dict, const std::array<std::string, 256>& Names) {
    std::array<bool, 256> used{}, numbered{};
    int named = 0, count = 0, first = 256, last = -1;
    const TPDFObject procs = C.Get(Dict, "CharProcs");
    if (!procs.IsDict()) return;
    for (int c = 0; c < 256; ++c) {
      if (Names[c].empty() || !procs.Get(Names[c])) continue;
      used[c] = true;
      ++count;
      first = std::min(first, c);
      last = c;
      numbered[c] = !Codes[c].Mapped && IsCodeNumberName(Names[c], static_cast<uint8_t>(c));
      named += numbered[c];
    }
    if (named == 0 || count < 2 || (first <= 1 && count >= kSequentialCodes && last - first + 1 == count)) return;
    const auto any = [&used](int Lo, int Hi) { return std::any_of(used.begin() + Lo, used.begin() + Hi + 1, [](bool b) { return b; }); };
    // Commas and full stops are where every text font has them, and where a
    // math font has other signs; T1 fonts put their letters above 127 and
    // their ligatures at 27..31, where OT1 fonts have Greek capitals and
    // ligatures at 11..15.
    TTeXFontLayout layout = TTeXFontLayout::ttAscii;
    if (used[','] || used['.'])
      layout = any(128, 255) || (any(27, 31) && !any(11, 15)) ? TTeXFontLayout::ttT1 : TTeXFontLayout::ttOT1;
    for (int c = 0; c < 256; ++c) {
      if (!numbered[c]) continue;
      TCodeInfo& info = Codes[static_cast<size_t>(c)];
      const std::u16string_view text = TeXFontCodeText(layout, static_cast<uint8_t>(c));
      if (text.empty()) continue;
      info.Text = text;
      info.Mapped = true;
    }
  }

  // A /Differences array: a code, then the names of it and the codes after.
  static void SetDifferencies(const TPDFObject& Diffs, std::array<std::string, 256>& Names) {
    int64_t code = -1;
    for (const TPDFObject& item : Diffs.Items) {
      if (item.IsNumber()) code = item.AsInt();
      else if (item.IsName() && code >= 0 && code < 256) Names[static_cast<size_t>(code++)] = item.Str;
      else if (item.IsName()) ++code;
    }
  }

  // A TrueType glyph found by its one-byte code through the symbol or
  // Macintosh subtable, named by the program's cmap or 'post' table.
  bool TrueTypeCodeText(int Code, bool Symbolic, std::u16string& Out) const {
    int32_t g = -1;
    if (Program.HasSymbolCmap) g = Program.SymbolCodeToGlyph[static_cast<size_t>(Code)];
    if (g <= 0 && Program.HasMacCmap) g = Program.MacCodeToGlyph[static_cast<size_t>(Code)];
    const bool byCode = g > 0;
    if (g <= 0 && !Symbolic) {
      const auto it = Program.UnicodeToGlyph.find(static_cast<char32_t>(Code));
      if (it != Program.UnicodeToGlyph.end()) g = static_cast<int32_t>(it->second);
    }
    if (g <= 0) return false;
    std::u16string text;
    const bool named = GlyphText(static_cast<uint32_t>(g), text);
    // Subsetters often turn a text font into a "symbolic" one whose glyphs
    // are known only by their codes (or private-use names made of them);
    // those codes are then its letters. A font with a ToUnicode map, even
    // one that is silent on the code, numbers its glyphs some other way.
    if ((!named || IsPoorText(text)) && byCode && CodesAreLatin && !ToUnicodeGiven &&
        GetGlyphCharacter(PDFEncodingGlyphName(TPDFBaseEncoding::beWinAnsi, static_cast<uint8_t>(Code)), Out))
      return true;
    Out += text;
    return named;
  }

  void LoadComposite(TLKPDFFont& Font, TLoadContext& C, const TPDFObject& Dict, int32_t ObjNum) {
    Kind = TKind::fkComposite;
    const TPDFObject* encEntry = Dict.Get("Encoding");
    const TPDFObject enc = C.Get(Dict, "Encoding");
    if (enc.IsName()) {
      Font.FEncoding = SlashLowerName(enc.Str);
      ClassifyPredefined(enc.Str);
      Font.FIdentity = StartsWith(enc.Str, "Identity-");
      Font.FVertical = IsVerticalCMapName(enc.Str);
    } else if (encEntry && encEntry->IsRef()) {
      RawByteString data;
      if (C.Stream(Dict, "Encoding", data)) {
        EncodingCMap.Parse(data);
        HasEncodingCMap = true;
        if (!EncodingCMap.UseCMap().empty()) ClassifyPredefined(EncodingCMap.UseCMap());
        IdentityCodes = !EncodingCMap.HasCIDs();
        Font.FVertical = EncodingCMap.WMode() == 1 || IsVerticalCMapName(EncodingCMap.UseCMap());
      }
    }
    ReadToUnicode(C, Dict);
    const TPDFObject kids = C.Get(Dict, "DescendantFonts");
    TPDFObject cidFont;
    // Strings of an encrypted file are encrypted with the object that holds
    // them, so track which one that is down to CIDSystemInfo.
    int32_t owner = ObjNum, ownerGen = 0;
    const auto holder = [&owner, &ownerGen](const TPDFObject* Entry) {
      if (Entry && Entry->IsRef()) owner = Entry->RefNum, ownerGen = Entry->RefGen;
    };
    if (kids.IsArray() && !kids.Items.empty()) {
      holder(&kids.Items[0]);
      cidFont = kids.Items[0].IsRef() ? C.Resolve(kids.Items[0]) : kids.Items[0];
    } else if (kids.IsDict()) {
      holder(Dict.Get("DescendantFonts"));
      cidFont = kids;
    }
    if (!cidFont.IsDict()) return;
    holder(cidFont.Get("CIDSystemInfo"));
    const TPDFObject info = C.Get(cidFont, "CIDSystemInfo");
    if (info.IsDict()) {
      const auto text = [&](std::string_view Key) {
        const TPDFObject v = C.Get(info, Key);
        if (!v.IsString()) return RawByteString();
        return owner > 0 ? C.Reader.DecryptString(owner, ownerGen, v.Str) : v.Str;
      };
      if (text("Registry") == "Adobe") Ordering = text("Ordering");
    }
    const TPDFObject cidSubtype = C.Get(cidFont, "Subtype");
    CollectionFirst = !cidSubtype.IsName("CIDFontType2");
    const TPDFObject dw = C.Get(cidFont, "DW");
    DW = dw.IsNumber() ? dw.AsNumber() * 0.001 : 1.0;
    const TPDFObject w = C.Get(cidFont, "W");
    if (w.IsArray()) ReadW(C, w, 0.001);
    std::stable_sort(WRanges.begin(), WRanges.end(), [](const TWidthRange& a, const TWidthRange& b) { return a.Lo < b.Lo; });
    const TPDFObject desc = C.Get(cidFont, "FontDescriptor");
    if (desc.IsDict()) {
      PendingReader = &C.Reader;
      PendingDescriptor = desc;
    }
    if (const TPDFObject* map = cidFont.Get("CIDToGIDMap"); map && map->IsRef()) {
      RawByteString data;
      if (C.Stream(cidFont, "CIDToGIDMap", data)) {
        HasCIDToGIDStream = true;
        CIDToGID.resize(std::min(data.size() / 2, kMaxCIDs));
        for (size_t i = 0; i < CIDToGID.size(); ++i)
          CIDToGID[i] = static_cast<uint16_t>(static_cast<uint8_t>(data[2 * i]) << 8 | static_cast<uint8_t>(data[2 * i + 1]));
      }
    }
    ReadExtent(Font, desc, 0.001);
  }

  std::u16string ApplyCJKCodePage(std::string_view CodeBytes) const {
    if (CodeBytes.size() == 1 && static_cast<uint8_t>(CodeBytes[0]) < 0x80)
      return std::u16string(1, static_cast<char16_t>(CodeBytes[0]));
    char native[2];
    if (ByteForm != TByteForm::bfAsIs) {
      if (CodeBytes.size() != 2) return {};
      const uint8_t row = static_cast<uint8_t>(CodeBytes[0]), cell = static_cast<uint8_t>(CodeBytes[1]);
      if (row < 0x21 || row > 0x7E || cell < 0x21 || cell > 0x7E) return {};
      if (ByteForm == TByteForm::bfHighBit) {
        native[0] = static_cast<char>(row | 0x80);
        native[1] = static_cast<char>(cell | 0x80);
      } else {
        native[0] = static_cast<char>(((row + 1) >> 1) + (row <= 0x5E ? 0x70 : 0xB0));
        native[1] = static_cast<char>(row & 1 ? cell + (cell >= 0x60 ? 0x20 : 0x1F) : cell + 0x7E);
      }
      CodeBytes = std::string_view(native, 2);
    }
    std::u16string t = MultiByteToWide(CodePage, CodeBytes);
    if (t == u"\uFFFD") t.clear();
    return t;
  }
};

TLKPDFFont::TLKPDFFont() : FImpl(std::make_unique<TImpl>()) {}
TLKPDFFont::~TLKPDFFont() = default;

void TLKPDFFont::Load(TLKPDFReader& Reader, const TPDFObject& Dict, int32_t ObjNum) {
  FImpl = std::make_unique<TImpl>();
  FEncoding.clear();
  FIdentity = FVertical = false;
  FAscent = 0.9;
  FDescent = -0.2;
  FUnmapped = 0;
  TLoadContext c{Reader};
  const TPDFObject subtype = c.Get(Dict, "Subtype");
  FSubtype = subtype.IsName() ? subtype.Str : std::string();
  const TPDFObject base = c.Get(Dict, "BaseFont");
  FBaseFont = base.IsName() ? base.Str : std::string();
  if (FSubtype == "Type0") FImpl->LoadComposite(*this, c, Dict, ObjNum);
  else FImpl->LoadSimple(*this, c, Dict);
}

void TLKPDFFont::Decode(std::string_view Bytes, std::vector<TPDFGlyph>& Glyphs) const {
  const TImpl& f = *FImpl;
  if (f.Kind != TImpl::TKind::fkComposite) {
    for (const unsigned char c : Bytes) {
      const TImpl::TCodeInfo& info = f.Codes[c];
      TPDFGlyph& g = Glyphs.emplace_back();
      g.Code = c;
      g.WordSpace = c == 32;
      g.Mapped = info.Mapped;
      g.Width = info.Width;
      g.Text = info.Text;
      if (!info.Mapped) ++FUnmapped;
    }
    return;
  }
  std::u16string tu;
  for (size_t i = 0; i < Bytes.size();) {
    const std::string_view rest = Bytes.substr(i);
    int len = f.CompositeCodeLength(rest);
    if (len <= 0) len = 1;
    const std::string_view codeBytes = rest.substr(0, static_cast<size_t>(len));
    i += static_cast<size_t>(len);
    uint32_t code = 0;
    for (const char b : codeBytes) code = code << 8 | static_cast<uint8_t>(b);
    uint32_t cid = code;
    if (f.HasEncodingCMap && !f.IdentityCodes && !f.EncodingCMap.LookupCID(code, len, cid)) cid = 0;

    TPDFGlyph& g = Glyphs.emplace_back();
    g.Code = code;
    g.CodeBytes = static_cast<uint8_t>(len);
    g.WordSpace = len == 1 && code == 32;
    tu.clear();
    bool hasTU = f.HasToUnicode && f.ToUnicode.Lookup(code, len, tu);
    // Some producers key the ToUnicode map with codes of another length
    // than the font's (one-byte keys for two-byte codes, or the reverse).
    for (int other = 1; f.HasToUnicode && !hasTU && other <= 4; ++other)
      if (other != len && (other == 4 || code < (1u << (8 * other)))) hasTU = f.ToUnicode.Lookup(code, other, tu);
    hasTU = hasTU && tu.size() <= kMaxGlyphText;
    if (hasTU && !IsPoorText(tu)) {
      AppendMappedText(g.Text, tu);
    } else if (!f.RouteText(code, codeBytes, g.Text) && !(f.CollectionFirst && f.CollectionText(cid, g.Text)) &&
               !f.ProgramText(cid, g.Text) && !(!f.CollectionFirst && f.CollectionText(cid, g.Text)) && hasTU) {
      AppendMappedText(g.Text, tu);
    }
    g.Mapped = !g.Text.empty();
    if (!g.Mapped) ++FUnmapped;

    if (f.CJKWidthGuess) {
      // Predefined CMaps: the CIDs are unknown here, but the character
      // collections put proportional ASCII at CIDs 1-95 and full-width
      // glyphs elsewhere.
      const char16_t ch = g.Text.size() == 1 ? g.Text[0] : 0;
      if (ch >= 0x20 && ch < 0x7F) {
        const uint32_t asciiCID = ch - 0x1Fu;
        const bool listed = f.W.count(asciiCID) != 0;
        g.Width = listed ? f.CIDWidth(asciiCID) : kDefaultWidth;
      } else {
        g.Width = len == 1 ? kDefaultWidth : f.DW;
      }
    } else {
      g.Width = f.CIDWidth(cid);
    }
  }
}

TLKPDFFont* TLKPDFFonts::GetItem(int Index) const {
  if (Index < 0 || Index >= Count()) return nullptr;
  return FItems[static_cast<size_t>(Index)].get();
}

TLKPDFFont* TLKPDFFonts::AddItem() {
  FItems.push_back(std::make_unique<TLKPDFFont>());
  return FItems.back().get();
}

TLKPDFFont* TLKPDFFonts::FindFontByName(std::string_view AFontName) const {
  for (const auto& f : FItems)
    if (CompareTextIgnoreCase(AsciiToWide(f->FontName()), AsciiToWide(std::string(AFontName))) == 0) return f.get();
  return nullptr;
}

TLKPDFFont* TLKPDFFonts::FontFor(std::string_view Name, const TPDFObject& Entry) {
  if (!FOwner) return nullptr;
  if (Entry.IsRef()) {
    if (auto it = FByObject.find(Entry.RefNum); it != FByObject.end()) return it->second;
  }
  const TPDFObject dict = Entry.IsRef() ? FOwner->Resolve(Entry) : Entry;
  if (!dict.IsDict()) return nullptr;
  TLKPDFFont* font = AddItem();
  std::string name(1, '/');
  name.append(Name);
  font->SetFontName(name);
  font->Load(*FOwner, dict, Entry.IsRef() ? Entry.RefNum : 0);
  if (Entry.IsRef()) FByObject[Entry.RefNum] = font;
  return font;
}

void TLKPDFFonts::Clear() {
  FItems.clear();
  FByObject.clear();
  FFontless = 0;
  FReplacedUnmapped = 0;
}

int64_t TLKPDFFonts::UnmappedGlyphs() const {
  int64_t n = 0;
  for (const auto& f : FItems) n += f->UnmappedGlyphs();
  return std::max<int64_t>(n - FReplacedUnmapped, 0);
}

// Tabs and line ends stand for spaces: some producers map the space glyph
// to them.
void AppendMappedText(std::u16string& Out, std::u16string_view Text) {
  for (const char16_t c : Text) {
    if (IsBlankControl(c)) Out.push_back(u' ');
    else if (c >= 0xFB00 && c <= 0xFEFF) AppendExpandingPresentationForms(Out, std::u16string_view(&c, 1));
    else if (c >= 0x20 && !(c >= 0x7F && c <= 0x9F)) Out.push_back(c);
  }
}

}  // namespace lkw
