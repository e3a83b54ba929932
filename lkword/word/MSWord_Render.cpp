// Rendering of Word text: special characters, fields and the output format.
#include <array>
#include <string_view>

#include "lkword/platform/CodePages.h"
#include "lkword/word/MSWord.h"

namespace lkw {

namespace {

constexpr char16_t kFieldBegin = 19;
constexpr char16_t kFieldSeparator = 20;
constexpr char16_t kFieldEnd = 21;
constexpr char16_t kEnDash = 0x2013;
// A field instruction that collects more outputs than this is not a field.
constexpr int32_t kMaxFieldCodeLen = 200;

struct TLKWSysToken {
  std::u16string_view Code;
  TLKWordSysChar SysChar;
};

constexpr std::array<TLKWSysToken, 16> kSysTokens{{
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
  for (const TLKWSysToken& t : kSysTokens) {
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

// Characters that pass as themselves, with no event.
constexpr bool IsOrdinary(char16_t C) { return C >= 32 || C == 10 || (C >= 15 && C <= 18) || (C >= 22 && C <= 29); }

std::u16string_view Trim(std::u16string_view S) {
  while (!S.empty() && S.front() <= u' ') S.remove_prefix(1);
  while (!S.empty() && S.back() <= u' ') S.remove_suffix(1);
  return S;
}

}  // namespace

void TMSWordDocument::FireSysChar(TLKWordSysChar SysChar, const WideString& Value, WideString& Result) {
  if (FOnConvertSysChar) FOnConvertSysChar(this, SysChar, Value, Result);
}

void TMSWordDocument::ProcessSysCharacter(char16_t C, bool IsLast, WideString& Out, char16_t& Next) {
  Out.clear();
  if (IsOrdinary(C)) {
    AppendEscaped(Out, std::u16string_view(&C, 1), FTextFormating);
    return;
  }
  const WideString value(1, C);
  TLKWordSysChar sc = scUnknown;
  switch (C) {
    case 0:
      return;
    case 7:
      if (Next == 7 && !IsLast) {
        // The end of a table row: a cell mark followed by the row mark.
        sc = scRowEnd;
        Out = FTextFormating == tfPlainText ? u"\r" : FTextFormating == tfRTF ? u"\r\n\\par " : u"<br>\r\n";
        Next = 10;
      } else {
        sc = scColumnEnd;
        Out = u" ";
      }
      break;
    case 9:
      Out = u"\t";
      break;
    case 11:
      Out = FTextFormating == tfPlainText ? u"\r\n" : FTextFormating == tfRTF ? u"\r\n\\par " : u"<br>\r\n";
      break;
    case 30:
      // A non-breaking hyphen: a hyphen to readers of the text, as in the
      // docx reader.
      Out = u"-";
      break;
    case 13:
      sc = scParagraphEnd;
      [[fallthrough]];
    case 12:
    case 14:
      // A section break stands in for the paragraph mark of the section's
      // last paragraph, and a page or column break starts a new line too:
      // without a break the words on either side would run together.
      Out = FTextFormating == tfPlainText ? u"\r\n" : FTextFormating == tfRTF ? u"\r\n\\par " : u"<p></p>\r\n";
      break;
    case kFieldBegin:
      FLastFieldCode.clear();
      intFieldCodeLen = 0;
      sc = scFieldBegin;
      Out = value;
      break;
    case kFieldSeparator:
      sc = scFieldMiddle;
      Out = value;
      break;
    case kFieldEnd:
      ResolveFieldEnd(Out);
      return;
    default:  // 1-6, 8, 31: objects, notes, note separators, optional hyphens: no text
      break;
  }
  FireSysChar(sc, value, Out);
}

void TMSWordDocument::ResolveFieldEnd(WideString& Out) {
  Out.clear();
  FireSysChar(scFieldEnd, WideString(1, kFieldEnd), Out);
  std::u16string_view code = FLastFieldCode;
  if (!code.empty() && code.front() == kFieldBegin) code.remove_prefix(1);
  if (!code.empty() && code.front() == u' ') code.remove_prefix(1);

  // Split point (1-based, 0 = none): the separator; without one, the first
  // space-and-backslash, so that the keyword keeps its last letter and the
  // switches become the output.
  size_t P = 0;
  if (size_t sep = code.find(kFieldSeparator); sep != code.npos)
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
      Out = u"<embdeded:" + WideString(rest) + u">";
    }
    if (P < code.size() && code[P] == kFieldSeparator) ++P;
    if (sc != scEmbed) Out = WideString(code.substr(std::min(P, code.size())));
    FireSysChar(sc, keyword, Out);
  }
  FLastFieldCode.clear();
  intFieldCodeLen = 0;
}

void TMSWordDocument::AddText(const WideString& AText, TWideStrings& Strings) { RenderText(AText, Strings, true); }

void TMSWordDocument::HandOutLines(WideString& Out, TWideStrings& Strings) {
  // Items are joined by line breaks, so cutting at one changes nothing.
  constexpr size_t kItemChars = size_t{1} << 16;
  if (Out.size() < kItemChars) return;
  const size_t at = Out.rfind(u"\r\n");
  if (at == WideString::npos) return;
  TMSWBaseDocument::AddText(Out.substr(0, at), Strings);
  Out.erase(0, at + 2);
}

void TMSWordDocument::RenderText(std::u16string_view AText, TWideStrings& Strings, bool Final) {
  const bool sink = FTextSink && &Strings == FText.get();
  if (!FConvertSysCharacters) {
    if (sink)
      FTextSink(AText);
    else
      Strings.Add(WideString(AText));
    return;
  }
  WideString out = std::move(FPendingOut);
  FPendingOut.clear();
  out.reserve(out.size() + AText.size() + AText.size() / 16 + 16);
  auto flushField = [&] {
    // An unfinished field is output as text after an en dash.
    out += kEnDash;
    if (!FLastFieldCode.empty()) out.append(FLastFieldCode, 1);
    FLastFieldCode.clear();
    intFieldCodeLen = 0;
  };

  const size_t n = AText.size();
  WideString o;
  bool replaced = false;  // the current character was replaced by the previous step
  char16_t replacement = 0;
  for (size_t i = 0; i < n; ++i) {
    const char16_t c = replaced ? replacement : AText[i];
    replaced = false;
    if (FLastFieldCode.empty() && IsOrdinary(c)) {
      // A run of ordinary characters goes out in one piece.
      size_t j = i + 1;
      while (j < n && IsOrdinary(AText[j])) ++j;
      AppendEscaped(out, std::u16string_view(&c, 1), FTextFormating);
      AppendEscaped(out, AText.substr(i + 1, j - i - 1), FTextFormating);
      i = j - 1;
      continue;
    }
    const bool isLast = i + 1 == n;
    char16_t next = isLast ? 0 : AText[i + 1];
    if (intFieldCodeLen > 0 && c == kFieldBegin) {
      // A field inside a field resolves the outer one here.
      char16_t unused = next;
      ProcessSysCharacter(kFieldEnd, isLast, o, unused);
      out += o;
    }
    if (intFieldCodeLen > kMaxFieldCodeLen) flushField();
    ProcessSysCharacter(c, isLast, o, next);
    if (FLastFieldCode.empty() && c != kFieldBegin) {
      out += o;
      if (sink && c == 13) {
        HandOutLines(out, Strings);
        if (IsCancelExtract) return;  // the output is complete
      }
    } else {
      FLastFieldCode += o;
      if (!o.empty()) ++intFieldCodeLen;
    }
    if (!isLast && next != AText[i + 1]) {
      replaced = true;
      replacement = next;
    }
  }
  if (!Final) {
    FPendingOut = std::move(out);
    return;
  }
  if (!FLastFieldCode.empty()) flushField();
  if (FMaxTextLength <= 0 && !sink)
    Strings.Add(std::move(out));  // what the base does, without a copy
  else
    TMSWBaseDocument::AddText(out, Strings);
}

}  // namespace lkw
