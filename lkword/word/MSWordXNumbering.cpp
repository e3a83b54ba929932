#include "lkword/word/MSWordXNumbering.h"

#include <algorithm>
#include <string>

#include "lkword/containers/LKWXML.h"
#include "lkword/framework/ListNumbers.h"
#include "lkword/framework/SymbolFonts.h"
#include "lkword/platform/Ascii.h"
#include "lkword/platform/CodePages.h"

namespace lkw {

namespace {

// Style chains longer than this are taken for cycles; Word's own are a
// handful of styles deep.
constexpr int kMaxChain = 64;
// Numbering styles that link to numbering that links back: a few hops are
// real, more are a loop.
constexpr int kMaxLinks = 8;
// Numbers are kept within this so that counting on never overflows.
constexpr int64_t kMaxNumber = int64_t{1} << 40;

// An attribute by local name, with the usual prefix tried first.
bool Attribute(const TLKXMLItem& Node, std::u16string_view Local, WideString& Value) {
  WideString name = u"w:";
  name += Local;
  return Node.FindAttribute(name, Value) || Node.FindAttribute(Local, Value);
}

WideString Val(const TLKXMLItem* Node) {
  WideString v;
  if (Node) Attribute(*Node, u"val", v);
  return v;
}

// A decimal number, clamped; false when the text is none.
bool ParseNumber(std::u16string_view S, int64_t& Value) {
  while (!S.empty() && IsAsciiBlank(S.front())) S.remove_prefix(1);
  while (!S.empty() && IsAsciiBlank(S.back())) S.remove_suffix(1);
  const bool negative = !S.empty() && S[0] == u'-';
  if (negative || (!S.empty() && S[0] == u'+')) S.remove_prefix(1);
  if (S.empty()) return false;
  int64_t v = 0;
  for (char16_t c : S) {
    if (!IsAsciiDigit(c)) return false;
    v = std::min(v * 10 + (c - u'0'), kMaxNumber);
  }
  Value = negative ? -v : v;
  return true;
}

int64_t NumberOr(const TLKXMLItem* Node, int64_t Default) {
  int64_t v;
  return Node && ParseNumber(Val(Node), v) ? v : Default;
}

// On/off properties: present and not switched off.
int8_t OnOff(const TLKXMLItem* Node) {
  if (!Node) return -1;
  WideString v;
  if (!Attribute(*Node, u"val", v)) return 1;
  return v == u"0" || v == u"false" || v == u"off" ? 0 : 1;
}

TWordXNumbering::TFormat FormatOf(std::u16string_view Name) {
  using F = TWordXNumbering::TFormat;
  static constexpr struct {
    std::u16string_view Name;
    F Format;
  } kFormats[] = {
      {u"decimal", F::Decimal},           {u"decimalZero", F::DecimalZero},
      {u"lowerLetter", F::LowerLetter},   {u"upperLetter", F::UpperLetter},
      {u"lowerRoman", F::LowerRoman},     {u"upperRoman", F::UpperRoman},
      {u"ordinal", F::Ordinal},           {u"cardinalText", F::CardinalText},
      {u"ordinalText", F::OrdinalText},   {u"decimalEnclosedCircle", F::EnclosedCircle},
      {u"chicago", F::Chicago},           {u"bullet", F::Bullet},
      {u"none", F::None},
  };
  for (const auto& f : kFormats)
    if (f.Name == Name) return f.Format;
  return F::Decimal;
}

// The level's number format: the element itself, or the fallback of the
// alternatives newer writers wrap it in.
const TLKXMLItem* NumberFormatOf(const TLKXMLItem& Level) {
  if (const TLKXMLItem* f = FindChildElement(&Level, u"numFmt")) return f;
  const TLKXMLItem* alternatives = FindChildElement(&Level, u"AlternateContent");
  const TLKXMLItem* fallback = alternatives ? FindChildElement(alternatives, u"Fallback") : nullptr;
  return fallback ? FindChildElement(fallback, u"numFmt") : nullptr;
}

// Whether a font draws its characters from a private page of its own.
bool IsSymbolFont(std::u16string_view Font) {
  for (std::u16string_view f : {u"Symbol", u"Wingdings", u"Webdings"})
    if (Font.size() >= f.size() && CompareTextIgnoreCase(Font.substr(0, f.size()), f) == 0) return true;
  return false;
}

}  // namespace

void TWordXNumbering::AppendNumber(WideString& Out, int64_t N, TFormat Format) {
  switch (Format) {
    case TFormat::None:
    case TFormat::Bullet:
      return;
    case TFormat::DecimalZero:
      if (N >= 0 && N < 10) Out += u'0';
      break;
    case TFormat::LowerLetter:
    case TFormat::UpperLetter:
      if (N > 0 && N <= 26 * 30) {
        AppendLetters(Out, N, Format == TFormat::UpperLetter);
        return;
      }
      break;
    case TFormat::LowerRoman:
    case TFormat::UpperRoman:
      if (N > 0 && N < 4000) {
        AppendRoman(Out, N, Format == TFormat::UpperRoman);
        return;
      }
      break;
    case TFormat::Ordinal:
      if (N >= 0) {
        AppendOrdinal(Out, N);
        return;
      }
      break;
    case TFormat::CardinalText:
    case TFormat::OrdinalText:
      if (N >= 0 && N < 1000000) {
        AppendEnglishWords(Out, N, Format == TFormat::OrdinalText);
        return;
      }
      break;
    case TFormat::EnclosedCircle:
      if (N >= 1 && N <= 20) {
        Out += static_cast<char16_t>(0x2460 + N - 1);
        return;
      }
      break;
    case TFormat::Chicago:
      if (N >= 1 && N <= kMaxChicago) {
        AppendChicago(Out, N);
        return;
      }
      break;
    case TFormat::Decimal:
      break;
  }
  AppendDecimal(Out, N);
}

void TWordXNumbering::Clear() {
  FAbstracts.clear();
  FAbstractIndex.clear();
  FNums.clear();
  FOverrideLevels.clear();
  FStyles.clear();
  FDefaultParagraphStyle.clear();
  FState = {};
}

void TWordXNumbering::Load(std::string_view Numbering, std::string_view Styles, int MaxDepth) {
  Clear();
  if (!Numbering.empty()) LoadNumbering(Numbering, MaxDepth);
  if (!Styles.empty()) LoadStyles(Styles, MaxDepth);
}

void TWordXNumbering::LoadNumbering(std::string_view Bytes, int MaxDepth) {
  TLKXMLEngine xml;
  xml.SetMaxDepth(MaxDepth);
  xml.LoadFromBytes(Bytes);
  TLKXMLItem* root = FindElement(xml.RootItem(), u"numbering");
  if (!root) return;
  auto readLevel = [](const TLKXMLItem& n, TLevel& l) {
    l.Start = NumberOr(FindChildElement(&n, u"start"), l.Start);
    if (const TLKXMLItem* f = NumberFormatOf(n)) l.Format = FormatOf(Val(f));
    if (const TLKXMLItem* t = FindChildElement(&n, u"lvlText")) l.Text = Val(t);
    if (const TLKXMLItem* r = FindChildElement(&n, u"lvlRestart")) l.Restart = static_cast<int>(std::clamp<int64_t>(NumberOr(r, -1), -1, kLevels));
    l.Legal = OnOff(FindChildElement(&n, u"isLgl")) == 1;
    if (const TLKXMLItem* s = FindChildElement(&n, u"pStyle")) l.Style = Val(s);
    const TLKXMLItem* rPr = FindChildElement(&n, u"rPr");
    if (const TLKXMLItem* fonts = rPr ? FindChildElement(rPr, u"rFonts") : nullptr) {
      if (!Attribute(*fonts, u"ascii", l.Font)) Attribute(*fonts, u"hAnsi", l.Font);
    }
  };
  auto levelIndex = [](const TLKXMLItem& n) {
    WideString v;
    int64_t i = 0;
    return Attribute(n, u"ilvl", v) && ParseNumber(v, i) && i >= 0 && i < kLevels ? static_cast<int>(i) : -1;
  };
  ForEachChildElement(*root, u"abstractNum", [&](TLKXMLItem& a) {
    WideString id;
    int64_t key;
    if (!Attribute(a, u"abstractNumId", id) || !ParseNumber(id, key)) return;
    TAbstract abstract;
    abstract.NumStyleLink = Val(FindChildElement(&a, u"numStyleLink"));
    ForEachChildElement(a, u"lvl", [&](TLKXMLItem& l) {
      const int i = levelIndex(l);
      if (i >= 0) readLevel(l, abstract.Levels[static_cast<size_t>(i)]);
    });
    // A later definition of the same id wins, as it would in a map.
    auto [it, added] = FAbstractIndex.emplace(key, FAbstracts.size());
    if (added)
      FAbstracts.push_back(std::move(abstract));
    else
      FAbstracts[it->second] = std::move(abstract);
  });
  ForEachChildElement(*root, u"num", [&](TLKXMLItem& n) {
    WideString id;
    int64_t key;
    if (!Attribute(n, u"numId", id) || !ParseNumber(id, key)) return;
    TNum num;
    num.AbstractId = NumberOr(FindChildElement(&n, u"abstractNumId"), -1);
    ForEachChildElement(n, u"lvlOverride", [&](TLKXMLItem& o) {
      const int i = levelIndex(o);
      if (i < 0) return;
      const size_t k = static_cast<size_t>(i);
      if (const TLKXMLItem* lvl = FindChildElement(&o, u"lvl")) {
        // An overriding level changes how the number is written; the count
        // goes on (only a start override restarts it).
        TLevel level;
        readLevel(*lvl, level);
        FOverrideLevels.push_back(std::move(level));
        num.Level[k] = static_cast<int>(FOverrideLevels.size());
      }
      if (const TLKXMLItem* s = FindChildElement(&o, u"startOverride")) {
        num.HasStart[k] = true;
        num.Start[k] = NumberOr(s, 0);
      }
    });
    FNums[key] = std::move(num);
  });
}

void TWordXNumbering::LoadStyles(std::string_view Bytes, int MaxDepth) {
  TLKXMLEngine xml;
  xml.SetMaxDepth(MaxDepth);
  xml.LoadFromBytes(Bytes);
  TLKXMLItem* root = FindElement(xml.RootItem(), u"styles");
  if (!root) return;
  ForEachChildElement(*root, u"style", [&](TLKXMLItem& s) {
    WideString id, type;
    if (!Attribute(s, u"styleId", id)) return;
    Attribute(s, u"type", type);
    TStyle style;
    style.Name = Val(FindChildElement(&s, u"name"));
    style.BasedOn = Val(FindChildElement(&s, u"basedOn"));
    if (const TLKXMLItem* pPr = FindChildElement(&s, u"pPr")) {
      if (const TLKXMLItem* numPr = FindChildElement(pPr, u"numPr")) {
        style.NumId = NumberOr(FindChildElement(numPr, u"numId"), -1);
        style.Level = static_cast<int>(std::clamp<int64_t>(NumberOr(FindChildElement(numPr, u"ilvl"), -1), -1, kLevels - 1));
      }
      style.OutlineLevel = static_cast<int>(std::clamp<int64_t>(NumberOr(FindChildElement(pPr, u"outlineLvl"), -1), -1, 9));
    }
    if (const TLKXMLItem* rPr = FindChildElement(&s, u"rPr")) {
      style.Bold = OnOff(FindChildElement(rPr, u"b"));
      style.Italic = OnOff(FindChildElement(rPr, u"i"));
    }
    WideString isDefault;
    if ((type.empty() || type == u"paragraph") && Attribute(s, u"default", isDefault) &&
        (isDefault == u"1" || isDefault == u"true" || isDefault == u"on") && FDefaultParagraphStyle.empty())
      FDefaultParagraphStyle = id;
    FStyles[id] = std::move(style);
  });
}

template <typename F>
void TWordXNumbering::ForEachInChain(const WideString& Id, F f) const {
  const WideString* id = &Id;
  for (int step = 0; step < kMaxChain && !id->empty(); ++step) {
    auto it = FStyles.find(*id);
    if (it == FStyles.end() || !f(*id, it->second)) return;
    id = &it->second.BasedOn;
  }
}

const TWordXNumbering::TAbstract* TWordXNumbering::AbstractOf(int64_t NumId, size_t* Index) const {
  for (int hop = 0; hop < kMaxLinks; ++hop) {
    auto num = FNums.find(NumId);
    if (num == FNums.end()) return nullptr;
    auto index = FAbstractIndex.find(num->second.AbstractId);
    if (index == FAbstractIndex.end()) return nullptr;
    const TAbstract& abstract = FAbstracts[index->second];
    if (abstract.NumStyleLink.empty()) {
      *Index = index->second;
      return &abstract;
    }
    // The levels are those of the numbering the numbering style names.
    int64_t next = -1;
    ForEachInChain(abstract.NumStyleLink, [&](const WideString&, const TStyle& s) {
      next = s.NumId;
      return next < 0;
    });
    if (next <= 0 || next == NumId) return nullptr;
    NumId = next;
  }
  return nullptr;
}

const TWordXNumbering::TLevel& TWordXNumbering::LevelOf(const TNum& Num, const TAbstract& Abstract, int Level) const {
  const size_t k = static_cast<size_t>(Level);
  const int o = Num.Level[k];
  return o > 0 && static_cast<size_t>(o) <= FOverrideLevels.size() ? FOverrideLevels[static_cast<size_t>(o - 1)]
                                                                  : Abstract.Levels[k];
}

WideString TWordXNumbering::Label(const TNum& Num, const TAbstract& Abstract, const TCounters& C, int Level) const {
  const TLevel& level = LevelOf(Num, Abstract, Level);
  WideString out;
  const std::u16string_view text = level.Text;
  const bool symbolFont = IsSymbolFont(level.Font);
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'%' && i + 1 < text.size() && text[i + 1] >= u'1' && text[i + 1] <= u'9') {
      const int k = text[++i] - u'1';
      const TLevel& shown = LevelOf(Num, Abstract, k);
      const int64_t n = C.Started[static_cast<size_t>(k)] ? C.Value[static_cast<size_t>(k)] : shown.Start;
      // Legal numbering shows every level's number in Arabic digits.
      const bool arabic = shown.Format == TFormat::Decimal || shown.Format == TFormat::DecimalZero ||
                          shown.Format == TFormat::None || shown.Format == TFormat::Bullet;
      const TFormat format = level.Legal && !arabic ? TFormat::Decimal : shown.Format;
      AppendNumber(out, n, format);
    } else if ((c >= 0xF000 && c <= 0xF0FF) || (symbolFont && c >= 0x20 && c <= 0xFF)) {
      // A symbol font's bullet; one without a known character is a bullet still.
      const char16_t u = BulletCharacter(level.Font, c);
      out += u != 0 ? u : u'\u2022';
    } else if (c >= 0x20 && !(c >= 0xE000 && c <= 0xF8FF)) {
      out += c;
    }
  }
  return out;
}

