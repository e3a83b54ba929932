#include "lkword/framework/WordRenderer.h"

#include <algorithm>
#include <array>

#include "lkword/platform/Ascii.h"

namespace lkw {

namespace {

// A field instruction that collects more outputs than this is not a field.
constexpr int32_t kMaxFieldCodeLen = 200;
// Items of a sink are joined by line breaks, so cutting at one changes
// nothing; this size keeps the calls few.
constexpr size_t kItemChars = size_t{1} << 16;

struct TSysToken {
  std::u16string_view Code;
  TLKWordSysChar SysChar;
};

// Matched against the rendered instruction, so "\\@" meets a picture switch
// only as RTF escapes it.
constexpr std::array<TSysToken, 16> kSysTokens{{
    {u"TIME", scTime},
    {u"\\\\@", scDateTimePicture},
    {u"HYPERLINK", scHyperlink},
    {u"TOC", scTOC},
    {u"\\\\o", scTOC_From_Range},
    {u"PAGEREF", scPage},
    {u"PAGE", scPage},
    {u"NUMPAGES", scNumPages},
    {u"EMBED", scEmbed},
    {u"EDITTIME", scEditTime},
    {u"SPEICHERDAT", scSpeicherdat},
    {u"DATEINAME", scDateIName},
    {u"ADVANCE", scFieldAttributes},
    {u"SEQ TEXT_BOX", scTextField},
    {u"*", scUnknown},
    {u"INCLUDEPICTURE", scIncludePicture},
}};

TLKWordSysChar LookupKeyword(std::u16string_view Keyword) {
  for (const TSysToken& t : kSysTokens) {
    if (Keyword.size() < t.Code.size()) continue;
    bool equal = true;
    for (size_t i = 0; i < t.Code.size() && equal; ++i) {
      char16_t c = Keyword[i];
      if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
      equal = c == t.Code[i];
    }
    if (equal) return t.SysChar;
  }
  return scUnknown;
}

std::u16string_view Trim(std::u16string_view S) {
  while (!S.empty() && S.front() <= u' ') S.remove_prefix(1);
  while (!S.empty() && S.back() <= u' ') S.remove_suffix(1);
  return S;
}

}  // namespace

WideString MacroButtonText(std::u16string_view Instruction) {
  std::u16string_view s = Trim(Instruction);
  constexpr std::u16string_view kKeyword = u"MACROBUTTON";
  if (s.size() <= kKeyword.size() || s[kKeyword.size()] > u' ') return {};
  if (!SameTextAscii(s.substr(0, kKeyword.size()), kKeyword)) return {};
  s = Trim(s.substr(kKeyword.size()));
  // A switch where the macro's name belongs leaves no text; a general
  // format switch (\* MERGEFORMAT) some writers add is none either.
  if (s.empty() || s.front() == u'\\') return {};
  size_t name = 0;
  while (name < s.size() && s[name] > u' ') ++name;
  s = s.substr(name);
  if (const size_t sw = s.find(u" \\*"); sw != s.npos) s = s.substr(0, sw);
  return WideString(Trim(s));
}

WideString HyperlinkFieldTarget(std::u16string_view Instruction) {
  std::u16string_view s = Trim(Instruction);
  constexpr std::u16string_view kKeyword = u"HYPERLINK";
  if (s.size() < kKeyword.size() || LookupKeyword(s.substr(0, kKeyword.size())) != scHyperlink) return {};
  s.remove_prefix(kKeyword.size());
  if (!s.empty() && s.front() > u' ') return {};
  // Arguments are quoted (a backslash escapes the next character) or end at
  // a space; switches are a backslash and a character, all but \m \n \h
  // with an argument of their own (\* \# \@ formats too).
  auto argument = [&s]() {
    WideString a;
    s = Trim(s);
    if (!s.empty() && s.front() == u'"') {
      size_t i = 1;
      for (; i < s.size() && s[i] != u'"'; ++i) {
        if (s[i] == u'\\' && i + 1 < s.size()) ++i;
        a += s[i];
      }
      s.remove_prefix(std::min(i + 1, s.size()));
    } else {
      size_t i = 0;
      while (i < s.size() && s[i] > u' ') a += s[i++];
      s.remove_prefix(i);
    }
    return a;
  };
  WideString address, bookmark;
  bool haveAddress = false;
  while (!(s = Trim(s)).empty()) {
    if (s.size() >= 2 && s[0] == u'\\' && s[1] != u'\\' && s[1] != u'"') {
      const char16_t sw = static_cast<char16_t>(s[1] | 0x20);
      s.remove_prefix(2);
      if (sw == u'l') bookmark = argument();
      else if (sw != u'm' && sw != u'n' && sw != u'h') argument();
      continue;
    }
    WideString a = argument();
    if (!haveAddress) address = std::move(a), haveAddress = true;
  }
  if (!bookmark.empty()) address += u"#" + bookmark;
  return address;
}

TWordRenderer::TWordRenderer(TMSWBaseDocument& Doc, TTextPath& Path) : TTextRenderer(Doc, Path) {}

TWordRenderer::~TWordRenderer() = default;

void TWordRenderer::BeginDocument() { Path().AddUncounted(Doc().GetTextStart()); }

void TWordRenderer::BeginStory(TStoryKind Kind) {
  FRaw = !Doc().ConvertSysCharacters();
  FList = Kind == TStoryKind::Main ? nullptr : FNextList;
  FNextList = nullptr;
  FStreaming = !FList && !FRaw && Path().Sinking();
  FOut.clear();
  FFieldCode.clear();
  FFieldCodeLen = 0;
  FSkipping = false;
}

void TWordRenderer::EndStory(TStoryKind Kind) {
  if (FRaw) {
    // The characters as they are, and outside the limit.
    if (FList)
      FList->Add(std::move(FOut));
    else
      Path().AddUncounted(std::move(FOut));
  } else {
    if (!FFieldCode.empty()) FlushField();
    if (FList)
      Path().AddTo(*FList, std::move(FOut));
    else
      Path().Add(std::move(FOut));
  }
  FOut.clear();
  FList = nullptr;
  FStreaming = false;
  if (Kind == TStoryKind::Main) Path().AddFinish(Doc().GetTextFinish(), false);
}

void TWordRenderer::BeginParagraph(const TParagraph& P) {
  if (FRaw || !HasLabel(P)) return;
  // Inside a field the label belongs to the field's result, where the
  // paragraph stands.
  if (FFieldCode.empty()) {
    AppendLabel(FOut, P);
  } else {
    AppendLabel(FFieldCode, P);
    ++FFieldCodeLen;
  }
}

void TWordRenderer::Characters(std::u16string_view Run) {
  if (FRaw) {
    FOut += Run;
    return;
  }
  // Inside a field each character is one of its outputs.
  size_t i = 0;
  for (; i < Run.size() && !FFieldCode.empty(); ++i) {
    if (FFieldCodeLen > kMaxFieldCodeLen) {
      FlushField();
      break;
    }
    AppendEscaped(FFieldCode, Run.substr(i, 1));
    ++FFieldCodeLen;
  }
  if (i < Run.size() && !FSkipping) AppendEscaped(FOut, Run.substr(i));
}

void TWordRenderer::Mark(TWordMark Mark, char16_t Char) {
  if (FRaw) {
    FOut += Char;
    if (Mark == TWordMark::RowEnd) FOut += Char;
    return;
  }
  // A field inside a field resolves the outer one here. (While an
  // instruction is skipped no field is held, so neither applies.)
  if (Mark == TWordMark::FieldBegin && FFieldCodeLen > 0) FOut += ResolveFieldEnd();
  if (FFieldCodeLen > kMaxFieldCodeLen) FlushField();
  if (FSkipping && SkipMark(Mark)) return;
  WideString o = Render(Mark, Char);
  if (FFieldCode.empty() && Mark != TWordMark::FieldBegin) {
    FOut += o;
    if (Mark == TWordMark::ParagraphEnd && FStreaming) HandOutLines();
  } else {
    FFieldCode += o;
    if (!o.empty()) ++FFieldCodeLen;
  }
  // The row's own mark follows as a line feed of the text.
  if (Mark == TWordMark::RowEnd) Characters(u"\n");
}

void TWordRenderer::BeginRevision(TRevisionKind Kind) {
  if (!FRaw && !FSkipping && FFieldCode.empty()) FOut += RevisionStart(Kind);
}

void TWordRenderer::EndRevision(TRevisionKind Kind) {
  if (!FRaw && !FSkipping && FFieldCode.empty()) FOut += RevisionEnd(Kind);
}

WideString TWordRenderer::Render(TWordMark Mark, char16_t Char) {
  const WideString value(1, Char);
  TLKWordSysChar sc = scUnknown;
  WideString out;
  switch (Mark) {
    case TWordMark::Null:
      return out;
    case TWordMark::Object:
      break;
    case TWordMark::CellEnd:
      sc = scColumnEnd;
      out = u" ";
      break;
    case TWordMark::RowEnd:
      sc = scRowEnd;
      out = Plain() ? u"\r" : Rtf() ? u"\r\n\\par " : u"<br>\r\n";
      break;
    case TWordMark::Tab:
      out = u"\t";
      break;
    case TWordMark::LineBreak:
      out = Plain() ? u"\r\n" : Rtf() ? u"\r\n\\par " : u"<br>\r\n";
      break;
    case TWordMark::NonBreakingHyphen:
      out = u"-";
      break;
    case TWordMark::ParagraphEnd:
      sc = scParagraphEnd;
      [[fallthrough]];
    case TWordMark::SectionBreak:
    case TWordMark::ColumnBreak:
      out = Plain() ? u"\r\n" : Rtf() ? u"\r\n\\par " : u"<p></p>\r\n";
      break;
    case TWordMark::FieldBegin:
      FFieldCode.clear();
      FFieldCodeLen = 0;
      sc = scFieldBegin;
      out = value;
      break;
    case TWordMark::FieldSeparator:
      sc = scFieldMiddle;
      // Outside a field (one flushed as too long) the mark is no text.
      if (!FFieldCode.empty()) out = value;
      break;
    case TWordMark::FieldEnd:
      return ResolveFieldEnd();
  }
  ConvertSysChar(sc, value, out);
  return out;
}

WideString TWordRenderer::ResolveFieldEnd() {
  WideString out;
  ConvertSysChar(scFieldEnd, WideString(1, kWordFieldEnd), out);
  std::u16string_view code = FFieldCode;
  if (!code.empty() && code.front() == kWordFieldBegin) code.remove_prefix(1);
  if (!code.empty() && code.front() == u' ') code.remove_prefix(1);

  // Split point (1-based, 0 = none): the separator; without one, the first
  // space-and-backslash, so that the keyword keeps its last letter. A field
  // without a separator has no result on the page: its switches are no text.
  size_t P = 0;
  const size_t sep = code.find(kWordFieldSeparator);
  if (sep == code.npos) {
    // Except a macro button's, which shows its text instead.
    if (const WideString shown = MacroButtonText(code); !shown.empty()) {
      out += shown;
      FFieldCode.clear();
      FFieldCodeLen = 0;
      return out;
    }
  }
  if (sep != code.npos)
    P = sep + 1;
  else if (size_t q = code.find(u" \\"); q != code.npos)
    P = q + 1;
  if (P > 0) {
    WideString keyword(Trim(code.substr(0, P - 1)));
    TLKWordSysChar sc = LookupKeyword(keyword);
    if (sc == scUnknown && code.substr(0, 5) == u"EMBED") {
      keyword = u"EMBED";
      sc = scEmbed;
      std::u16string_view rest = code.size() > 5 ? code.substr(5, code.size() - 6) : std::u16string_view();
      out = u"<embdeded:" + WideString(rest) + u">";
    }
    if (P < code.size() && code[P] == kWordFieldSeparator) ++P;
    if (sc != scEmbed && sep != code.npos) out = WideString(code.substr(std::min(P, code.size())));
    ConvertSysChar(sc, keyword, out);
  }
  FFieldCode.clear();
  FFieldCodeLen = 0;
  return out;
}

void TWordRenderer::FlushField() {
  // What follows the separator is the field's result as the page shows it,
  // and the rest of the result follows as text; before one there is only
  // the instruction, the rest of which is left out too. The marks are no
  // text.
  std::u16string_view code = FFieldCode;
  if (!code.empty()) code.remove_prefix(1);
  if (const size_t sep = code.find(kWordFieldSeparator); sep != code.npos) {
    code.remove_prefix(sep + 1);
    for (const char16_t c : code)
      if (c != kWordFieldBegin && c != kWordFieldSeparator && c != kWordFieldEnd) FOut += c;
  } else {
    FSkipping = true;
    FSkipDepth = 0;
  }
  FFieldCode.clear();
  FFieldCodeLen = 0;
}

bool TWordRenderer::SkipMark(TWordMark Mark) {
  switch (Mark) {
    case TWordMark::FieldBegin: ++FSkipDepth; return true;
    case TWordMark::FieldEnd:
      if (FSkipDepth-- == 0) FSkipping = false;
      return true;
    case TWordMark::FieldSeparator:
      if (FSkipDepth == 0) FSkipping = false;
      return true;
    // An instruction never spans paragraphs: one that seems to has lost its
    // end, and what follows is text.
    case TWordMark::ParagraphEnd:
    case TWordMark::CellEnd:
    case TWordMark::RowEnd:
    case TWordMark::SectionBreak:
      FSkipping = false;
      return false;
    default: return true;
  }
}

void TWordRenderer::HandOutLines() {
  if (FOut.size() < kItemChars) return;
  const size_t at = FOut.rfind(u"\r\n");
  if (at == WideString::npos) return;
  Path().Add(FOut.substr(0, at));
  FOut.erase(0, at + 2);
  // The output is complete: what was rendered after the cut goes nowhere.
  if (Path().Cancelled()) FOut.clear();
}

}  // namespace lkw
