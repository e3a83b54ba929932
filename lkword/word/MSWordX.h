// Word 2007 and later documents (.docx, .docm, .dotx, .dotm): a zip package
// of XML parts. The body, footnotes, endnotes, comments, headers and footers
// are told as stories through the document events while each part is
// parsed (TWordXRenderer gives them their shape); the core and application
// properties fill the metadata record. A package kept in an OLE container's
// "Package" stream is read too, and so is an encrypted package
// (MSWordXCrypt) when Password opens it. Without a password, or with a wrong
// one, it is refused with "Could not read the password protected file";
// encryption the reader does not implement raises "The encryption method is
// not supported in current version".
//
// Paragraphs in a list are told as list items with their labels, those of
// heading styles or outline levels as headings (TWordXNumbering); runs carry
// their bold and italic. A table cell's paragraphs are told as any others; the paragraphs of a text
// box, and its tables, are told after the paragraph that anchors it. Runs
// and tracked changes found outside any paragraph are told where they come,
// between paragraphs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "lkword/containers/LKWXML.h"
#include "lkword/word/MSWord.h"
#include "lkword/word/MSWordXMath.h"
#include "lkword/word/MSWordXNumbering.h"

namespace lkw {

class TZipArchive;
class TPartSource;
class TWordXRenderer;

// True when the stream, from its current position, holds a Word 2007+
// package: a zip whose content types name a Word main part or that has
// "word/document.xml"; or a compound file with an "EncryptedPackage" stream
// (an encrypted package), or with a "Package" stream holding such a zip.
// The position is left anywhere.
bool IsWordXDocument(TStream& Stream);

class TMSWordXDocument : public TMSCustomWordDocument {
 public:
  explicit TMSWordXDocument(TComponent* AOwner = nullptr);
  ~TMSWordXDocument() override;

  void ClearInternalLists() override;
  // True when the last load met an encrypted package.
  bool IsPasswordProtected() override { return FPasswordProtected; }
  // "File %s is not found."; then a zip package, or a compound file holding
  // one, is loaded; anything else raises "File %s is not valid MS Word
  // document".
  void LoadFromFile(const std::string& AFileName) override;
  // Reads the stream from its position to its end. Input that is no zip
  // leaves the lists holding only their frame lines; a compound file goes
  // the way of InternalLoadFromOLEStream. A damaged main part raises the zip
  // reader's error; damaged secondary parts are skipped with a warning.
  void LoadFromStream(TStream& Stream) override;
  // A package stored directly, or kept in a compound file's "Package"
  // stream (a compound file without one loads nothing).
  void InternalLoadFromOLEStream(TStream& Stream) override;
  // Parses one XML part (S from its position to its end; null: no part)
  // into L between the output header and footer lines.
  void LoadXMLFilePart(TStream* S, TWideStrings& L);

  // The parse events: the element filter (rendering what an element's start
  // gives) and the rendering at an element's end.
  void NewRowTag(TObject* Sender, TLKXMLItem* ParentNode, std::u16string_view ATagName,
                 std::u16string_view ATagValue, std::u16string_view ATagAttributes, bool& Accept);
  void DeleteRowTag(TObject* Sender, TLKXMLItem*& Node, bool& Cancel);

  // Bytes of a part read (inflated) at a time; default 128 KiB. Smaller
  // pieces hold less in memory at the price of more steps.
  int32_t PartPieceSize() const { return FPartPieceSize; }
  void SetPartPieceSize(int32_t Value) { FPartPieceSize = Value < 1 ? 1 : Value; }

  // With a text sink, the main text is handed on once its part is read: a
  // part that turns out not to be UTF-8 is read again, so its text is held
  // back until then. Beyond this many characters (default 1M) what is held
  // goes out while the part is read, and a part found malformed after that
  // keeps the text as first decoded.
  int64_t HeldTextLength() const { return FHeldTextLength; }
  void SetHeldTextLength(int64_t Value) { FHeldTextLength = Value < 1 ? 1 : Value; }
  bool SupportsTextSink() const override { return true; }

  std::string ClassName() const override { return "TMSWordXDocument"; }

 protected:
  // The current run is marked hidden.
  bool IsHiddenText = false;

  std::unique_ptr<TTextRenderer> CreateRenderer() override;

  // Mapped: the package's members are then referenced, not copied, and
  // pictures never read are never touched.
  bool MapsFile() const override { return true; }

