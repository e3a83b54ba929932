// A document-event consumer that writes each event down as a short line, so
// that a test can state the structure a reader reports.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "lkword/framework/DocumentEvents.h"
#include "lkword/platform/CodePages.h"

namespace lkw::testing {

class TEventRecorder : public TDocumentEvents {
 public:
  // One line an event: "<p>", "<h2>", "<li 1 '1.'>", "</p>", "text 'abc'"
  // (with " b", " i", " u", " hidden" for the run's attributes), "br", "tab",
  // "<table>", "<tr>", "<td>", "<page 1>", "page-break", "<story footnote>",
  // "<section>", "<a 'target'>", "img 'src'", "rolled-back", "<ins>", "<del>", ...
  std::vector<std::string> Lines;
  // Adjacent text runs of the same attributes joined into one line.
  bool JoinText = true;

  // The lines from the first one equal to From (or all), as one string
  // joined by "|", for short expectations.
  std::string Joined(std::string_view From = {}) const {
    std::string out;
    bool on = From.empty();
    for (const std::string& l : Lines) {
      if (!on && l == From) on = true;
      if (!on) continue;
      if (!out.empty()) out += '|';
      out += l;
    }
    return out;
  }

  void BeginDocument() override { Add("<doc>"); }
  void EndDocument() override { Add("</doc>"); }
  void BeginStory(TStoryKind K) override { Add("<story " + Name(K) + ">"); }
  void EndStory(TStoryKind K) override { Add("</story " + Name(K) + ">"); }
  void BeginSection() override { Add("<section>"); }
  void EndSection() override { Add("</section>"); }
  void BeginParagraph(const TParagraph& P) override {
    std::string s;
    switch (P.Kind) {
      case TParagraphKind::Body: s = "<p"; break;
      case TParagraphKind::Title: s = "<title"; break;
      case TParagraphKind::Heading: s = "<h" + std::to_string(P.Level); break;
      case TParagraphKind::ListItem: s = "<li " + std::to_string(P.Level); break;
      case TParagraphKind::Preformatted: s = "<pre"; break;
    }
    if (!P.Label.empty()) s += " '" + WideToUtf8(P.Label) + "'";
    Add(s + ">");
  }
  void EndParagraph() override { Add("</p>"); }
  void Text(std::u16string_view Run, const TRunStyle& S) override {
    std::string attrs;
    if (S.Bold) attrs += " b";
    if (S.Italic) attrs += " i";
    if (S.Underline) attrs += " u";
    if (S.Hidden) attrs += " hidden";
    const std::string text = WideToUtf8(WideString(Run));
    if (JoinText && FLastText && FLastAttrs == attrs) {
      FRun += text;
      Lines.back() = "text '" + FRun + "'" + attrs;
      return;
    }
    FRun = text;
    FLastAttrs = attrs;
    Lines.push_back("text '" + FRun + "'" + attrs);
    FLastText = true;
  }
  void LineBreak() override { Add("br"); }
  void Tab() override { Add("tab"); }
  void BeginLink(std::u16string_view T) override { Add("<a '" + WideToUtf8(WideString(T)) + "'>"); }
  void EndLink() override { Add("</a>"); }
  void Image(std::u16string_view S) override { Add("img '" + WideToUtf8(WideString(S)) + "'"); }
  void BeginTable() override { Add("<table>"); }
  void EndTable() override { Add("</table>"); }
  void BeginRow() override { Add("<tr>"); }
  void EndRow() override { Add("</tr>"); }
  void BeginCell() override { Add("<td>"); }
  void EndCell() override { Add("</td>"); }
  void BeginPage(int N) override { Add("<page " + std::to_string(N) + ">"); }
  void EndPage(int N) override { Add("</page " + std::to_string(N) + ">"); }
  void PageBreak() override { Add("page-break"); }
  void RolledBack() override { Add("rolled-back"); }
  void BeginRevision(TRevisionKind K) override { Add(K == TRevisionKind::Inserted ? "<ins>" : "<del>"); }
  void EndRevision(TRevisionKind K) override { Add(K == TRevisionKind::Inserted ? "</ins>" : "</del>"); }

 private:
  static std::string Name(TStoryKind K) {
    switch (K) {
      case TStoryKind::Main: return "main";
      case TStoryKind::Footnote: return "footnote";
      case TStoryKind::Endnote: return "endnote";
      case TStoryKind::Header: return "header";
      case TStoryKind::Footer: return "footer";
      case TStoryKind::Comment: return "comment";
      case TStoryKind::TextBox: return "textbox";
      case TStoryKind::Annotation: return "annotation";
    }
    return "?";
  }
  void Add(std::string L) {
    FLastText = false;
    Lines.push_back(std::move(L));
  }

  bool FLastText = false;
  std::string FLastAttrs;
  std::string FRun;
};

}  // namespace lkw::testing
