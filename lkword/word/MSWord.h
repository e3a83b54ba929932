// Word 97-2003 documents and their older generations (Word 2, Word 6/95),
// from compound files or plain files: text through the piece table with the
// document's code page, special characters and fields rendered for the
// output format, the secondary texts and the summary metadata.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "lkword/framework/MSWBase.h"
#include "lkword/framework/MSWordCnst.h"
#include "lkword/platform/CompoundFile.h"
#include "lkword/word/MSW_Hdr.h"
#include "lkword/word/MSWord_Lists.h"

namespace lkw {

class TWordRenderer;

// Whether wIdent (the first 16-bit value of a file) is one of the magics of
// the plain, pre-compound Word files the reader accepts.
bool IsOldWordMagic(uint16_t wIdent);
// A compound file with a "WordDocument" stream, or a plain Word 1/2 file (the
// Write magics, which this reader also takes, are left to Write). Stream at
// position 0.
bool IsWordBinary(TStream& Stream);

// Lets the host replace the document language before the code page is chosen.
using TMSWordGetDefaultLanguage = std::function<void(TObject* Sender, uint16_t& DocLang)>;

// Common base of the Word readers: the secondary text lists, the VBA items.
class TMSCustomWordDocument : public TMSWBaseDocument {
 public:
  explicit TMSCustomWordDocument(TComponent* AOwner = nullptr);
  ~TMSCustomWordDocument() override;

  // The inherited clear, then the seven text lists (not the metadata, not
  // the VBA items).
  void ClearInternalLists() override;
  void ClearVBAProjectItems() { VBAProjectItems.Clear(); }

  TWideStrings& MacroText() { return FMacroText; }
  TWideStrings& FootNoteText() { return FFootNoteText; }
  TWideStrings& HeaderText() { return FHeaderText; }
  TWideStrings& FooterText() { return FFooterText; }
  TWideStrings& AnnotationText() { return FAnnotationText; }
  TWideStrings& EndNoteText() { return FEndNoteText; }
  TWideStrings& TextBoxText() { return FTextBoxText; }
  const WideString& VBAProject() const { return FVBAProject; }
  const WideString& VBAMacroSource() const { return FVBAMacroSource; }


  // Walks Storage (a "Macros" storage) recursively: "PROJECT" into
  // VBAProject, the reference records and module table of "_VBA_PROJECT"
  // into VBAProjectItems. Where that table names no module stream of the
  // storage, the module records of "dir" are appended instead. Elements that
  // do not open are skipped; nothing here throws on malformed tables.
  void LoadVBA(const TOleStorage& Storage);
  // Walks Storage recursively and fills the Body of the first item whose
  // ModuleName is a stream's name (ignoring case) with its decompressed
  // source; a damaged container leaves a partial body.
  void DecompressMacros(const TOleStorage& Storage);
  // Appends the banner and source of every item with a body to MacroText.
  // Sources are decoded with the project's code page, else DefaultCodePage
  // (0: the active ANSI code page).
  void ListMacros(uint32_t DefaultCodePage);
  // PROJECTCODEPAGE of the last project read; 0 when it had none.
  uint32_t VBACodePage() const { return FVBACodePage; }

  std::string ClassName() const override { return "TMSCustomWordDocument"; }

  TVBAProjectItems VBAProjectItems;

 protected:
  // Empties the seven text lists.
  void ClearTextLists();

  TWideStrings FMacroText;
  TWideStrings FFootNoteText;
  TWideStrings FHeaderText;
  TWideStrings FFooterText;
  TWideStrings FAnnotationText;
  TWideStrings FEndNoteText;
  TWideStrings FTextBoxText;
  WideString FVBAProject;
  WideString FVBAMacroSource;
  uint32_t FVBACodePage = 0;
};

class TMSWordDocument : public TMSCustomWordDocument {
 public:
  explicit TMSWordDocument(TComponent* AOwner = nullptr);

