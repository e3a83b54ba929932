// The Word reader's entry point for the macros of a document: the VBA
// extractor takes the "Macros" storage from here. Until it does, documents
// are read without their macros.
#include "lkword/word/MSWord.h"

namespace lkw {

void TMSWordDocument::ReadMacros(const TOleStorage&) {}

}  // namespace lkw
