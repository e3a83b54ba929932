#include "lkword/containers/LKWXML.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "lkword/platform/Ascii.h"
#include "lkword/platform/CodePages.h"
#include "lkword/platform/DateTime.h"
#include "lkword/platform/Exceptions.h"

namespace lkw {

namespace {

// Decodes UTF-8 into Out (replacing its contents) in one pass; invalid
// sequences become U+FFFD. Returns false when there were any.
bool DecodeUtf8(WideString& Out, std::string_view In) {
  const auto* s = reinterpret_cast<const uint8_t*>(In.data());
  size_t n = In.size();
  Out.resize(n);  // UTF-16 never needs more units than UTF-8 has bytes
  char16_t* d = Out.data();
  bool valid = true;
  size_t i = 0;
  while (i < n) {
    // Eight ASCII bytes at a time: the bulk of markup.
    if (i + 8 <= n) {
      uint64_t w;
      std::memcpy(&w, s + i, 8);
      if ((w & 0x8080808080808080ULL) == 0) {
        for (int k = 0; k < 8; ++k) d[k] = s[i + k];
        d += 8;
        i += 8;
        continue;
      }
    }
    uint8_t b = s[i];
    if (b < 0x80) {
      *d++ = b;
      ++i;
      continue;
    }
    uint32_t c = 0;
    size_t len = 0;
    if (b >= 0xC2 && b <= 0xDF && i + 1 < n && (s[i + 1] & 0xC0) == 0x80) {
      c = ((b & 0x1Fu) << 6) | (s[i + 1] & 0x3Fu);
      len = 2;
    } else if (b >= 0xE0 && b <= 0xEF && i + 2 < n && (s[i + 1] & 0xC0) == 0x80 && (s[i + 2] & 0xC0) == 0x80) {
      c = ((b & 0x0Fu) << 12) | ((s[i + 1] & 0x3Fu) << 6) | (s[i + 2] & 0x3Fu);
      len = (c >= 0x800 && (c < 0xD800 || c > 0xDFFF)) ? 3 : 0;
    } else if (b >= 0xF0 && b <= 0xF4 && i + 3 < n && (s[i + 1] & 0xC0) == 0x80 && (s[i + 2] & 0xC0) == 0x80 &&
               (s[i + 3] & 0xC0) == 0x80) {
      c = ((b & 0x07u) << 18) | ((s[i + 1] & 0x3Fu) << 12) | ((s[i + 2] & 0x3Fu) << 6) | (s[i + 3] & 0x3Fu);
      len = (c >= 0x10000 && c <= 0x10FFFF) ? 4 : 0;
    }
    if (len == 0) {
      *d++ = 0xFFFD;
      valid = false;
      ++i;
    } else if (c < 0x10000) {
      *d++ = static_cast<char16_t>(c);
      i += len;
    } else {
      c -= 0x10000;
      *d++ = static_cast<char16_t>(0xD800 + (c >> 10));
      *d++ = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
      i += len;
    }
  }
  Out.resize(static_cast<size_t>(d - Out.data()));
  return valid;
}

// Depth-first pre-order search without recursion.
template <typename Pred>
TLKXMLItem* FindPreOrder(TLKXMLItem* Start, Pred pred) {
  if (!Start) return nullptr;
  std::vector<std::pair<TLKXMLItem*, int>> stack;
  if (pred(*Start)) return Start;
  stack.emplace_back(Start, 0);
  while (!stack.empty()) {
    auto& [node, next] = stack.back();
    if (next >= node->Items().Count()) {
      stack.pop_back();
      continue;
    }
    TLKXMLItem* child = node->Items()[next++];
    if (pred(*child)) return child;
    if (child->Items().Count() > 0) stack.emplace_back(child, 0);
  }
  return nullptr;
}

// Calls F(name, value) for each name=value pair of a raw attribute text until
// F returns false. Pairs without "=" are skipped.
template <typename F>
void ForEachAttribute(std::u16string_view s, F f) {
  size_t i = 0, n = s.size();
  while (i < n) {
    while (i < n && IsAsciiBlank(s[i])) ++i;
    size_t nameStart = i;
    while (i < n && !IsAsciiBlank(s[i]) && s[i] != '=' && s[i] != '/' && s[i] != '"' && s[i] != '\'') ++i;
    std::u16string_view name = s.substr(nameStart, i - nameStart);
    if (name.empty()) {
      if (i < n) ++i;  // a stray character
      continue;
    }
    size_t j = i;
    while (j < n && IsAsciiBlank(s[j])) ++j;
    if (j >= n || s[j] != '=') continue;  // a name without a value
    ++j;
    while (j < n && IsAsciiBlank(s[j])) ++j;
    std::u16string_view value;
    if (j < n && (s[j] == '"' || s[j] == '\'')) {
      char16_t q = s[j++];
      size_t close = s.find(q, j);
      if (close == std::u16string_view::npos) close = n;
      value = s.substr(j, close - j);
      i = close < n ? close + 1 : n;
    } else {
      size_t start = j;
      while (j < n && !IsAsciiBlank(s[j])) ++j;
      value = s.substr(start, j - start);
      i = j;
    }
    if (!f(name, value)) return;
  }
}

// ---------------------------------------------------------------------------
// Entities

// The name is held inline rather than by pointer, so that the table needs no
// relocation when the program is loaded.
struct TEntity {
  char Name[9];
  uint16_t Code;
};

// The HTML 4 named entities beyond Latin-1, the XML ones, and two oddities
// (car, ret) that documents of the original readers used for line breaks.
constexpr TEntity kEntities[] = {
    {"AElig", 198},    {"Aacute", 193},  {"Acirc", 194},   {"Agrave", 192},   {"Alpha", 913},   {"Aring", 197},
    {"Atilde", 195},   {"Auml", 196},    {"Beta", 914},    {"Ccedil", 199},   {"Chi", 935},     {"Dagger", 8225},
    {"Delta", 916},    {"ETH", 208},     {"Eacute", 201},  {"Ecirc", 202},    {"Egrave", 200},  {"Epsilon", 917},
    {"Eta", 919},      {"Euml", 203},    {"Gamma", 915},   {"Iacute", 205},   {"Icirc", 206},   {"Igrave", 204},
    {"Iota", 921},     {"Iuml", 207},    {"Kappa", 922},   {"Lambda", 923},   {"Mu", 924},      {"Ntilde", 209},
    {"Nu", 925},       {"OElig", 338},   {"Oacute", 211},  {"Ocirc", 212},    {"Ograve", 210},  {"Omega", 937},
    {"Omicron", 927},  {"Oslash", 216},  {"Otilde", 213},  {"Ouml", 214},     {"Phi", 934},     {"Pi", 928},
    {"Prime", 8243},   {"Psi", 936},     {"Rho", 929},     {"Scaron", 352},   {"Sigma", 931},   {"THORN", 222},
    {"Tau", 932},      {"Theta", 920},   {"Uacute", 218},  {"Ucirc", 219},    {"Ugrave", 217},  {"Upsilon", 933},
    {"Uuml", 220},     {"Xi", 926},      {"Yacute", 221},  {"Yuml", 376},     {"Zeta", 918},    {"aacute", 225},
    {"acirc", 226},    {"acute", 180},   {"aelig", 230},   {"agrave", 224},   {"alefsym", 8501}, {"alpha", 945},
    {"amp", 38},       {"and", 8743},    {"ang", 8736},    {"apos", 39},      {"aring", 229},   {"asymp", 8776},
    {"atilde", 227},   {"auml", 228},    {"bdquo", 8222},  {"beta", 946},     {"brvbar", 166},  {"bull", 8226},
    {"cap", 8745},     {"car", 10},      {"ccedil", 231},  {"cedil", 184},    {"cent", 162},    {"chi", 967},
    {"circ", 710},     {"clubs", 9827},  {"cong", 8773},   {"copy", 169},     {"crarr", 8629},  {"cup", 8746},
    {"curren", 164},   {"dArr", 8659},   {"dagger", 8224}, {"darr", 8595},    {"deg", 176},     {"delta", 948},
    {"diams", 9830},   {"divide", 247},  {"eacute", 233},  {"ecirc", 234},    {"egrave", 232},  {"empty", 8709},
    {"emsp", 8195},    {"ensp", 8194},   {"epsilon", 949}, {"equiv", 8801},   {"eta", 951},     {"eth", 240},
    {"euml", 235},     {"euro", 8364},   {"exist", 8707},  {"fnof", 402},     {"forall", 8704}, {"frac12", 189},
    {"frac14", 188},   {"frac34", 190},  {"frasl", 8260},  {"gamma", 947},    {"ge", 8805},     {"gt", 62},
    {"hArr", 8660},    {"harr", 8596},   {"hearts", 9829}, {"hellip", 8230},  {"iacute", 237},  {"icirc", 238},
    {"iexcl", 161},    {"igrave", 236},  {"image", 8465},  {"infin", 8734},   {"int", 8747},    {"iota", 953},
    {"iquest", 191},   {"isin", 8712},   {"iuml", 239},    {"kappa", 954},    {"lArr", 8656},   {"lambda", 955},
    {"lang", 9001},    {"laquo", 171},   {"larr", 8592},   {"lceil", 8968},   {"ldquo", 8220},  {"le", 8804},
    {"lfloor", 8970},  {"lowast", 8727}, {"loz", 9674},    {"lrm", 8206},     {"lsaquo", 8249}, {"lsquo", 8216},
    {"lt", 60},        {"macr", 175},    {"mdash", 8212},  {"micro", 181},    {"middot", 183},  {"minus", 8722},
    {"mu", 956},       {"nabla", 8711},  {"nbsp", 160},    {"ndash", 8211},   {"ne", 8800},     {"ni", 8715},
    {"not", 172},      {"notin", 8713},  {"nsub", 8836},   {"ntilde", 241},   {"nu", 957},      {"oacute", 243},
    {"ocirc", 244},    {"oelig", 339},   {"ograve", 242},  {"oline", 8254},   {"omega", 969},   {"omicron", 959},
    {"oplus", 8853},   {"or", 8744},     {"ordf", 170},    {"ordm", 186},     {"oslash", 248},  {"otilde", 245},
    {"otimes", 8855},  {"ouml", 246},    {"para", 182},    {"part", 8706},    {"permil", 8240}, {"perp", 8869},
    {"phi", 966},      {"pi", 960},      {"piv", 982},     {"plusmn", 177},   {"pound", 163},   {"prime", 8242},
    {"prod", 8719},    {"prop", 8733},   {"psi", 968},     {"quot", 34},      {"rArr", 8658},   {"radic", 8730},
    {"rang", 9002},    {"raquo", 187},   {"rarr", 8594},   {"rceil", 8969},   {"rdquo", 8221},  {"real", 8476},
    {"reg", 174},      {"ret", 13},      {"rfloor", 8971}, {"rho", 961},      {"rlm", 8207},    {"rsaquo", 8250},
    {"rsquo", 8217},   {"sbquo", 8218},  {"scaron", 353},  {"sdot", 8901},    {"sect", 167},    {"shy", 173},
    {"sigma", 963},    {"sigmaf", 962},  {"sim", 8764},    {"spades", 9824},  {"sub", 8834},    {"sube", 8838},
    {"sum", 8721},     {"sup", 8835},    {"sup1", 185},    {"sup2", 178},     {"sup3", 179},    {"supe", 8839},
    {"szlig", 223},    {"tau", 964},     {"there4", 8756}, {"theta", 952},    {"thetasym", 977}, {"thinsp", 8201},
    {"thorn", 254},    {"tilde", 732},   {"times", 215},   {"trade", 8482},   {"uArr", 8657},   {"uacute", 250},
    {"uarr", 8593},    {"ucirc", 251},   {"ugrave", 249},  {"uml", 168},      {"upsih", 978},   {"upsilon", 965},
    {"uuml", 252},     {"weierp", 8472}, {"xi", 958},      {"yacute", 253},   {"yen", 165},     {"yuml", 255},
    {"zeta", 950},     {"zwj", 8205},    {"zwnj", 8204},
};

// Names also taken without ";", even as the prefix of a longer run of
// letters ("&ltb" is "<b"), as documents written for older readers expect.
constexpr const char* kLegacyNames[] = {"brvbar", "plusmn", "trade", "nbsp", "copy", "quot", "apos", "para",
                                        "amp",    "deg",    "car",   "ret",  "lt",   "gt"};

int CompareName(std::u16string_view a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i]; ++i) {
    if (a[i] != static_cast<unsigned char>(b[i])) return a[i] < static_cast<unsigned char>(b[i]) ? -1 : 1;
  }
  if (i == a.size() && !b[i]) return 0;
  return i == a.size() ? -1 : 1;
}

