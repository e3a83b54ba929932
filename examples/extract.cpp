// Prints the text of a document, whatever its format, and its title:
// the registry picks the reader component by the document's content.
//
//   extract FILE
#include <iostream>

#include "lkword/registry/LKWReaders.h"
#include "lkword/platform/CodePages.h"
#include "lkword/platform/Exceptions.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: extract FILE\n";
    return 2;
  }
  try {
    const lkw::TLKWReaderInfo* info = nullptr;
    std::unique_ptr<lkw::TMSWBaseDocument> doc = lkw::CreateReaderFor(argv[1], &info);
    if (!doc) {
      std::cerr << argv[1] << ": unsupported file format\n";
      return 1;
    }
    doc->SetTextFormating(lkw::tfPlainText);
    doc->LoadFromFile(argv[1]);
    for (const lkw::WideString& line : doc->Text().Items()) std::cout << lkw::WideToUtf8(line) << '\n';
    std::cerr << info->Name << ": " << lkw::WideToUtf8(doc->SummaryInformation().Title()) << '\n';
  } catch (const lkw::Exception& e) {
    std::cerr << argv[1] << ": " << e.Message() << '\n';
    return 1;
  }
  return 0;
}
