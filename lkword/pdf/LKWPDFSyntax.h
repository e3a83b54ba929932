// PDF lexical syntax: a linear tokenizer over a byte range and a small value
// model (null, booleans, numbers, strings, names, arrays, dictionaries and
// indirect references). The structure code (cross-reference data, trailers,
// object streams, encryption dictionaries, stream dictionaries) parses with
// it; the text helpers of LKWPDFText.h keep their own byte-string contracts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "lkword/platform/Types.h"

namespace lkw {

// PDF white space (NUL, HT, LF, FF, CR, SP) and delimiters.
bool IsPDFWhiteSpace(uint8_t C);
bool IsPDFDelimiter(uint8_t C);
inline bool IsPDFRegular(uint8_t C) { return !IsPDFWhiteSpace(C) && !IsPDFDelimiter(C); }

enum class TPDFTokenKind : uint8_t {
  tkEOF,
  tkInteger,
  tkReal,
  tkString,      // literal or hex string; Text holds the decoded bytes
  tkName,        // Text holds the name without '/', #xx resolved
  tkArrayBegin,
  tkArrayEnd,
  tkDictBegin,
  tkDictEnd,
  tkKeyword,     // true, false, null, obj, R, stream, ... (Text holds it)
  tkError        // a stray delimiter such as ')' or '}'
};

struct TPDFToken {
  TPDFTokenKind Kind = TPDFTokenKind::tkEOF;
  int64_t IntValue = 0;
  double RealValue = 0;
  bool IsHex = false;
  size_t Start = 0;  // offset of the token's first byte
  size_t End = 0;    // offset after its last byte
  RawByteString Text;
};

// Tokenizes Data from a position. Comments count as white space. Every call
// consumes at least one byte unless at the end, so loops over Next() end.
class TPDFLexer {
 public:
  explicit TPDFLexer(std::string_view Data, size_t Pos = 0) : FData(Data), FPos(Pos < Data.size() ? Pos : Data.size()) {}

  // Reads the next token into Token; false at the end of the data.
  bool Next(TPDFToken& Token);
  void SkipWhiteSpace();
  size_t Position() const { return FPos; }
  void SetPosition(size_t Pos) { FPos = Pos < FData.size() ? Pos : FData.size(); }
  std::string_view Data() const { return FData; }

 private:
  void ReadLiteralString(TPDFToken& Token);
  void ReadHexString(TPDFToken& Token);
  void ReadName(TPDFToken& Token);
  void ReadNumberOrKeyword(TPDFToken& Token);

  std::string_view FData;
  size_t FPos;
};

enum class TPDFObjKind : uint8_t { okNone, okNull, okBool, okInteger, okReal, okString, okName, okArray, okDict, okRef };

// One parsed PDF value. Arrays keep their items in Items; dictionaries keep
// keys (without '/') in Keys and values in Items, in file order.
class TPDFObject {
 public:
  TPDFObjKind Kind = TPDFObjKind::okNone;
  bool BoolValue = false;
  bool IsHex = false;
  int64_t IntValue = 0;
  double RealValue = 0;
  int32_t RefNum = 0;
  int32_t RefGen = 0;
  RawByteString Str;  // string bytes or name
  std::vector<RawByteString> Keys;
  std::vector<TPDFObject> Items;

  bool IsNone() const { return Kind == TPDFObjKind::okNone; }
  bool IsNull() const { return Kind == TPDFObjKind::okNull || Kind == TPDFObjKind::okNone; }
  bool IsNumber() const { return Kind == TPDFObjKind::okInteger || Kind == TPDFObjKind::okReal; }
  bool IsInteger() const { return Kind == TPDFObjKind::okInteger; }
  bool IsString() const { return Kind == TPDFObjKind::okString; }
  bool IsName() const { return Kind == TPDFObjKind::okName; }
  bool IsName(std::string_view Name) const { return Kind == TPDFObjKind::okName && Str == Name; }
  bool IsArray() const { return Kind == TPDFObjKind::okArray; }
  bool IsDict() const { return Kind == TPDFObjKind::okDict; }
  bool IsRef() const { return Kind == TPDFObjKind::okRef; }

  // Numeric value (reals truncated for AsInt); Default for anything else.
  int64_t AsInt(int64_t Default = 0) const;
  double AsNumber(double Default = 0) const;
  // The dictionary value of Key (without '/'); nullptr when absent or not a
  // dictionary. Later duplicates of a key are ignored, as readers do.
  const TPDFObject* Get(std::string_view Key) const;
  TPDFObject* Get(std::string_view Key);
  // Sets or adds a dictionary entry (anything else becomes an empty
  // dictionary first).
  void Set(std::string_view Key, TPDFObject Value);
  size_t Count() const { return Items.size(); }

  static TPDFObject MakeInteger(int64_t V);
  static TPDFObject MakeName(std::string_view Name);
  static TPDFObject MakeString(std::string_view Bytes);
  static TPDFObject MakeRef(int32_t Num, int32_t Gen);
};

// Nesting limit for arrays and dictionaries inside one object.
constexpr int kPDFMaxObjectDepth = 64;

// Parses one value at the lexer's position. "N G R" becomes a reference.
// Returns false (and an okNone object) at the end of the data or on a token
// that cannot start a value; the lexer then stands after that token.
// Malformed containers are closed at the first token that cannot continue
// them, so a damaged dictionary keeps the entries read before the damage.
bool ParsePDFObject(TPDFLexer& Lexer, TPDFObject& Obj, int Depth = 0);

// Reads "N G obj" at the lexer's position (after white space); on success
// the lexer stands after "obj".
bool ParsePDFObjectHeader(TPDFLexer& Lexer, int32_t& Num, int32_t& Gen);

// Where the data of a stream starts: after the "stream" keyword at Pos
// (Pos is the keyword's first byte) and its end-of-line (CR LF, LF, or a lone
// CR).
size_t PDFStreamDataStart(std::string_view Data, size_t KeywordEnd);

// Parses a decimal integer (optional sign, leading blanks skipped); Default
// when there are no digits or the value does not fit in 64 bits.
int64_t PDFStrToInt64Def(std::string_view S, int64_t Default);

}  // namespace lkw