int LookupEntity(std::u16string_view name) {
  static const auto sorted = [] {
    std::array<TEntity, std::size(kEntities)> a;
    std::copy(std::begin(kEntities), std::end(kEntities), a.begin());
    std::sort(a.begin(), a.end(), [](const TEntity& x, const TEntity& y) { return std::strcmp(x.Name, y.Name) < 0; });
    return a;
  }();
  size_t lo = 0, hi = sorted.size();
  while (lo < hi) {
    size_t mid = (lo + hi) / 2;
    int c = CompareName(name, sorted[mid].Name);
    if (c == 0) return sorted[mid].Code;
    if (c < 0)
      hi = mid;
    else
      lo = mid + 1;
  }
  return -1;
}

// Decodes the reference at S[I] == '&'; on success appends the character and
// returns the length consumed, else 0.
size_t DecodeEntity(WideString& Out, std::u16string_view S, size_t I) {
  size_t n = S.size();
  size_t j = I + 1;
  if (j < n && S[j] == '#') {
    ++j;
    bool hex = j < n && (S[j] == 'x' || S[j] == 'X');
    if (hex) ++j;
    size_t start = j;
    uint32_t code = 0;
    bool tooBig = false;
    while (j < n) {
      char16_t c = S[j];
      int d;
      if (c >= '0' && c <= '9')
        d = c - '0';
      else if (hex && c >= 'a' && c <= 'f')
        d = c - 'a' + 10;
      else if (hex && c >= 'A' && c <= 'F')
        d = c - 'A' + 10;
      else
        break;
      code = code * (hex ? 16 : 10) + static_cast<uint32_t>(d);
      if (code > 0x10FFFF) {
        tooBig = true;
        code = 0x110000;  // keep consuming digits without overflow
      }
      ++j;
    }
    if (j == start) return 0;
    if (j < n && S[j] == ';') ++j;
    if (tooBig || code == 0) code = 0xFFFD;
    AppendCodePoint(Out, code);  // surrogates become U+FFFD
    return j - I;
  }
  size_t start = j;
  while (j < n && IsAsciiAlnum(S[j])) ++j;
  if (j == start) return 0;
  std::u16string_view name = S.substr(start, j - start);
  if (j < n && S[j] == ';') {
    int code = LookupEntity(name);
    if (code >= 0) {
      Out.push_back(static_cast<char16_t>(code));
      return j + 1 - I;
    }
  }
  for (const char* legacy : kLegacyNames) {
    size_t len = std::strlen(legacy);
    if (len <= name.size() && CompareName(name.substr(0, len), legacy) == 0) {
      Out.push_back(static_cast<char16_t>(LookupEntity(name.substr(0, len))));
      size_t used = 1 + len;
      if (len == name.size() && j < n && S[j] == ';') ++used;
      return used;
    }
  }
  return 0;
}

}  // namespace