void TWordXNumbering::Describe(const TParagraphProperties& Props, TParagraph& Out) {
  // The properties the paragraph does not give come from its style chain.
  int64_t numId = Props.NumId;
  int level = Props.Level, outline = Props.OutlineLevel, headingLevel = -1;
  bool numIdFromStyle = false;
  const WideString& style = Props.Style.empty() ? FDefaultParagraphStyle : Props.Style;
  ForEachInChain(style, [&](const WideString& id, const TStyle& s) {
    if (numId < 0 && s.NumId >= 0) {
      numId = s.NumId;
      numIdFromStyle = true;
      if (level < 0) level = s.Level;
    }
    if (outline < 0 && s.OutlineLevel >= 0) outline = s.OutlineLevel;
    if (headingLevel < 0) {
      // Built-in heading styles, known by id or name even without an
      // outline level.
      for (const WideString* name : {&id, &s.Name}) {
        std::u16string_view n = *name;
        if (n.size() >= 7 && CompareTextIgnoreCase(n.substr(0, 7), u"heading") == 0) {
          n.remove_prefix(7);
          if (!n.empty() && n[0] == u' ') n.remove_prefix(1);
          if (n.size() == 1 && n[0] >= u'1' && n[0] <= u'9') headingLevel = n[0] - u'1';
        } else if (CompareTextIgnoreCase(n, u"Title") == 0) {
          headingLevel = 0;
        }
      }
    }
    return true;
  });
  if (outline < 0) outline = headingLevel;
  if (outline >= 0 && outline < kLevels) {
    Out.Kind = TParagraphKind::Heading;
    Out.Level = outline + 1;
  }

  size_t index = 0;
  const TAbstract* abstract = numId > 0 ? AbstractOf(numId, &index) : nullptr;
  if (!abstract) return;
  const TNum& num = FNums.find(numId)->second;
  if (level < 0 && numIdFromStyle) {
    // A style's numbering without a level: the level tied to the style.
    ForEachInChain(style, [&](const WideString& id, const TStyle&) {
      for (int k = 0; k < kLevels && level < 0; ++k)
        if (LevelOf(num, *abstract, k).Style == id) level = k;
      return level < 0;
    });
  }
  level = std::clamp(level, 0, kLevels - 1);
  const size_t k = static_cast<size_t>(level);

  TCounters& c = FState.Counters[index];
  auto& overridden = FState.OverridesUsed[numId];
  if (num.HasStart[k] && !overridden[k]) {
    overridden[k] = true;
    c.Value[k] = num.Start[k];
  } else if (c.Started[k]) {
    c.Value[k] = std::min(c.Value[k] + 1, kMaxNumber);
  } else {
    c.Value[k] = LevelOf(num, *abstract, level).Start;
  }
  c.Started[k] = true;
  // Higher levels not used yet count from here as begun at their start:
  // an item after "2.a.i" at the second level is "2.b".
  for (int higher = 0; higher < level; ++higher) {
    const size_t h = static_cast<size_t>(higher);
    if (!c.Started[h]) {
      c.Started[h] = true;
      c.Value[h] = LevelOf(num, *abstract, higher).Start;
    }
  }
  for (int deeper = level + 1; deeper < kLevels; ++deeper) {
    const int restart = LevelOf(num, *abstract, deeper).Restart;
    if (restart < 0 || (restart > 0 && level < restart)) c.Started[static_cast<size_t>(deeper)] = false;
  }
  Out.Label = Label(num, *abstract, c, level);
  if (Out.Kind != TParagraphKind::Heading) {
    Out.Kind = TParagraphKind::ListItem;
    Out.Level = level + 1;
  }
}

void TWordXNumbering::CharacterStyle(const WideString& Id, bool& Bold, bool& Italic) const {
  int8_t bold = -1, italic = -1;
  ForEachInChain(Id, [&](const WideString&, const TStyle& s) {
    if (bold < 0) bold = s.Bold;
    if (italic < 0) italic = s.Italic;
    return bold < 0 || italic < 0;
  });
  Bold = bold == 1;
  Italic = italic == 1;
}

}  // namespace lkw
