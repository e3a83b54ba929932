#include "lkword/containers/LKWHtml.h"

#include <algorithm>

#include "lkword/containers/LKWUtils.h"
#include "lkword/containers/LKWXML.h"
#include "lkword/platform/Ascii.h"
#include "lkword/platform/CodePages.h"

namespace lkw {

namespace {

// Blanks of HTML text: those of XML and the form feed.
bool IsHtmlBlank(char16_t c) { return IsAsciiBlank(c) || c == u'\f'; }

// Characters that show as space only: a line of nothing else is empty.
bool IsSpaceLike(char16_t c) {
  return c == u' ' || c == 0x00A0 || (c >= 0x2000 && c <= 0x200B) || c == 0x202F || c == 0x205F || c == 0x3000 ||
         c == 0xFEFF;
}

bool IsTagNameChar(char16_t c) { return IsAsciiAlnum(c) || c == u':' || c == u'-' || c == u'_'; }

// 1-6 for h1-h6, 0 for other names.
int HeadingLevel(std::u16string_view Name) {
  return Name.size() == 2 && Name[0] == u'h' && Name[1] >= u'1' && Name[1] <= u'6' ? Name[1] - u'0' : 0;
}

// Where the tag whose name ends at K ends, past quoted attribute values.
size_t TagEnd(std::u16string_view H, size_t K) {
  char16_t quote = 0;
  for (; K < H.size(); ++K) {
    if (quote) {
      if (H[K] == quote) quote = 0;
    } else if (H[K] == u'"' || H[K] == u'\'') {
      quote = H[K];
    } else if (H[K] == u'>') {
      break;
    }
  }
  return K;
}

// A declaration must come early for a browser to heed it.
constexpr size_t kCharsetScan = 1024;

// The value after Key and "=" (quotes and blanks skipped) at or after From
// in Head; empty when none.
std::string DeclaredValue(const std::string& Head, std::string_view Key, size_t From, size_t To) {
  for (size_t at = Head.find(Key, From); at != std::string::npos && at < To; at = Head.find(Key, at + Key.size())) {
    size_t p = at + Key.size();
    while (p < To && IsAsciiBlank(Head[p])) ++p;
    if (p >= To || Head[p] != '=') continue;
    ++p;
    while (p < To && (IsAsciiBlank(Head[p]) || Head[p] == '"' || Head[p] == '\'')) ++p;
    size_t e = p;
    while (e < To && (IsAsciiAlnum(Head[e]) || Head[e] == '-' || Head[e] == '_' || Head[e] == ':')) ++e;
    if (e > p) return Head.substr(p, e - p);
  }
  return {};
}

// The encoding an XML declaration or a <meta> near the start names
// ("charset=..." in either form of the latter); empty when none.
std::string DeclaredCharset(std::string_view Bytes) {
  const std::string head = LowerAscii(Bytes.substr(0, kCharsetScan));
  if (head.starts_with("<?xml")) {
    const size_t end = std::min(head.find("?>"), head.size());
    if (std::string e = DeclaredValue(head, "encoding", 0, end); !e.empty()) return e;
  }
  return DeclaredValue(head, "charset", 0, head.size());
}

}  // namespace

TBookElementRole ClassifyXHTML(std::u16string_view n) {
  static constexpr std::u16string_view kBlocks[] = {
      u"p",       u"div",     u"li",     u"td",     u"th",      u"h1",      u"h2",         u"h3",
      u"h4",      u"h5",      u"h6",     u"dt",     u"dd",      u"tr",      u"blockquote", u"caption",
      u"figcaption", u"ul",   u"ol",     u"dl",     u"table",   u"thead",   u"tbody",      u"tfoot",
      u"body",    u"html",    u"figure", u"aside",  u"article", u"header",  u"footer",     u"nav",
      u"main",    u"address", u"hr",     u"center", u"hgroup",  u"details", u"summary",    u"fieldset",
      u"legend",  u"noscript", u"dir",   u"menu",   u"colgroup"};
  // MathML annotations are other encodings of a formula (TeX, content
  // markup, a fallback picture): not what a reader reads.
  static constexpr std::u16string_view kSkip[] = {u"head",     u"script", u"style",         u"title",
                                                  u"template", u"rp",     u"annotation",    u"annotation-xml"};
  if (n == u"span" || n == u"a" || n == u"em" || n == u"strong") return brInline;
  for (auto k : kBlocks)
    if (n == k) return brBlock;
  if (n == u"br") return brLineBreak;
  if (n == u"section") return brSection;
  if (n == u"pre") return brPreformatted;
  if (n == u"math") return brMath;
  for (auto k : kSkip)
    if (n == k) return brSkip;
  return brInline;
}

// ---------------------------------------------------------------------------
// THtmlLines

void THtmlLines::Read(std::u16string_view H) {
  const size_t n = H.size();
  size_t i = 0;
  while (i < n) {
    if (H[i] != u'<') {
      const size_t end = std::min(H.find(u'<', i), n);
      if (FSkip == 0) FRun.append(H.substr(i, end - i));
      i = end;
    } else if (H.substr(i, 4) == u"<!--") {
      const size_t close = H.find(u"-->", i + 4);
      i = close == std::u16string_view::npos ? n : close + 3;
    } else if (!Tag(H, i)) {
      return;
    }
  }
  EndLine();
}

bool THtmlLines::Tag(std::u16string_view H, size_t& I) {
  const size_t n = H.size();
  size_t k = I + 1;
  const bool closing = k < n && H[k] == u'/';
  if (closing) ++k;
  const size_t nameStart = k;
  while (k < n && IsTagNameChar(H[k])) ++k;
  if (k == nameStart && !(k < n && (H[k] == u'!' || H[k] == u'?'))) {
    // A "<" that opens no tag is text.
    if (FSkip == 0) FRun += u'<';
    ++I;
    return true;
  }
  const size_t gt = TagEnd(H, k);
  const bool selfClosing = gt > k && gt < n && H[gt - 1] == u'/';
  WideString name = LowerAscii(H.substr(nameStart, k - nameStart));
  if (const size_t colon = name.rfind(u':'); colon != WideString::npos) name.erase(0, colon + 1);
  I = gt < n ? gt + 1 : n;
  if (name.empty()) return true;  // <!DOCTYPE ...>, <?xml ...?>
  // The body is never inside what gives no text, whatever was left open.
  if (name == u"body" && !closing) FSkip = 0;
  const bool pageBreak = name == u"pagebreak";
  const TBookElementRole role = pageBreak ? brBlock : ClassifyXHTML(name);
  if (role == brSkip) {
    if (!selfClosing) FSkip = closing ? std::max(FSkip - 1, 0) : FSkip + 1;
    return true;
  }
  if (FSkip > 0 || role == brInline || role == brMath) return true;
  if (!EndLine()) return false;
  if (role == brPreformatted && !selfClosing) FPre = closing ? std::max(FPre - 1, 0) : FPre + 1;
  if (pageBreak) {
    if (!closing && FPageBreak) FPageBreak();
  } else if (role != brLineBreak) {
    FHeading = closing || selfClosing ? 0 : HeadingLevel(name);
  }
  return true;
}

void THtmlLines::FlushRun() {
  if (FRun.empty()) return;
  ReplaceHTMLChars(FRun);
  for (const char16_t c : FRun) {
    const bool blank = IsHtmlBlank(c);
    if (FPre > 0 && c == u'\n') {
      FLine += u'\n';
    } else if (blank && FPre == 0) {
      FSpace = !FLine.empty();
    } else {
      if (FSpace) FLine += u' ';
      FSpace = false;
      FLine += blank ? u' ' : c;
    }
  }
  FRun.clear();
}

bool THtmlLines::EndLine() {
  FlushRun();
  FSpace = false;
  FParagraph.Kind = FPre > 0       ? TParagraphKind::Preformatted
                    : FHeading > 0 ? TParagraphKind::Heading
                                   : TParagraphKind::Body;
  FParagraph.Level = FPre > 0 ? 0 : FHeading;
  size_t from = 0;
  // A preformatted block keeps its own line breaks.
  for (;;) {
    const size_t nl = FLine.find(u'\n', from);
    std::u16string_view l =
        std::u16string_view(FLine).substr(from, nl == WideString::npos ? WideString::npos : nl - from);
    while (!l.empty() && l.back() == u' ') l.remove_suffix(1);
    if (FPre == 0)
      while (!l.empty() && l.front() == u' ') l.remove_prefix(1);
    const bool shows = std::any_of(l.begin(), l.end(), [](char16_t c) { return !IsSpaceLike(c); });
    if (shows && !FEmit(l, FParagraph)) return false;
    if (nl == WideString::npos) break;
    from = nl + 1;
  }
  FLine.clear();
  return true;
}

// ---------------------------------------------------------------------------

WideString DecodeTextBytes(std::string_view Bytes, uint32_t FallbackCodePage) {
  if (Bytes.starts_with("\xEF\xBB\xBF")) return Utf8ToWide(Bytes.substr(3));
  if (Bytes.starts_with("\xFF\xFE")) return MultiByteToWide(CP_UTF16LE, Bytes.substr(2));
  if (Bytes.starts_with("\xFE\xFF")) return MultiByteToWide(CP_UTF16BE, Bytes.substr(2));
  return IsValidUtf8(Bytes) ? Utf8ToWide(Bytes) : MultiByteToWide(FallbackCodePage, Bytes);
}

static uint32_t SupportedCodePage(std::string_view Charset) {
  const uint32_t page = Charset.empty() ? 0 : CodePageFromEncodingName(Charset);
  return page != 0 && IsCodePageSupported(page) ? page : 0;
}

WideString DecodeHtmlBytes(std::string_view Bytes, uint32_t FallbackCodePage, std::string_view TransportCharset) {
  const bool marked = Bytes.starts_with("\xEF\xBB\xBF") || Bytes.starts_with("\xFF\xFE") || Bytes.starts_with("\xFE\xFF");
  if (!marked) {
    // UTF-16 names give UTF-8 here: a declaration readable as ASCII is no UTF-16.
    uint32_t page = SupportedCodePage(TransportCharset);
    if (page == 0) page = SupportedCodePage(DeclaredCharset(Bytes));
    if (page != 0) return MultiByteToWide(page, Bytes);
  }
  return DecodeTextBytes(Bytes, FallbackCodePage);
}

}  // namespace lkw
