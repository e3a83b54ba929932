#include "lkword/pdf/LKWPDFContent.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <unordered_map>

#include "lkword/pdf/LKWPDF.h"
#include "lkword/pdf/LKWPDFFont.h"
#include "lkword/pdf/LKWPDFLayout.h"
#include "lkword/platform/Exceptions.h"

namespace lkw {

TLKPDFItem* TLKPDFItems::GetItem(int Index) const {
  if (Index < 0 || Index >= Count()) return nullptr;
  return FItems[static_cast<size_t>(Index)].get();
}

TLKPDFItem* TLKPDFItems::AddItem(TLKPDFItemType ItemType) {
  if (ItemType == itText)
    FItems.push_back(std::make_unique<TLKPDFItemText>());
  else
    FItems.push_back(std::make_unique<TLKPDFItem>());
  FItems.back()->SetItemType(ItemType);
  return FItems.back().get();
}

void TLKPDFItems::SortItems() {
  // Items whose tops lie within the line tolerance of a line's first item
  // form that line; lines go top to bottom, items in a line left to right.
  // (A strict order, so the result does not depend on the sort's whims.)
  std::stable_sort(FItems.begin(), FItems.end(), [](const auto& A, const auto& B) { return A->Top() < B->Top(); });
  size_t start = 0;
  while (start < FItems.size()) {
    size_t end = start + 1;
    while (end < FItems.size() && FItems[end]->Top() - FItems[start]->Top() <= PDFLineTolerance) ++end;
    std::stable_sort(FItems.begin() + static_cast<std::ptrdiff_t>(start), FItems.begin() + static_cast<std::ptrdiff_t>(end),
                     [](const auto& A, const auto& B) { return A->Left() < B->Left(); });
    start = end;
  }
}

TLKPDFPage::TLKPDFPage() : FItems(std::make_unique<TLKPDFItems>()) {}
TLKPDFPage::~TLKPDFPage() = default;

WideString TLKPDFPage::GetPlainText() const {
  WideString out;
  for (size_t i = 0; i < FLines.size(); ++i) {
    if (i) out += u"\r\n";
    out += FLines[i];
  }
  return out;
}

namespace {

// Operands kept before an operator; more are read and dropped (a garbage
// stream without operators must not grow the stack).
constexpr size_t kMaxOperands = 1 << 16;
// Graphics state nesting kept; deeper q/Q pairs are counted only.
constexpr size_t kMaxStateDepth = 256;
// Glyphs kept per page (a real page has a few thousand).
constexpr size_t kMaxPageGlyphs = size_t{1} << 21;
// Text units kept per glyph (a ToUnicode entry may map one code to a word).
constexpr size_t kMaxGlyphText = 64;
// Bytes of a string decoded at a time.
constexpr size_t kDecodeSlice = 16384;
// Coordinates beyond this are clamped: no page is that large, and the
// layout must never see infinities.
constexpr double kMaxCoord = 1e7;
// Forms entered inside one another, whatever the options say (each level
// is a stack frame), and the decoded forms kept per page.
constexpr int kMaxFormDepth = 64;
constexpr size_t kMaxFormCache = size_t{64} << 20;
// Tokens of an inline image dictionary before ID.
constexpr int kMaxInlineImageTokens = 4096;
// Annotation flags: not to be shown.
constexpr int64_t kAnnotHidden = 2, kAnnotNoView = 32;
// How far (page units) a point may lie outside the clip and still show.
constexpr double kClipTolerance = 1;

// Affine matrix [a b c d e f]; points are row vectors, p' = p x M.
struct TMatrix {
  double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
};

TMatrix Mul(const TMatrix& A, const TMatrix& B) {
  return {A.a * B.a + A.b * B.c, A.a * B.b + A.b * B.d, A.c * B.a + A.d * B.c,
          A.c * B.b + A.d * B.d, A.e * B.a + A.f * B.c + B.e, A.e * B.b + A.f * B.d + B.f};
}

float Clamp(double V, double Lo, double Hi) {
  if (!std::isfinite(V)) return 0;
  return static_cast<float>(V < Lo ? Lo : (V > Hi ? Hi : V));
}

bool FiniteMatrix(const TMatrix& M) {
  return std::isfinite(M.a) && std::isfinite(M.b) && std::isfinite(M.c) && std::isfinite(M.d) && std::isfinite(M.e) &&
         std::isfinite(M.f);
}

// Page space to display space: y downward from the top of the displayed
// page, the page turned clockwise by Rotate.
TMatrix DisplayMatrix(double X0, double Y0, double X1, double Y1, int Rotate) {
  switch (((Rotate / 90) % 4 + 4) % 4) {
    case 1: return {0, 1, 1, 0, -Y0, -X0};
    case 2: return {-1, 0, 0, 1, X1, -Y0};
    case 3: return {0, -1, -1, 0, Y1, X1};
    default: return {1, 0, 0, -1, -X0, Y1};
  }
}

// An axis-aligned box in display space; empty until a point is added.
struct TBox {
  double X0 = HUGE_VAL, Y0 = HUGE_VAL, X1 = -HUGE_VAL, Y1 = -HUGE_VAL;
  bool Empty() const { return !(X0 <= X1 && Y0 <= Y1); }
  void Add(double X, double Y) {
    X0 = std::min(X0, X), Y0 = std::min(Y0, Y), X1 = std::max(X1, X), Y1 = std::max(Y1, Y);
  }
  void Add(const TMatrix& M, double X, double Y) { Add(X * M.a + Y * M.c + M.e, X * M.b + Y * M.d + M.f); }
  // The corners of [X0 Y0 X1 Y1] in M's space.
  static TBox Of(const TMatrix& M, double X0, double Y0, double X1, double Y1) {
    TBox b;
    b.Add(M, X0, Y0), b.Add(M, X1, Y0), b.Add(M, X0, Y1), b.Add(M, X1, Y1);
    return b;
  }
  void Intersect(const TBox& B) {
    X0 = std::max(X0, B.X0), Y0 = std::max(Y0, B.Y0), X1 = std::min(X1, B.X1), Y1 = std::min(Y1, B.Y1);
  }
  bool Holds(double X, double Y, double Tolerance) const {
    return X >= X0 - Tolerance && X <= X1 + Tolerance && Y >= Y0 - Tolerance && Y <= Y1 + Tolerance;
  }
  bool Meets(double AX0, double AY0, double AX1, double AY1, double Tolerance) const {
    return AX1 > X0 - Tolerance && AX0 < X1 + Tolerance && AY1 > Y0 - Tolerance && AY0 < Y1 + Tolerance;
  }
};

// No clip at all.
constexpr TBox kEverywhere{-HUGE_VAL, -HUGE_VAL, HUGE_VAL, HUGE_VAL};

struct TGState {
  TMatrix CTM;
  double Tc = 0, Tw = 0, Th = 1, TL = 0, Tfs = 0, Ts = 0;
  TLKPDFFont* Font = nullptr;
  uint16_t FontIdx = 0;
  // The visible area: the bounding box of every clip in force (a clip
  // that is no rectangle counts as its bounding box, so that nothing a
  // viewer shows is lost).
  TBox Clip = kEverywhere;
};

// A resource dictionary as the interpreter uses it: fonts and XObjects
// resolved once, fonts looked up once per name.
struct TResources {
  TPDFObject Fonts;
  TPDFObject XObjects;
  std::unordered_map<std::string, TLKPDFFont*> FontCache;
};

class TContentInterpreter {
 public:
  TContentInterpreter(TLKPDFReader& Reader, const TPDFTextOptions& Options, TPDFPageGlyphs& Out)
      : FReader(Reader), FOptions(Options), FOut(Out) {
    if (FOut.FontNames.empty()) FOut.FontNames.emplace_back();
  }

