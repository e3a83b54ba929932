#include "lkword/registry/LKWDocInfo.h"

#include <algorithm>
#include <exception>
#include <new>

#include "lkword/pdf/LKWPDF.h"
#include "lkword/readers/MSWOO.h"
#include "lkword/registry/LKWOutput.h"
#include "lkword/word/MSWord.h"

namespace lkw {

std::vector<TNamedText> SecondaryTexts(TMSWBaseDocument& Doc) {
  std::vector<TNamedText> lists;
  if (auto* word = dynamic_cast<TMSCustomWordDocument*>(&Doc))
    lists = {{"footnotes", &word->FootNoteText()},
             {"endnotes", &word->EndNoteText()},
             {"headers", &word->HeaderText()},
             {"footers", &word->FooterText()},
             {"comments", &word->AnnotationText()}};
  else if (auto* odf = dynamic_cast<TCustomOpenOfficeDocument*>(&Doc))
    lists = {{"headers", &odf->HeaderText()}, {"footers", &odf->FooterText()}};
  else if (auto* pdf = dynamic_cast<TLKPDFReader*>(&Doc))
    lists = {{"comments", &pdf->AnnotationText()}};
  return lists;
}

const TWideStrings* PageTextApart(TMSWBaseDocument& Doc) {
  // The docx reader renders text boxes where they are anchored, so its list
  // stays empty.
  auto* word = dynamic_cast<TMSCustomWordDocument*>(&Doc);
  return word && word->TextBoxText().Count() > 0 ? &word->TextBoxText() : nullptr;
}

const TWideStrings* MacroText(TMSWBaseDocument& Doc) {
  auto* word = dynamic_cast<TMSCustomWordDocument*>(&Doc);
  return word ? &word->MacroText() : nullptr;
}

int32_t PageCountOf(TMSWBaseDocument& Doc) {
  auto* pdf = dynamic_cast<TLKPDFReader*>(&Doc);
  return pdf ? pdf->PageCount() : -1;
}

const std::vector<WideString>* PageTextsOf(TMSWBaseDocument& Doc) {
  auto* pdf = dynamic_cast<TLKPDFReader*>(&Doc);
  return pdf && pdf->KeepPageTexts() ? &pdf->PageTexts() : nullptr;
}

const char* ErrorKindName(TErrorKind Kind) {
  switch (Kind) {
    case TErrorKind::None: return nullptr;
    case TErrorKind::NotFound: return "not_found";
    case TErrorKind::Unsupported: return "unsupported";
    case TErrorKind::Password: return "password";
    case TErrorKind::Corrupt: return "corrupt";
    case TErrorKind::IO: return "io";
    case TErrorKind::Limit: return "limit";
    case TErrorKind::Timeout: return "timeout";
  }
  return nullptr;
}

TErrorKind CurrentErrorKind() {
  // Most specific kinds first: a file not found is an I/O error too.
  try {
    throw;
  } catch (const EFileNotFoundError&) {
    return TErrorKind::NotFound;
  } catch (const EPasswordError&) {
    return TErrorKind::Password;
  } catch (const EEncryptionNotSupportedError&) {
    // No password helps: the reader does not implement the method.
    return TErrorKind::Unsupported;
  } catch (const EUnsupportedError&) {
    return TErrorKind::Unsupported;
  } catch (const ELimitError&) {
    return TErrorKind::Limit;
  } catch (const EOutOfMemory&) {
    return TErrorKind::Limit;
  } catch (const std::bad_alloc&) {
    return TErrorKind::Limit;
  } catch (const EInOutError&) {
    return TErrorKind::IO;
  } catch (...) {
    // Damaged input: ECorruptError and the readers' structural errors.
    return TErrorKind::Corrupt;
  }
}

std::unique_ptr<TMSWBaseDocument> CreateReader(const TLKWReaderInfo& Reader, const TReaderSetup& Setup,
                                               const std::string& Password) {
  auto doc = Reader.Create();
  doc->SetTextFormating(Setup.Format);
  doc->SetMaxTextLength(Setup.MaxTextLength);
  if (Setup.HiddenText) doc->SetParseItems(doc->ParseItems().Include(wpiHiddenText));
  if (Setup.Macros) doc->SetParseItems(doc->ParseItems().Include(wpiVBA));
  if (Setup.Revisions) doc->SetParseItems(doc->ParseItems().Include(wpiRevisions));
  doc->SetPassword(Password);
  doc->SetTimeLimit(Setup.TimeLimitMs);
  doc->SetDefaultCodePage(Setup.CodePage);
  doc->SetPageRange(Setup.FirstPage, Setup.LastPage);
  doc->SetPageBreak(Setup.PageBreak);
  doc->SetNotesInText(Setup.Notes && Setup.Format == tfMarkdown);
  if (auto* pdf = dynamic_cast<TLKPDFReader*>(doc.get())) pdf->SetKeepPageTexts(Setup.PageTexts);
  if (Setup.MaxDecompressedSize >= 0) doc->SetMaxDecompressedSize(Setup.MaxDecompressedSize);
  if (Setup.MaxStreamSize >= 0) doc->SetMaxStreamSize(Setup.MaxStreamSize);
  if (Setup.MaxNestingDepth >= 0) doc->SetMaxNestingDepth(static_cast<int>(Setup.MaxNestingDepth));
  if (Setup.MaxXMLNodes >= 0) doc->SetMaxXMLNodes(Setup.MaxXMLNodes);
  // OpenDocument headers and footers are read only when asked for.
  if (auto* odf = dynamic_cast<TCustomOpenOfficeDocument*>(doc.get())) odf->SetReadHeadersFooters(Setup.Notes);
  // The text leaves as UTF-8.
  if (Setup.Format == tfHTML) doc->SetOnBeforeText(DeclareUtf8Charset);
  return doc;
}

std::unique_ptr<TMSWBaseDocument> LoadTryingPasswords(
    const std::vector<std::string>& Passwords,
    const std::function<std::unique_ptr<TMSWBaseDocument>(const std::string& Password)>& Make,
    const std::function<void(TMSWBaseDocument& Doc)>& Load) {
  std::vector<std::string> tries = {std::string()};
  for (const std::string& p : Passwords)
    if (std::find(tries.begin(), tries.end(), p) == tries.end()) tries.push_back(p);
  for (size_t i = 0;; ++i) {
    auto doc = Make(tries[i]);
    try {
      Load(*doc);
    } catch (...) {
      if (i + 1 < tries.size() && CurrentErrorKind() == TErrorKind::Password) continue;
      throw;
    }
    return doc;
  }
}

}  // namespace lkw