void AppendHTMLChars(WideString& Out, std::u16string_view S) {
  size_t i = 0, n = S.size();
  while (i < n) {
    size_t amp = S.find(u'&', i);
    if (amp == std::u16string_view::npos) {
      Out.append(S.substr(i));
      return;
    }
    Out.append(S.substr(i, amp - i));
    size_t used = DecodeEntity(Out, S, amp);
    if (used == 0) {
      Out.push_back(u'&');
      used = 1;
    }
    i = amp + used;
  }
}

void ReplaceHTMLChars(WideString& S) {
  if (S.find(u'&') == WideString::npos) return;
  WideString out;
  out.reserve(S.size());
  AppendHTMLChars(out, S);
  S.swap(out);
}

bool SameStrings(bool CaseSensitive, std::u16string_view S1, std::u16string_view S2) {
  return CaseSensitive ? S1 == S2 : SameTextAscii(S1, S2);
}

TDateTime XMLStringToDateTime(const WideString& S) {
  if (S.empty()) return 0;
  bool ok = true;
  auto num = [&](size_t pos, size_t len) {
    int v = 0;
    if (pos + len > S.size()) {
      ok = false;
      return 0;
    }
    for (size_t i = pos; i < pos + len; ++i) {
      if (S[i] < '0' || S[i] > '9') {
        ok = false;
        return 0;
      }
      v = v * 10 + (S[i] - '0');
    }
    return v;
  };
  int year = num(0, 4), month = num(5, 2), day = num(8, 2);
  int hour = num(11, 2), minute = num(14, 2), second = num(17, 2);
  TDateTime date = 0, time = 0;
  if (!ok || !TryEncodeDate(year, month, day, date) || !TryEncodeTime(hour, minute, second, 0, time)) return 0;
  return date + time;
}


// ---------------------------------------------------------------------------
// Nodes

TLKXMLItems::~TLKXMLItems() { Clear(); }

TLKXMLItem* TLKXMLItems::AddItem(TLKXMLItem* ParentItem) {
  auto item = std::make_unique<TLKXMLItem>(ParentItem);
  item->FLevel = ParentItem ? ParentItem->FLevel + 1 : 0;
  if (FList.capacity() == 0) FList.reserve(4);  // most elements have a few children
  FList.push_back(std::move(item));
  return FList.back().get();
}

void TLKXMLItems::Clear() {
  // Subtrees can be as deep as the input is long: instead of recursing
  // through destructors, each node's children move into this list before the
  // node goes, so the list itself is the work list.
  while (!FList.empty()) {
    std::unique_ptr<TLKXMLItem> node = std::move(FList.back());
    FList.pop_back();
    node->FParentItem = nullptr;  // its parent is going too: no detaching
    for (auto& child : node->FItems.FList) FList.push_back(std::move(child));
    node->FItems.FList.clear();
  }
}

TLKXMLItem* TLKXMLItems::Items(int Index) const {
  if (Index < 0 || static_cast<size_t>(Index) >= FList.size())
    throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
  return FList[static_cast<size_t>(Index)].get();
}

int TLKXMLItems::IndexOf(const TLKXMLItem* Item) const {
  for (size_t i = FList.size(); i-- > 0;)
    if (FList[i].get() == Item) return static_cast<int>(i);
  return -1;
}

void TLKXMLItems::Detach(TLKXMLItem* Item) {
  // Nodes are usually freed right after being closed, at the end of the list.
  for (size_t i = FList.size(); i-- > 0;) {
    if (FList[i].get() == Item) {
      FList[i].release();
      FList.erase(FList.begin() + static_cast<std::ptrdiff_t>(i));
      return;
    }
  }
}

TLKXMLItem::~TLKXMLItem() {
  FItems.Clear();
  if (FParentItem) FParentItem->FItems.Detach(this);
}

void TLKXMLItem::Store(int Which, std::u16string_view Value) {
  if (Value.empty()) {  // clearing needs no storage
    FText[Which] = {};
    if (FOwned) FOwned[Which].clear();
    FOwnedMask &= static_cast<uint8_t>(~(1u << Which));
    return;
  }
  if (!FOwned) FOwned = std::make_unique<WideString[]>(kTextCount);
  WideString copy(Value);  // Value may view the storage being replaced
  FOwned[Which].swap(copy);
  FOwnedMask |= static_cast<uint8_t>(1u << Which);
  FText[Which] = FOwned[Which];
}

void TLKXMLItem::Append(int Which, std::u16string_view Piece) {
  if (Piece.empty()) return;
  std::u16string_view& cur = FText[Which];
  bool owned = (FOwnedMask >> Which) & 1;
  if (cur.empty() && !owned) {
    cur = Piece;
  } else if (!owned && cur.data() + cur.size() == Piece.data()) {
    cur = std::u16string_view(cur.data(), cur.size() + Piece.size());  // the next piece of the same run
  } else {
    if (!owned) Store(Which, cur);
    FOwned[Which].append(Piece);
    cur = FOwned[Which];
  }
}

void TLKXMLItem::OwnTextsIn(const char16_t* Lo, const char16_t* Hi) {
  for (int w = 0; w < kTextCount; ++w) {
    const std::u16string_view t = FText[w];
    if (!t.empty() && !((FOwnedMask >> w) & 1) && t.data() >= Lo && t.data() < Hi) Store(w, t);
  }
}

