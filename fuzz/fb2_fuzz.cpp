// Loads arbitrary bytes as a FictionBook, in the output format the last byte
// picks, and runs the content test and the book date parser on them.
#include <cstddef>
#include <cstdint>

#include "lkword/platform/Exceptions.h"
#include "lkword/platform/Streams.h"
#include "lkword/readers/BookText.h"
#include "lkword/readers/MSWFB2.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  lkw::TCustomMemoryStream probe(Data, Size);
  lkw::TFictionBook::IsFictionBook(probe);

  const uint8_t mode = Size > 0 ? Data[Size - 1] : 0;
  lkw::TCustomMemoryStream stream(Data, Size);
  lkw::TFictionBook doc;
  doc.SetTextFormating(static_cast<lkw::TMSTextFormating>(mode % 3));
  if (mode & 4) doc.SetMaxTextLength(static_cast<int32_t>(Size % 300 + 1));
  if (mode & 8) doc.SetParseItems({lkw::wpiSummaryInformation});
  if (mode & 16)
    doc.SetOnConvertSysChar([](lkw::TObject*, lkw::TLKWordSysChar, const lkw::WideString& Value,
                               lkw::WideString& Result) { Result = Value.substr(0, 3); });
  try {
    doc.LoadFromStream(stream);
  } catch (const lkw::Exception&) {
  }

  lkw::WideString text;
  for (size_t i = 0; i < Size && i < 40; ++i) text += static_cast<char16_t>(Data[i]);
  lkw::BookDateToDateTime(text);
  return 0;
}
