// The byte-string helpers with which the PDF code reads dictionary text, and
// the reader's static text operations built on them.
#include "lkword/pdf/LKWPDFText.h"

#include <algorithm>
#include <string>
#include <vector>

#include "lkword/pdf/LKWPDF.h"
#include "lkword/pdf/LKWPDFSyntax.h"
#include "lkword/platform/Ascii.h"

namespace lkw {

namespace {

std::string_view StripLeadingFillView(std::string_view S) {
  size_t i = 0;
  while (i < S.size() && (S[i] == ' ' || S[i] == '0' || S[i] == '[')) ++i;
  if (i == 0) return S;
  if (i >= S.size()) return {};
  return S.substr(i, S.size() - i - 1);
}

size_t CutPDFTokenLength(std::string_view S) {
  if (S.empty()) return 0;
  bool inString = S[0] == '(';
  size_t i = 1;
  for (; i < S.size(); ++i) {
    const char c = S[i];
    if ((c == '>' || c == '<') && i + 1 < S.size() && S[i + 1] == c) break;
    if (inString) {
      if (c == ')') inString = false;
      continue;
    }
    if (c == '(') {
      inString = true;
      continue;
    }
    if (c == '\t' || c == '\n' || c == '\r' || c == ' ' || c == '/' || c == ']') break;
  }
  return i;
}

// End of the literal string that starts at S[Pos] ('('), honouring escapes
// and nesting; S.size() when it does not end.
size_t SkipLiteral(std::string_view S, size_t Pos) {
  int depth = 0;
  for (size_t i = Pos; i < S.size(); ++i) {
    const char c = S[i];
    if (c == '\\') {
      ++i;
    } else if (c == '(') {
      ++depth;
    } else if (c == ')') {
      if (--depth == 0) return i + 1;
    }
  }
  return S.size();
}

}  // namespace

RawByteString StripLeadingFill(std::string_view S) { return RawByteString(StripLeadingFillView(S)); }

RawByteString CutPDFToken(std::string_view S) { return RawByteString(S.substr(0, CutPDFTokenLength(S))); }

RawByteString GetPDFTagValue(std::string_view Key, std::string_view Text) {
  if (Key.empty()) return RawByteString(Text);
  size_t from = 0;
  for (;;) {
    const size_t p = FindTextAscii(Text, Key, from);
    if (p == std::string_view::npos) return {};
    const std::string_view rest = StripLeadingFillView(Text.substr(p + Key.size()));
    const std::string_view token = rest.substr(0, CutPDFTokenLength(rest));
    // A transparency group's /Type comes before the page's own; pass it over.
    if (token.size() == 6 && FindTextAscii(token, "/group") == 0) {
      from = p + Key.size();
      continue;
    }
    return RawByteString(token);
  }
}

RawByteString GetPDFArrayValue(std::string_view Key, std::string_view Text) {
  const size_t p = Text.find(Key);
  if (p == std::string_view::npos || Key.empty()) return {};
  const std::string_view rest = Text.substr(p + Key.size());
  size_t e = rest.find(">>");
  const size_t slash = rest.find('/');
  if (slash != std::string_view::npos && (e == std::string_view::npos || slash < e)) e = slash;
  const size_t b = rest.find('[');
  if (b != std::string_view::npos && (e == std::string_view::npos || b < e)) {
    const size_t close = rest.find(']', b + 1);
    return RawByteString(rest.substr(b + 1, close == std::string_view::npos ? std::string_view::npos : close - b - 1));
  }
  return RawByteString(e == std::string_view::npos ? rest : rest.substr(0, e));
}

bool ExtractRefNumber(RawByteString& S, RawByteString& Ref) {
  Ref.clear();
  // The earliest " G R" with a generation of 0, 1 or 2.
  size_t p = std::string::npos;
  for (size_t i = 0; i + 3 < S.size(); ++i) {
    if (S[i] == ' ' && S[i + 1] >= '0' && S[i + 1] <= '2' && S[i + 2] == ' ' && (S[i + 3] == 'R' || S[i + 3] == 'r')) {
      p = i;
      break;
    }
  }
  if (p == std::string::npos) return false;
  if (S.find('/') < p) return false;
  size_t start = 0;
  while (start < p && IsAsciiBlank(S[start])) ++start;
  Ref = S.substr(start, p - start);
  S.erase(0, p + 4);
  return true;
}

void TrimPDFWhitespace(RawByteString& S, bool Left) {
  if (Left) {
    size_t i = 0;
    while (i + 1 < S.size() && IsAsciiBlank(S[i])) ++i;
    S.erase(0, i);
  } else {
    size_t n = S.size();
    while (n > 0 && IsAsciiBlank(S[n - 1])) --n;
    S.resize(n);
  }
}

void HexStringToLiteral(RawByteString& S, bool Escape) {
  RawByteString out;
  out.reserve(S.size() / 2 + 4);
  auto put = [&](char c) {
    if (Escape && (c == '(' || c == ')' || c == '\\')) out += '\\';
    out += c;
  };
  char pending = 0;
  bool havePending = false;
  for (char c : S) {
    if (IsPDFWhiteSpace(static_cast<uint8_t>(c))) continue;
    if (!havePending) {
      pending = c;
      havePending = true;
      continue;
    }
    const int hi = HexDigitValue(pending), lo = HexDigitValue(c);
    if (hi >= 0 && lo >= 0) {
      put(static_cast<char>(hi * 16 + lo));
    } else {
      out += pending;
      out += c;
    }
    havePending = false;
  }
  if (havePending) {
    const int hi = HexDigitValue(pending);
    if (hi >= 0) put(static_cast<char>(hi * 16));
    else out += pending;
  }
  S = std::move(out);
}

void DecodeHexStrings(RawByteString& S, bool Escape) {
  if (S.find('<') == std::string::npos) return;
  RawByteString out;
  out.reserve(S.size());
  size_t i = 0;
  const size_t n = S.size();
  while (i < n) {
    const char c = S[i];
    if (c == '(') {
      const size_t e = SkipLiteral(S, i);
      out.append(S, i, e - i);
      i = e;
    } else if (c == '<' && i + 1 < n && S[i + 1] == '<') {
      out += "<<";
      i += 2;
    } else if (c == '<') {
      const size_t close = S.find('>', i + 1);
      if (close == std::string::npos) {
        out.append(S, i, std::string::npos);
        break;
      }
      RawByteString hex = S.substr(i + 1, close - i - 1);
      HexStringToLiteral(hex, Escape);
      out += '(';
      out += hex;
      out += ')';
      i = close + 1;
    } else {
      out += c;
      ++i;
    }
  }
  S = std::move(out);
}

void UnwrapDictionary(std::string_view Text, RawByteString& Result, bool& IsRef) {
  // Each level deletes through its first "<<" and splits at its first ">>";
  // the levels are unwound from the innermost outwards. Built reversed so the
  // whole walk stays linear however many levels the text has.
  std::vector<std::string_view> inners;
  std::string_view cur = Text;
  for (;;) {
    const size_t open = cur.find("<<");
    if (open != std::string_view::npos) {
      cur.remove_prefix(open + 2);
      IsRef = false;
    }
    const size_t close = cur.find(">>");
    if (close == std::string_view::npos) break;
    inners.push_back(cur.substr(0, close));
    cur.remove_prefix(close + 2);
  }
  std::string rev(cur.rbegin(), cur.rend());
  // The rest of an object's text ("endobj" on its line) adds nothing.
  auto restIsEmpty = [](std::string_view r) {
    size_t a = 0, b = r.size();
    while (a < b && IsAsciiBlank(r[a])) ++a;
    while (b > a && IsAsciiBlank(r[b - 1])) --b;
    return a == b || r.substr(a, b - a) == "jbodne";
  };
  for (size_t k = inners.size(); k-- > 0;) {
    const std::string_view inner = inners[k];
    if (FindTextAscii(inner, "/type") != std::string_view::npos) continue;
    size_t a = 0, b = inner.size();
    while (a < b && IsAsciiBlank(inner[a])) ++a;
    while (b > a && IsAsciiBlank(inner[b - 1])) --b;
    if (restIsEmpty(rev)) rev.clear();
    else rev += ' ';
    rev.append(inner.rbegin() + static_cast<std::ptrdiff_t>(inner.size() - b),
               inner.rbegin() + static_cast<std::ptrdiff_t>(inner.size() - a));
  }
  Result.assign(rev.rbegin(), rev.rend());
}

bool NextNumberToken(RawByteString& S, RawByteString& Token) {
  if (S.empty()) {
    Token.clear();
    return false;
  }
  const size_t p = S.find_first_of(" ,");
  if (p == std::string::npos) {
    Token = std::move(S);
    S.clear();
    return true;
  }
  Token = S.substr(0, p);
  size_t q = p;
  while (q < S.size() && (S[q] == ' ' || S[q] == ',')) ++q;
  S.erase(0, q);
  return true;
}

RawByteString SlashLowerName(std::string_view Name) {
  RawByteString out;
  out.reserve(Name.size() + 1);
  out += '/';
  for (const char c : Name) out += ToLowerAscii(c);
  return out;
}

uint64_t ReadBigEndian(std::string_view S, size_t Pos, int Width) {
  uint64_t v = 0;
  if (Pos == 0) return 0;
  for (int k = 0; k < Width && k < 8; ++k) {
    const size_t i = Pos - 1 + static_cast<size_t>(k);
    v = (v << 8) | (i < S.size() ? static_cast<uint8_t>(S[i]) : 0u);
  }
  return v;
}

// ---------------------------------------------------------------------------
// Static text operations of the reader

RawByteString TLKPDFReader::GetRefBody(std::string_view Text, std::string_view Key, bool FromEnd) {
  if (Key.empty()) return {};
  size_t p = std::string_view::npos;
  if (FromEnd) {
    size_t from = Text.size();
    while (from != std::string_view::npos) {
      const size_t q = Text.rfind(Key, from);
      if (q == std::string_view::npos) break;
      if (q == 0 || Text[q - 1] == '\n' || Text[q - 1] == '\r') {
        p = q;
        break;
      }
      from = q - 1;
    }
  } else {
    p = Text.find(Key);
  }
  if (p == std::string_view::npos) return {};
  size_t i = p + Key.size();
  while (i < Text.size() && (Text[i] == '\r' || Text[i] == '\n' || Text[i] == ' ')) ++i;
  std::string_view value = Text.substr(i);
  size_t first = std::string_view::npos, cut = value.size();
  for (const auto& end : PDFSectionEnds) {
    const size_t q = value.find(end.Name);
    if (q == std::string_view::npos || (first != std::string_view::npos && q >= first)) continue;
    first = q;
    cut = end.IncludeInBody ? q + end.Name.size() : q;
  }
  value = value.substr(0, cut);
  while (!value.empty() && (value.back() == '\r' || value.back() == '\n' || value.back() == ' ')) value.remove_suffix(1);
  return RawByteString(value);
}

RawByteString TLKPDFReader::GetItemType(std::string_view Text) { return LowerAscii(GetPDFTagValue("/type", Text)); }

WideString TLKPDFReader::Reverse(const WideString& S) { return WideString(S.rbegin(), S.rend()); }

void TLKPDFReader::GetLastLine(RawByteString& S, int Count, RawByteString& Line, bool Delete) {
  Line.clear();
  if (Count < 0) Count = 0;
  const size_t n = S.size();
  size_t i = n, examined = 0, lineEnd = n;
  bool collected = false;
  while (examined < static_cast<size_t>(Count) + 1 && i > 0) {
    const char c = S[i - 1];
    if (c == '\n' || c == '\r' || c == ' ') {
      if (collected) break;
      lineEnd = i - 1;
    } else {
      collected = true;
    }
    --i;
    ++examined;
  }
  if (collected) Line = S.substr(i, lineEnd - i);
  // Only the end-of-file marker itself is removed: a file that ends right
  // after its startxref offset keeps that offset.
  if (Delete && Line == "%%EOF" && n >= examined + 1) {
    const size_t start = n - examined - 1;
    S.erase(start, static_cast<size_t>(Count));
  }
}

}  // namespace lkw