void TLKXMLItem::Reset() {
  FItems.Clear();
  FKind = ikProperty;
  for (auto& t : FText) t = {};
  FOwned.reset();
  FOwnedMask = 0;
}

TLKXMLItem* TLKXMLItem::GetChild(std::u16string_view XMLTag, bool) {
  return FindPreOrder(this, [&](const TLKXMLItem& n) { return n.TagName() == XMLTag; });
}

WideString TLKXMLItem::GetTagXMLValue() const {
  std::u16string_view v = Value();
  if (v.empty() || v[0] != u'"') return WideString(v);
  size_t end = v.size();
  while (end > 0 && (IsAsciiBlank(v[end - 1]) || v[end - 1] == u'"')) --end;
  return end > 0 ? WideString(v.substr(1, end - 1)) : WideString();
}

WideString TLKXMLItem::GetTagValue() const {
  WideString v = GetTagXMLValue();
  if (!v.empty()) ReplaceHTMLChars(v);
  return v;
}

void TLKXMLItem::ProcessAttributes() {
  if (Attributes().empty()) return;
  // The text stays alive: either in the document or in storage kept below.
  std::u16string_view text = Attributes();
  std::unique_ptr<WideString[]> keep;
  if ((FOwnedMask >> kAttributes) & 1) {
    // Owned attribute text is about to be emptied; the nodes copy from it.
    keep = std::make_unique<WideString[]>(1);
    keep[0].swap(FOwned[kAttributes]);
    text = keep[0];
  }
  FText[kAttributes] = {};
  FOwnedMask &= static_cast<uint8_t>(~(1u << kAttributes));
  ForEachAttribute(text, [&](std::u16string_view name, std::u16string_view value) {
    TLKXMLItem* a = FItems.AddItem(this);
    a->FKind = ikAttribute;
    if (keep) {
      a->Store(kName, name);
      a->Store(kValue, value);
    } else {
      a->FText[kName] = name;
      a->FText[kValue] = value;
    }
    return true;
  });
}

bool TLKXMLItem::FindAttribute(std::u16string_view AName, WideString& AValue) const {
  for (int i = 0; i < FItems.Count(); ++i) {
    const TLKXMLItem* c = FItems[i];
    if (c->FKind == ikAttribute && c->TagName() == AName) {
      AValue.clear();
      AppendHTMLChars(AValue, c->Value());
      return true;
    }
  }
  bool found = false;
  ForEachAttribute(Attributes(), [&](std::u16string_view name, std::u16string_view value) {
    if (name != AName) return true;
    AValue.clear();
    AppendHTMLChars(AValue, value);
    found = true;
    return false;
  });
  return found;
}

WideString TLKXMLItem::AttributeValue(std::u16string_view AName) const {
  WideString v;
  FindAttribute(AName, v);
  return v;
}

WideString TLKXMLItem::Text() const {
  WideString out;
  if (FKind == ikCDATA) return WideString(Value());
  if (FKind != ikProperty) return out;
  AppendHTMLChars(out, Value());
  // (node, next child) pairs; a node's tail is written after its children.
  std::vector<std::pair<const TLKXMLItem*, int>> stack;
  stack.emplace_back(this, 0);
  while (!stack.empty()) {
    auto& [node, next] = stack.back();
    if (next >= node->FItems.Count()) {
      const TLKXMLItem* done = node;
      stack.pop_back();
      if (!stack.empty()) AppendHTMLChars(out, done->Tail());
      continue;
    }
    const TLKXMLItem* c = node->FItems[next++];
    switch (c->FKind) {
      case ikAttribute:
        break;
      case ikComment:
        AppendHTMLChars(out, c->Tail());
        break;
      case ikCDATA:
        out += c->Value();
        AppendHTMLChars(out, c->Tail());
        break;
      case ikProperty:
        AppendHTMLChars(out, c->Value());
        stack.emplace_back(c, 0);
        break;
    }
  }
  return out;
}

// ---------------------------------------------------------------------------
// Parser

namespace {

// Name characters: ASCII letters, digits, "-", "_", ":", "." and every
// character above 0x7F.
struct TNameTable {
  std::array<bool, 128> Name{};
  std::array<bool, 128> Start{};
  constexpr TNameTable() {
    for (int c = 0; c < 128; ++c) {
      bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':';
      Start[c] = letter;
      Name[c] = letter || (c >= '0' && c <= '9') || c == '-' || c == '.';
    }
  }
};
constexpr TNameTable kNames;

bool IsNameChar(char16_t c) { return c >= 0x80 || kNames.Name[c]; }
bool IsNameStart(char16_t c) { return c >= 0x80 || kNames.Start[c]; }

bool StartsWith(std::u16string_view s, size_t p, std::u16string_view w) { return s.compare(p, w.size(), w) == 0; }

bool StartsWithIgnoreCase(std::u16string_view s, size_t p, std::u16string_view w) {
  if (p + w.size() > s.size()) return false;
  for (size_t i = 0; i < w.size(); ++i)
    if (ToLowerAscii(s[p + i]) != ToLowerAscii(w[i])) return false;
  return true;
}

uint32_t HashName(std::u16string_view n) {
  uint32_t h = 2166136261u;
  for (char16_t c : n) h = (h ^ c) * 16777619u;
  return h;
}

}  // namespace

class TLKXMLParser {
 public:
  TLKXMLParser(TLKXMLEngine& E, std::u16string_view S) : E(E), S(S) {}
  void Run();

  // In pieces: Final is false while more text may follow S. A token that
  // runs past the end of S is then left for the next piece (Starved), and
  // P is where the next piece must start.
  bool Final = true;
  bool Starved = false;
  bool Cancelled = false;
  size_t P = 0;
  // Continues on Text, which starts with what S held from P on. Node texts
  // that view the old text are copied into their nodes first.
  void Continue(std::u16string_view Text, bool IsFinal);
  // The nodes in the tree, counted up to Limit.
  size_t CountNodes(size_t Limit) const;
  void OwnTexts(const char16_t* Lo, const char16_t* Hi);

 private:
  struct TOpen {
    TLKXMLItem* Node;
    std::u16string_view Name;
    uint32_t Hash;
  };
  static constexpr size_t kFilterSize = 1024;

  TLKXMLItem* Current() const { return Open.empty() ? nullptr : Open.back().Node; }
  void Push(TLKXMLItem* Node, std::u16string_view Name);
  // Closes the open elements above index K and the one at K.
  void CloseDownTo(size_t K);
  void AppendText(size_t From, size_t To);
  TLKXMLItem* NewChild(TLKXMLItem* Parent, TLKXMLItemKind Kind, std::u16string_view Name, std::u16string_view Value,
                       std::u16string_view Attrs);
  size_t NameEnd(size_t From) const;
  size_t Find(char16_t C, size_t From) const;
  size_t FindTagEnd(size_t From) const;
  void StartTag();
  void EndTag();
  void Comment();
  void CData();
  void Declaration();
  void ProcessingInstruction();