  void ClearInternalLists() override;
  // A compound file, or a plain file with an old-generation Word magic;
  // otherwise "File %s is not valid MS Word document".
  void LoadFromFile(const std::string& AFileName) override;
  // From the stream's current position to its end: a compound file, else a
  // plain Word file.
  void LoadFromStream(TStream& Stream) override;
  // Metadata from the summary property sets, text from "WordDocument" (and
  // from the Word documents embedded in "ObjectPool"), then the "Macros"
  // storage.
  void LoadIStorage(const TOleStorage& Storage);
  // FIB, encryption check, piece table, main text and secondary texts.
  // TableStream may be null.
  // An encrypted Word 97 document is decrypted with Password first; without
  // one, or with a wrong one, it raises "Could not read the password
  // protected file".
  void ReadDocFromStream(TStream& Stream, TStream* TableStream);

  // Fills FIB and DocVersion from the start of Stream (EReadError when the
  // stream is shorter than its generation's FIB).
  void ReadFIB(TStream& Stream);
  bool IsComplexDocument() const { return (FIB.Flag & 0x04) != 0; }
  bool IsPasswordProtected() override { return (FIB.Encryption & 0x01) != 0; }
  bool IsUseTableStream() const { return (FIB.Encryption & 0x02) != 0; }
  bool IsFarEastDocument() const { return (FIB.Encryption & 0x40) != 0; }
  int32_t DocVersion() const { return FDocVersion; }
  void SetDocVersion(int32_t Value) { FDocVersion = Value; }

  // Reads the piece table from Source (the table stream, or for Word 6/95
  // the document stream); with none, or none found, one default piece
  // covers the text from fcMin.
  void ReadCLX(TStream* Source);
  // The byte offset of a piece's text; Compressed (when it comes in
  // non-zero) becomes 1 for an 8-bit piece and 0 for a UTF-16 one.
  uint32_t GetNormFC(uint32_t fc, int& Compressed) const;
  // -1 when there is no piece Index; else the piece's byte range and 1 for
  // an 8-bit piece, 0 for a UTF-16 one.
  int GetPieceBoundsFC(int64_t& FCStart, int64_t& FCEnd, uint32_t Index) const;
  // The code page of 8-bit text (0: the active ANSI code page).
  uint32_t DocLangToCodePage();
  // Extracts the main text into Text, framed by header and footer, in the
  // code page ChooseTextCodePage chose.
  void ReadSimpleText(TStream& Stream);
  // The code page of 8-bit text: the document language's, for Word 6/95
  // also by the fonts, the Mac character set and the host's language.
  void ChooseTextCodePage(TStream& Stream);
  // The text of the character positions [CPFrom, CPTo), decoded.
  WideString ReadCPRange(TStream& Stream, int64_t CPFrom, int64_t CPTo);

  // The main text goes to a text sink in blocks, paragraph by paragraph.
  bool SupportsTextSink() const override { return true; }

  const TFIB& GetFIB() const { return FIB; }
  const TCLX& GetCLX() const { return CLX; }
  void SetOnGetDefaultLanguage(TMSWordGetDefaultLanguage E) { FOnGetDefaultLanguage = std::move(E); }

  std::string ClassName() const override { return "TMSWordDocument"; }

 protected:
  // The macro extractor's entry point, given the "Macros" storage after the
  // document stream was read.
  virtual void ReadMacros(const TOleStorage& Macros);

  TFIB FIB{};
  TCLX CLX;
  int32_t FDocVersion = 0;
  TMSWordGetDefaultLanguage FOnGetDefaultLanguage;

  // The Word renderer: marks and fields drawn for the output format.
  std::unique_ptr<TTextRenderer> CreateRenderer() override;

