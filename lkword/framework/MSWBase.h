// The base reader component, its output list and the output framing.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "lkword/framework/DocumentEvents.h"
#include "lkword/framework/DocumentOutput.h"
#include "lkword/framework/MSW_Sum.h"
#include "lkword/framework/TextPath.h"
#include "lkword/platform/Object.h"
#include "lkword/platform/Streams.h"
#include "lkword/platform/Types.h"

namespace lkw {

// The warning of a text cut at MaxTextLength.
inline constexpr const char* kOutputCutWarning = "output cut at the maximum text length";

// An owning list of UTF-16 lines.
class TWideStrings : public TObject {
 public:
  TWideStrings() = default;
  ~TWideStrings() override = default;

  int Count() const { return static_cast<int>(FWideStringList.size()); }
  // The item at Index; empty when Index is out of range.
  WideString Get(int Index) const;
  const WideString& operator[](int Index) const { return FWideStringList.at(static_cast<size_t>(Index)); }
  // Inserts S before Index (it does not replace the item there).
  void Put(int Index, const WideString& S) { Insert(Index, S); }
  int Add(WideString S);
  // 0 <= Index <= Count; otherwise "WideStrings index out of bounds".
  void Insert(int Index, WideString S);
  // 0 <= Index < Count; otherwise "WideStrings index out of bounds".
  void Delete(int Index);
  void Clear();
  int IndexOf(const WideString& S) const;
  int IndexOfIgnoreCase(const WideString& S) const;

  // Every item followed by CR LF.
  WideString Text() const { return GetTextStr(); }
  WideString WideText() const { return GetTextStr(); }
  // Items joined by LF, UTF-8 (convenience for C++ callers).
  std::string ToUtf8() const;
  // Total code units of the joined text (items + CR LF each), kept up to date.
  int64_t TextLength() const { return FTextLength; }

  bool SaveUnicode() const { return FSaveUnicode; }
  void SetSaveUnicode(bool Value) { FSaveUnicode = Value; }
  // Unicode: FF FE then UTF-16LE; otherwise the text in the ANSI code page.
  void SaveToStream(TStream& Stream) const;
  void SaveToFile(const std::string& FileName) const;

  // Cuts the last item so that TextLength does not exceed MaxLen (items
  // beyond it are dropped).
  void TruncateTo(int64_t MaxLen);

  const std::vector<WideString>& Items() const { return FWideStringList; }
  std::string ClassName() const override { return "TWideStrings"; }

 protected:
  virtual WideString GetTextStr() const;

 private:
  std::vector<WideString> FWideStringList;
  bool FSaveUnicode = true;
  int64_t FTextLength = 0;
};

// Locale-independent, case-insensitive comparison; 0 means equal.
int WideCompareText(const WideString& S1, const WideString& S2);

// tfMarkdown: CommonMark with pipe tables, rendered from the document's
// events for every reader; the readers' own renderers then work as for plain
// text, for the lists they keep apart (notes, headers).
enum TMSTextFormating { tfPlainText, tfRTF, tfHTML, tfMarkdown };
// Whether items end in LF alone, as plain text's do.
inline bool EndsLinesWithLF(TMSTextFormating Format) { return Format == tfPlainText || Format == tfMarkdown; }

// What plain text puts between the pages of paged formats (PDF): an empty
// line and a rule of hyphens before every page, a form feed before every
// page after the first (starting its first line), or nothing.
enum TLKWPageBreak { pbRule, pbFormFeed, pbNone };

// wpiRevisions: tracked changes in plain text are marked and deleted text
// kept, as the formatted outputs always show them; without it plain text
// reads as the document does with its changes accepted.
enum TLKWParseItem { wpiText, wpiVBA, wpiPictures, wpiSummaryInformation, wpiHiddenText, wpiRevisions };
using TLKWParseItems = TSet<TLKWParseItem>;

enum TLKWordSysChar {
  scUnknown, scRowEnd, scColumnEnd, scParagraphEnd, scFieldBegin, scFieldMiddle, scFieldEnd,
  scTime, scDateTimePicture, scHyperlink, scTOC, scTOC_From_Range, scPage, scNumPages, scEmbed,
  scEditTime, scSpeicherdat, scDateIName, scTextField, scFieldAttributes, scIncludePicture,
  scEndOfPage
};

class TMSWBaseDocument;
class TTextRenderer;
using TNotifyEvent = std::function<void(TObject* Sender)>;
using TMSWTextChange = std::function<void(TObject* Sender, WideString& AText)>;
using TMSWordConvertSysCharEvent =
    std::function<void(TObject* Sender, TLKWordSysChar SysChar, const WideString& Value, WideString& Result)>;

// Escapes document text for the output format: HTML & < > " ; RTF \ { } and
// characters above 0x7F as \uN? ; plain text unchanged. Plain text and
// Markdown leave soft hyphens out, so that a word stays whole for a search;
// RTF and HTML keep them.
WideString EscapeText(const WideString& AText, TMSTextFormating Format);
void AppendEscapedMarkup(WideString& Out, std::u16string_view AText, TMSTextFormating Format);
inline void AppendEscaped(WideString& Out, std::u16string_view AText, TMSTextFormating Format) {
  if (Format == tfPlainText && AText.find(kSoftHyphenChar) == std::u16string_view::npos)
    Out.append(AText);
  else
    AppendEscapedMarkup(Out, AText, Format);
}

// Point size to HTML <font size> text; "-1" when no size is written.
WideString GetHTMLFontSize(int Size);
// "yr2015\mo3\dy7\hr9\min5" (hour and minute only when the time is not 0).
WideString FormatRTFDateTime(TDateTime DT);

class TMSWBaseDocument : public TComponent {
 public:
  explicit TMSWBaseDocument(TComponent* AOwner = nullptr);
  ~TMSWBaseDocument() override;