  // Marks the parse starved when, short of the final piece, a token's end
  // is not in S; true then.
  bool Starve(bool Missing) {
    if (Missing && !Final) Starved = true;
    return Starved;
  }

  TLKXMLEngine& E;
  std::u16string_view S;
  std::vector<TOpen> Open;
  std::array<uint32_t, kFilterSize> OpenFilter{};  // open names per hash bucket
  bool RootFilled = false;
  mutable bool TagRanOff = false;  // FindTagEnd reached the end of S
  size_t SkipDepth = 0;  // > 0 while inside a rejected element
  size_t Excess = 0;     // open elements beyond MaxDepth
};

size_t TLKXMLParser::NameEnd(size_t From) const {
  while (From < S.size() && IsNameChar(S[From])) ++From;
  return From;
}

size_t TLKXMLParser::Find(char16_t C, size_t From) const {
  size_t r = S.find(C, From);
  return r == std::u16string_view::npos ? S.size() : r;
}

void TLKXMLParser::Push(TLKXMLItem* Node, std::u16string_view Name) {
  uint32_t h = HashName(Name);
  Open.push_back({Node, Name, h});
  ++OpenFilter[h % kFilterSize];
}

void TLKXMLParser::CloseDownTo(size_t K) {
  while (Open.size() > K && !Cancelled) {
    TOpen top = Open.back();
    Open.pop_back();
    --OpenFilter[top.Hash % kFilterSize];
    if (E.FOnAfterTag) {
      TLKXMLItem* node = top.Node;  // the handler gets a copy; it may free the node
      bool cancel = false;
      E.FOnAfterTag(&E, node, cancel);
      if (cancel) Cancelled = true;
    }
  }
}

void TLKXMLParser::AppendText(size_t From, size_t To) {
  if (From >= To || SkipDepth > 0) return;
  TLKXMLItem* c = Current();
  if (!c) return;  // outside the document element
  // Text after a child node is that child's tail. Attribute nodes come
  // before any content, so a last child that is one means "no content yet".
  std::u16string_view piece = S.substr(From, To - From);
  const auto& kids = c->FItems.FList;
  if (!kids.empty() && kids.back()->FKind != ikAttribute)
    kids.back()->Append(TLKXMLItem::kTail, piece);
  else
    c->Append(TLKXMLItem::kValue, piece);
}

TLKXMLItem* TLKXMLParser::NewChild(TLKXMLItem* Parent, TLKXMLItemKind Kind, std::u16string_view Name,
                                   std::u16string_view Value, std::u16string_view Attrs) {
  if (E.FMaxNodes > 0 && E.FNodes >= E.FMaxNodes) {
    E.FNodeLimitReached = true;
    Cancelled = true;
    return nullptr;
  }
  bool accepted = true;
  if (E.FOnTag) E.FOnTag(&E, Parent, Name, Value, Attrs, accepted);
  if (!accepted) return nullptr;
  ++E.FNodes;
  TLKXMLItem* node = Parent->FItems.AddItem(Parent);
  node->FKind = Kind;
  node->FText[TLKXMLItem::kName] = Name;
  node->FText[TLKXMLItem::kValue] = Value;
  node->FText[TLKXMLItem::kAttributes] = Attrs;
  return node;
}

size_t TLKXMLParser::FindTagEnd(size_t From) const {
  // ">" inside a quoted attribute value does not end the tag, unless the
  // quote never closes before the next "<": then the first ">" does. Only
  // the stretch up to that "<" is ever scanned, so parsing stays linear.
  char16_t quote = 0;
  size_t firstGt = std::u16string_view::npos;
  size_t i = From;
  TagRanOff = false;
  for (; i < S.size(); ++i) {
    char16_t c = S[i];
    if (c == '>' && firstGt == std::u16string_view::npos) firstGt = i;
    if (quote) {
      if (c == quote)
        quote = 0;
      else if (c == '<')
        break;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '>' || c == '<') {
      return i;  // at "<" the ">" is missing and the next tag starts
    }
  }
  TagRanOff = i == S.size();
  return firstGt != std::u16string_view::npos ? firstGt : i;
}

void TLKXMLParser::StartTag() {
  size_t nameStart = P + 1;
  size_t q = NameEnd(nameStart);
  std::u16string_view name = S.substr(nameStart, q - nameStart);
  size_t end = FindTagEnd(q);
  if (Starve(q >= S.size() || TagRanOff)) return;
  bool selfClosing = end > q && S[end - 1] == '/';
  std::u16string_view attrs = S.substr(q, (selfClosing ? end - 1 : end) - q);
  size_t after = (end < S.size() && S[end] == '>') ? end + 1 : end;
  // The value goes with the start tag: it must be whole too.
  if (!Final && !selfClosing && Starve(Find('<', after) >= S.size())) return;
  P = after;

  if (SkipDepth > 0) {
    if (!selfClosing) ++SkipDepth;
    return;
  }
  TLKXMLItem* c = Current();
  if (Excess > 0 || (c && c->FLevel >= E.FMaxDepth)) {
    E.FDepthLimitReached = true;
    if (!selfClosing) ++Excess;
    return;
  }
  TLKXMLItem* node;
  if (!c && !RootFilled) {
    // The first element fills the root itself, without an OnTag call.
    RootFilled = true;
    node = E.FRootItem.get();
    node->FKind = ikProperty;
    node->FText[TLKXMLItem::kName] = name;
    node->FText[TLKXMLItem::kAttributes] = attrs;
  } else {
    if (!c) {
      // Content after the document element is kept under the root.
      c = E.FRootItem.get();
      Push(c, std::u16string_view());
    }
    // The value is what follows the start tag up to the next markup; take
    // it now so that OnTag sees it.
    std::u16string_view value;
    if (!selfClosing) {
      size_t lt = Find('<', P);
      value = S.substr(P, lt - P);
      P = lt;
    }
    node = NewChild(c, ikProperty, name, value, attrs);
    if (!node) {
      if (!selfClosing) SkipDepth = 1;
      return;
    }
  }
  if (E.FAttributesAutoProcess) node->ProcessAttributes();
  Push(node, name);
  if (selfClosing) CloseDownTo(Open.size() - 1);
}

void TLKXMLParser::EndTag() {
  size_t q = NameEnd(P + 2);
  std::u16string_view name = S.substr(P + 2, q - (P + 2));
  size_t end = FindTagEnd(q);
  if (Starve(q >= S.size() || TagRanOff)) return;
  P = (end < S.size() && S[end] == '>') ? end + 1 : end;

  if (SkipDepth > 0) {
    --SkipDepth;
    return;
  }
  if (Excess > 0) {
    --Excess;
    return;
  }
  if (Open.empty()) return;
  if (name.empty()) {
    CloseDownTo(Open.size() - 1);
    return;
  }
  uint32_t h = HashName(name);
  if (OpenFilter[h % kFilterSize] == 0) return;  // nothing of that name is open
  for (size_t i = Open.size(); i-- > 0;) {
    if (Open[i].Hash == h && Open[i].Name == name) {
      CloseDownTo(i);
      return;
    }
  }
}