  // PageClip: the page's visible box in display space.
  void Run(std::string_view Content, const TPDFObject& Resources, const TMatrix& Base, const TBox& PageClip) {
    TResources res;
    LoadResources(Resources, res);
    FPageClip = PageClip;
    FGS = TGState();
    FGS.CTM = Base;
    FGS.Clip = PageClip;
    Interpret(Content, res, 0);
  }

  // Draws the appearance of each annotation that shows, over the page;
  // Runs receives where each one's glyphs start. A text or choice field
  // without an appearance (its writer left drawing it to the viewer) shows
  // its value.
  void RunAnnotations(const TPDFObject& Annots, const TPDFObject& Resources, const TMatrix& Base,
                      std::vector<size_t>& Runs);

 private:
  void LoadResources(const TPDFObject& Resources, TResources& Res) {
    const TPDFObject dict = FReader.Resolve(Resources);
    if (!dict.IsDict()) return;
    if (const TPDFObject* f = dict.Get("Font")) Res.Fonts = FReader.Resolve(*f);
    if (const TPDFObject* x = dict.Get("XObject")) Res.XObjects = FReader.Resolve(*x);
  }

  // Number operand I counted back from the operator (1 = the last one).
  bool Num(size_t I, double& V) const {
    if (I > FCount) return false;
    const TPDFToken& t = FOperands[FCount - I];
    if (t.Kind == TPDFTokenKind::tkInteger) V = static_cast<double>(t.IntValue);
    else if (t.Kind == TPDFTokenKind::tkReal) V = t.RealValue;
    else return false;
    return std::isfinite(V);
  }
  bool Nums(size_t N, double* V) const {
    for (size_t i = 0; i < N; ++i)
      if (!Num(N - i, V[i])) return false;
    return true;
  }
  const TPDFToken* Last(TPDFTokenKind Kind) const {
    return FCount && FOperands[FCount - 1].Kind == Kind ? &FOperands[FCount - 1] : nullptr;
  }

  void Interpret(std::string_view Content, TResources& Res, int Depth);
  void Operator(const std::string& Op, TPDFLexer& Lexer, TResources& Res, int Depth);
  void SetFont(const std::string& Name, double Size, TResources& Res);
  void ShowText(std::string_view Bytes);
  void ShowArray();
  void MoveLine(double Tx, double Ty) {
    FTlm.e += Tx * FTlm.a + Ty * FTlm.c;
    FTlm.f += Tx * FTlm.b + Ty * FTlm.d;
    FTm = FTlm;
  }
  void SkipInlineImage(TPDFLexer& Lexer);
  // Path construction and painting, for the clip only.
  void PathPoints(size_t N) {
    double v[6];
    if (!Nums(2 * N, v)) return;
    for (size_t i = 0; i < N; ++i) FPath.Add(FGS.CTM, v[2 * i], v[2 * i + 1]);
  }
  void EndPath() {
    if (FClipPending && !FPath.Empty() && !FUnclipped) FGS.Clip.Intersect(FPath);
    FClipPending = false;
    FPath = TBox();
  }
  bool Visible(double X, double Y) const { return FGS.Clip.Holds(X, Y, kClipTolerance); }
  // A glyph shows when any part of its box does: its advance along the
  // line, from below the baseline to the top of tall letters across it (a
  // vertical line runs through the glyphs' middles).
  bool GlyphShows(double X, double Y, double Adv, double Dx, double Dy, double Size, bool Vertical) const {
    const TBox& c = FGS.Clip;
    // Across the line is (Dy, -Dx): up on the displayed page.
    const double lo = Vertical ? -0.5 * Size : -0.25 * Size, hi = Vertical ? 0.5 * Size : Size;
    const double ax = Adv * Dx, ay = Adv * Dy;
    const double x0 = X + std::min(0.0, ax) + std::min(lo * Dy, hi * Dy);
    const double x1 = X + std::max(0.0, ax) + std::max(lo * Dy, hi * Dy);
    const double y0 = Y + std::min(0.0, ay) + std::min(-lo * Dx, -hi * Dx);
    const double y1 = Y + std::max(0.0, ay) + std::max(-lo * Dx, -hi * Dx);
    return c.Meets(x0, y0, x1, y1, kClipTolerance);
  }
  void BeginMarked(bool WithProperties);
  void EndMarked();
  struct TForm {
    bool Ok = false;
    RawByteString Data;
    TMatrix Matrix;
    double BBox[4] = {0, 0, 0, 0};
    bool OwnResources = false;
    TResources Res;
  };
  void LoadForm(int32_t Num, TForm& Form);
  void DrawForm(const std::string& Name, TResources& Res, int Depth);
  // The form object Num, read once; nullptr when it is none. Uncached holds
  // it when the cache is full.
  TForm* FormObject(int32_t Num, TForm& Uncached);
  // Interprets form Num with CTM, in a state of its own.
  void PaintForm(int32_t Num, TForm& Form, const TMatrix& CTM, TResources& Res, int Depth);
  // The value of field Widget (object Num, Gen; 0 when it is none of its
  // own) written from the left of its box (X0, Y0 to Y1), in plain glyphs;
  // a value longer than the box runs on past it.
  bool PlaceFieldValue(const TPDFObject& Widget, int32_t Num, int32_t Gen, double X0, double Y0, double Y1,
                       const TMatrix& Base);
  uint16_t FontIndex(TLKPDFFont* Font);
  bool IsChoiceField(const TPDFObject& Widget);