  virtual void ClearInternalLists();
  // Appends rendered text to Strings (normally Text()); honours MaxTextLength.
  virtual void AddText(const WideString& AText, TWideStrings& Strings);
  void AddText(const WideString& AText) { AddText(AText, *FText); }
  virtual void InternalLoadFromOLEStream(TStream& Stream);
  virtual void LoadFromStream(TStream& Stream);
  virtual void LoadFromOLEStream(TStream& Stream);
  // Raises "File %s is not found." (EFileNotFoundError) unless the file
  // exists, then hands the file to LoadFromStream, mapped when the reader
  // MapsFile(), else through a buffered stream. Errors leave as Exception.
  virtual void LoadFromFile(const std::string& AFileName);
  // The existence check of LoadFromFile, for hosts and readers that open the
  // file themselves.
  static void CheckFileExists(const std::string& AFileName);
  virtual bool IsPasswordProtected();
  // The password that opens an encrypted document (UTF-8, or bytes for PDF:
  // the user or the owner password); empty: none given, and encrypted
  // documents are refused. Readers of formats without encryption ignore it.
  // Survives ClearInternalLists.
  const std::string& Password() const { return FPassword; }
  void SetPassword(const std::string& Value) { FPassword = Value; }
  void Execute();

  WideString GetTextStart();
  WideString GetTextFinish();

  const std::string& About() const { return FAbout; }
  void SetAbout(const std::string&) {}
  const std::string& FileName() const { return FFileName; }
  void SetFileName(const std::string& Value) {
    if (Value != FFileName) FFileName = Value;
  }
  TMSTextFormating TextFormating() const { return FTextFormating; }
  // The format the reader's own renderer writes: plain text under Markdown.
  TMSTextFormating ReaderFormating() const { return FTextFormating == tfMarkdown ? tfPlainText : FTextFormating; }
  void SetTextFormating(TMSTextFormating Value) { FTextFormating = Value; }
  int32_t MaxTextLength() const { return FMaxTextLength; }
  // What the text counts against MaxTextLength so far (each item with its
  // CR LF), whether it went to Text or to a sink.
  int64_t CountedTextLength() const {
    return FPath && FPath->Sinking() ? FPath->Counted() : FText ? FText->TextLength() : 0;
  }
  void SetMaxTextLength(int32_t Value) { FMaxTextLength = Value; }
  // The pages of paged formats (PDF) to read, numbered from 1, both ends
  // included; 0 (or less) leaves that end open. A first page past the
  // document's end, or a last page before the first, gives no page text.
  // Pages outside the range are not read at all. Readers without pages
  // ignore it.
  int32_t FirstPage() const { return FFirstPage; }
  int32_t LastPage() const { return FLastPage; }
  void SetPageRange(int32_t First, int32_t Last) {
    FFirstPage = First > 0 ? First : 0;
    FLastPage = Last > 0 ? Last : 0;
  }
  // Between the pages of paged formats in plain text; RTF and HTML keep
  // the rule.
  TLKWPageBreak PageBreak() const { return FPageBreak; }
  void SetPageBreak(TLKWPageBreak Value) { FPageBreak = Value; }
  // In Markdown, whether the notes the reader keeps apart from the text are
  // written as the text's footnotes (the host asked for notes). Notes that
  // are part of the text are footnotes in Markdown anyway.
  bool NotesInText() const { return FNotesInText; }
  void SetNotesInText(bool Value) { FNotesInText = Value; }
  TLKWParseItems ParseItems() const { return FParseItems; }
  void SetParseItems(TLKWParseItems Value) { FParseItems = Value; }
  bool ConvertSysCharacters() const { return FConvertSysCharacters; }
  void SetConvertSysCharacters(bool Value) { FConvertSysCharacters = Value; }