 private:
  void ClearTextAndPieces();
  // Decrypted copies of the document and table streams of an encrypted
  // Word 97 document (the password checked first).
  void DecryptStreams(TStream& Stream, TStream* TableStream, std::unique_ptr<TStream>& Doc,
                      std::unique_ptr<TStream>& Table);
  // Piece table, main and secondary texts of a readable document.
  void ReadDocText(TStream& Stream, TStream* TableStream);
  // A story told to the output: its characters to the renderer, which
  // draws them, and the paragraphs and tables they make to the consumers.
  // List: the secondary text the story's item goes to (none: the main text).
  // Cp: where the story's text starts, when its paragraphs' properties are
  // to be looked up (-1: they are not).
  void TellStory(TStoryKind Kind, TWideStrings* List, std::u16string_view Text, int64_t Cp = -1);
  void BeginTelling(TStoryKind Kind, TWideStrings* List, int64_t Cp = -1);
  // A part of the story: every paragraph but the story's last ends in it.
  // Stops where the output is complete.
  void TellText(std::u16string_view Text);
  void EndTelling(TStoryKind Kind);
  // The paragraph starting at At in Text, in a table cell when its mark
  // is a cell's or the row has cells before it.
  void OpenParagraph(std::u16string_view Text, size_t At);
  void CloseParagraph();
  void CloseTable();
  // What the consumers were told of the current story.
  struct TTold {
    bool Paragraph = false, Cell = false, Row = false, Table = false;
    // Per open field, whether its instruction is still going on; text there
    // is no document text.
    std::vector<bool> Fields;
    size_t Instructions = 0;
    // Per open field, whether its result was told as a link; the innermost
    // field's instruction so far.
    std::vector<bool> Links;
    WideString Instruction;
    std::optional<TRevisionKind> Revision;  // the tracked change told as open
  };
  TTold FTold;
  // List items and headings by the paragraph properties; the CP
  // of the story text told so far (-1 without properties), and the
  // characters that stand for a different count of CPs (note numbers,
  // symbols), by CP.
  TWordParagraphs FParagraphs;
  int64_t FStoryCp = -1;
  size_t FTextBase = 0;  // the character of the text being told at FStoryCp
  // Count CPs from CP read as Units characters (0: left out).
  struct TReplaced {
    int64_t CP;
    size_t Units;
    int64_t Count = 1;
  };
  std::vector<TReplaced> FReplaced;
  // The CP Units characters of the read text after the one at Cp.
  int64_t CpAfter(int64_t Cp, size_t Units) const;
  void ReadParagraphs(TStream& Stream, TStream& Table);
  void ReadParagraphs6(TStream& Stream);
  std::vector<TWordParagraphs::TPiece> ParagraphPieces() const;
  // The paragraph open now, as told.
  TParagraph FParagraph;
  // A run of document text at At in the text being told, with the bold and
  // italic of its parts.
  void TellRun(std::u16string_view Run, size_t At);
  // Word 97: the font table's names.
  std::vector<WideString> FFontNames;
  // This load's renderer (the base owns it).
  TWordRenderer* FWord = nullptr;

