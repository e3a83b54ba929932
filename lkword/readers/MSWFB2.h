// FictionBook 2 e-book reader.
#pragma once

#include <string>

#include "lkword/containers/LKWXML.h"
#include "lkword/framework/MSWBase.h"
#include "lkword/platform/Streams.h"
#include "lkword/readers/BookText.h"

namespace lkw {

class TFictionBook : public TMSWBaseDocument {
 public:
  explicit TFictionBook(TComponent* AOwner = nullptr);
  ~TFictionBook() override;

  void ClearInternalLists() override;
  // Reads the book from the stream's position to its end: the header, the
  // text of every body (the main body first, then notes and comments in
  // document order), the footer. A zip archive holding one *.fb2 member is
  // read as that book. Raises when the text is not a FictionBook.
  void LoadFromStream(TStream& Stream) override;
  // The metadata and the body text of the book in Stream, into L.
  void LoadXMLFilePart(TStream& S, TWideStrings& L);

  // True when the stream's first bytes are XML whose document element is
  // FictionBook, or a zip archive with one *.fb2 member. Reads from position 0; the position is left anywhere.
  static bool IsFictionBook(TStream& Stream);

  std::string ClassName() const override { return "TFictionBook"; }

 private:
  void LoadBook(RawByteString Data);
  void ReadDescription(TLKXMLItem& Description);
  // A line as a paragraph: the lines of titles and subtitles are headings,
  // a title's level the number of sections around it.
  bool EmitLine(const TBookTextWalker& Walker, TBookElementRole Role, std::u16string_view Tag, const WideString& Text);
};

}  // namespace lkw