  const TMSWordConvertSysCharEvent& OnConvertSysChar() const { return FOnConvertSysChar; }
  void SetOnConvertSysChar(TMSWordConvertSysCharEvent E) { FOnConvertSysChar = std::move(E); }
  void SetOnBeforeExecute(TNotifyEvent E) { FOnBeforeExecute = std::move(E); }
  void SetOnAfterExecute(TNotifyEvent E) { FOnAfterExecute = std::move(E); }
  void SetOnBeforeText(TMSWTextChange E) { FOnBeforeText = std::move(E); }
  void SetOnAfterText(TMSWTextChange E) { FOnAfterText = std::move(E); }
  // With a sink, readers that support it hand each item of the text to the
  // sink instead of keeping it in Text(), so a host can write a large
  // document out while it is read, in little memory. MaxTextLength applies
  // as it does to Text(). Readers without support keep filling Text().
  virtual bool SupportsTextSink() const { return false; }
  void SetTextSink(TMSWTextSink Sink) { FTextSink = std::move(Sink); }
  // A host that writes UTF-8 may give a second sink beside the text sink:
  // readers whose text comes as bytes (PalmDoc books) then hand it the items
  // they can encode directly, skipping a round trip through UTF-16. Items
  // reach the two sinks in document order; an item of this one is one line
  // or several joined by LF (no CR), and stands for that many items. Without
  // a text sink this one is not used.
  void SetUtf8TextSink(TMSWUtf8TextSink Sink) { FUtf8TextSink = std::move(Sink); }
  // With a text sink, the frame's last item (GetTextFinish) is kept back
  // from it, so that a host can write what it adds to the text (notes, a
  // page text apart) inside the frame, then HeldTextFinish.
  void SetHoldTextFinish(bool Value) { FHoldTextFinish = Value; }
  bool TextFinishHeld() const { return FPath && FPath->FinishHeld(); }
  WideString HeldTextFinish() const { return FPath ? FPath->HeldFinish() : WideString(); }
  // Without a sink: whether Text() ends with the frame's last item, for a
  // host that appends to the text inside the frame.
  bool TextEndsWithFinish() const { return FPath && FPath->ListEndsWithFinish(); }

  // A time limit for each load, in milliseconds (0: none). Past it the
  // reader stops where it next checks for cancelling, as at MaxTextLength,
  // and TimedOut tells; the text so far stays.
  int64_t TimeLimit() const { return FTimeLimit; }
  void SetTimeLimit(int64_t Milliseconds) { FTimeLimit = Milliseconds; }
  bool TimedOut() const { return FPath && FPath->TimedOut(); }
  // Whether extraction must stop: the text reached MaxTextLength or the
  // time limit passed. Readers ask it between units of work.
  bool Cancelled() { return TextPath().Cancelled(); }

  // Consumers of the document's events (see DocumentEvents.h), not owned;
  // they get the events of later loads after the text's renderer.
  void AddDocumentEvents(TDocumentEvents* Consumer);
  void RemoveDocumentEvents(TDocumentEvents* Consumer);

  TWideStrings& Text() { return *FText; }
  TWideStrings& PlainText() { return *FText; }

  // The document's metadata; readers fill it when wpiSummaryInformation is in
  // ParseItems. Setting it copies the record.
  TLKWordSummaryInformation& SummaryInformation() { return *FSummaryInformation; }
  void SetSummaryInformation(const TLKWordSummaryInformation& Value) { FSummaryInformation->Assign(Value); }

  // Resource limits for hostile input. Readers raise ELimitError when a
  // document needs more than these.
  int64_t MaxDecompressedSize() const { return FMaxDecompressedSize; }
  void SetMaxDecompressedSize(int64_t Value) { FMaxDecompressedSize = Value; }
  int64_t MaxStreamSize() const { return FMaxStreamSize; }
  void SetMaxStreamSize(int64_t Value) { FMaxStreamSize = Value; }
  int MaxNestingDepth() const { return FMaxNestingDepth; }
  void SetMaxNestingDepth(int Value) { FMaxNestingDepth = Value; }
  // Elements of one XML document that readers keeping its whole tree
  // (FictionBook, EPUB) take in; the text after them is left out with a
  // warning. A node costs about 200 bytes; real books have a few hundred
  // thousand.
  int64_t MaxXMLNodes() const { return FMaxXMLNodes; }
  void SetMaxXMLNodes(int64_t Value) { FMaxXMLNodes = Value; }

