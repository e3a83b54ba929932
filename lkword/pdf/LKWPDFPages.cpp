// The page walk: each page's inherited attributes and contents handed to the
// content layer, its text added to the output as soon as it is known.
#include "lkword/pdf/LKWPDF.h"

#include <cmath>
#include <new>
#include <unordered_set>

#include "lkword/platform/Exceptions.h"

namespace lkw {

namespace {

constexpr std::u16string_view kPageSeparator = u"--------------------";
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
    out += kPageSeparator;
    out += u"\r\n";
    out += page->GetPlainText();
  }
  return out;
}

void TLKPDFReader::ProcessPages(TStream&, const RawByteString&) {
  const std::vector<int32_t> pages = GetPageObjects();
  FPageCount = static_cast<int32_t>(pages.size());
  bool anyText = false;
  for (size_t i = 0; i < pages.size() && !IsCancelExtract; ++i) {
    TLKPDFPage* page = FPages->AddPage();
    page->SetObjNumber(pages[i]);
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
      AddWarning(Format("page %d could not be read: %s", {std::to_string(i + 1), e.what()}));
    }
    if (!anyText)
      for (const WideString& line : page->Lines())
        if (line.find_first_not_of(u" \t") != WideString::npos) anyText = true;
    AddPageText(*page);
    if (!FKeepPageItems) {
      page->Items().Clear();
      if (FTextSink) page->Lines() = {};
    }
  }
  if (FPageCount > 0 && !anyText) AddWarning("no text layer: scanned pages?");
  if (const int64_t unmapped = UnmappedGlyphs(); unmapped > 0)
    AddWarning(Format("%d glyphs have no known Unicode mapping and were left out", {std::to_string(unmapped)}));
}

void TLKPDFReader::ProcessPage(int32_t ObjNum, TLKPDFPage& Page) {
  TPDFObject node;
  if (!GetObject(ObjNum, node) || !node.IsDict()) return;
  // Resources, MediaBox and Rotate are inherited from the nearest page-tree
  // node that has them.
  TPDFObject resources, mediaBox;
  int rotate = 0;
  bool haveRes = false, haveBox = false, haveRotate = false;
  std::unordered_set<int32_t> seen{ObjNum};
  for (int depth = 0; depth < kMaxParentDepth; ++depth) {
    if (const TPDFObject* r = haveRes ? nullptr : node.Get("Resources")) {
      resources = *r;
      haveRes = true;
    }
    if (const TPDFObject* b = haveBox ? nullptr : node.Get("MediaBox")) {
      TPDFObject box = Resolve(*b);
      if (UsableBox(box)) {
        mediaBox = std::move(box);
        haveBox = true;
      }
    }
    if (const TPDFObject* r = haveRotate ? nullptr : node.Get("Rotate")) {
      const TPDFObject value = Resolve(*r);
      if (value.IsNumber()) {
        rotate = NormalizeRotate(value.AsInt());
        haveRotate = true;
      }
    }
    if (haveRes && haveBox && haveRotate) break;
    const TPDFObject* parent = node.Get("Parent");
    if (!parent || !parent->IsRef() || !seen.insert(parent->RefNum).second) break;
    TPDFObject next;
    if (!GetObject(parent->RefNum, next) || !next.IsDict()) break;
    node = std::move(next);
  }
  if (haveBox)
    Page.SetBox(mediaBox.Items[0].AsNumber(), mediaBox.Items[1].AsNumber(), mediaBox.Items[2].AsNumber(),
                mediaBox.Items[3].AsNumber());
  // The content lives only while the page is interpreted.
  const RawByteString content = GetPageContents(ObjNum);
  ExtractPageText(*this, content, resources, mediaBox, rotate, FTextOptions, Page);
}

void TLKPDFReader::AddPageText(const TLKPDFPage& Page) {
  auto addLine = [this](std::u16string_view Line) {
    if (FTextFormating == tfPlainText) {
      AddText(WideString(Line));
      return;
    }
    WideString rendered;
    rendered.reserve(Line.size() + 8);
    AppendEscaped(rendered, Line, FTextFormating);
    rendered += FTextFormating == tfRTF ? std::u16string_view(u"\\par") : std::u16string_view(u"<br>");
    AddText(rendered);
  };
  addLine(u"");
  addLine(kPageSeparator);
  if (Page.Lines().empty()) addLine(u"");
  for (const WideString& line : Page.Lines()) {
    if (IsCancelExtract) break;
    addLine(line);
  }
}

}  // namespace lkw
