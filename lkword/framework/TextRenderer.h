// Renderers turn a reader's document events into the items of its text in
// plain text, RTF or HTML. The base renders the shape most readers share:
// the frame as the first and last item, one item a paragraph. Readers whose
// output has a shape of its own have a renderer derived from it.
#pragma once

#include <string_view>

#include "lkword/framework/DocumentEvents.h"
#include "lkword/framework/MSWBase.h"
#include "lkword/framework/TextPath.h"

namespace lkw {

class TTextRenderer : public TDocumentEvents {
 public:
  TTextRenderer(TMSWBaseDocument& Doc, TTextPath& Path);
  ~TTextRenderer() override;

  // The frame: GetTextStart as the first item and GetTextFinish as the
  // last, counted against the limit, even when empty.
  void BeginDocument() override;
  void EndDocument() override;
  // An empty item at a section's end (the host may fill it through
  // OnConvertSysChar with scParagraphEnd).
  void EndSection() override;
  // Each paragraph one item: plain text as is, RTF ending in \par, HTML in
  // a <p>, <pre> or <hN> element. The host sees the paragraph's plain text
  // through OnConvertSysChar with scUnknown (its result is not used).
  void BeginParagraph(const TParagraph& P) override;
  void EndParagraph() override;
  void Text(std::u16string_view Run, const TRunStyle& Style) override;
  void Tab() override;
  // Inside a paragraph it joins the paragraph's lines; outside it is an
  // empty line of its own.
  void LineBreak() override;

  // Whether the story's text goes to a list of its own rather than into the
  // main text.
  virtual bool KeepsApart(TStoryKind) const { return false; }

 protected:
  TMSWBaseDocument& Doc() { return FDoc; }
  TTextPath& Path() { return FPath; }
  TMSTextFormating Format() const { return FDoc.ReaderFormating(); }
  bool Plain() const { return Format() == tfPlainText; }
  bool Rtf() const { return Format() == tfRTF; }
  bool Html() const { return Format() == tfHTML; }
  // Appends document text escaped for the output format.
  void AppendEscaped(WideString& Out, std::u16string_view Text) const { lkw::AppendEscaped(Out, Text, Format()); }
  // A list item's or a numbered heading's label as the page shows it ("1.",
  // "a)", "2.3.1", a bullet), and the space that parts it from the text: the
  // same in every reader and every format. Nothing for other paragraphs.
  static bool HasLabel(const TParagraph& P) {
    return !P.Label.empty() && (P.Kind == TParagraphKind::ListItem || P.Kind == TParagraphKind::Heading);
  }
  void AppendLabel(WideString& Out, const TParagraph& P) const {
    if (!HasLabel(P)) return;
    AppendEscaped(Out, P.Label);
    Out += u' ';
  }
  // How a tracked change shows where changes are shown: '-' or '+' before
  // its text, or HTML's struck-out or underlined text.
  std::u16string_view RevisionStart(TRevisionKind Kind) const {
    const bool deleted = Kind == TRevisionKind::Deleted;
    return Html() ? (deleted ? u"<s>" : u"<u>") : (deleted ? u"-" : u"+");
  }
  std::u16string_view RevisionEnd(TRevisionKind Kind) const {
    if (!Html()) return {};
    return Kind == TRevisionKind::Deleted ? u"</s>" : u"</u>";
  }
  // Calls the host's OnConvertSysChar, if any, with Result as its in-out
  // text; false when there is no host handler.
  bool ConvertSysChar(TLKWordSysChar SysChar, const WideString& Value, WideString& Result);

 private:
  TMSWBaseDocument& FDoc;
  TTextPath& FPath;
  bool FInParagraph = false;
  TParagraph FParagraph;
  WideString FLine;
  WideString FPlain;  // the paragraph's text, for the host
};

}  // namespace lkw