void TLKXMLParser::Comment() {
  size_t start = P + 4;
  size_t close = S.find(u"-->", start);
  if (Starve(close == std::u16string_view::npos)) return;
  size_t end = close == std::u16string_view::npos ? S.size() : close;
  P = close == std::u16string_view::npos ? S.size() : close + 3;
  TLKXMLItem* c = Current();
  if (!c || SkipDepth > 0 || Excess > 0 || c->FLevel >= E.FMaxDepth) return;
  NewChild(c, ikComment, u"!--", S.substr(start, end - start), {});
}

void TLKXMLParser::CData() {
  size_t start = P + 9;
  size_t close = S.find(u"]]>", start);
  if (Starve(close == std::u16string_view::npos)) return;
  size_t end = close == std::u16string_view::npos ? S.size() : close;
  P = close == std::u16string_view::npos ? S.size() : close + 3;
  TLKXMLItem* c = Current();
  if (!c || SkipDepth > 0) return;
  if (Excess > 0 || c->FLevel >= E.FMaxDepth) {
    AppendText(start, end);  // keep the text even where no node may go
    return;
  }
  NewChild(c, ikCDATA, u"![CDATA[", S.substr(start, end - start), {});
}

void TLKXMLParser::Declaration() {
  // <!DOCTYPE ...> and the like, with an internal subset in brackets: skipped
  // whole, so that no declared entity is ever expanded.
  int brackets = 0;
  char16_t quote = 0;
  size_t i = P + 2;
  for (; i < S.size(); ++i) {
    char16_t c = S[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '[') {
      ++brackets;
    } else if (c == ']') {
      if (brackets > 0) --brackets;
    } else if (c == '>' && brackets == 0) {
      break;
    }
  }
  if (Starve(i >= S.size())) return;
  P = i < S.size() ? i + 1 : S.size();
}

void TLKXMLParser::ProcessingInstruction() {
  // The node's name is "?" plus the target: the "?" is in the text already.
  size_t q = NameEnd(P + 2);
  std::u16string_view name = S.substr(P + 1, q - (P + 1));
  size_t close = S.find(u"?>", q);
  if (Starve(close == std::u16string_view::npos)) return;
  size_t end = close == std::u16string_view::npos ? S.size() : close;
  P = close == std::u16string_view::npos ? S.size() : close + 2;
  std::u16string_view attrs = S.substr(q, end - q);
  TLKXMLItem* c = Current();
  if (SkipDepth > 0 || Excess > 0) return;
  if (!c && !RootFilled) {
    // A leading declaration fills the root and stays open, so the document
    // element becomes its child; its attributes are always made into nodes.
    RootFilled = true;
    TLKXMLItem* root = E.FRootItem.get();
    root->FKind = ikProperty;
    root->FText[TLKXMLItem::kName] = name;
    root->FText[TLKXMLItem::kAttributes] = attrs;
    root->ProcessAttributes();
    Push(root, std::u16string_view());
    return;
  }
  if (!c || c->FLevel >= E.FMaxDepth) return;
  TLKXMLItem* node = NewChild(c, ikProperty, name, {}, attrs);
  if (node && E.FAttributesAutoProcess) node->ProcessAttributes();
}

void TLKXMLParser::Run() {
  const size_t n = S.size();
  while (P < n && !Cancelled && !Starved) {
    if (S[P] != '<') {
      // Text may end with the piece: the next piece's text joins it.
      size_t end = Find('<', P);
      AppendText(P, end);
      P = end;
      continue;
    }
    // Enough to tell the kind of markup ("<![CDATA[" is the longest).
    if (Starve(n - P < 9)) break;
    char16_t c = P + 1 < n ? S[P + 1] : u'\0';
    if (c == '/') {
      EndTag();
    } else if (c == '!') {
      if (StartsWith(S, P, u"<!--"))
        Comment();
      else if (StartsWithIgnoreCase(S, P, u"<![CDATA["))
        CData();
      else
        Declaration();
    } else if (c == '?') {
      ProcessingInstruction();
    } else if (IsNameStart(c)) {
      StartTag();
    } else {
      AppendText(P, P + 1);  // a "<" that starts no markup is text
      ++P;
    }
  }
}

size_t TLKXMLParser::CountNodes(size_t Limit) const {
  size_t count = 0;
  std::vector<const TLKXMLItem*> work{E.FRootItem.get()};
  while (!work.empty() && count < Limit) {
    const TLKXMLItem* n = work.back();
    work.pop_back();
    ++count;
    // Children beyond the limit are never visited: a node with a million
    // of them must not cost a million pushes on every call.
    for (const auto& child : n->FItems.FList) {
      if (count + work.size() >= Limit) break;
      work.push_back(child.get());
    }
  }
  return count + work.size() >= Limit ? Limit : count;
}

void TLKXMLParser::OwnTexts(const char16_t* Lo, const char16_t* Hi) {
  std::vector<TLKXMLItem*> work{E.FRootItem.get()};
  while (!work.empty()) {
    TLKXMLItem* n = work.back();
    work.pop_back();
    n->OwnTextsIn(Lo, Hi);
    for (auto& child : n->FItems.FList) work.push_back(child.get());
  }
  for (TOpen& o : Open)
    if (!o.Name.empty()) o.Name = o.Node->TagName();
}

void TLKXMLParser::Continue(std::u16string_view Text, bool IsFinal) {
  S = Text;
  P = 0;
  Final = IsFinal;
  Starved = false;
  Run();
}

// ---------------------------------------------------------------------------
// Engine

namespace {

// The encoding named by a leading XML declaration, or empty.
std::string_view DeclaredEncoding(std::string_view s) {
  if (s.compare(0, 5, "<?xml") != 0) return {};
  size_t end = s.find("?>");
  if (end == std::string_view::npos || end > 1024) return {};
  std::string_view decl = s.substr(0, end);
  size_t p = decl.find("encoding");
  if (p == std::string_view::npos) return {};
  p += 8;
  while (p < decl.size() && (IsAsciiBlank(decl[p]) || decl[p] == '=')) ++p;
  if (p >= decl.size() || (decl[p] != '"' && decl[p] != '\'')) return {};
  char q = decl[p++];
  size_t close = decl.find(q, p);
  if (close == std::string_view::npos) return {};
  return decl.substr(p, close - p);
}

void DecodeUtf16(WideString& Out, std::string_view bytes, bool bigEndian) {
  size_t n = bytes.size() / 2;  // an odd last byte is ignored
  Out.resize(n);
  const auto* b = reinterpret_cast<const uint8_t*>(bytes.data());
  for (size_t i = 0; i < n; ++i)
    Out[i] = bigEndian ? static_cast<char16_t>((b[2 * i] << 8) | b[2 * i + 1])
                       : static_cast<char16_t>(b[2 * i] | (b[2 * i + 1] << 8));
}

}  // namespace

