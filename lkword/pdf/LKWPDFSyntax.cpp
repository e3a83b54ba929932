#include "lkword/pdf/LKWPDFSyntax.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "lkword/platform/Ascii.h"

namespace lkw {

namespace {

// Character classes, one table lookup per byte.
enum : uint8_t { ccRegular = 0, ccWhite = 1, ccDelim = 2 };

constexpr struct CharTable {
  uint8_t Class[256];
  constexpr CharTable() : Class() {
    for (int c : {0, 9, 10, 12, 13, 32}) Class[c] = ccWhite;
    for (int c : {'(', ')', '<', '>', '[', ']', '{', '}', '/', '%'}) Class[c] = ccDelim;
  }
} kChars;

}  // namespace

bool IsPDFWhiteSpace(uint8_t C) { return kChars.Class[C] == ccWhite; }
bool IsPDFDelimiter(uint8_t C) { return kChars.Class[C] == ccDelim; }

// ---------------------------------------------------------------------------
// TPDFLexer

void TPDFLexer::SkipWhiteSpace() {
  const size_t n = FData.size();
  while (FPos < n) {
    const auto c = static_cast<uint8_t>(FData[FPos]);
    if (kChars.Class[c] == ccWhite) {
      ++FPos;
    } else if (c == '%') {
      while (FPos < n && FData[FPos] != '\r' && FData[FPos] != '\n') ++FPos;
    } else {
      break;
    }
  }
}

bool TPDFLexer::Next(TPDFToken& Token) {
  SkipWhiteSpace();
  Token.Text.clear();
  Token.IsHex = false;
  Token.Start = FPos;
  if (FPos >= FData.size()) {
    Token.Kind = TPDFTokenKind::tkEOF;
    Token.End = FPos;
    return false;
  }
  const auto c = static_cast<uint8_t>(FData[FPos]);
  switch (c) {
    case '(':
      ReadLiteralString(Token);
      break;
    case '<':
      if (FPos + 1 < FData.size() && FData[FPos + 1] == '<') {
        Token.Kind = TPDFTokenKind::tkDictBegin;
        FPos += 2;
      } else {
        ReadHexString(Token);
      }
      break;
    case '>':
      if (FPos + 1 < FData.size() && FData[FPos + 1] == '>') {
        Token.Kind = TPDFTokenKind::tkDictEnd;
        FPos += 2;
      } else {
        Token.Kind = TPDFTokenKind::tkError;
        ++FPos;
      }
      break;
    case '[':
      Token.Kind = TPDFTokenKind::tkArrayBegin;
      ++FPos;
      break;
    case ']':
      Token.Kind = TPDFTokenKind::tkArrayEnd;
      ++FPos;
      break;
    case '/':
      ReadName(Token);
      break;
    case ')':
    case '{':
    case '}':
      Token.Kind = TPDFTokenKind::tkError;
      Token.Text.assign(1, static_cast<char>(c));
      ++FPos;
      break;
    default:
      ReadNumberOrKeyword(Token);
      break;
  }
  Token.End = FPos;
  return true;
}

void TPDFLexer::ReadLiteralString(TPDFToken& Token) {
  Token.Kind = TPDFTokenKind::tkString;
  const size_t n = FData.size();
  ++FPos;  // '('
  int depth = 1;
  std::string& out = Token.Text;
  while (FPos < n) {
    // Copy the run of ordinary bytes in one go.
    size_t run = FPos;
    while (run < n) {
      const char ch = FData[run];
      if (ch == '(' || ch == ')' || ch == '\\' || ch == '\r') break;
      ++run;
    }
    out.append(FData.data() + FPos, run - FPos);
    FPos = run;
    if (FPos >= n) break;
    const char ch = FData[FPos++];
    if (ch == '(') {
      ++depth;
      out += '(';
    } else if (ch == ')') {
      if (--depth == 0) return;
      out += ')';
    } else if (ch == '\r') {
      // An end-of-line inside a string reads as LF whatever its form.
      if (FPos < n && FData[FPos] == '\n') ++FPos;
      out += '\n';
    } else {  // backslash
      if (FPos >= n) break;
      const char e = FData[FPos++];
      switch (e) {
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case '\r':
          if (FPos < n && FData[FPos] == '\n') ++FPos;
          break;
        case '\n':
          break;
        default:
          if (e >= '0' && e <= '7') {
            int v = e - '0';
            for (int k = 0; k < 2 && FPos < n && FData[FPos] >= '0' && FData[FPos] <= '7'; ++k)
              v = v * 8 + (FData[FPos++] - '0');
            out += static_cast<char>(v & 0xff);
          } else {
            out += e;  // \( \) \\ and unknown escapes give the character
          }
          break;
      }
    }
  }
}

void TPDFLexer::ReadHexString(TPDFToken& Token) {
  Token.Kind = TPDFTokenKind::tkString;
  Token.IsHex = true;
  const size_t n = FData.size();
  ++FPos;  // '<'
  int hi = -1;
  while (FPos < n) {
    const auto c = static_cast<uint8_t>(FData[FPos++]);
    if (c == '>') break;
    const int v = HexDigitValue(c);
    if (v < 0) continue;  // white space and stray bytes are skipped
    if (hi < 0) {
      hi = v;
    } else {
      Token.Text += static_cast<char>(hi * 16 + v);
      hi = -1;
    }
  }
  if (hi >= 0) Token.Text += static_cast<char>(hi * 16);
}

void TPDFLexer::ReadName(TPDFToken& Token) {
  Token.Kind = TPDFTokenKind::tkName;
  const size_t n = FData.size();
  ++FPos;  // '/'
  while (FPos < n) {
    const auto c = static_cast<uint8_t>(FData[FPos]);
    if (kChars.Class[c] != ccRegular) break;
    if (c == '#' && FPos + 2 < n && HexDigitValue(static_cast<uint8_t>(FData[FPos + 1])) >= 0 &&
        HexDigitValue(static_cast<uint8_t>(FData[FPos + 2])) >= 0) {
      Token.Text += static_cast<char>(HexDigitValue(static_cast<uint8_t>(FData[FPos + 1])) * 16 +
                                      HexDigitValue(static_cast<uint8_t>(FData[FPos + 2])));
      FPos += 3;
      continue;
    }
    Token.Text += static_cast<char>(c);
    ++FPos;
  }
}

void TPDFLexer::ReadNumberOrKeyword(TPDFToken& Token) {
  const size_t n = FData.size();
  const size_t start = FPos;
  bool numeric = true;
  while (FPos < n) {
    const auto c = static_cast<uint8_t>(FData[FPos]);
    if (kChars.Class[c] != ccRegular) break;
    if (!(IsAsciiDigit(c) || c == '.' || c == '-' || c == '+')) numeric = false;
    ++FPos;
  }
  const std::string_view run = FData.substr(start, FPos - start);
  if (!numeric) {
    Token.Kind = TPDFTokenKind::tkKeyword;
    Token.Text.assign(run);
    return;
  }
  // Lenient number syntax: a sign, digits, one point, digits; anything after
  // the valid prefix (a second sign or point) is ignored, as readers do.
  size_t i = 0;
  bool neg = false;
  while (i < run.size() && (run[i] == '+' || run[i] == '-')) {
    if (run[i] == '-') neg = !neg;
    ++i;
  }
  uint64_t ip = 0;
  int digits = 0;
  bool overflow = false;
  while (i < run.size() && IsAsciiDigit(run[i])) {
    if (ip > (std::numeric_limits<uint64_t>::max() - 9) / 10) overflow = true;
    if (!overflow) ip = ip * 10 + static_cast<uint64_t>(run[i] - '0');
    ++i;
    ++digits;
  }
  bool isReal = false;
  double frac = 0, scale = 1;
  if (i < run.size() && run[i] == '.') {
    isReal = true;
    ++i;
    while (i < run.size() && IsAsciiDigit(run[i])) {
      if (scale < 1e300) {
        scale *= 10;
        frac += (run[i] - '0') / scale;
      }
      ++i;
      ++digits;
    }
  }
  if (digits == 0) {  // "-", "+", "." alone
    Token.Kind = TPDFTokenKind::tkKeyword;
    Token.Text.assign(run);
    return;
  }
  if (!isReal && !overflow && ip <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
    Token.Kind = TPDFTokenKind::tkInteger;
    Token.IntValue = neg ? -static_cast<int64_t>(ip) : static_cast<int64_t>(ip);
    Token.RealValue = static_cast<double>(Token.IntValue);
    return;
  }
  Token.Kind = TPDFTokenKind::tkReal;
  double v = overflow ? 1.8e19 : static_cast<double>(ip) + frac;
  Token.RealValue = neg ? -v : v;
  Token.IntValue = (std::fabs(Token.RealValue) < 9.2e18) ? static_cast<int64_t>(Token.RealValue)
                                                          : (neg ? std::numeric_limits<int64_t>::min()
                                                                 : std::numeric_limits<int64_t>::max());
}

// ---------------------------------------------------------------------------
// TPDFObject

int64_t TPDFObject::AsInt(int64_t Default) const {
  if (Kind == TPDFObjKind::okInteger) return IntValue;
  if (Kind == TPDFObjKind::okReal) {
    if (std::fabs(RealValue) < 9.2e18) return static_cast<int64_t>(RealValue);
    return Default;
  }
  return Default;
}

double TPDFObject::AsNumber(double Default) const {
  if (Kind == TPDFObjKind::okInteger) return static_cast<double>(IntValue);
  if (Kind == TPDFObjKind::okReal) return RealValue;
  return Default;
}

const TPDFObject* TPDFObject::Get(std::string_view Key) const {
  if (Kind != TPDFObjKind::okDict) return nullptr;
  for (size_t i = 0; i < Keys.size(); ++i)
    if (Keys[i] == Key) return &Items[i];
  return nullptr;
}

TPDFObject* TPDFObject::Get(std::string_view Key) {
  return const_cast<TPDFObject*>(static_cast<const TPDFObject*>(this)->Get(Key));
}

void TPDFObject::Set(std::string_view Key, TPDFObject Value) {
  if (Kind != TPDFObjKind::okDict) {
    *this = TPDFObject();
    Kind = TPDFObjKind::okDict;
  }
  if (TPDFObject* v = Get(Key)) {
    *v = std::move(Value);
    return;
  }
  Keys.emplace_back(Key);
  Items.push_back(std::move(Value));
}

TPDFObject TPDFObject::MakeInteger(int64_t V) {
  TPDFObject o;
  o.Kind = TPDFObjKind::okInteger;
  o.IntValue = V;
  return o;
}

TPDFObject TPDFObject::MakeName(std::string_view Name) {
  TPDFObject o;
  o.Kind = TPDFObjKind::okName;
  o.Str.assign(Name);
  return o;
}

TPDFObject TPDFObject::MakeString(std::string_view Bytes) {
  TPDFObject o;
  o.Kind = TPDFObjKind::okString;
  o.Str.assign(Bytes);
  return o;
}

TPDFObject TPDFObject::MakeRef(int32_t Num, int32_t Gen) {
  TPDFObject o;
  o.Kind = TPDFObjKind::okRef;
  o.RefNum = Num;
  o.RefGen = Gen;
  return o;
}

// ---------------------------------------------------------------------------
// Parser

namespace {

// Keywords that end any value being read: they belong to the object frame.
bool IsFrameKeyword(const TPDFToken& T) {
  if (T.Kind != TPDFTokenKind::tkKeyword) return false;
  return T.Text == "endobj" || T.Text == "stream" || T.Text == "endstream" || T.Text == "obj" ||
         T.Text == "xref" || T.Text == "trailer" || T.Text == "startxref";
}

// Skips a container whose nesting is too deep, counting brackets without
// recursion.
void SkipContainer(TPDFLexer& Lexer) {
  int depth = 1;
  TPDFToken t;
  while (depth > 0 && Lexer.Next(t)) {
    if (t.Kind == TPDFTokenKind::tkArrayBegin || t.Kind == TPDFTokenKind::tkDictBegin) ++depth;
    else if (t.Kind == TPDFTokenKind::tkArrayEnd || t.Kind == TPDFTokenKind::tkDictEnd) --depth;
  }
}

bool ParseFromToken(TPDFLexer& Lexer, TPDFToken& T, TPDFObject& Obj, int Depth);

void ParseArray(TPDFLexer& Lexer, TPDFObject& Obj, int Depth) {
  Obj.Kind = TPDFObjKind::okArray;
  TPDFToken t;
  for (;;) {
    const size_t before = Lexer.Position();
    if (!Lexer.Next(t)) return;
    if (t.Kind == TPDFTokenKind::tkArrayEnd) return;
    if (t.Kind == TPDFTokenKind::tkDictEnd || IsFrameKeyword(t)) {
      Lexer.SetPosition(before);
      return;
    }
    TPDFObject item;
    if (ParseFromToken(Lexer, t, item, Depth + 1)) Obj.Items.push_back(std::move(item));
  }
}

void ParseDict(TPDFLexer& Lexer, TPDFObject& Obj, int Depth) {
  Obj.Kind = TPDFObjKind::okDict;
  TPDFToken t;
  for (;;) {
    size_t before = Lexer.Position();
    if (!Lexer.Next(t)) return;
    if (t.Kind == TPDFTokenKind::tkDictEnd) return;
    if (t.Kind == TPDFTokenKind::tkArrayEnd) continue;  // stray bracket
    if (IsFrameKeyword(t)) {
      Lexer.SetPosition(before);
      return;
    }
    if (t.Kind != TPDFTokenKind::tkName) continue;  // garbage where a key belongs
    RawByteString key = std::move(t.Text);
    before = Lexer.Position();
    if (!Lexer.Next(t)) return;
    if (t.Kind == TPDFTokenKind::tkDictEnd || IsFrameKeyword(t)) {
      Lexer.SetPosition(before);
      continue;  // a key without a value reads as absent
    }
    TPDFObject value;
    if (!ParseFromToken(Lexer, t, value, Depth + 1)) continue;
    bool dup = false;
    for (const auto& k : Obj.Keys)
      if (k == key) dup = true;
    if (!dup) {
      Obj.Keys.push_back(std::move(key));
      Obj.Items.push_back(std::move(value));
    }
  }
}

bool ParseFromToken(TPDFLexer& Lexer, TPDFToken& T, TPDFObject& Obj, int Depth) {
  Obj = TPDFObject();
  switch (T.Kind) {
    case TPDFTokenKind::tkInteger: {
      // "N G R" is a reference; anything else leaves the integer alone.
      const size_t save = Lexer.Position();
      if (T.IntValue >= 0 && T.IntValue <= std::numeric_limits<int32_t>::max()) {
        TPDFToken g, r;
        if (Lexer.Next(g) && g.Kind == TPDFTokenKind::tkInteger && g.IntValue >= 0 && g.IntValue <= 65535 &&
            Lexer.Next(r) && r.Kind == TPDFTokenKind::tkKeyword && r.Text == "R") {
          Obj.Kind = TPDFObjKind::okRef;
          Obj.RefNum = static_cast<int32_t>(T.IntValue);
          Obj.RefGen = static_cast<int32_t>(g.IntValue);
          return true;
        }
      }
      Lexer.SetPosition(save);
      Obj.Kind = TPDFObjKind::okInteger;
      Obj.IntValue = T.IntValue;
      return true;
    }
    case TPDFTokenKind::tkReal:
      Obj.Kind = TPDFObjKind::okReal;
      Obj.RealValue = T.RealValue;
      return true;
    case TPDFTokenKind::tkString:
      Obj.Kind = TPDFObjKind::okString;
      Obj.IsHex = T.IsHex;
      Obj.Str = std::move(T.Text);
      return true;
    case TPDFTokenKind::tkName:
      Obj.Kind = TPDFObjKind::okName;
      Obj.Str = std::move(T.Text);
      return true;
    case TPDFTokenKind::tkArrayBegin:
    case TPDFTokenKind::tkDictBegin:
      if (Depth >= kPDFMaxObjectDepth) {
        SkipContainer(Lexer);
        Obj.Kind = TPDFObjKind::okNull;
        return true;
      }
      if (T.Kind == TPDFTokenKind::tkArrayBegin) ParseArray(Lexer, Obj, Depth);
      else ParseDict(Lexer, Obj, Depth);
      return true;
    case TPDFTokenKind::tkKeyword:
      if (T.Text == "null") {
        Obj.Kind = TPDFObjKind::okNull;
        return true;
      }
      if (T.Text == "true" || T.Text == "false") {
        Obj.Kind = TPDFObjKind::okBool;
        Obj.BoolValue = T.Text[0] == 't';
        return true;
      }
      return false;
    default:
      return false;
  }
}

}  // namespace

bool ParsePDFObject(TPDFLexer& Lexer, TPDFObject& Obj, int Depth) {
  TPDFToken t;
  if (!Lexer.Next(t)) {
    Obj = TPDFObject();
    return false;
  }
  if (!ParseFromToken(Lexer, t, Obj, Depth)) {
    Obj = TPDFObject();
    return false;
  }
  return true;
}

bool ParsePDFObjectHeader(TPDFLexer& Lexer, int32_t& Num, int32_t& Gen) {
  TPDFToken a, b, c;
  if (!Lexer.Next(a) || a.Kind != TPDFTokenKind::tkInteger || a.IntValue < 0 ||
      a.IntValue > std::numeric_limits<int32_t>::max())
    return false;
  if (!Lexer.Next(b) || b.Kind != TPDFTokenKind::tkInteger || b.IntValue < 0 || b.IntValue > 65535) return false;
  if (!Lexer.Next(c) || c.Kind != TPDFTokenKind::tkKeyword || c.Text != "obj") return false;
  Num = static_cast<int32_t>(a.IntValue);
  Gen = static_cast<int32_t>(b.IntValue);
  return true;
}

size_t PDFStreamDataStart(std::string_view Data, size_t KeywordEnd) {
  size_t p = KeywordEnd;
  // Some writers put blanks between the keyword and its end-of-line.
  size_t q = p;
  while (q < Data.size() && q < p + 8 && (Data[q] == ' ' || Data[q] == '\t')) ++q;
  if (q < Data.size() && (Data[q] == '\r' || Data[q] == '\n')) p = q;
  if (p < Data.size() && Data[p] == '\r') {
    ++p;
    if (p < Data.size() && Data[p] == '\n') ++p;
  } else if (p < Data.size() && Data[p] == '\n') {
    ++p;
  }
  return p;
}

int64_t PDFStrToInt64Def(std::string_view S, int64_t Default) {
  size_t i = 0;
  while (i < S.size() && IsAsciiBlank(S[i])) ++i;
  bool neg = false;
  if (i < S.size() && (S[i] == '-' || S[i] == '+')) neg = S[i++] == '-';
  const size_t digitsStart = i;
  uint64_t v = 0;
  while (i < S.size() && IsAsciiDigit(S[i])) {
    if (v > (static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) - 9) / 10) return Default;
    v = v * 10 + static_cast<uint64_t>(S[i] - '0');
    ++i;
  }
  if (i == digitsStart) return Default;
  // Trailing blanks are allowed; any other trailing character is not.
  while (i < S.size() && IsAsciiBlank(S[i])) ++i;
  if (i != S.size()) return Default;
  return neg ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
}

}  // namespace lkw
