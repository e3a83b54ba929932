#include "lkword/word/MSWordXMath.h"

#include <algorithm>

namespace lkw {

namespace {

// An equation's text beyond this is left out: hostile documents could
// otherwise make it grow with every nesting level.
constexpr size_t kMaxEquation = size_t{1} << 20;

constexpr std::u16string_view kArguments[] = {u"e", u"num", u"den", u"sup", u"sub", u"deg", u"fName", u"lim"};

bool IsArgument(std::u16string_view Name) {
  return std::find(std::begin(kArguments), std::end(kArguments), Name) != std::end(kArguments);
}

// Characters that join or separate terms: a text holding one needs
// brackets to be read as one operand.
bool IsOperatorChar(char16_t C) {
  static constexpr std::u16string_view kOperators =
      u" \t+-=<>/*()[]{}|,;:&^_!~\u00A0\u00B1\u00D7\u00F7\u00B7\u2061\u2062\u2212\u2213\u2215\u2217\u221A\u2211\u220F"
      u"\u222B\u2264\u2265\u2260\u2248\u2261\u2192\u2190\u2194\u22C5\u2026\u00A6";
  return kOperators.find(C) != std::u16string_view::npos;
}

// One operand as written: a single character, a number, a name, or a text
// in brackets that close at its end.
bool IsGroup(std::u16string_view S) {
  if (S.size() < 2) return false;
  const char16_t open = S.front();
  const char16_t close = open == u'(' ? u')' : open == u'[' ? u']' : open == u'{' ? u'}' : 0;
  if (!close || S.back() != close) return false;
  int depth = 0;
  for (size_t i = 0; i < S.size(); ++i) {
    if (S[i] == open) ++depth;
    if (S[i] == close && --depth == 0 && i + 1 < S.size()) return false;
  }
  return depth == 0;
}

bool IsOperand(std::u16string_view S) {
  if (S.size() == 1 || (S.size() == 2 && S[0] >= 0xD800 && S[0] < 0xDC00)) return true;
  if (IsGroup(S)) return true;
  return !S.empty() && std::none_of(S.begin(), S.end(), IsOperatorChar);
}

WideString Wrap(const WideString& S) { return S.empty() || IsOperand(S) ? S : u"(" + S + u")"; }

// Scripts and limits always in brackets: "x^(2)", "a_(i)".
WideString Script(const WideString& S) { return IsGroup(S) ? S : u"(" + S + u")"; }

WideString Joined(const std::vector<WideString>& Parts, const std::vector<WideString>& Names, std::u16string_view Name,
                  std::u16string_view Separator) {
  WideString out;
  bool first = true;
  for (size_t i = 0; i < Parts.size(); ++i) {
    if (Names[i] != Name) continue;
    if (!first) out += Separator;
    out += Parts[i];
    first = false;
  }
  return out;
}

bool IsOn(std::u16string_view V) { return V.empty() || V == u"1" || V == u"on" || V == u"true"; }

}  // namespace

void TWordXMath::Begin() {
  FStack.clear();
  FStack.push_back({});
  FStack.back().Name = u"oMath";
  FLength = 0;
}

void TWordXMath::Open(std::u16string_view LocalName) {
  if (FStack.empty()) return;
  FStack.push_back({});
  FStack.back().Name = WideString(LocalName);
}

void TWordXMath::Close() {
  if (FStack.size() < 2) return;
  TFrame f = std::move(FStack.back());
  FStack.pop_back();
  WideString result;
  if (IsArgument(f.Name)) {
    result = std::move(f.Text);
    for (const WideString& p : f.Parts) result += p;
  } else {
    result = Compose(f);
  }
  TFrame& parent = FStack.back();
  const bool structure = FStack.size() > 1 && !IsArgument(parent.Name);
  if (FLength + result.size() > kMaxEquation) return;
  FLength += result.size();
  if (structure) {
    parent.Parts.push_back(std::move(result));
    parent.PartNames.push_back(std::move(f.Name));
  } else {
    parent.Text += result;
  }
}

void TWordXMath::Property(std::u16string_view LocalName, std::u16string_view Value) {
  if (FStack.empty()) return;
  TFrame& f = FStack.back();
  auto set = [&](WideString& Field, bool& Has) {
    Field = WideString(Value);
    Has = true;
  };
  if (LocalName == u"chr") {
    set(f.Chr, f.HasChr);
  } else if (LocalName == u"begChr") {
    set(f.BegChr, f.HasBegChr);
  } else if (LocalName == u"endChr") {
    set(f.EndChr, f.HasEndChr);
  } else if (LocalName == u"sepChr") {
    set(f.SepChr, f.HasSepChr);
  } else if (LocalName == u"degHide") {
    f.DegHide = IsOn(Value);
  } else if (LocalName == u"type") {
    f.Type = WideString(Value);
  } else if (LocalName == u"pos") {
    f.Pos = WideString(Value);
  }
}

void TWordXMath::Text(std::u16string_view Text) {
  if (FStack.empty() || FLength + Text.size() > kMaxEquation) return;
  FLength += Text.size();
  FStack.back().Text += Text;
}

WideString TWordXMath::End() {
  while (FStack.size() > 1) Close();
  WideString out = FStack.empty() ? WideString() : std::move(FStack.back().Text);
  if (!FStack.empty())
    for (const WideString& p : FStack.back().Parts) out += p;
  FStack.clear();
  return out;
}

const WideString* TWordXMath::Part(const TFrame& F, std::u16string_view Name) const {
  for (size_t i = 0; i < F.Parts.size(); ++i)
    if (F.PartNames[i] == Name) return &F.Parts[i];
  return nullptr;
}

WideString TWordXMath::Compose(const TFrame& F) const {
  static const WideString kNone;
  auto part = [&](std::u16string_view Name) -> const WideString& {
    const WideString* p = Part(F, Name);
    return p ? *p : kNone;
  };
  const WideString& e = part(u"e");
  const std::u16string_view n = F.Name;
  // A mark over or under its base: combining characters follow it.
  auto marked = [&](const WideString& Mark) { return (e.size() == 1 ? e : Wrap(e)) + Mark; };
  if (n == u"f") {
    if (F.Type == u"noBar") return u"(" + part(u"num") + u"\u00A6" + part(u"den") + u")";
    return Wrap(part(u"num")) + u"/" + Wrap(part(u"den"));
  }
  if (n == u"sSup") return Wrap(e) + u"^" + Script(part(u"sup"));
  if (n == u"sSub") return Wrap(e) + u"_" + Script(part(u"sub"));
  if (n == u"sSubSup") return Wrap(e) + u"_" + Script(part(u"sub")) + u"^" + Script(part(u"sup"));
  if (n == u"sPre") return u"_" + Script(part(u"sub")) + u"^" + Script(part(u"sup")) + Wrap(e);
  if (n == u"rad") {
    const WideString& degree = part(u"deg");
    if (F.DegHide || degree.empty()) return u"\u221A" + Script(e);
    return u"\u221A(" + degree + u"&" + e + u")";
  }
  if (n == u"d") {
    return (F.HasBegChr ? F.BegChr : WideString(u"(")) +
           Joined(F.Parts, F.PartNames, u"e", F.HasSepChr ? std::u16string_view(F.SepChr) : u"|") +
           (F.HasEndChr ? F.EndChr : WideString(u")"));
  }
  if (n == u"nary") {
    WideString out = F.HasChr ? F.Chr : WideString(u"\u222B");
    if (!part(u"sub").empty()) out += u"_" + Script(part(u"sub"));
    if (!part(u"sup").empty()) out += u"^" + Script(part(u"sup"));
    return out + e;
  }
  if (n == u"func") return part(u"fName") + (IsGroup(e) ? e : u" " + e);
  if (n == u"limLow") return Wrap(e) + u"_" + Script(part(u"lim"));
  if (n == u"limUpp") return Wrap(e) + u"^" + Script(part(u"lim"));
  if (n == u"acc") return marked(F.HasChr ? F.Chr : WideString(u"\u0302"));
  if (n == u"bar") return marked(F.Pos == u"bot" ? u"\u0332" : u"\u0305");
  if (n == u"groupChr") return marked(F.HasChr ? F.Chr : WideString(u"\u23DF"));
  if (n == u"eqArr") return Joined(F.Parts, F.PartNames, u"e", u"; ");
  if (n == u"mr") return Joined(F.Parts, F.PartNames, u"e", u", ");
  if (n == u"m") return u"[" + Joined(F.Parts, F.PartNames, u"mr", u"; ") + u"]";
  // Boxes, phantoms and what is not known: their content as it stands.
  WideString out = F.Text;
  for (const WideString& p : F.Parts) out += p;
  return out;
}

}  // namespace lkw