 private:
  struct TOpenElement {
    uint8_t Kind;  // what the reader does with the element (MSWordX_Render.cpp)
    bool ChoiceTaken;  // mc:AlternateContent: a branch was entered
  };
  enum TNoteNumbering : uint8_t { nnDecimal, nnLowerRoman, nnUpperRoman, nnLowerLetter, nnUpperLetter };

  // Package level (MSWordX.cpp).
  void LoadContainer(TStream& Stream);
  void LoadPackage(TStream& Stream);
  int FindPart(const TZipArchive& Zip, std::string_view Name) const;
  // A small part whole; Required parts raise errors, others give warnings.
  bool ReadPart(const TZipArchive& Zip, std::string_view Name, RawByteString& Bytes, bool Required);
  bool ReadPartAt(const TZipArchive& Zip, int Index, std::string_view Name, RawByteString& Bytes, bool Required);
  // The part a relationship of the story being read names, whole.
  enum class TLinkedPart : uint8_t { lpNoLink, lpMissing, lpUnreadable, lpRead };
  TLinkedPart ReadLinkedPart(const WideString& Id, std::string& Part, RawByteString& Bytes);
  // A story part (body, notes, header, ...) told into the current story.
  bool ReadStory(const TZipArchive& Zip, std::string_view Name, bool Required);
  void ReadNoteSettings(std::string_view Bytes);
  // List numbering and the styles that lead to it and to headings.
  void ReadNumbering(const TZipArchive& Zip, std::string_view NumberingPart, std::string_view StylesPart);
  void ReadProperties(std::string_view Bytes);
  // w:altChunk: the part that relationship Id names, read as HTML, plain
  // text, a web archive or a Word package and told where the element
  // stands; a format not read (RTF) is a warning.
  void ReadAltChunk(const WideString& Id);
  void TellChunkLine(std::u16string_view Line, const TParagraph& P);
  void TellChunkHtml(std::u16string_view Html);
  // A diagram (SmartArt): the text of its data part's points, told as the
  // paragraphs of a text box.
  void ReadDiagram(const WideString& Id);
  // An imported package's main story, read by a reader of its own.
  void ReadChunkPackage(RawByteString Bytes, const std::string& Part);

  // Rendering (MSWordX_Render.cpp).
  struct TAttributeText;  // a start tag's raw attributes, UTF-8 or UTF-16
  TWordXRenderer& Renderer();
  // A story part told into the current story; a part that fails or turns
  // out to be in another encoding is taken back to the checkpoint at its
  // start.
  void BeginPart();
  // A UTF-8 part goes through ScanPart; other encodings through the engine
  // and the two events above.
  void ParsePart(TPartSource& Source);
  // Scans a UTF-8 part; false when it turned out to be in another encoding
  // and what it gave was taken back.
  bool ScanOrTakeBack(TPartSource& Source);
  class TScanner;  // the scanner's pass over one part
  void ScanPart(TPartSource& Source);
  void ParseWithEngine(std::string_view Bytes);
  void ResetRenderState();
  void SetUpNamespaces(const TAttributeText& Attributes);
  uint8_t KindOf(std::string_view Name) const;
  uint8_t KindOf(std::u16string_view Name) const;
  // What an element's start does; true when its content is entered (the
  // element is then open until CloseElement). Text is the content of a text
  // element, entity references as written.
  bool OpenElement(uint8_t Kind, const TAttributeText& Attributes, bool IsDocumentElement, std::u16string_view Text);
  void CloseElement();
  // Document text with its entity references as written.
  void TellDocumentText(std::u16string_view Raw);
  void TellText(std::u16string_view Text);
  void TellSymbol(const TAttributeText& Attributes);
  void TellNoteReference(bool Endnote, const TAttributeText& Attributes);
  // A reference to a note, or a note's own mark inside it.
  void TellNoteMark(bool Endnote, std::u16string_view Mark);
  void BeginNote(bool Endnote, const TAttributeText& Attributes);
  // w:hyperlink: its target from the part's relationships, or its anchor;
  // w:fldSimple (Field): a hyperlink field's target.
  void BeginLink(bool Field, const TAttributeText& Attributes);
  void EndLink();
  bool ChoiceUnderstood(const TAttributeText& Attributes) const;
  void BeginParagraph();
  // The outermost paragraph begins once its properties are read: at its
  // first content, or at its end.
  void TellParagraphStart();
  void EndParagraph();
  void EndElement(uint8_t Kind);
  // An event other than a paragraph's start or end, or a text run. Inside a
  // paragraph nested in another (a text box's) it is kept with that
  // paragraph; a table inside a paragraph is kept whole. What is kept is
  // told after the outermost paragraph, in the order the nested paragraphs
  // end.
  void Tell(uint8_t Event);
  void TellNow(uint8_t Event, std::u16string_view Text);
  bool TextVisible() const {
    return (!IsHiddenText || FParseItems.Contains(wpiHiddenText)) && (FDeletedDepth == 0 || MarksRevisions());
  }
  // Whether tracked changes are told as such; otherwise deleted text is
  // left out and inserted text is plain text.
  bool MarksRevisions() const { return ReaderFormating() != tfPlainText || FParseItems.Contains(wpiRevisions); }
  WideString NoteMark(int Number, bool Endnote) const;
  void SetMalformedUtf8(bool Value);
  // Whether the current part's text can still be taken back to read the
  // part again in another encoding (text passed on to the sink cannot).
  bool CanTakeBack() { return Output().CanRollBack(FPartPoint); }

