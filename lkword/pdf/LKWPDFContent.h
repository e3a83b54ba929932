// The content stream interpreter of the text layer: places every shown
// glyph on the displayed page.
#pragma once

#include <string_view>

#include "lkword/pdf/LKWPDFLayout.h"
#include "lkword/pdf/LKWPDFPage.h"
#include "lkword/pdf/LKWPDFSyntax.h"

namespace lkw {

class TLKPDFReader;

// Interprets Content with Resources (as ExtractPageText) and appends the
// glyphs it shows to Out, in content order, in the display space of the
// page given by MediaBox and Rotate. Page receives the media box. Never
// raises for damaged content.
void InterpretPageContent(TLKPDFReader& Reader, std::string_view Content, const TPDFObject& Resources,
                          const TPDFObject& MediaBox, int Rotate, const TPDFTextOptions& Options, TLKPDFPage& Page,
                          TPDFPageGlyphs& Out, const TPDFObject& Annots = TPDFObject(),
                          const TPDFObject& CropBox = TPDFObject());

}  // namespace lkw