  TLKPDFReader& FReader;
  const TPDFTextOptions& FOptions;
  TPDFPageGlyphs& FOut;
  TGState FGS;
  TBox FPageClip = kEverywhere;
  // Where the glyphs clipped since the last one shown lie (empty if none were).
  TBox FCut;
  // The current path's bounding box, and whether W or W* asked for it to
  // clip when it is painted.
  TBox FPath;
  bool FClipPending = false;
  // Clips are not applied (a list's appearance: see RunAnnotations).
  bool FUnclipped = false;
  std::vector<TGState> FStack;
  size_t FStackOverflow = 0;
  TMatrix FTm, FTlm;
  uint32_t FTextObject = 0, FRun = 0;
  int64_t FOps = 0;
  std::vector<TPDFToken> FOperands;
  size_t FCount = 0;
  TPDFToken FScratch;
  std::vector<TPDFGlyph> FDecoded;
  std::vector<int32_t> FFormChain;
  std::unordered_map<int32_t, std::unique_ptr<TForm>> FForms;
  size_t FFormBytes = 0;
  std::unordered_map<TLKPDFFont*, uint16_t> FFontIdx;
  // Marked content: spans with replacement text (/ActualText) stand for
  // the glyphs they enclose.
  struct TMarked {
    bool Actual = false;
    size_t GlyphStart = 0;
    WideString Text;
  };
  std::vector<TMarked> FMarked;
  size_t FMarkedOverflow = 0;
  int FActualDepth = 0;
};

// True when the literal string Tok has swallowed content: its opening
// parenthesis lost its partner, so it ran on over the lines that follow,
// and a later line of it shows a string the usual way (")Tj", ") TJ").
// Such a string is content, not text.
bool SwallowedContent(std::string_view Content, const TPDFToken& Tok) {
  if (Tok.End > Content.size() || Tok.End < Tok.Start + 2) return false;
  const std::string_view raw = Content.substr(Tok.Start + 1, Tok.End - Tok.Start - 2);
  const size_t lb = raw.find_first_of("\r\n");
  if (lb == std::string_view::npos) return false;
  for (size_t p = raw.find(')', lb); p != std::string_view::npos; p = raw.find(')', p + 1)) {
    size_t q = p + 1;
    while (q < raw.size() && (raw[q] == ' ' || raw[q] == '\r' || raw[q] == '\n')) ++q;
    if (q + 1 < raw.size() && raw[q] == 'T' && (raw[q + 1] == 'j' || raw[q + 1] == 'J') &&
        (q + 2 == raw.size() || !IsPDFRegular(static_cast<uint8_t>(raw[q + 2]))))
      return true;
  }
  return false;
}

namespace {

// Text state operators some writers put inside the array of a TJ, where
// they are mere elements. Anything else there is damage, and ends it.
// An operator of up to three bytes as one number, for a switch.
constexpr uint32_t OperatorKey(std::string_view Op) {
  uint32_t key = 0;
  for (const char c : Op) key = key << 8 | static_cast<uint8_t>(c);
  return key;
}

// Keywords that stand among the operands: true, false and null, and a sign
// or point alone, which is a number lost to damage.
bool OperandKeyword(const std::string& Word) {
  if (Word.empty()) return true;
  switch (Word[0]) {
    case 't': return Word == "true";
    case 'f': return Word == "false";
    case 'n': return Word == "null";
    case '+':
    case '-':
    case '.': return Word.find_first_not_of("+-.") == std::string::npos;
    default: return false;
  }
}

bool TextStateOperator(std::string_view Op) {
  return Op == "Tc" || Op == "Tw" || Op == "Tz" || Op == "TL" || Op == "Ts" || Op == "Tr";
}

}  // namespace

void TContentInterpreter::Interpret(std::string_view Content, TResources& Res, int Depth) {
  TPDFLexer lexer(Content);
  const size_t stackBase = FStack.size();
  const size_t overflowBase = FStackOverflow;
  FCount = 0;
  // An array is open (and has a string in it) among the operands.
  bool openArray = false, arrayText = false;
  while (FOps < FOptions.MaxOperators) {
    if (FOperands.size() <= FCount && FOperands.size() < kMaxOperands) FOperands.resize(FCount + 1);
    TPDFToken& tok = FCount < FOperands.size() ? FOperands[FCount] : FScratch;
    if (!lexer.Next(tok)) break;
    // Reading goes on after it, as other readers do; only its text is lost.
    if (tok.Kind == TPDFTokenKind::tkString && !tok.IsHex && tok.Text.size() > 16 && SwallowedContent(Content, tok))
      tok.Text.clear();
    // A stray delimiter is no operand: it is skipped, as if it were not there.
    if (tok.Kind == TPDFTokenKind::tkError) continue;
    if (tok.Kind != TPDFTokenKind::tkKeyword) {
      if (tok.Kind == TPDFTokenKind::tkArrayBegin) openArray = true, arrayText = false;
      else if (tok.Kind == TPDFTokenKind::tkArrayEnd) openArray = false;
      else if (tok.Kind == TPDFTokenKind::tkString) arrayText = openArray;
      if (&tok != &FScratch) ++FCount;
      continue;
    }
    ++FOps;
    // The strings around them still show.
    if (openArray && arrayText && TextStateOperator(tok.Text)) {
      if (&tok != &FScratch) ++FCount;
      continue;
    }
    // A number lost to damage stays in its operator's operands, which then
    // fail their checks.
    if (OperandKeyword(tok.Text)) {
      if (&tok != &FScratch) ++FCount;
      continue;
    }
    std::string op;
    op.swap(tok.Text);
    Operator(op, lexer, Res, Depth);
    op.swap(tok.Text);
    FCount = 0;
    openArray = arrayText = false;
  }
  // A form leaves the graphics state stack as it found it.
  if (Depth > 0) {
    if (FStack.size() > stackBase) FStack.resize(stackBase);
    FStackOverflow = overflowBase;
  }
}

void TContentInterpreter::Operator(const std::string& Op, TPDFLexer& Lexer, TResources& Res, int Depth) {
  double v[6];
  switch (Op.size() == 1 ? Op[0] : 0) {
    case 'q':
      if (FStack.size() < kMaxStateDepth) FStack.push_back(FGS);
      else ++FStackOverflow;
      return;
    case 'Q':
      if (FStackOverflow) --FStackOverflow;
      else if (!FStack.empty()) {
        FGS = FStack.back();
        FStack.pop_back();
      }
      return;
    case 'm':
    case 'l':
      PathPoints(1);
      return;
    case 'c':
      PathPoints(3);
      return;
    case 'v':
    case 'y':
      PathPoints(2);
      return;
    case 'W':
      FClipPending = true;
      return;
    case 'n':
    case 'f':
    case 'F':
    case 'S':
    case 's':
    case 'B':
    case 'b':
      EndPath();
      return;
    case '\'':
      MoveLine(0, -FGS.TL);
      ++FRun;
      if (const TPDFToken* s = Last(TPDFTokenKind::tkString)) ShowText(s->Text);
      return;
    case '"':
      if (FCount >= 3 && Num(3, v[0]) && Num(2, v[1])) {
        FGS.Tw = v[0];
        FGS.Tc = v[1];
      }
      MoveLine(0, -FGS.TL);
      ++FRun;
      if (const TPDFToken* s = Last(TPDFTokenKind::tkString)) ShowText(s->Text);
      return;
    default:
      break;
  }
  if (Op.size() > 3) return;
  // Pages of graphics run through hundreds of thousands of operators that
  // are none of these, so they are told apart at once, not by name after name.
  switch (OperatorKey(Op)) {
    case OperatorKey("f*"):
    case OperatorKey("B*"):
    case OperatorKey("b*"):
      EndPath();
      break;
    case OperatorKey("W*"):
      FClipPending = true;
      break;
    case OperatorKey("re"):
      if (Nums(4, v)) {
        const TBox r = TBox::Of(FGS.CTM, v[0], v[1], v[0] + v[2], v[1] + v[3]);
        FPath.Add(r.X0, r.Y0), FPath.Add(r.X1, r.Y1);
      }
      break;
    case OperatorKey("Tj"):
      ++FRun;
      if (const TPDFToken* s = Last(TPDFTokenKind::tkString)) ShowText(s->Text);
      break;
    case OperatorKey("TJ"):
      ++FRun;
      ShowArray();
      break;
    case OperatorKey("Td"):
      if (Nums(2, v)) MoveLine(v[0], v[1]);
      break;
    case OperatorKey("TD"):
      if (Nums(2, v)) {
        FGS.TL = -v[1];
        MoveLine(v[0], v[1]);
      }
      break;
    case OperatorKey("T*"):
      MoveLine(0, -FGS.TL);
      break;
    case OperatorKey("Tm"):
      if (Nums(6, v)) {
        FTlm = {v[0], v[1], v[2], v[3], v[4], v[5]};
        FTm = FTlm;
      }
      break;
    case OperatorKey("BT"):
      FTm = FTlm = TMatrix();
      ++FTextObject;
      break;
    case OperatorKey("Tf"):
      if (FCount >= 2 && FOperands[FCount - 2].Kind == TPDFTokenKind::tkName && Num(1, v[0])) {
        SetFont(FOperands[FCount - 2].Text, v[0], Res);
      } else {
        // A damaged size still selects the font, at the size in force; a name
        // that is no font of the page is damaged too, and changes nothing.
        for (size_t i = FCount; i-- > 0;) {
          if (FOperands[i].Kind != TPDFTokenKind::tkName) continue;
          if (Res.Fonts.Get(FOperands[i].Text)) SetFont(FOperands[i].Text, FGS.Tfs, Res);
          break;
        }
      }
      break;
    case OperatorKey("Tc"):
      if (Num(1, v[0])) FGS.Tc = v[0];
      break;
    case OperatorKey("Tw"):
      if (Num(1, v[0])) FGS.Tw = v[0];
      break;
    case OperatorKey("Tz"):
      if (Num(1, v[0])) FGS.Th = v[0] / 100;
      break;
    case OperatorKey("TL"):
      if (Num(1, v[0])) FGS.TL = v[0];
      break;
    case OperatorKey("Ts"):
      if (Num(1, v[0])) FGS.Ts = v[0];
      break;
    case OperatorKey("cm"):
      if (Nums(6, v)) {
        const TMatrix m = Mul({v[0], v[1], v[2], v[3], v[4], v[5]}, FGS.CTM);
        if (FiniteMatrix(m)) FGS.CTM = m;
      }
      break;
    case OperatorKey("Do"):
      if (const TPDFToken* n = Last(TPDFTokenKind::tkName)) DrawForm(n->Text, Res, Depth);
      break;
    case OperatorKey("BI"):
      SkipInlineImage(Lexer);
      break;
    case OperatorKey("BDC"):
      BeginMarked(true);
      break;
    case OperatorKey("BMC"):
      BeginMarked(false);
      break;
    case OperatorKey("EMC"):
      EndMarked();
      break;
    default:
      break;
  }
}

void TContentInterpreter::BeginMarked(bool WithProperties) {
  if (FMarked.size() >= kMaxStateDepth) {
    ++FMarkedOverflow;
    return;
  }
  TMarked m;
  // Only the outermost replacement text counts.
  if (WithProperties && FActualDepth == 0) {
    for (size_t i = 0; i + 1 < FCount; ++i) {
      if (FOperands[i].Kind == TPDFTokenKind::tkName && FOperands[i].Text == "ActualText" &&
          FOperands[i + 1].Kind == TPDFTokenKind::tkString) {
        m.Actual = true;
        m.GlyphStart = FOut.Glyphs.size();
        AppendMappedText(m.Text, DecodePDFTextString(FOperands[i + 1].Text));
        ++FActualDepth;
        break;
      }
    }
  }
  FMarked.push_back(std::move(m));
}

void TContentInterpreter::EndMarked() {
  if (FMarkedOverflow) {
    --FMarkedOverflow;
    return;
  }
  if (FMarked.empty()) return;
  TMarked m = std::move(FMarked.back());
  FMarked.pop_back();
  if (!m.Actual) return;
  --FActualDepth;
  // The span's glyphs become one glyph that carries the replacement text
  // and covers their extent; a span without glyphs places its text where
  // the next glyph would go.
  const size_t start = std::min(m.GlyphStart, FOut.Glyphs.size());
  TPDFPlacedGlyph g;
  if (start < FOut.Glyphs.size()) {
    g = FOut.Glyphs[start];
    const double origin = static_cast<double>(g.X) * g.Dx + static_cast<double>(g.Y) * g.Dy;
    double end = origin + g.Adv;
    for (size_t i = start + 1; i < FOut.Glyphs.size(); ++i) {
      const TPDFPlacedGlyph& o = FOut.Glyphs[i];
      end = std::max(end, static_cast<double>(o.X) * g.Dx + static_cast<double>(o.Y) * g.Dy + o.Adv);
    }
    g.Adv = Clamp(end - origin, 0, kMaxCoord);
  } else {
    if (FOut.Glyphs.size() >= kMaxPageGlyphs) return;
    const TMatrix t = Mul(FTm, FGS.CTM);
    if (!Visible(t.e, t.f)) return;
    const double len = std::hypot(t.a, t.b);
    g.X = Clamp(t.e, -kMaxCoord, kMaxCoord);
    g.Y = Clamp(t.f, -kMaxCoord, kMaxCoord);
    if (len > 1e-9) {
      g.Dx = static_cast<float>(t.a / len);
      g.Dy = static_cast<float>(t.b / len);
    }
    g.Adv = 0;
    g.Size = Clamp(std::fabs(FGS.Tfs) * std::hypot(t.c, t.d), 0, kMaxCoord);
    g.FontIdx = FGS.FontIdx;
    g.TextObject = FTextObject;
  }
  FOut.Glyphs.resize(start);
  const size_t n = std::min<size_t>(m.Text.size(), 0xFFFF);
  g.TextStart = static_cast<uint32_t>(FOut.Chars.size());
  g.TextLen = static_cast<uint16_t>(n);
  FOut.Chars.append(m.Text, 0, n);
  FOut.Glyphs.push_back(g);
}

void TContentInterpreter::SetFont(const std::string& Name, double Size, TResources& Res) {
  // Text of size zero shows nothing, but its glyphs would all fall on one
  // spot and merge; a unit size keeps its words apart.
  FGS.Tfs = Size != 0 ? Size : 1;
  auto it = Res.FontCache.find(Name);
  if (it == Res.FontCache.end()) {
    TLKPDFFont* font = nullptr;
    if (const TPDFObject* entry = Res.Fonts.Get(Name)) font = FReader.Fonts().FontFor(Name, *entry);
    it = Res.FontCache.emplace(Name, font).first;
  }
  FGS.Font = it->second;
  FGS.FontIdx = FontIndex(FGS.Font);
}

uint16_t TContentInterpreter::FontIndex(TLKPDFFont* Font) {
  if (!Font) return 0;
  auto it = FFontIdx.find(Font);
  if (it != FFontIdx.end()) return it->second;
  if (FOut.FontNames.size() >= 0xFFFF) return 0;
  const auto idx = static_cast<uint16_t>(FOut.FontNames.size());
  FOut.FontNames.push_back(Font->FontName());
  FFontIdx.emplace(Font, idx);
  return idx;
}

void TContentInterpreter::ShowText(std::string_view Bytes) {
  // Without a font nothing can be decoded or advanced.
  if (Bytes.empty()) return;
  if (!FGS.Font) {
    FReader.Fonts().NoteFontlessString();
    return;
  }
  const bool vertical = FGS.Font->Vertical();
  TMatrix m = Mul(FTm, FGS.CTM);
  // Direction and scale are those of the whole string; only the origin moves.
  const double xlen = std::hypot(m.a, m.b), ylen = std::hypot(m.c, m.d);
  const double dlen = vertical ? ylen : xlen;
  float dx = 1, dy = 0;
  if (dlen > 1e-9) {
    dx = static_cast<float>((vertical ? -m.c : m.a) / dlen);
    dy = static_cast<float>((vertical ? -m.d : m.b) / dlen);
  }
  const float size = Clamp(std::fabs(FGS.Tfs) * (vertical ? xlen : ylen), 0, kMaxCoord);
  // A glyph whose box, however it is turned, lies well inside the clip
  // shows without the exact test: the common case, and cheap.
  const double pad = size + kClipTolerance;
  const double inX0 = FGS.Clip.X0 + pad, inX1 = FGS.Clip.X1 - pad, inY0 = FGS.Clip.Y0 + pad, inY1 = FGS.Clip.Y1 - pad;
  // A huge string is decoded a slice at a time, so that its glyphs are never
  // all held at once. Codes take at most 4 bytes: a glyph that starts 4 bytes
  // or more before a slice's end decodes as in the whole string; the rest
  // start the next slice.
  size_t pos = 0;
  while (pos < Bytes.size()) {
    // A full page records nothing more, so positions no longer matter.
    if (FOut.Glyphs.size() >= kMaxPageGlyphs) break;
    const std::string_view slice = Bytes.substr(pos, kDecodeSlice);
    const bool last = pos + slice.size() == Bytes.size();
    FDecoded.clear();
    FGS.Font->Decode(slice, FDecoded);
    size_t used = 0, keep = 0;
    for (const TPDFGlyph& g : FDecoded) {
      if (!last && used + 4 > slice.size()) break;
      used += std::max<size_t>(g.CodeBytes, 1);
      ++keep;
    }
    pos = last || keep == 0 ? Bytes.size() : pos + used;
    // A span's replacement text is what its glyphs say: those the font
    // cannot name lose nothing (shaped scripts drawn glyph by glyph).
    if (FActualDepth > 0) {
      int64_t unnamed = 0;
      for (size_t k = 0; k < keep; ++k) unnamed += FDecoded[k].Mapped ? 0 : 1;
      if (unnamed) FReader.Fonts().NoteReplacedUnmapped(unnamed);
    }
    for (size_t k = 0; k < keep; ++k) {
      const TPDFGlyph& g = FDecoded[k];
      // Glyph origin through the text rendering matrix.
      const double ox = FGS.Ts * m.c + m.e, oy = FGS.Ts * m.d + m.f;
      const double advance = vertical ? 1.0 : g.Width;
      const float adv = Clamp(std::fabs(advance * FGS.Tfs * (vertical ? 1 : FGS.Th)) * dlen, 0, kMaxCoord);
      if (FOut.Glyphs.size() < kMaxPageGlyphs && std::isfinite(ox) && std::isfinite(oy) &&
          ((ox - adv > inX0 && ox + adv < inX1 && oy - adv > inY0 && oy + adv < inY1) ||
           GlyphShows(ox, oy, adv, dx, dy, size, vertical))) {
        TPDFPlacedGlyph p;
        p.X = Clamp(ox, -kMaxCoord, kMaxCoord);
        p.Y = Clamp(oy, -kMaxCoord, kMaxCoord);
        p.Dx = dx;
        p.Dy = dy;
        p.Adv = adv;
        p.Size = size;
        p.FontIdx = FGS.FontIdx;
        p.TextObject = FTextObject;
        p.Run = FRun;
        p.TextStart = static_cast<uint32_t>(FOut.Chars.size());
        const size_t n = std::min(g.Text.size(), kMaxGlyphText);
        p.TextLen = static_cast<uint16_t>(n);
        if (!FCut.Empty()) {
          if (FCut.Holds(ox, oy, size)) FOut.AfterCut.push_back(static_cast<uint32_t>(FOut.Glyphs.size()));
          FCut = TBox();
        }
        FOut.Chars.append(g.Text, 0, n);
        FOut.Glyphs.push_back(p);
      } else if (!g.Text.empty()) {
        FCut.Add(ox, oy);
        FCut.Add(ox + adv * dx, oy + adv * dy);
      }
      // Advance the text matrix by the glyph's displacement.
      const double space = g.WordSpace ? FGS.Tw : 0;
      if (vertical) {
        const double ty = -advance * FGS.Tfs + FGS.Tc + space;
        FTm.e += ty * FTm.c;
        FTm.f += ty * FTm.d;
        m.e += ty * m.c;
        m.f += ty * m.d;
      } else {
        const double tx = (advance * FGS.Tfs + FGS.Tc + space) * FGS.Th;
        FTm.e += tx * FTm.a;
        FTm.f += tx * FTm.b;
        m.e += tx * m.a;
        m.f += tx * m.b;
      }
    }
  }
  if (!std::isfinite(FTm.e) || !std::isfinite(FTm.f)) FTm.e = FTm.f = 0;
}

void TContentInterpreter::ShowArray() {
  // The operands from the last '[' on (an unclosed array still shows).
  size_t begin = FCount;
  while (begin > 0 && FOperands[begin - 1].Kind != TPDFTokenKind::tkArrayBegin) --begin;
  if (begin == 0) return;
  const bool vertical = FGS.Font && FGS.Font->Vertical();
  for (size_t i = begin; i < FCount; ++i) {
    const TPDFToken& t = FOperands[i];
    if (t.Kind == TPDFTokenKind::tkString) {
      ShowText(t.Text);
    } else if (t.Kind == TPDFTokenKind::tkInteger || t.Kind == TPDFTokenKind::tkReal) {
      const double n = t.Kind == TPDFTokenKind::tkInteger ? static_cast<double>(t.IntValue) : t.RealValue;
      const double shift = -n / 1000 * FGS.Tfs;
      if (vertical) {
        FTm.e += shift * FTm.c;
        FTm.f += shift * FTm.d;
      } else {
        FTm.e += shift * FGS.Th * FTm.a;
        FTm.f += shift * FGS.Th * FTm.b;
      }
      if (!std::isfinite(FTm.e) || !std::isfinite(FTm.f)) FTm.e = FTm.f = 0;
    } else if (t.Kind == TPDFTokenKind::tkArrayEnd) {
      break;
    }
  }
}

void TContentInterpreter::SkipInlineImage(TPDFLexer& Lexer) {
  TPDFToken t;
  for (int i = 0; i < kMaxInlineImageTokens; ++i) {
    if (!Lexer.Next(t)) return;
    if (t.Kind == TPDFTokenKind::tkKeyword && t.Text == "ID") break;
  }
  // The data runs to an EI that stands alone between white space (or the
  // end of the content).
  const std::string_view data = Lexer.Data();
  size_t pos = Lexer.Position() + 1;
  while (pos + 1 < data.size()) {
    const size_t at = data.find("EI", pos);
    if (at == std::string_view::npos) break;
    const bool before = at > 0 && IsPDFWhiteSpace(static_cast<uint8_t>(data[at - 1]));
    const bool after = at + 2 >= data.size() || IsPDFWhiteSpace(static_cast<uint8_t>(data[at + 2])) ||
                       IsPDFDelimiter(static_cast<uint8_t>(data[at + 2]));
    if (before && after) {
      Lexer.SetPosition(at + 2);
      return;
    }
    pos = at + 1;
  }
  Lexer.SetPosition(data.size());
}

void TContentInterpreter::LoadForm(int32_t Num, TForm& Form) {
  TPDFObject dict;
  try {
    if (!FReader.GetObject(Num, dict) || !dict.IsDict()) return;
    const TPDFObject* subtype = dict.Get("Subtype");
    if (!subtype || !subtype->IsName("Form")) return;
    if (!FReader.GetStreamData(Num, Form.Data)) return;
    if (const TPDFObject* m = dict.Get("Matrix"); m && m->IsArray() && m->Count() == 6) {
      double v[6];
      bool ok = true;
      for (size_t i = 0; i < 6; ++i) {
        if (!m->Items[i].IsNumber()) ok = false;
        v[i] = m->Items[i].AsNumber();
      }
      if (ok) Form.Matrix = {v[0], v[1], v[2], v[3], v[4], v[5]};
    }
    if (const TPDFObject* b = dict.Get("BBox")) {
      const TPDFObject box = FReader.Resolve(*b);
      if (box.IsArray() && box.Count() == 4)
        for (size_t i = 0; i < 4; ++i) Form.BBox[i] = FReader.Resolve(box.Items[i]).AsNumber();
    }
    if (const TPDFObject* res = dict.Get("Resources")) {
      LoadResources(*res, Form.Res);
      Form.OwnResources = Form.Res.Fonts.IsDict() || Form.Res.XObjects.IsDict();
    }
  } catch (const Exception&) {
    Form.Data.clear();
    return;
  }
  Form.Ok = true;
}

TContentInterpreter::TForm* TContentInterpreter::FormObject(int32_t Num, TForm& Uncached) {
  // A form drawn again (a logo on every page, a bullet before every item)
  // is read once; the cache is bounded, beyond it forms are read per use.
  TForm* form = nullptr;
  if (auto it = FForms.find(Num); it != FForms.end()) {
    form = it->second.get();
  } else {
    auto loaded = std::make_unique<TForm>();
    LoadForm(Num, *loaded);
    if (FFormBytes + loaded->Data.size() <= kMaxFormCache) {
      FFormBytes += loaded->Data.size();
      form = FForms.emplace(Num, std::move(loaded)).first->second.get();
    } else {
      Uncached = std::move(*loaded);
      form = &Uncached;
    }
  }
  return form->Ok ? form : nullptr;
}

void TContentInterpreter::DrawForm(const std::string& Name, TResources& Res, int Depth) {
  const TPDFObject* entry = Res.XObjects.Get(Name);
  if (!entry || !entry->IsRef() || Depth + 1 > std::min(FOptions.MaxXObjectDepth, kMaxFormDepth)) return;
  const int32_t num = entry->RefNum;
  if (std::find(FFormChain.begin(), FFormChain.end(), num) != FFormChain.end()) return;
  TForm uncached;
  if (TForm* form = FormObject(num, uncached)) PaintForm(num, *form, Mul(form->Matrix, FGS.CTM), Res, Depth);
}

void TContentInterpreter::PaintForm(int32_t Num, TForm& Form, const TMatrix& CTM, TResources& Res, int Depth) {
  // The caller's operands, text matrices and graphics state survive the form.
  std::vector<TPDFToken> operands;
  operands.swap(FOperands);
  const size_t count = FCount;
  const TGState saved = FGS;
  const TMatrix tm = FTm, tlm = FTlm;
  const TBox path = FPath;
  const bool clipPending = FClipPending;
  if (FiniteMatrix(CTM)) FGS.CTM = CTM;
  // The form shows only inside its box (a box without area is taken for a
  // writer's slip, not for a form that hides all it draws).
  const double* b = Form.BBox;
  if (!FUnclipped && std::isfinite(b[0] + b[1] + b[2] + b[3]) && std::fabs(b[2] - b[0]) > 1e-6 && std::fabs(b[3] - b[1]) > 1e-6)
    FGS.Clip.Intersect(TBox::Of(FGS.CTM, b[0], b[1], b[2], b[3]));
  FPath = TBox();
  FClipPending = false;
  FFormChain.push_back(Num);
  Interpret(Form.Data, Form.OwnResources ? Form.Res : Res, Depth + 1);
  FFormChain.pop_back();
  FGS = saved;
  FTm = tm;
  FTlm = tlm;
  FPath = path;
  FClipPending = clipPending;
  FOperands.swap(operands);
  FCount = count;
}

void TContentInterpreter::RunAnnotations(const TPDFObject& Annots, const TPDFObject& Resources, const TMatrix& Base,
                                         std::vector<size_t>& Runs) {
  const TPDFObject list = FReader.Resolve(Annots);
  if (!list.IsArray()) return;
  TResources pageRes;
  LoadResources(Resources, pageRes);
  // Text and choice fields are then drawn from their values, as viewers do.
  const bool fromValues = FReader.FieldsNeedAppearances();
  for (size_t i = 0; i < list.Count() && i < kPDFMaxAnnotations && FOps < FOptions.MaxOperators; ++i) {
    const TPDFObject annot = FReader.Resolve(list.Items[i]);
    if (!annot.IsDict()) continue;
    if (const TPDFObject* f = annot.Get("F"); f && (FReader.Resolve(*f).AsInt() & (kAnnotHidden | kAnnotNoView)))
      continue;
    const TPDFObject* ap = annot.Get("AP");
    const TPDFObject* rect = annot.Get("Rect");
    if (!rect) continue;
    const TPDFObject r = FReader.Resolve(*rect);
    if (!r.IsArray() || r.Count() != 4) continue;
    double v[4];
    for (size_t k = 0; k < 4; ++k) v[k] = FReader.Resolve(r.Items[k]).AsNumber();
    const double rx0 = std::min(v[0], v[2]), ry0 = std::min(v[1], v[3]);
    const double rx1 = std::max(v[0], v[2]), ry1 = std::max(v[1], v[3]);
    if (!ap || fromValues) {
      const size_t start = FOut.Glyphs.size();
      const TPDFObject& item = list.Items[i];
      const bool field =
          PlaceFieldValue(annot, item.IsRef() ? item.RefNum : 0, item.IsRef() ? item.RefGen : 0, rx0, ry0, ry1, Base);
      if (FOut.Glyphs.size() > start) Runs.push_back(start);
      if (field || !ap) continue;
    }
    const TPDFObject apDict = FReader.Resolve(*ap);
    const TPDFObject* normal = apDict.IsDict() ? apDict.Get("N") : nullptr;
    if (!normal) continue;
    // The normal appearance: a form, or one form per state (a check box's
    // on and off), chosen by the annotation's state.
    int32_t num = -1;
    TPDFObject states;
    if (normal->IsRef()) {
      TPDFObject target;
      if (!FReader.GetObject(normal->RefNum, target) || !target.IsDict()) continue;
      if (target.Get("BBox") || target.Get("Subtype") || target.Get("Length"))
        num = normal->RefNum;
      else
        states = std::move(target);
    } else if (normal->IsDict()) {
      states = *normal;
    }
    if (num < 0) {
      const TPDFObject* as = annot.Get("AS");
      const TPDFObject state = as ? FReader.Resolve(*as) : TPDFObject();
      const TPDFObject* form = state.IsName() ? states.Get(state.Str) : nullptr;
      if (!form || !form->IsRef()) continue;
      num = form->RefNum;
    }
    TForm uncached;
    TForm* form = FormObject(num, uncached);
    if (!form) continue;
    // The form's box, through its matrix, is fitted into the rectangle.
    double x0 = HUGE_VAL, y0 = HUGE_VAL, x1 = -HUGE_VAL, y1 = -HUGE_VAL;
    const TMatrix& m = form->Matrix;
    for (int c = 0; c < 4; ++c) {
      const double bx = form->BBox[c & 1 ? 2 : 0], by = form->BBox[c & 2 ? 3 : 1];
      const double x = bx * m.a + by * m.c + m.e, y = bx * m.b + by * m.d + m.f;
      x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
    }
    if (!(x1 - x0 > 1e-6) || !(y1 - y0 > 1e-6)) continue;
    const double sx = (rx1 - rx0) / (x1 - x0), sy = (ry1 - ry0) / (y1 - y0);
    const TMatrix fit{sx, 0, 0, sy, rx0 - x0 * sx, ry0 - y0 * sy};
    FGS = TGState();
    FGS.Clip = FPageClip;
    FTm = FTlm = TMatrix();
    const size_t start = FOut.Glyphs.size();
    // A list box draws all its options and its box shows a few; the
    // options are what the field offers, so they are all read.
    FUnclipped = IsChoiceField(annot);
    PaintForm(num, *form, Mul(Mul(m, fit), Base), pageRes, 0);
    FUnclipped = false;
    if (FOut.Glyphs.size() > start) Runs.push_back(start);
  }
}

bool TContentInterpreter::IsChoiceField(const TPDFObject& Widget) {
  // The field type may be the parent field's.
  TPDFObject node = Widget;
  for (int depth = 0; depth < 32 && node.IsDict(); ++depth) {
    if (const TPDFObject* ft = node.Get("FT")) return FReader.Resolve(*ft).IsName("Ch");
    const TPDFObject* parent = node.Get("Parent");
    if (!parent || !parent->IsRef()) break;
    TPDFObject next;
    if (!FReader.GetObject(parent->RefNum, next)) break;
    node = std::move(next);
  }
  return false;
}

// Shows the value of a text or choice field in its box; false for other
// annotations.
bool TContentInterpreter::PlaceFieldValue(const TPDFObject& Widget, int32_t Num, int32_t Gen, double X0, double Y0,
                                          double Y1, const TMatrix& Base) {
  // Type, value and appearance string may come from the parent fields.
  // Strings are decrypted with the number of the object that holds them.
  struct TEntry {
    TPDFObject Value;
    int32_t Num = 0, Gen = 0;
  };
  TEntry type, value, da;
  auto take = [&](const TPDFObject& Node, int32_t NodeNum, int32_t NodeGen, std::string_view Key, TEntry& Into) {
    const TPDFObject* p = Node.Get(Key);
    if (!p || !Into.Value.IsNone()) return;
    Into.Num = NodeNum, Into.Gen = NodeGen;
    if (p->IsRef()) {
      Into.Num = p->RefNum;
      if (!FReader.GetObject(p->RefNum, Into.Value, &Into.Gen)) Into.Value = TPDFObject();
    } else {
      Into.Value = *p;
    }
  };
  TPDFObject node = Widget;
  int32_t num = Num, gen = Gen;
  for (int depth = 0; depth < 32 && node.IsDict(); ++depth) {
    take(node, num, gen, "FT", type);
    take(node, num, gen, "V", value);
    take(node, num, gen, "DA", da);
    const TPDFObject* parent = node.Get("Parent");
    if (!parent || !parent->IsRef()) break;
    num = parent->RefNum;
    TPDFObject next;
    if (!FReader.GetObject(num, next, &gen)) break;
    node = std::move(next);
  }
  if (!type.Value.IsName("Tx") && !type.Value.IsName("Ch")) return false;
  auto decoded = [&](const TEntry& E, const RawByteString& S) {
    return DecodePDFTextString(E.Num > 0 ? FReader.DecryptString(E.Num, E.Gen, S) : S);
  };
  WideString text;
  if (value.Value.IsString()) {
    text = decoded(value, value.Value.Str);
  } else if (value.Value.IsArray()) {  // the choices made in a list
    for (const TPDFObject& item : value.Value.Items)
      if (item.IsString()) text += (text.empty() ? u"" : u", ") + decoded(value, item.Str);
  }
  if (text.find_first_not_of(u" \r\n\t") == WideString::npos) return true;
  // The font size the appearance string names ("/Helv 10 Tf"); 0 or none:
  // sized to the box.
  double size = 0;
  if (da.Value.IsString()) {
    const RawByteString appearance = da.Num > 0 ? FReader.DecryptString(da.Num, da.Gen, da.Value.Str) : da.Value.Str;
    TPDFLexer lexer(appearance);
    TPDFToken tok;
    double last = 0;
    while (lexer.Next(tok)) {
      if (tok.Kind == TPDFTokenKind::tkInteger) last = static_cast<double>(tok.IntValue);
      else if (tok.Kind == TPDFTokenKind::tkReal) last = tok.RealValue;
      else if (tok.Kind == TPDFTokenKind::tkKeyword && tok.Text == "Tf") size = last;
    }
  }
  const double height = Y1 - Y0;
  if (!(size > 0) || !std::isfinite(size)) size = std::clamp(height * 0.7, 4.0, 12.0);
  size = std::min(size, 72.0);
  // Lines from the top of a box that holds several, one line centred in a
  // box that does not; glyphs of a plain width.
  double y = height >= 2 * size ? Y1 - 2 - size : Y0 + std::max(0.0, (height - size) / 2) + size * 0.2;
  const double dlen = std::hypot(Base.a, Base.b);
  const auto dx = static_cast<float>(dlen > 1e-9 ? Base.a / dlen : 1), dy = static_cast<float>(dlen > 1e-9 ? Base.b / dlen : 0);
  ++FTextObject;
  double x = X0 + 2;
  for (size_t i = 0; i < text.size() && FOut.Glyphs.size() < kMaxPageGlyphs; ++i) {
    char16_t c = text[i];
    if (c == u'\r' || c == u'\n') {
      if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
      x = X0 + 2;
      y -= size * 1.15;
      continue;
    }
    const size_t n = (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) ? 2 : 1;
    TPDFPlacedGlyph p;
    p.X = Clamp(x * Base.a + y * Base.c + Base.e, -kMaxCoord, kMaxCoord);
    p.Y = Clamp(x * Base.b + y * Base.d + Base.f, -kMaxCoord, kMaxCoord);
    p.Dx = dx;
    p.Dy = dy;
    p.Adv = Clamp(size * 0.5 * dlen, 0, kMaxCoord);
    p.Size = Clamp(size * dlen, 0, kMaxCoord);
    p.TextObject = FTextObject;
    p.TextStart = static_cast<uint32_t>(FOut.Chars.size());
    p.TextLen = static_cast<uint16_t>(n);
    FOut.Chars.append(text, i, n);
    FOut.Glyphs.push_back(p);
    i += n - 1;
    x += size * 0.5;
  }
  return true;
}

// The layout reads glyphs in content order, and annotations come after the
// whole page: each one's glyphs move to before the first page glyph that
// reads after them (below them, or further along their line), so that a
// field's value follows its label. Pages too large to scan keep the order.
void PlaceAnnotationRuns(TPDFPageGlyphs& Out, size_t PageEnd, std::vector<size_t> Runs) {
  constexpr size_t kMaxScan = size_t{1} << 24;
  if (Runs.empty() || PageEnd == 0 || PageEnd * Runs.size() > kMaxScan) return;
  Runs.push_back(Out.Glyphs.size());
  std::vector<std::pair<size_t, size_t>> at;  // (insertion point, run)
  for (size_t r = 0; r + 1 < Runs.size(); ++r) {
    const TPDFPlacedGlyph& a = Out.Glyphs[Runs[r]];
    size_t i = 0;
    if (std::fabs(a.Dx - 1) < 0.01f) {
      for (; i < PageEnd; ++i) {
        const TPDFPlacedGlyph& g = Out.Glyphs[i];
        const float tolerance = 0.5f * std::max(a.Size, g.Size);
        if (std::fabs(g.Dx - 1) < 0.01f && (g.Y > a.Y + tolerance || (std::fabs(g.Y - a.Y) <= tolerance && g.X > a.X)))
          break;
      }
    } else {
      i = PageEnd;
    }
    at.emplace_back(i, r);
  }
  std::stable_sort(at.begin(), at.end(), [](const auto& A, const auto& B) { return A.first < B.first; });
  std::vector<TPDFPlacedGlyph> placed;
  placed.reserve(Out.Glyphs.size());
  size_t next = 0;
  for (const auto& [point, r] : at) {
    placed.insert(placed.end(), Out.Glyphs.begin() + static_cast<std::ptrdiff_t>(next),
                  Out.Glyphs.begin() + static_cast<std::ptrdiff_t>(point));
    next = point;
    placed.insert(placed.end(), Out.Glyphs.begin() + static_cast<std::ptrdiff_t>(Runs[r]),
                  Out.Glyphs.begin() + static_cast<std::ptrdiff_t>(Runs[r + 1]));
  }
  placed.insert(placed.end(), Out.Glyphs.begin() + static_cast<std::ptrdiff_t>(next),
                Out.Glyphs.begin() + static_cast<std::ptrdiff_t>(PageEnd));
  Out.Glyphs.swap(placed);
}

double Coord(TLKPDFReader& Reader, const TPDFObject& O, double Default) {
  if (O.IsRef()) return Reader.Resolve(O).AsNumber(Default);
  return O.AsNumber(Default);
}

// Box (a reference allowed) as x0 y0 x1 y1 in V when it has four numbers
// within the coordinate range and spans at least a unit each way.
bool ReadBox(TLKPDFReader& Reader, const TPDFObject& Box, double* V) {
  const TPDFObject b = Box.IsRef() ? Reader.Resolve(Box) : Box;
  if (!b.IsArray() || b.Count() < 4) return false;
  double v[4];
  for (size_t i = 0; i < 4; ++i) {
    v[i] = Coord(Reader, b.Items[i], HUGE_VAL);
    if (!(std::fabs(v[i]) < kMaxCoord)) return false;
  }
  if (std::fabs(v[2] - v[0]) < 1 || std::fabs(v[3] - v[1]) < 1) return false;
  V[0] = std::min(v[0], v[2]), V[1] = std::min(v[1], v[3]), V[2] = std::max(v[0], v[2]), V[3] = std::max(v[1], v[3]);
  return true;
}

}  // namespace

void InterpretPageContent(TLKPDFReader& Reader, std::string_view Content, const TPDFObject& Resources,
                          const TPDFObject& MediaBox, int Rotate, const TPDFTextOptions& Options, TLKPDFPage& Page,
                          TPDFPageGlyphs& Out, const TPDFObject& Annots, const TPDFObject& CropBox) {
  double box[4] = {0, 0, 612, 792};
  ReadBox(Reader, MediaBox, box);
  Page.SetBox(box[0], box[1], box[2], box[3]);
  TContentInterpreter interp(Reader, Options, Out);
  const TMatrix base = DisplayMatrix(box[0], box[1], box[2], box[3], Rotate);
  // What shows of the page: its crop box within its media box (a crop box
  // beside the page is ignored).
  TBox visible = TBox::Of(base, box[0], box[1], box[2], box[3]);
  if (double crop[4]; ReadBox(Reader, CropBox, crop)) {
    TBox cropped = visible;
    cropped.Intersect(TBox::Of(base, crop[0], crop[1], crop[2], crop[3]));
    if (!cropped.Empty()) visible = cropped;
  }
  try {
    interp.Run(Content, Resources, base, visible);
  } catch (const Exception&) {
    // Damaged resources: the glyphs placed so far still make text.
  }
  if (!Options.AnnotationText || Annots.IsNone()) return;
  const size_t pageEnd = Out.Glyphs.size();
  std::vector<size_t> runs;
  try {
    interp.RunAnnotations(Annots, Resources, base, runs);
  } catch (const Exception&) {
  }
  PlaceAnnotationRuns(Out, pageEnd, std::move(runs));
}

void ExtractPageText(TLKPDFReader& Reader, std::string_view Content, const TPDFObject& Resources,
                     const TPDFObject& MediaBox, int Rotate, const TPDFTextOptions& Options, TLKPDFPage& Page,
                     const TPDFObject& Annots, const TPDFObject& CropBox) {
  TPDFPageGlyphs& glyphs = Reader.PageGlyphScratch();
  glyphs.Clear();
  InterpretPageContent(Reader, Content, Resources, MediaBox, Rotate, Options, Page, glyphs, Annots, CropBox);
  LayoutPageText(glyphs, Options, Page);
  // What an unusually large page took is not kept for the next.
  constexpr size_t kKeptGlyphs = size_t{1} << 18;
  if (glyphs.Glyphs.capacity() > kKeptGlyphs) glyphs = TPDFPageGlyphs();
}

TPDFPageGlyphs& TLKPDFReader::PageGlyphScratch() {
  if (!FPageGlyphs) FPageGlyphs = std::make_unique<TPDFPageGlyphs>();
  return *FPageGlyphs;
}

}  // namespace lkw
