// The page walk: each page's inherited attributes and contents handed to the
// content layer, its lines told to the output as soon as they are known.
#include "lkword/pdf/LKWPDF.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <unordered_set>

#include "lkword/framework/PDFRenderer.h"
#include "lkword/platform/Exceptions.h"

namespace lkw {

namespace {

// Page-tree levels climbed for inherited attributes; real trees are a few
// levels deep, a longer /Parent chain is damage.
constexpr int kMaxParentDepth = 64;

// A multiple of 90 in [0, 360): other angles are not valid page rotations and
// are rounded down, as viewers do.
int NormalizeRotate(int64_t Value) {
  int64_t r = Value % 360;
  if (r < 0) r += 360;
  return static_cast<int>(r - r % 90);
}

// The box when it holds four finite numbers that span an area.
bool UsableBox(const TPDFObject& Box) {
  if (!Box.IsArray() || Box.Count() < 4) return false;
  double v[4];
  for (int i = 0; i < 4; ++i) {
    if (!Box.Items[static_cast<size_t>(i)].IsNumber()) return false;
    v[i] = Box.Items[static_cast<size_t>(i)].AsNumber();
    if (!std::isfinite(v[i])) return false;
  }
  return v[0] != v[2] && v[1] != v[3];
}

}  // namespace

TLKPDFPage* TLKPDFPages::GetPage(int Index) const {
  if (Index < 0 || Index >= Count()) return nullptr;
  return FItems[static_cast<size_t>(Index)].get();
}

TLKPDFPage* TLKPDFPages::AddPage() {
  FItems.push_back(std::make_unique<TLKPDFPage>());
  return FItems.back().get();
}

WideString TLKPDFPages::GetPlainText() const {
  WideString out;
  for (const auto& page : FItems) {
    out += u"\r\n";
    out += kPDFPageRule;
    out += u"\r\n";
    out += page->GetPlainText();
  }
  return out;
}

void TLKPDFReader::ProcessPages(TStream&, const RawByteString&) {
  const std::vector<int32_t> pages = GetPageObjects();
  FInherited.clear();
  FPageCount = static_cast<int32_t>(pages.size());
  bool anyText = false;
  size_t lostPages = 0;  // pages whose content was lost: no sign of scanning
  TDocumentOutput& out = Output();
  // Only the range's pages are read: its first page of a long file costs
  // about one page.
  const size_t begin = static_cast<size_t>(std::max(FirstPage(), 1) - 1);
  const size_t end = LastPage() > 0 ? std::min(pages.size(), static_cast<size_t>(LastPage())) : pages.size();
  for (size_t i = begin; i < end && !out.Cancelled(); ++i) {
    TLKPDFPage* page = FPages->AddPage();
    page->SetObjNumber(pages[i]);
    const int number = static_cast<int>(i) + 1;
    // The page's annotations are told while it is read, before its lines.
    out.BeginPage(number);
    const int32_t lostBefore = FContentLost;
    bool failed = false;
    try {
      ProcessPage(pages[i], *page);
    } catch (const EPDFPasswordError&) {
      throw;  // every further page would fail alike: the document is unreadable
    } catch (const EPDFEncryptionError&) {
      throw;
    } catch (const ELimitError&) {
      throw;
    } catch (const std::bad_alloc&) {
      throw;
    } catch (const std::exception& e) {
      MarkPartial(Format("page %d could not be read: %s", {std::to_string(i + 1), e.what()}));
      failed = true;
    }
    if (failed || FContentLost != lostBefore) ++lostPages;
    if (!anyText)
      for (const WideString& line : page->Lines())
        if (line.find_first_not_of(u" \t") != WideString::npos) anyText = true;
    OutputPageLines(*page);
    out.EndPage(number);
    if (!FKeepPageItems) {
      page->Items().Clear();
      if (TextPath().Sinking()) page->Lines() = {};
    }
  }
  FInherited.clear();
  // Pages that draw glyphs do have a text layer, even when none of it could
  // be mapped to Unicode: then that is what the user is told. Pages whose
  // content was lost have said so already.
  const int64_t unmapped = UnmappedGlyphs(), fontless = FontlessStrings();
  if (begin + lostPages < end && !anyText && unmapped == 0 && fontless == 0)
    AddWarning("no text layer: scanned pages?");
  if (unmapped > 0)
    AddWarning(Format("%d glyphs have no known Unicode mapping and were left out", {std::to_string(unmapped)}));
  if (fontless > 0)
    AddWarning(Format("text shown without a font was left out (%d strings)", {std::to_string(fontless)}));
}

namespace {

// Takes the inheritable entries of Node that Into still lacks.
template <typename TAttrs, typename TResolve>
void TakeAttributes(const TPDFObject& Node, TAttrs& Into, TResolve&& Resolve) {
  if (const TPDFObject* r = Into.HasResources ? nullptr : Node.Get("Resources")) {
    Into.Resources = *r;
    Into.HasResources = true;
  }
  if (const TPDFObject* b = Into.HasMediaBox ? nullptr : Node.Get("MediaBox")) {
    TPDFObject box = Resolve(*b);
    if (UsableBox(box)) {
      Into.MediaBox = std::move(box);
      Into.HasMediaBox = true;
    }
  }
  if (const TPDFObject* b = Into.HasCropBox ? nullptr : Node.Get("CropBox")) {
    TPDFObject box = Resolve(*b);
    if (UsableBox(box)) {
      Into.CropBox = std::move(box);
      Into.HasCropBox = true;
    }
  }
  if (const TPDFObject* r = Into.HasRotate ? nullptr : Node.Get("Rotate")) {
    const TPDFObject value = Resolve(*r);
    if (value.IsNumber()) {
      Into.Rotate = NormalizeRotate(value.AsInt());
      Into.HasRotate = true;
    }
  }
}

}  // namespace

const TLKPDFReader::TInheritedAttributes& TLKPDFReader::InheritedAttributes(int32_t NodeNum) {
  if (auto it = FInherited.find(NodeNum); it != FInherited.end()) return it->second;
  // The chain up to the root or to a node already known, each node once.
  std::vector<std::pair<int32_t, TPDFObject>> chain;
  std::unordered_set<int32_t> seen;
  const TInheritedAttributes* known = nullptr;
  for (int32_t num = NodeNum; chain.size() < static_cast<size_t>(kMaxParentDepth) && seen.insert(num).second;) {
    if (auto it = FInherited.find(num); it != FInherited.end()) {
      known = &it->second;
      break;
    }
    TPDFObject node;
    if (!GetObject(num, node) || !node.IsDict()) break;
    const TPDFObject* parent = node.Get("Parent");
    const int32_t next = parent && parent->IsRef() ? parent->RefNum : -1;
    chain.emplace_back(num, std::move(node));
    if (next < 0) break;
    num = next;
  }
  // Filled from the top down: a node's own entries, then what its parent passes on.
  TInheritedAttributes above = known ? *known : TInheritedAttributes();
  const auto resolve = [this](const TPDFObject& O) { return Resolve(O); };
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    TInheritedAttributes mine;
    TakeAttributes(it->second, mine, resolve);
    if (!mine.HasResources && above.HasResources) mine.Resources = above.Resources, mine.HasResources = true;
    if (!mine.HasMediaBox && above.HasMediaBox) mine.MediaBox = above.MediaBox, mine.HasMediaBox = true;
    if (!mine.HasCropBox && above.HasCropBox) mine.CropBox = above.CropBox, mine.HasCropBox = true;
    if (!mine.HasRotate && above.HasRotate) mine.Rotate = above.Rotate, mine.HasRotate = true;
    above = FInherited.emplace(it->first, std::move(mine)).first->second;
  }
  return FInherited.emplace(NodeNum, std::move(above)).first->second;
}