  void ReadSummaryStream(TStream& Stream, bool IsDocSummary);
  void ReadSecondaryTexts(TStream& Stream);
  // Word 97 documents embedded as objects: their main texts, which the page
  // shows in frames, told as text boxes. The storage being loaded: the
  // objects' container.
  void ReadEmbeddedDocuments();
  const TOleStorage* FStorage = nullptr;
  // The document or table stream ends early (its container is damaged):
  // structures past the end are lost rather than wrong.
  bool FStreamsCut = false;
  void ReadPieceTable(TStream* Source);
  // Word for the Macintosh: whether the pieces read start at CP 0, ascend
  // and keep their text inside a stream of StreamSize bytes.
  bool MacPiecesUsable(int64_t StreamSize) const;
  // Word for the Macintosh: the FIB's text range cut to the stream's
  // StreamSize bytes, and (once the pieces are read) its story counts to
  // the characters they hold, so that a damaged FIB reads what is there.
  void ClampMacTextRange(int64_t StreamSize);
  void ClampMacStoryCounts();
  // Word for the Macintosh: the pieces from the document stream, else the
  // text range as one piece, and the story counts they allow.
  void ReadMacPieces(TStream& Stream);
  // The text as one piece from fcMin to fcMac; Guess: its width judged by
  // its length, where the piece table that would tell is lost.
  void SinglePiece(bool Guess);
  // Runs Step; where the streams are cut and it fails, what it would have
  // read is marked lost (What names it) and the load goes on.
  template <typename F>
  bool Survive(const char* What, F&& Step);
  // Word 6/95: the code page most non-ASCII text is set in, by its fonts
  // (0 when the fonts do not tell).
  uint32_t FontCodePage(TStream& Stream);
  // Numbers of the auto-numbered footnote and endnote marks, by CP, with
  // the tables in Source and the section properties in Doc.
  void ReadNoteMarks(TStream& Doc, TStream* Source);
  // How a kind of note is numbered: Word's number format code, the first
  // number and when the count starts again (0 never, 1 each section, 2
  // each page, which only a layout could tell: counted on).
  struct TNoteNumbering {
    int Format = 0;
    int64_t Start = 1;
    int Restart = 0;
  };
  // From the CP where it starts, a section's numbering of footnotes [0] and
  // endnotes [1].
  struct TNoteSection {
    int64_t CP = 0;
    TNoteNumbering Kinds[2];
  };
  // The document's numbering, section by section (at least one section);
  // what does not read keeps Word's defaults.
  std::vector<TNoteSection> ReadNoteNumbering(TStream& Doc, TStream& Source) const;
  // Word 97: the characters inserted as symbols, which the text holds as
  // placeholders, by CP (from the character properties in Stream and the
  // font names in Table).
  // Also the CP ranges of tracked deletions (FDeleted), which plain text
  // leaves out: it shows the document with its changes accepted. Where the
  // changes are marked instead, those of insertions too (FInserted).
  void ReadSymbols(TStream& Stream, TStream& Table);
  std::vector<std::pair<int64_t, int64_t>> FDeleted, FInserted;
  bool AcceptsChanges() const { return ReaderFormating() == tfPlainText && !FParseItems.Contains(wpiRevisions); }
  // Whether the text shows tracked changes, and has some.
  bool MarksChanges() const { return !AcceptsChanges() && (!FDeleted.empty() || !FInserted.empty()); }
  // The tracked change at Cp, if any, and the CP where that answer ends.
  std::optional<TRevisionKind> RevisionAt(int64_t Cp, int64_t& Until) const;
  // Tells the change the text at hand belongs to, ending the one before.
  void TellRevision(std::optional<TRevisionKind> Kind);
  // An ordinary run told in parts, each with the change it belongs to.
  void TellChangedRun(std::u16string_view Run, size_t At);
  // Leaves the deleted CPs of [CPFrom, CPTo) out of Text from index From.
  void DropDeleted(WideString& Text, size_t From, int64_t CPFrom, int64_t CPTo, size_t FirstReplaced);
  // Where the stories of the header text start (CPs from its start, and
  // its end last), and what each is. Word 97: the six note separators, then
  // six per section (even, odd and first page headers and footers). Word
  // 6/95 (ListedBySections) list only the stories that exist: the
  // separators the document properties name, then those each section's
  // properties name, all read from Source. Both empty when the document has
  // no usable list.
  void ReadHeaderStories(TStream* Source, bool ListedBySections);
  bool ReadHeaderKinds6(TStream& Source);
  enum class THeaderKind : uint8_t { Separator, Header, Footer };
  std::vector<int32_t> FHeaderStories;
  std::vector<THeaderKind> FHeaderKinds;
  // Replaces the marks in Text from index From, which holds CPFrom onwards.
  void ApplyNoteMarks(WideString& Text, size_t From, int64_t CPFrom);
  void SortCharMarks();
  // Bytes of piece text read by this load (bounds overlapping pieces).
  int64_t FBytesRead = 0;
  // Code page of 8-bit pieces for the current load.
  uint32_t FTextCodePage = 0;
  // Characters the text holds in place of what the page shows: a note's
  // number for its auto-numbered mark (2), a symbol for its placeholder.
  struct TCharMark {
    int64_t CP;
    char16_t Placeholder;
    WideString Text;
    TStoryKind Note = TStoryKind::Main;  // Main: no note's mark
  };
  std::vector<TCharMark> FNoteMarks;
  // Note numbers by CP: where the text holds them in place of their marks
  // (told as note references), and where each note's text begins (with no
  // number for a note of a custom mark).
  struct TNoteNumber {
    int64_t CP;
    TStoryKind Kind;
    WideString Label;
  };
  std::vector<TNoteNumber> FNoteNumbers;
  bool FNoteNumbersSorted = true;
  std::vector<TNoteNumber> FNoteStarts;
  size_t FNextNote = 0;  // of FNoteStarts, in the story being told
  TStoryKind FTelling = TStoryKind::Main;
  // The characters of the read text from CP From up to CP To.
  size_t UnitsBetween(int64_t From, int64_t To) const;
  void TellStyledRun(std::u16string_view Run, size_t At);
};

}  // namespace lkw