TLKXMLEngine::TLKXMLEngine(TComponent* AOwner) : TComponent(AOwner), FRootItem(std::make_unique<TLKXMLItem>()) {}

TLKXMLEngine::~TLKXMLEngine() = default;

void TLKXMLEngine::LoadFromStream(int64_t AStreamSize, TStream& AStream) {
  int64_t end = AStreamSize != 0 ? AStreamSize : AStream.Size();
  int64_t count = end - AStream.Position();
  LoadFromBytes(count > 0 ? AStream.ReadBytes(count) : RawByteString());
}

void TLKXMLEngine::LoadFromFile(const std::string& AFileName) {
  TFileStream f(AFileName, fmOpenRead | fmShareDenyNone);
  LoadFromStream(0, f);
}

namespace {

// How a document's bytes are encoded: a byte-order mark, UTF-16 recognised
// by its "<", or else what the declaration names (CodePage 0: nothing, or
// nothing this system supports).
struct TXMLForm {
  enum TKind { fkUtf8Mark, fkUtf16, fkDeclared } Kind = fkDeclared;
  bool BigEndian = false;
  bool Mark = false;   // a byte-order mark, Skip bytes long
  size_t Skip = 0;
  uint32_t CodePage = 0;
};

TXMLForm DetectXMLForm(std::string_view AData) {
  auto at = [&](size_t i) { return i < AData.size() ? static_cast<uint8_t>(AData[i]) : 0x100; };
  TXMLForm f;
  if (at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF) {
    f.Kind = TXMLForm::fkUtf8Mark;
    f.Mark = true;
    f.Skip = 3;
  } else if ((at(0) == 0xFF && at(1) == 0xFE) || (at(0) == 0xFE && at(1) == 0xFF)) {
    f.Kind = TXMLForm::fkUtf16;
    f.BigEndian = at(0) == 0xFE;
    f.Mark = true;
    f.Skip = 2;
  } else if ((at(0) == '<' && at(1) == 0 && at(2) != 0 && at(3) == 0) ||
             (at(0) == 0 && at(1) == '<' && at(2) == 0 && at(3) != 0)) {
    f.Kind = TXMLForm::fkUtf16;
    f.BigEndian = at(0) == 0;
  } else {
    f.CodePage = CodePageFromEncodingName(DeclaredEncoding(AData));
    if (f.CodePage != 0 && f.CodePage != CP_UTF8 && !IsCodePageSupported(f.CodePage)) f.CodePage = 0;
  }
  return f;
}

}  // namespace

void TLKXMLEngine::LoadFromBytes(std::string_view AData) {
  // Each load starts from an empty root; the old text goes after the nodes
  // that view it.
  FRootItem->Reset();
  FDocument.clear();
  FRetained.clear();
  FDepthLimitReached = false;
  FNodeLimitReached = false;
  FNodes = 0;

  const TXMLForm form = DetectXMLForm(AData);
  UTF8Processed = form.Mark;
  const std::string_view text = AData.substr(form.Skip);
  if (form.Kind == TXMLForm::fkUtf8Mark) {
    DecodeUtf8(FDocument, text);
    FDocumentCodePage = CP_UTF8;
  } else if (form.Kind == TXMLForm::fkUtf16) {
    DecodeUtf16(FDocument, text, form.BigEndian);
    FDocumentCodePage = form.BigEndian ? CP_UTF16BE : CP_UTF16LE;
  } else {
    uint32_t cp = form.CodePage;
    if (cp == 0 || cp == CP_UTF8) {
      // Undeclared text that is not valid UTF-8 is taken as the ANSI code page.
      bool valid = DecodeUtf8(FDocument, AData);
      if (!valid && cp == 0) cp = GetACP();
      else cp = CP_UTF8;
    }
    if (cp != CP_UTF8) FDocument = MultiByteToWide(cp, AData);
    FDocumentCodePage = cp;
  }
  if (!FDocument.empty() && FDocument.back() == 27) FDocument.pop_back();  // a trailing ESC
  if (!FDocument.empty()) ParseXMLFromString(FDocument);
}

namespace {

// Where a piece of UTF-8 that starts at From and wants about Want bytes
// ends: before a byte that continues no sequence, so that decoding the
// pieces gives what decoding the whole does.
size_t Utf8Cut(std::string_view Data, size_t From, size_t Want) {
  size_t cut = From + std::max<size_t>(Want, 1);
  while (cut < Data.size() && (static_cast<uint8_t>(Data[cut]) & 0xC0) == 0x80) ++cut;
  return std::min(cut, Data.size());
}

bool IsValidUtf8(std::string_view Data) {
  constexpr size_t kPiece = size_t{1} << 16;
  WideString scratch;
  for (size_t pos = 0; pos < Data.size();) {
    const size_t cut = Utf8Cut(Data, pos, kPiece);
    if (!DecodeUtf8(scratch, Data.substr(pos, cut - pos))) return false;
    pos = cut;
  }
  return true;
}

}  // namespace

// The bytes of a piecewise load: all of them in memory, or pulled from a
// source as the parse moves on, with what was decoded dropped.
class TXMLByteFeed {
 public:
  explicit TXMLByteFeed(std::string_view All) : FView(All), FEnded(true) {}
  explicit TXMLByteFeed(const TLKXMLEngine::TByteSource& Source) : FSource(&Source) {}

  // The bytes not yet decoded.
  std::string_view Rest() const { return FView.substr(FPos); }
  bool Ended() const { return FEnded; }
  // Makes at least N bytes available; fewer only at the end.
  void Want(size_t N) {
    while (!FEnded && FView.size() - FPos < N) {
      if (FPos) {
        FBuffer.erase(0, FPos);
        FPos = 0;
      }
      if (!(*FSource)(FBuffer)) FEnded = true;
      FView = FBuffer;
    }
  }
  // Everything that is left (for encodings decided by all of the text).
  std::string_view All() {
    Want(std::string_view::npos);
    return Rest();
  }
  void Consume(size_t N) { FPos += N; }

 private:
  const TLKXMLEngine::TByteSource* FSource = nullptr;
  std::string FBuffer;
  std::string_view FView;
  size_t FPos = 0;
  bool FEnded = false;
};

namespace {

// Enough of the start for DetectXMLForm: the byte-order mark and a
// declaration, which counts only when it ends within 1024 bytes.
constexpr size_t kHeadBytes = 1028;

}  // namespace

void TLKXMLEngine::LoadFromBytesInPieces(std::string_view AData, size_t APiece) {
  TXMLByteFeed feed(AData);
  LoadFeedInPieces(feed, APiece);
}

void TLKXMLEngine::LoadFromSourceInPieces(const TByteSource& Source, size_t APiece) {
  TXMLByteFeed feed(Source);
  LoadFeedInPieces(feed, APiece);
}