void TLKPDFReader::ProcessPage(int32_t ObjNum, TLKPDFPage& Page) {
  TPDFObject node;
  int32_t gen = 0;
  if (!GetObject(ObjNum, node, &gen) || !node.IsDict()) return;
  // Resources, MediaBox, CropBox and Rotate come from the nearest page-tree
  // node that has them.
  TInheritedAttributes attrs;
  TakeAttributes(node, attrs, [this](const TPDFObject& O) { return Resolve(O); });
  const TPDFObject* parent = node.Get("Parent");
  if ((!attrs.HasResources || !attrs.HasMediaBox || !attrs.HasCropBox || !attrs.HasRotate) && parent &&
      parent->IsRef() && parent->RefNum != ObjNum) {
    const TInheritedAttributes& up = InheritedAttributes(parent->RefNum);
    if (!attrs.HasResources) attrs.Resources = up.Resources;
    if (!attrs.HasMediaBox) attrs.MediaBox = up.MediaBox, attrs.HasMediaBox = up.HasMediaBox;
    if (!attrs.HasCropBox) attrs.CropBox = up.CropBox, attrs.HasCropBox = up.HasCropBox;
    if (!attrs.HasRotate) attrs.Rotate = up.Rotate;
  }
  if (attrs.HasMediaBox)
    Page.SetBox(attrs.MediaBox.Items[0].AsNumber(), attrs.MediaBox.Items[1].AsNumber(),
                attrs.MediaBox.Items[2].AsNumber(), attrs.MediaBox.Items[3].AsNumber());
  // The content lives only while the page is interpreted.
  const RawByteString content = GetPageContents(ObjNum);
  const TPDFObject* annots = node.Get("Annots");
  ExtractPageText(*this, content, attrs.Resources, attrs.MediaBox, attrs.Rotate, FTextOptions, Page,
                  annots ? *annots : TPDFObject(), attrs.CropBox);
  if (annots) ReadAnnotationComments(*annots, ObjNum, gen);
}