  struct TKeptEvent {
    uint8_t Event;
    WideString Text;
  };
  std::vector<TOpenElement> FOpen;                 // accepted elements still open, innermost last
  std::vector<std::vector<TKeptEvent>> FNested;    // paragraphs inside the outermost one, innermost last
  std::vector<TKeptEvent> FKept;                   // waiting for the outermost paragraph's end
  WideString FDecoded;                             // text with its entities decoded
  int FDeletedDepth = 0;  // deleted runs open that are not told
  int FParagraphDepth = 0;
  bool FParagraphPending = false;  // the outermost paragraph is not yet told
  TWordXNumbering::TParagraphProperties FParagraphProperties;
  TRunStyle FRunStyle;  // the current run's
  TWordXNumbering FNumbering;
  TLKXMLEngine* FEngine = nullptr;       // the engine parsing the current part
  TWordXRenderer* FWordXRenderer = nullptr;  // owned by the base, per load
  TTextPath::TCheckpoint FPartPoint;     // the current part's start
  bool FNamespacesSet = false;
  bool FDepthWarned = false;
  bool FMalformedUtf8 = false;
  int64_t FHeldTextLength = int64_t{1} << 20;
  // Prefix -> the prefix this reader's element names are written with, for
  // documents that bind the usual namespaces to other prefixes.
  std::unordered_map<std::string, std::string> FPrefixes;

  // Note marks: the body numbers references in order; the notes parts look
  // their numbers up by id.
  std::unordered_map<int64_t, int> FFootnoteNumbers, FEndnoteNumbers;
  std::vector<std::pair<bool, int64_t>> FNumbered;  // (endnote, id) numbered by the current part
  int FFootnoteCount = 0, FEndnoteCount = 0;
  WideString FCurrentNoteMark;
  // Hyperlink targets of the current part by relationship id, and whether
  // each w:hyperlink open was told as a link.
  std::unordered_map<WideString, WideString> FLinkTargets;
  std::vector<bool> FLinksOpen;
  // Complex fields open (w:fldChar), innermost last: whether each has
  // reached its result, and its instruction so far.
  struct TOpenField {
    bool Separated = false;
    WideString Instruction;
  };
  std::vector<TOpenField> FFields;
  void FieldChar(const TAttributeText& Attributes);
  void AddInstruction(std::u16string_view Raw);  // entity references as written
  // The parts the current part's elements name by relationship id
  // (imported content, diagram data), and the package they are read from.
  std::unordered_map<WideString, std::string> FStoryParts;
  const TZipArchive* FZip = nullptr;
  int FChunkDepth = 0;  // packages this one is imported into
  // The equation being read, as linear text; the math element KindOf saw
  // last, by its local name.
  TWordXMath FMath;
  int FMathDepth = 0;
  mutable std::string FMathName;
  TNoteNumbering FFootnoteNumbering = nnDecimal, FEndnoteNumbering = nnLowerRoman;

  int32_t FPartPieceSize = 128 * 1024;
  int64_t FInflatedBytes = 0;  // part bytes extracted by this load
  int FContainerDepth = 0;     // compound files entered (a package in a package)
  bool FPasswordProtected = false;
};

}  // namespace lkw
