#include "lkword/readers/BookText.h"

#include <algorithm>

#include "lkword/platform/Ascii.h"
#include "lkword/platform/DateTime.h"
#include "lkword/readers/ListLabels.h"

namespace lkw {

namespace {

// The engine bounds element nesting already; this only guards the walk
// against a tree built some other way.
constexpr int kMaxWalkDepth = 1024;
// Element names longer than this are no names the readers know.
constexpr size_t kMaxKnownName = 24;

// The number of Count digits at S[P], P moved past them; -1 (P kept) when
// they are not all there.
int Digits(std::u16string_view S, size_t& P, size_t Count) {
  if (P + Count > S.size()) return -1;
  int v = 0;
  for (size_t i = 0; i < Count; ++i) {
    const char16_t c = S[P + i];
    if (!IsAsciiDigit(c)) return -1;
    v = v * 10 + (c - u'0');
  }
  P += Count;
  return v;
}

bool At(std::u16string_view S, size_t P, char16_t C) { return P < S.size() && S[P] == C; }

// Lists nest no deeper than this for their labels; a hostile book may nest
// them as deep as the parser lets it.
constexpr size_t kMaxLists = 64;
constexpr int64_t kMaxItemNumber = int64_t{1} << 40;

// A decimal attribute value, with an optional sign, clamped; Default when
// it holds none.
int64_t IntegerAttribute(const TLKXMLItem& Node, std::u16string_view Name, int64_t Default) {
  WideString v;
  if (!Node.FindAttribute(Name, v)) return Default;
  std::u16string_view s = v;
  while (!s.empty() && IsAsciiBlank(s.front())) s.remove_prefix(1);
  const bool negative = !s.empty() && s.front() == u'-';
  if (!s.empty() && (s.front() == u'-' || s.front() == u'+')) s.remove_prefix(1);
  if (s.empty() || !IsAsciiDigit(s.front())) return Default;
  int64_t n = 0;
  for (char16_t c : s) {
    if (!IsAsciiDigit(c)) break;
    n = std::min<int64_t>(n * 10 + (c - u'0'), kMaxItemNumber);
  }
  return negative ? -n : n;
}

// The list-style-type a style attribute gives, lower-cased; empty when none.
WideString ListStyleType(const TLKXMLItem& Node) {
  WideString style;
  if (!Node.FindAttribute(u"style", style)) return {};
  const WideString lower = LowerAscii(style);
  size_t at = lower.find(u"list-style-type");
  size_t skip = 15;
  if (at == WideString::npos) {
    at = lower.find(u"list-style");
    skip = 10;
  }
  if (at == WideString::npos) return {};
  size_t p = lower.find(u':', at + skip);
  if (p == WideString::npos) return {};
  ++p;
  while (p < lower.size() && IsAsciiBlank(lower[p])) ++p;
  size_t e = p;
  while (e < lower.size() && (IsAsciiAlnum(lower[e]) || lower[e] == u'-')) ++e;
  return lower.substr(p, e - p);
}

bool SameName(std::u16string_view A, std::u16string_view B) { return SameTextAscii(A, B); }

// The time of day after a date's "T" (or space) at S[P], with its zone
// applied; Date itself when no valid time follows.
TDateTime AddTimeOfDay(std::u16string_view S, size_t P, TDateTime Date) {
  int hour = 0, minute = 0, second = 0;
  if ((hour = Digits(S, P, 2)) < 0 || !At(S, P, u':')) return Date;
  ++P;
  if ((minute = Digits(S, P, 2)) < 0) return Date;
  if (At(S, P, u':')) {
    ++P;
    if ((second = Digits(S, P, 2)) < 0) return Date;
    if (At(S, P, u'.') || At(S, P, u',')) {
      ++P;
      while (P < S.size() && IsAsciiDigit(S[P])) ++P;
    }
  }
  TDateTime time;
  if (!TryEncodeTime(hour == 24 ? 0 : hour, minute, second, 0, time)) return Date;
  const TDateTime result = Date + time + (hour == 24 ? 1 : 0);
  if (At(S, P, u'Z')) return UTCToLocal(result);
  if (At(S, P, u'+') || At(S, P, u'-')) {
    const int sign = S[P] == u'-' ? -1 : 1;
    ++P;
    int zh = Digits(S, P, 2), zm = 0;
    if (zh < 0) return result;
    if (At(S, P, u':')) ++P;
    if (P < S.size() && (zm = Digits(S, P, 2)) < 0) zm = 0;
    return UTCToLocal(result - sign * (zh * 60 + zm) / 1440.0);
  }
  return result;
}

}  // namespace

TDateTime BookDateToDateTime(std::u16string_view S) {
  while (!S.empty() && IsAsciiBlankOrFormFeed(S.front())) S.remove_prefix(1);
  size_t p = 0;
  const int year = Digits(S, p, 4);
  if (year < 0) return 0;
  int month = 1, day = 1;
  if (At(S, p, u'-')) {
    size_t q = p + 1;
    if ((month = Digits(S, q, 2)) < 0) return 0;
    p = q;
    if (At(S, p, u'-')) {
      q = p + 1;
      if ((day = Digits(S, q, 2)) < 0) return 0;
      p = q;
    }
  }
  TDateTime date;
  if (!TryEncodeDate(year, month, day, date)) return 0;
  if (!(At(S, p, u'T') || At(S, p, u' ')) || p + 1 >= S.size() || !IsAsciiDigit(S[p + 1])) return date;
  return AddTimeOfDay(S, p + 1, date);
}

// ---------------------------------------------------------------------------
// TBookTextWalker

bool TBookTextWalker::Walk(const TLKXMLItem& Root) {
  FStopped = false;
  FPreDepth = 0;
  FMathDepth = 0;
  FLine.clear();
  FBlocks.clear();
  FLists.clear();
  FItemDepth = 0;
  FPendingLabel.clear();
  FTableDepth = 0;
  FCellDepth = 0;
  WalkNode(Root, 0);
  Flush();
  return !FStopped;
}

TBookElementRole TBookTextWalker::RoleOf(std::u16string_view LocalName) const {
  if (LocalName.size() > kMaxKnownName) return brInline;
  char16_t lower[kMaxKnownName];
  for (size_t i = 0; i < LocalName.size(); ++i) lower[i] = ToLowerAscii(LocalName[i]);
  return FClassify(std::u16string_view(lower, LocalName.size()));
}

void TBookTextWalker::WalkNode(const TLKXMLItem& Node, int Depth) {
  if (FStopped) return;
  const std::u16string_view local = XMLLocalName(Node.TagName());
  const TBookElementRole role = RoleOf(local);
  switch (role) {
    case brSkip:
      return;
    case brLineBreak:
      FLine += u'\n';
      return;
    case brEmptyLine:
      Flush();
      Emit(brEmptyLine, WideString());
      return;
    case brMath: {
      WideString alt;
      if (Node.FindAttribute(u"alttext", alt) && alt.find_first_not_of(u" \t\r\n") != WideString::npos) {
        Separate();
        AppendRaw(alt, false);
        Separate();
        return;
      }
      ++FMathDepth;
      Separate();
      AppendRaw(Node.Value(), true);
      if (Depth < kMaxWalkDepth) WalkChildren(Node, Depth);
      Separate();
      --FMathDepth;
      return;
    }
    default:
      break;
  }
  const bool block = role != brInline;
  if (block) {
    Flush();
    FBlocks.push_back(local);
    if (role == brPreformatted) ++FPreDepth;
    if (role == brBlock) {
      EnterListElement(Node, local);
      EnterTableElement(local);
    }
  }
  AppendRaw(Node.Value(), true);
  if (Depth < kMaxWalkDepth) WalkChildren(Node, Depth);
  // Each token of a formula is a word, however tightly it is written.
  if (FMathDepth > 0) Separate();
  if (block) {
    Flush();
    if (role == brPreformatted) --FPreDepth;
    if (role == brBlock) {
      LeaveListElement(local);
      LeaveTableElement(local);
    }
    FBlocks.pop_back();
    if (role == brSection) Emit(brSection, WideString());
  }
}

void TBookTextWalker::WalkChildren(const TLKXMLItem& Node, int Depth) {
  const TLKXMLItems& items = Node.Items();
  for (int i = 0, n = items.Count(); i < n && !FStopped; ++i) {
    const TLKXMLItem* c = items[i];
    switch (c->Kind()) {
      case ikAttribute:
        continue;
      case ikComment:
        break;
      case ikCDATA:
        AppendRaw(c->Value(), false);
        break;
      case ikProperty:
        // Processing instructions are named "?target" and hold no text.
        if (c->TagName().empty() || c->TagName()[0] != u'?') WalkNode(*c, Depth + 1);
        break;
    }
    AppendRaw(c->Tail(), true);
  }
}

void TBookTextWalker::AppendRaw(std::u16string_view Raw, bool Decode) {
  if (Raw.empty() || FStopped) return;
  std::u16string_view text = Raw;
  if (Decode && Raw.find(u'&') != std::u16string_view::npos) {
    FScratch.clear();
    AppendHTMLChars(FScratch, Raw);
    text = FScratch;
  }
  if (FPreDepth > 0) {
    for (size_t i = 0; i < text.size(); ++i) {
      char16_t c = text[i];
      if (c == u'\r') {
        if (i + 1 < text.size() && text[i + 1] == u'\n') continue;
        c = u'\n';
      }
      FLine += c;
    }
    return;
  }
  for (const char16_t c : text) {
    if (!IsAsciiBlankOrFormFeed(c)) FLine += c;
    else if (!FLine.empty() && FLine.back() != u' ' && FLine.back() != u'\n') FLine += u' ';
  }
}

void TBookTextWalker::Separate() {
  if (!FLine.empty() && FLine.back() != u' ' && FLine.back() != u'\n') FLine += u' ';
}

void TBookTextWalker::Flush() {
  if (FLine.empty() || FStopped) {
    FLine.clear();
    return;
  }
  const TBookElementRole role = FPreDepth > 0 ? brPreformatted : brBlock;
  const std::u16string_view line = FLine;
  size_t start = 0;
  while (start <= line.size() && !FStopped) {
    size_t nl = line.find(u'\n', start);
    if (nl == std::u16string_view::npos) nl = line.size();
    size_t b = start, e = nl;
    while (e > b && (line[e - 1] == u' ' || line[e - 1] == u'\t')) --e;
    if (role == brBlock)
      while (b < e && line[b] == u' ') ++b;
    bool blank = true;
    for (size_t i = b; i < e && blank; ++i) blank = line[i] == u' ' || line[i] == u'\t';
    if (!blank) Emit(role, WideString(line.substr(b, e - b)));
    start = nl + 1;
  }
  FLine.clear();
}

void TBookTextWalker::Emit(TBookElementRole Role, const WideString& Text) {
  if (FStopped) return;
  const std::u16string_view tag = FBlocks.empty() ? std::u16string_view() : FBlocks.back();
  const bool text = Role == brBlock || Role == brPreformatted;
  if (text) FLineLabel.swap(FPendingLabel);
  if (!FEmit(Role, tag, Text)) FStopped = true;
  FLineLabel.clear();
}

int TBookTextWalker::OpenBlocks(std::u16string_view Name) const {
  int n = 0;
  for (const std::u16string_view b : FBlocks) n += SameName(b, Name);
  return n;
}

void TBookTextWalker::EnterListElement(const TLKXMLItem& Node, std::u16string_view LocalName) {
  const bool ordered = SameName(LocalName, u"ol");
  if (ordered || SameName(LocalName, u"ul")) {
    // An item begun with a list shows no label of its own.
    FPendingLabel.clear();
    TList list;
    list.Ordered = ordered;
    // The lists of an e-book's navigation document show no numbers.
    const WideString type = OpenBlocks(u"nav") > 0 ? WideString(u"none") : ListStyleType(Node);
    if (ordered) {
      TListNumberFormat format = TListNumberFormat::Decimal;
      if (WideString t; Node.FindAttribute(u"type", t)) format = ListNumberFormat(t);
      if (type == u"lower-alpha" || type == u"lower-latin") format = TListNumberFormat::LowerLetter;
      else if (type == u"upper-alpha" || type == u"upper-latin") format = TListNumberFormat::UpperLetter;
      else if (type == u"lower-roman") format = TListNumberFormat::LowerRoman;
      else if (type == u"upper-roman") format = TListNumberFormat::UpperRoman;
      else if (type == u"decimal") format = TListNumberFormat::Decimal;
      else if (type == u"none") format = TListNumberFormat::None;
      list.Format = static_cast<int>(format);
      WideString unused;
      if (Node.FindAttribute(u"reversed", unused)) {
        list.Step = -1;
        // Counting down from the number of items unless told otherwise.
        int64_t items = 0;
        for (int i = 0; i < Node.Items().Count(); ++i) {
          const TLKXMLItem* c = Node.Items()[i];
          items += c->Kind() == ikProperty && SameName(XMLLocalName(c->TagName()), u"li");
        }
        list.Next = items;
      }
      list.Next = IntegerAttribute(Node, u"start", list.Next);
    } else {
      list.Bullet = type == u"none"     ? WideString()
                    : type == u"circle" ? WideString(u"\u25E6")
                    : type == u"square" ? WideString(u"\u25AA")
                                        : WideString(u"\u2022");
    }
    if (FLists.size() < kMaxLists) FLists.push_back(std::move(list));
    return;
  }
  if (!SameName(LocalName, u"li") || FLists.empty()) return;
  ++FItemDepth;
  TList& list = FLists.back();
  FPendingLabel.clear();
  if (!list.Ordered) {
    FPendingLabel = list.Bullet;
    return;
  }
  list.Next = IntegerAttribute(Node, u"value", list.Next);
  const auto format = static_cast<TListNumberFormat>(list.Format);
  if (format != TListNumberFormat::None) {
    AppendListNumber(FPendingLabel, list.Next, format);
    FPendingLabel += u'.';
  }
  list.Next = std::clamp<int64_t>(list.Next + list.Step, -kMaxItemNumber, kMaxItemNumber);
}

void TBookTextWalker::LeaveListElement(std::u16string_view LocalName) {
  if (SameName(LocalName, u"ol") || SameName(LocalName, u"ul")) {
    if (!FLists.empty()) FLists.pop_back();
  } else if (SameName(LocalName, u"li") && FItemDepth > 0) {
    --FItemDepth;
  }
  FPendingLabel.clear();
}

void TBookTextWalker::EnterTableElement(std::u16string_view LocalName) {
  if (SameName(LocalName, u"table")) {
    if (FTableDepth++ == 0) ++FPlace.Table;
  } else if (FTableDepth == 1) {
    if (SameName(LocalName, u"tr")) {
      ++FPlace.Row;
    } else if (SameName(LocalName, u"td") || SameName(LocalName, u"th")) {
      ++FPlace.Cell;
      ++FCellDepth;
    }
  }
}

void TBookTextWalker::LeaveTableElement(std::u16string_view LocalName) {
  if (SameName(LocalName, u"table")) {
    if (FTableDepth > 0) --FTableDepth;
  } else if (FTableDepth == 1 && FCellDepth > 0 && (SameName(LocalName, u"td") || SameName(LocalName, u"th"))) {
    --FCellDepth;
  }
}

// ---------------------------------------------------------------------------
// TBookTables

void TBookTables::Before(const TBookTextWalker& Walker) {
  const TBookTextWalker::TTablePlace at = Walker.TablePlace();
  if (!at.In) {
    Close();
    return;
  }
  if (FTable && at.Table != FAt.Table) Close();
  if (!FTable) {
    FOut.BeginTable();
    FTable = true;
  }
  if (FRow && at.Row != FAt.Row) {
    if (FCell) FOut.EndCell();
    FOut.EndRow();
    FRow = FCell = false;
  }
  if (!FRow) {
    FOut.BeginRow();
    FRow = true;
  }
  if (FCell && at.Cell != FAt.Cell) {
    FOut.EndCell();
    FCell = false;
  }
  if (!FCell) {
    FOut.BeginCell();
    FCell = true;
  }
  FAt = at;
}

void TBookTables::Close() {
  if (FCell) FOut.EndCell();
  if (FRow) FOut.EndRow();
  if (FTable) FOut.EndTable();
  FTable = FRow = FCell = false;
}

}  // namespace lkw
