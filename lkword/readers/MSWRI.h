// Windows Write (.wri) reader.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "lkword/framework/MSWBase.h"

namespace lkw {

class TWriteRenderer;

// The file header at offset 0 (little-endian), as the Write file format
// documents it. Page numbers count 128-byte pages from the start of the file.
struct TWRIHeader {
  uint16_t wIdent;    // 0xBE31, or 0xBE32 with OLE objects (not tested)
  uint16_t dty;
  uint16_t wTool;
  uint16_t Reserved1;
  uint16_t Reserved2;
  uint16_t Reserved3;
  uint16_t Reserved4;
  uint32_t fcMac;     // file offset just past the text
  uint16_t pnPara;    // first paragraph property page
  uint16_t pnFntb;    // footnote table (pnSep when there is none)
  uint16_t pnSep;
  uint16_t pnSetb;
  uint16_t pnPgtb;
  uint16_t pnFfntb;   // font face-name table (pnMac when there is none)
  uint8_t szSsht[66];
  uint16_t pnMac;     // pages in the file; 0 in files written by Word
};
constexpr int kWRIHeaderSize = 98;

// Windows Write: wIdent 0xBE31, or 0xBE32 with OLE objects. Word for DOS
// files share the magic and the layout; this reader takes them. Stream at
// position 0.
bool IsWrite(TStream& Stream);

class TWRIFont : public TObject {
 public:
  uint8_t ID = 0;      // font family
  RawByteString Name;  // as stored, terminating zero byte included
  std::string ClassName() const override { return "TWRIFont"; }
};
using TWRIFontList = std::vector<std::unique_ptr<TWRIFont>>;

class TWRIFile : public TMSWBaseDocument {
 public:
  explicit TWRIFile(TComponent* AOwner = nullptr);
  ~TWRIFile() override;

  void ClearInternalLists() override;
  // Reads the document from position 0 of Stream (page numbers are
  // absolute). The whole text is one item, between GetTextStart and
  // GetTextFinish. Raises "fcFirst wrong" when a property page does not
  // continue where the previous run ended (then nothing is added), and
  // EReadError when the header, the text or a property page is cut short.
  void LoadFromStream(TStream& Stream) override;

  // Reads the font face-name table; a table outside the file, or one that
  // runs past it, ends where the file does.
  void ReadFontTable(TStream& Stream);
  // Tells the paragraphs of Text (the file's bytes from offset 128).
  void ReadPAP(TStream& Stream, const RawByteString& Text);
  // Tells the character runs of the paragraph [fcStart, fcLimit], each run
  // the paragraph reaches, even one that holds none of its text. Walks the
  // character property pages in step with ReadPAP: each call resumes at the
  // run where the previous one stopped, so a document is walked once however
  // many paragraphs it has.
  void ReadCharInfo(TStream& Stream, uint32_t fcStart, const RawByteString& Text, uint32_t fcLimit);
  // Pictures and OLE objects produce no text.
  void ReadPicture() {}
  // A form feed in the text becomes a line feed, and so does the line break
  // within a paragraph (11) that Word for DOS files hold.
  static char ProcessSysCharacter(char Code) { return Code == '\f' || Code == '\v' ? '\n' : Code; }

  const TWRIHeader& Header() const { return FHeader; }
  const TWRIFontList& FontTable() const { return FFontTable; }
  std::string ClassName() const override { return "TWRIFile"; }

 protected:
  std::unique_ptr<TTextRenderer> CreateRenderer() override;

 private:
  // Where the walk of the character property pages stands between calls of
  // ReadCharInfo.
  struct TCharCursor {
    bool Started = false;
    uint32_t Page = 0;         // page being read
    int Entry = 0;             // next entry on it
    int Entries = 0;           // entries on it
    uint32_t ExpectedFc = 0;   // start of the next run
    uint8_t Data[128] = {};    // the page
  };
  // The steps of LoadFromStream: the header (and the text's code page), the
  // text bytes from offset 128 to fcMac.
  void ReadHeader(TStream& Stream);
  RawByteString ReadTextBytes(TStream& Stream) const;
  // Reads the property page Page into Data; checks that it starts at Fc.
  void ReadPropertyPage(TStream& Stream, uint32_t Page, uint32_t Fc, uint8_t (&Data)[128], int& Entries);

  // Word for DOS wrote files of the same layout (with pnMac 0): their text is
  // in an OEM code page and bit 4 of the paragraph flags is a border, not a
  // picture.
  bool WrittenByWord() const { return FHeader.pnMac == 0; }

  TWRIHeader FHeader{};
  uint32_t FTextCodePage = 0;
  TWRIFontList FFontTable;
  TCharCursor FChar;
  // The renderer Output() made for this load.
  TWriteRenderer* FRenderer = nullptr;
};

}  // namespace lkw
