// PDF pages as the text layer sees them: positioned text items and the
// page's text lines, and the extraction of one page's content.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "lkword/pdf/LKWPDFSyntax.h"
#include "lkword/platform/Object.h"
#include "lkword/platform/Types.h"

namespace lkw {

class TLKPDFReader;

// Tolerances (page units) of the item grouping; the layout may derive its
// own from the font size.
constexpr double PDFColumnTolerance = 15;
constexpr double PDFLineTolerance = 5;

enum TLKPDFItemType { itUnknown, itText, itImage, itLine };

class TLKPDFItem : public TObject {
 public:
  TLKPDFItemType ItemType() const { return FItemType; }
  void SetItemType(TLKPDFItemType Value) { FItemType = Value; }
  const std::string& FontName() const { return FFontName; }
  void SetFontName(const std::string& Value) { FFontName = Value; }
  int32_t FontSize() const { return FFontSize; }
  void SetFontSize(int32_t Value) { FFontSize = Value; }
  // Position in page units, Top measured downward from the page's top.
  double Left() const { return FLeft; }
  void SetLeft(double Value) { FLeft = Value; }
  double Top() const { return FTop; }
  void SetTop(double Value) { FTop = Value; }
  std::string ClassName() const override { return "TLKPDFItem"; }

 protected:
  TLKPDFItemType FItemType = itUnknown;
  std::string FFontName;
  int32_t FFontSize = 0;
  double FLeft = 0, FTop = 0;
};

class TLKPDFItemText : public TLKPDFItem {
 public:
  TLKPDFItemText() { FItemType = itText; }
  const WideString& Text() const { return FText; }
  void SetText(const WideString& Value) { FText = Value; }
  // The item continues the text object of the item before it, so no blank
  // separates them.
  bool IsContinueBlock() const { return FIsContinueBlock; }
  void SetIsContinueBlock(bool Value) { FIsContinueBlock = Value; }
  std::string ClassName() const override { return "TLKPDFItemText"; }

 private:
  WideString FText;
  bool FIsContinueBlock = false;
};

class TLKPDFItems : public TObject {
 public:
  int Count() const { return static_cast<int>(FItems.size()); }
  TLKPDFItem* GetItem(int Index) const;
  // A TLKPDFItemText for itText, else a TLKPDFItem.
  TLKPDFItem* AddItem(TLKPDFItemType ItemType);
  // Reading order by position: top to bottom, left to right within a line.
  void SortItems();
  void Clear() { FItems.clear(); }
  std::string ClassName() const override { return "TLKPDFItems"; }

 private:
  std::vector<std::unique_ptr<TLKPDFItem>> FItems;
};

class TLKPDFPage : public TObject {
 public:
  TLKPDFPage();
  ~TLKPDFPage() override;
  int32_t ObjNumber() const { return FObjNumber; }
  void SetObjNumber(int32_t Value) { FObjNumber = Value; }
  // The media box's four numbers in their order (Width and Height hold the
  // upper-right corner).
  double Left() const { return FLeft; }
  double Top() const { return FTop; }
  double Width() const { return FWidth; }
  double Height() const { return FHeight; }
  void SetBox(double ALeft, double ATop, double AWidth, double AHeight) {
    FLeft = ALeft, FTop = ATop, FWidth = AWidth, FHeight = AHeight;
  }
  TLKPDFItems& Items() { return *FItems; }
  const TLKPDFItems& Items() const { return *FItems; }
  // The page's text in reading order, one entry per line.
  std::vector<WideString>& Lines() { return FLines; }
  const std::vector<WideString>& Lines() const { return FLines; }
  // The lines joined with CR LF.
  WideString GetPlainText() const;
  std::string ClassName() const override { return "TLKPDFPage"; }

 private:
  int32_t FObjNumber = 0;
  double FLeft = 0, FTop = 0, FWidth = 1224, FHeight = 792;
  std::unique_ptr<TLKPDFItems> FItems;
  std::vector<WideString> FLines;
};

class TLKPDFPages : public TObject {
 public:
  explicit TLKPDFPages(TLKPDFReader* AOwner = nullptr) : FPDFReader(AOwner) {}
  TLKPDFReader* PDFReader() const { return FPDFReader; }
  int Count() const { return static_cast<int>(FItems.size()); }
  TLKPDFPage* GetPage(int Index) const;
  TLKPDFPage* AddPage();
  void Clear() { FItems.clear(); }
  // Each page behind a separator line (CR LF, 20 hyphens, CR LF).
  WideString GetPlainText() const;
  std::string ClassName() const override { return "TLKPDFPages"; }

 private:
  TLKPDFReader* FPDFReader;
  std::vector<std::unique_ptr<TLKPDFPage>> FItems;
};

// Annotations read per page, for their text and their comments (form pages
// have hundreds at most).
inline constexpr size_t kPDFMaxAnnotations = 4096;

// How page text is put together.
struct TPDFTextOptions {
  bool Dehyphenate = true;
  // Form XObjects entered inside one another.
  int MaxXObjectDepth = 12;
  // Operators interpreted per page (a guard against endless content).
  int64_t MaxOperators = 50'000'000;
  // The text that annotations show (filled form fields, text boxes added
  // in a viewer, stamps), as a viewer draws their appearances.
  bool AnnotationText = true;
};

// The text of one page: interprets Content (the page's content streams,
// joined) with Resources (the page's resource dictionary, inherited entries
// already merged; references allowed), places the glyphs with the page's
// MediaBox ([x0 y0 x1 y1]) and Rotate (a multiple of 90), and fills Page's
// items and lines. Fonts come from the reader's font list. Annots is the
// page's annotation array (or a reference to it; none: okNone). Only what
// shows is read: text outside the page's CropBox (none: the media box),
// the clip, a form's box or an annotation's rectangle is left out. Never
// raises for damaged content: text as far as it goes.
void ExtractPageText(TLKPDFReader& Reader, std::string_view Content, const TPDFObject& Resources,
                     const TPDFObject& MediaBox, int Rotate, const TPDFTextOptions& Options, TLKPDFPage& Page,
                     const TPDFObject& Annots = TPDFObject(), const TPDFObject& CropBox = TPDFObject());

}  // namespace lkw
