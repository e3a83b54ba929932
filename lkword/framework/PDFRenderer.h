// The text shape of page-laid-out documents read line by line (PDF): each
// page opens with what the document's PageBreak puts between pages (an
// empty line and a rule of hyphens by default), then one item a line of the
// page; annotation stories go to a list of their own.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "lkword/framework/TextRenderer.h"

namespace lkw {

// The rule that opens every page, in the items and in a page's plain text.
inline constexpr std::u16string_view kPDFPageRule = u"--------------------";

class TPDFRenderer : public TTextRenderer {
 public:
  // Annotations receives the paragraphs of annotation stories, one item
  // each, cut at the limit on its own. PageTexts, when given, gets one
  // string a page: the page's lines as plain text, each ending with LF
  // (no separator, no annotations).
  TPDFRenderer(TMSWBaseDocument& Doc, TTextPath& Path, TWideStrings& Annotations,
               std::vector<WideString>* PageTexts = nullptr);

  // The frame's last item is an ordinary counted item, never held for the
  // host.
  void EndDocument() override;
  void BeginStory(TStoryKind Kind) override;
  bool KeepsApart(TStoryKind Kind) const override { return Kind == TStoryKind::Annotation; }
  void EndStory(TStoryKind Kind) override;
  // The page's opening lines go out before its first line (or at its end),
  // so that what the page tells first in other stories keeps its place
  // before them; a page without lines gets one empty line.
  void BeginPage(int Number) override;
  void EndPage(int Number) override;
  // A paragraph is one line: plain as is, RTF ending in \par, HTML in <br>.
  // OnConvertSysChar is not called.
  void BeginParagraph(const TParagraph& P) override;
  void EndParagraph() override;
  // Each line of a paragraph is a line of the text.
  void LineBreak() override { EndParagraph(); }
  void Text(std::u16string_view Run, const TRunStyle& Style) override;

 private:
  void AddLine(std::u16string_view Line);
  void OpenPage();
  void EndLine();

  TWideStrings& FAnnotations;
  std::vector<WideString>* FPageTexts;
  const TMSTextFormating FFormat;
  const TLKWPageBreak FPageBreak;
  int FPagesOpened = 0;
  bool FFormFeedDue = false;  // the next line of the page starts with one
  std::optional<TTextPath::TRedirect> FRedirect;
  bool FInAnnotation = false;
  bool FOpeningDue = false;  // the page's opening lines are not out yet
  bool FPageHasLines = false;
  WideString FLine;  // the line being built
  WideString FRaw;   // the same line unescaped, for the page's text
};

}  // namespace lkw