  // Problems the load survived (a repaired structure, an unreadable part,
  // output cut at MaxTextLength). Identical messages are kept once with a
  // count; the list is capped.
  struct TWarning {
    std::string Message;
    int Count = 1;
  };
  const std::vector<TWarning>& Warnings() const { return FWarnings; }
  void AddWarning(const std::string& Message);
  // The code page of 8-bit text whose document declares none (PalmDoc
  // books, Windows Write, Word files without a language); 0, the default:
  // the process's, GetACP.
  uint32_t DefaultCodePage() const;
  void SetDefaultCodePage(uint32_t CodePage) { FDefaultCodePage = CodePage; }
  // The result lacks content the document has (a page that could not be
  // read, a file cut short), Lost saying what as a warning. A repair that
  // loses nothing is a plain warning.
  void MarkPartial(const std::string& Lost);
  bool Partial() const { return FPartial; }

  std::string ClassName() const override { return "TMSWBaseDocument"; }

 protected:
  // How LoadFromFile opens a file: mapped (packages whose members are then
  // referenced where they lie, and never touched when not read) or read
  // through a buffer.
  virtual bool MapsFile() const { return false; }

  // The seam readers write the document into. The first call of a load
  // prepares the text path with the settings of that moment (format, limit,
  // sinks) and the reader's renderer.
  TDocumentOutput& Output() { return FOutput ? *FOutput : MakeOutput(); }
  // Whether anything that sees the events shows the runs' formatting: the
  // readers' own renderers do not, Markdown and host consumers may. Readers
  // may skip reading what only they would use.
  bool RunStylesSeen() const { return FTextFormating == tfMarkdown || !FConsumers.empty(); }
  TTextPath& TextPath() { return FPath ? *FPath : MakeTextPath(); }
  // Where the reader's renderer writes: the text path, or under Markdown a
  // path whose main text goes nowhere (its other lists are kept).
  TTextPath& RendererPath();
  // The renderer of the reader's text; the base renders the common shape.
  virtual std::unique_ptr<TTextRenderer> CreateRenderer();

  std::vector<TWarning> FWarnings;
  bool FPartial = false;
  uint32_t FDefaultCodePage = 0;
  std::string FPassword;
  int64_t FMaxDecompressedSize = int64_t{1} << 30;
  int64_t FMaxStreamSize = int64_t{512} << 20;
  int FMaxNestingDepth = 256;
  int64_t FMaxXMLNodes = int64_t{4} << 20;

  // Whether extraction must stop (the output limit was reached).
  bool IsCancelExtract = false;

  std::string FAbout;
  std::string FFileName;
  std::unique_ptr<TWideStrings> FText;
  TMSTextFormating FTextFormating = tfPlainText;
  int32_t FMaxTextLength = 0;
  int32_t FFirstPage = 0;
  int32_t FLastPage = 0;
  TLKWPageBreak FPageBreak = pbRule;
  bool FNotesInText = false;
  TLKWParseItems FParseItems{wpiText, wpiSummaryInformation};
  bool FConvertSysCharacters = true;
  std::unique_ptr<TLKWordSummaryInformation> FSummaryInformation;
  TMSWordConvertSysCharEvent FOnConvertSysChar;
  TNotifyEvent FOnBeforeExecute;
  TNotifyEvent FOnAfterExecute;
  TMSWTextChange FOnBeforeText;
  TMSWTextChange FOnAfterText;
  TMSWTextSink FTextSink;
  TMSWUtf8TextSink FUtf8TextSink;
  bool FHoldTextFinish = false;
  int64_t FTimeLimit = 0;
  std::chrono::steady_clock::time_point FLoadStart;
  std::vector<TDocumentEvents*> FConsumers;
  // Per load, made by Output().
  TDocumentOutput& MakeOutput();
  TTextPath& MakeTextPath();
  std::unique_ptr<TTextPath> FPath;
  std::unique_ptr<TTextRenderer> FRenderer;
  std::unique_ptr<TDocumentOutput> FOutput;
  std::unique_ptr<TTextPath> FRendererPath;
  std::unique_ptr<TDocumentEvents> FMarkdown;
};

}  // namespace lkw