void TLKXMLEngine::LoadFeedInPieces(TXMLByteFeed& feed, size_t APiece) {
  feed.Want(kHeadBytes);
  const TXMLForm form = DetectXMLForm(feed.Rest());
  if (form.Kind == TXMLForm::fkDeclared) {
    // As LoadFromBytes decides; what is not UTF-8 is decoded whole.
    const uint32_t cp = form.CodePage;
    const bool utf8 = cp == CP_UTF8 || (cp == 0 && (GetACP() == CP_UTF8 || IsValidUtf8(feed.All())));
    if (!utf8) {
      LoadFromBytes(feed.All());
      return;
    }
  }
  const bool utf16 = form.Kind == TXMLForm::fkUtf16;
  feed.Consume(std::min(form.Skip, feed.Rest().size()));
  FRootItem->Reset();
  FDocument.clear();
  FRetained.clear();
  FDepthLimitReached = false;
  FNodeLimitReached = false;
  FNodes = 0;
  UTF8Processed = form.Mark;
  FDocumentCodePage = !utf16 ? CP_UTF8 : form.BigEndian ? CP_UTF16BE : CP_UTF16LE;
  feed.Want(1);
  if (feed.Rest().empty()) return;

  const size_t piece = std::max<size_t>(APiece, 1);
  const size_t copyLimit = std::max<size_t>(1024, piece / 16);
  size_t want = piece;
  TLKXMLParser parser(*this, {});
  WideString decoded, next;
  for (;;) {
    size_t cut;
    if (!utf16) {
      // A cut is moved past continuation bytes: have them at hand, however
      // many a damaged text repeats.
      size_t need = want + 4;
      feed.Want(need);
      cut = Utf8Cut(feed.Rest(), 0, want);
      while (!feed.Ended() && cut >= feed.Rest().size()) {
        need = 2 * feed.Rest().size();
        feed.Want(need);
        cut = Utf8Cut(feed.Rest(), 0, want);
      }
      DecodeUtf8(decoded, feed.Rest().substr(0, cut));
    } else {
      // Whole units; an odd last byte goes with the last piece.
      feed.Want(2 * want + 2);
      const std::string_view rest = feed.Rest();
      cut = std::min(rest.size(), 2 * want);
      if (rest.size() - cut < 2) cut = rest.size();
      DecodeUtf16(decoded, rest.substr(0, cut), form.BigEndian);
    }
    feed.Consume(cut);
    feed.Want(1);
    const bool final = feed.Rest().empty();
    if (final && !decoded.empty() && decoded.back() == 27) decoded.pop_back();  // a trailing ESC
    // The window: what the parser left of the last one, then the new text.
    const size_t from = std::min(parser.P, FDocument.size());
    next.clear();
    next.reserve(FDocument.size() - from + decoded.size());
    next.append(FDocument, from, WideString::npos);
    next += decoded;
    if (!FDocument.empty()) {
      // A handler that keeps a large tree (a block that does not end) would
      // pay a copy of every text: the piece is kept for the nodes instead.
      if (parser.CountNodes(copyLimit) < copyLimit) {
        parser.OwnTexts(FDocument.data(), FDocument.data() + FDocument.size());
      } else {
        FRetained.push_back(std::move(FDocument));
        FDocument = WideString();
      }
    }
    FDocument.swap(next);
    parser.Continue(FDocument, final);
    if (final || parser.Cancelled) break;
    // A token longer than a piece: grow the window geometrically, so that
    // scanning it again stays linear overall.
    want = std::max(piece, parser.Starved ? FDocument.size() - parser.P : 0);
  }
}

void TLKXMLEngine::ParseXMLFromString(std::u16string_view AText) {
  TLKXMLParser parser(*this, AText);
  parser.Run();
}

TLKXMLItem* TLKXMLEngine::GetItemByTag(TLKXMLItem* ARoot, std::u16string_view XMLTag) {
  return FindPreOrder(ARoot ? ARoot : FRootItem.get(),
                      [&](const TLKXMLItem& n) { return SameStrings(false, n.TagName(), XMLTag); });
}

TLKXMLItem* FindElement(TLKXMLItem* Root, std::u16string_view LocalName) {
  return FindPreOrder(Root, [&](const TLKXMLItem& n) { return IsElementNamed(n, LocalName); });
}

TLKXMLItem* FindChildElement(const TLKXMLItem* Parent, std::u16string_view LocalName) {
  if (!Parent) return nullptr;
  const TLKXMLItems& items = Parent->Items();
  for (int i = 0, n = items.Count(); i < n; ++i)
    if (IsElementNamed(*items[i], LocalName)) return items[i];
  return nullptr;
}

WideString ElementText(const TLKXMLItem* Item) {
  WideString out;
  if (!Item) return out;
  const WideString text = Item->Text();
  out.reserve(text.size());
  for (const char16_t c : text) {
    if (!IsAsciiBlankOrFormFeed(c)) out += c;
    else if (!out.empty() && out.back() != u' ') out += u' ';
  }
  if (!out.empty() && out.back() == u' ') out.pop_back();
  return out;
}

WideString TLKXMLEngine::GetFirstTagName(WideString& AXMLPath) {
  WideString result;
  size_t p = AXMLPath.find(u'/');
  if (p == WideString::npos) {
    result.swap(AXMLPath);
    return result;
  }
  result = AXMLPath.substr(0, p);
  AXMLPath.erase(0, p + 1);
  return result;
}

WideString TLKXMLEngine::GetLastTagName(WideString& AXMLPath) {
  WideString result;
  size_t p = AXMLPath.rfind(u'/');
  if (p == WideString::npos) {
    result.swap(AXMLPath);
    return result;
  }
  result = AXMLPath.substr(p + 1);
  AXMLPath.erase(p);
  return result;
}

void DropElementContent(RawByteString& d, std::string_view LocalName) {
  size_t out = 0, from = 0, search = 0;
  for (;;) {
    size_t at = d.find(LocalName, search);
    if (at == RawByteString::npos) break;
    search = at + LocalName.size();
    size_t q = at;
    if (q > 0 && d[q - 1] == ':') {  // a prefixed name: step back over the prefix
      --q;
      while (q > 0 && d[q - 1] != '<' && d[q - 1] != '/' && d[q - 1] != ' ' && d[q - 1] != '>' && search - q < 64)
        --q;
    }
    if (q == 0 || d[q - 1] != '<') continue;
    char next = search < d.size() ? d[search] : '\0';
    if (next != '>' && next != ' ' && next != '\t' && next != '\r' && next != '\n') continue;
    size_t gt = d.find('>', search);
    if (gt == RawByteString::npos) break;
    if (d[gt - 1] == '/') continue;
    size_t lt = d.find('<', gt + 1);
    if (lt == RawByteString::npos) lt = d.size();
    std::memmove(&d[out], &d[from], gt + 1 - from);
    out += gt + 1 - from;
    from = search = lt;
  }
  if (from == 0) return;
  std::memmove(&d[out], d.data() + from, d.size() - from);
  d.resize(out + d.size() - from);
}

}  // namespace lkw
