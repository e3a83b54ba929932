#include "lkword/framework/MSW_Sum.h"

#include <cstring>

#include "lkword/platform/Bytes.h"
#include "lkword/platform/CodePages.h"
#include "lkword/platform/DateTime.h"
#include "lkword/platform/Exceptions.h"

namespace lkw {

namespace {

WideString DecodeText(const uint8_t* Value, size_t Size, uint32_t CodePage) {
  const auto* s = reinterpret_cast<const char*>(Value);
  size_t len = Size;
  if (const void* z = std::memchr(s, 0, Size)) len = static_cast<size_t>(static_cast<const char*>(z) - s);
  return MultiByteToWide(CodePage ? CodePage : GetACP(), std::string_view(s, len));
}

bool ReadInt(const uint8_t* Value, size_t Size, int32_t& Out) {
  if (!Value || Size < 4) return false;
  Out = static_cast<int32_t>(LoadLE32(Value));
  return true;
}

bool ReadFileTime(const uint8_t* Value, size_t Size, uint64_t& Out) {
  if (!Value || Size < 8) return false;
  Out = LoadLE64(Value);
  return true;
}

}  // namespace

void TLKWordSummaryInformation::Clear() {
  FAppName.clear();
  FAuthor.clear();
  FCharCount = 0;
  FComments.clear();
  FCreated = 0;
  FEditTime = 0;
  FKeywords.clear();
  FLastAuthor.clear();
  FLastPrinted = 0;
  FLastSaved = 0;
  FPageCount = 0;
  FRevNumber.clear();
  FSubject.clear();
  FTemplate.clear();
  FTitle.clear();
  FWordCount = 0;
  FCategory.clear();
  FPresentationTarget.clear();
  FByteCount = 0;
  FLineCount = 0;
  FParagraphCount = 0;
  FSlideCount = 0;
  FNoteCount = 0;
  FHiddenSlideCount = 0;
  FMMClipCount = 0;
  FManager.clear();
  FCompany.clear();
  FCharCount2 = 0;
}

void TLKWordSummaryInformation::Assign(const TPersistent& Source) {
  const auto* s = dynamic_cast<const TLKWordSummaryInformation*>(&Source);
  if (!s) {
    TPersistent::Assign(Source);
    return;
  }
  if (s == this) return;
  FAppName = s->FAppName;
  FAuthor = s->FAuthor;
  FCharCount = s->FCharCount;
  FComments = s->FComments;
  FCreated = s->FCreated;
  FEditTime = s->FEditTime;
  FKeywords = s->FKeywords;
  FLastAuthor = s->FLastAuthor;
  FLastPrinted = s->FLastPrinted;
  FLastSaved = s->FLastSaved;
  FPageCount = s->FPageCount;
  FRevNumber = s->FRevNumber;
  FSubject = s->FSubject;
  FTemplate = s->FTemplate;
  FTitle = s->FTitle;
  FWordCount = s->FWordCount;
  FCategory = s->FCategory;
  FPresentationTarget = s->FPresentationTarget;
  FByteCount = s->FByteCount;
  FLineCount = s->FLineCount;
  FParagraphCount = s->FParagraphCount;
  FSlideCount = s->FSlideCount;
  FNoteCount = s->FNoteCount;
  FHiddenSlideCount = s->FHiddenSlideCount;
  FMMClipCount = s->FMMClipCount;
  FManager = s->FManager;
  FCompany = s->FCompany;
  FCharCount2 = s->FCharCount2;
}

void TLKWordSummaryInformation::ParseProperty(uint32_t propID, const uint8_t* Value, size_t Size, bool IsDocSummary,
                                              uint32_t CodePage) {
  if (IsDocSummary) {
    ParseDocProperty(propID, Value, Size, CodePage);
    return;
  }
  if (!Value) return;
  uint64_t ft;
  switch (propID) {
    case 2: FTitle = DecodeText(Value, Size, CodePage); break;
    case 3: FSubject = DecodeText(Value, Size, CodePage); break;
    case 4: FAuthor = DecodeText(Value, Size, CodePage); break;
    case 5: FKeywords = DecodeText(Value, Size, CodePage); break;
    case 6: FComments = DecodeText(Value, Size, CodePage); break;
    case 7: FTemplate = DecodeText(Value, Size, CodePage); break;
    case 8: FLastAuthor = DecodeText(Value, Size, CodePage); break;
    case 9: FRevNumber = DecodeText(Value, Size, CodePage); break;
    case 10:
      if (ReadFileTime(Value, Size, ft)) FEditTime = FileTimeToElapsedTime(ft);
      break;
    case 11:
      if (ReadFileTime(Value, Size, ft)) FLastPrinted = FileTimeToDateTime(ft);
      break;
    case 12:
      if (ReadFileTime(Value, Size, ft)) FCreated = FileTimeToDateTime(ft);
      break;
    case 13:
      if (ReadFileTime(Value, Size, ft)) FLastSaved = FileTimeToDateTime(ft);
      break;
    case 14: ReadInt(Value, Size, FPageCount); break;
    case 15: ReadInt(Value, Size, FWordCount); break;
    case 16: ReadInt(Value, Size, FCharCount); break;
    case 18: FAppName = DecodeText(Value, Size, CodePage); break;
    default: break;
  }
}

void TLKWordSummaryInformation::ParseDocProperty(uint32_t propID, const uint8_t* Value, size_t Size,
                                                 uint32_t CodePage) {
  if (!Value) return;
  switch (propID) {
    case 2: FCategory = DecodeText(Value, Size, CodePage); break;
    case 3: FPresentationTarget = DecodeText(Value, Size, CodePage); break;
    case 4: ReadInt(Value, Size, FByteCount); break;
    case 5: ReadInt(Value, Size, FLineCount); break;
    case 6: ReadInt(Value, Size, FParagraphCount); break;
    case 7: ReadInt(Value, Size, FSlideCount); break;
    case 8: ReadInt(Value, Size, FNoteCount); break;
    case 9: ReadInt(Value, Size, FHiddenSlideCount); break;
    case 10: ReadInt(Value, Size, FMMClipCount); break;
    case 14: FManager = DecodeText(Value, Size, CodePage); break;
    case 15: FCompany = DecodeText(Value, Size, CodePage); break;
    case 17: ReadInt(Value, Size, FCharCount2); break;
    default: break;
  }
}

TDateTime TLKWordSummaryInformation::FileTimeToDateTime(uint64_t FileTime) {
  uint64_t local;
  uint32_t dos;
  if (!FileTimeToLocalFileTime(FileTime, local) || !FileTimeToDosDateTime(local, dos)) return 0;
  try {
    return FileDateToDateTime(dos);
  } catch (const Exception&) {
    return 0;
  }
}

int32_t TLKWordSummaryInformation::FileTimeToElapsedTime(uint64_t FileTime) {
  uint64_t minutes = FileTime / 600000000ULL;
  return minutes > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int32_t>(minutes);
}

void VisitSummary(const TLKWordSummaryInformation& S, TSummaryVisitor& V) {
  V.Text("AppName", S.AppName());
  V.Text("Author", S.Author());
  V.Integer("CharCount", S.CharCount());
  V.Text("Comments", S.Comments());
  V.Date("Created", S.Created());
  V.Integer("EditTime", S.EditTime());
  V.Text("Keywords", S.Keywords());
  V.Text("LastAuthor", S.LastAuthor());
  V.Date("LastPrinted", S.LastPrinted());
  V.Date("LastSaved", S.LastSaved());
  V.Integer("PageCount", S.PageCount());
  V.Text("RevNumber", S.RevNumber());
  V.Text("Subject", S.Subject());
  V.Text("Template", S.Template());
  V.Text("Title", S.Title());
  V.Integer("WordCount", S.WordCount());
  V.Text("Category", S.Category());
  V.Text("PresentationTarget", S.PresentationTarget());
  V.Integer("ByteCount", S.ByteCount());
  V.Integer("LineCount", S.LineCount());
  V.Integer("ParagraphCount", S.ParagraphCount());
  V.Integer("SlideCount", S.SlideCount());
  V.Integer("NoteCount", S.NoteCount());
  V.Integer("HiddenSlideCount", S.HiddenSlideCount());
  V.Integer("MMClipCount", S.MMClipCount());
  V.Text("Manager", S.Manager());
  V.Text("Company", S.Company());
  V.Integer("CharCount2", S.CharCount2());
}

}  // namespace lkw