namespace {

// Closes the annotation story on every way out of the list.
class TAnnotationStory {
 public:
  explicit TAnnotationStory(TDocumentOutput& Out) : FOut(Out) {}
  ~TAnnotationStory() {
    if (FOpen) FOut.EndStory(TStoryKind::Annotation);
  }
  TAnnotationStory(const TAnnotationStory&) = delete;
  TAnnotationStory& operator=(const TAnnotationStory&) = delete;
  void Comment(std::u16string_view Text) {
    if (!FOpen) FOut.BeginStory(TStoryKind::Annotation);
    FOpen = true;
    FOut.BeginParagraph(TParagraph());
    FOut.Text(Text);
    FOut.EndParagraph();
  }

 private:
  TDocumentOutput& FOut;
  bool FOpen = false;
};

}  // namespace

void TLKPDFReader::ReadAnnotationComments(const TPDFObject& Annots, int32_t PageNum, int32_t PageGen) {
  TDocumentOutput& out = Output();
  TAnnotationStory story(out);
  try {
    const TPDFObject list = Resolve(Annots);
    // A direct annotation's strings are encrypted with the object that holds
    // it: the annotation list when that is one of its own, else the page.
    const int32_t listNum = Annots.IsRef() ? Annots.RefNum : PageNum;
    const int32_t listGen = Annots.IsRef() ? Annots.RefGen : PageGen;
    if (!list.IsArray()) return;
    for (size_t i = 0; i < list.Count() && i < kPDFMaxAnnotations && !out.Cancelled(); ++i) {
      const TPDFObject& item = list.Items[i];
      const TPDFObject annot = Resolve(item);
      const TPDFObject* subtype = annot.IsDict() ? annot.Get("Subtype") : nullptr;
      if (!subtype || !subtype->IsName() || subtype->IsName("Link") || subtype->IsName("Widget") ||
          subtype->IsName("Popup") || subtype->IsName("FreeText"))
        continue;
      WideString comment;
      if (!GetInfoString("Contents", annot, item.IsRef() ? item.RefNum : listNum, item.IsRef() ? item.RefGen : listGen,
                         comment) ||
          comment.find_first_not_of(u" \t\r\n") == WideString::npos)
        continue;
      story.Comment(comment);
    }
  } catch (const Exception&) {
    // A damaged annotation list costs only the comments.
  }
}

std::unique_ptr<TTextRenderer> TLKPDFReader::CreateRenderer() {
  return std::make_unique<TPDFRenderer>(*this, RendererPath(), FAnnotationText, FKeepPageTexts ? &FPageTexts : nullptr);
}

void TLKPDFReader::OutputPageLines(const TLKPDFPage& Page) {
  TDocumentOutput& out = Output();
  // The layout's blocks are paragraphs, and their lines end softly; an
  // empty line stands between blocks.
  static const TParagraph kBlock;
  bool open = false;
  for (const WideString& line : Page.Lines()) {
    if (out.Cancelled()) break;
    if (line.empty()) {
      if (open) out.EndParagraph();
      open = false;
      out.BeginParagraph(kBlock);
      out.EndParagraph();
      continue;
    }
    if (open)
      out.SoftBreak();
    else
      out.BeginParagraph(kBlock);
    open = true;
    out.Text(line);
  }
  if (open) out.EndParagraph();
}

}  // namespace lkw
