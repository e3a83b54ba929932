// The document metadata record and the decoding of OLE property values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "lkword/platform/Object.h"
#include "lkword/platform/Types.h"

namespace lkw {

class TLKWordSummaryInformation : public TPersistent {
 public:
  TLKWordSummaryInformation() = default;

  void Clear();
  void Assign(const TPersistent& Source) override;
  std::string ClassName() const override { return "TLKWordSummaryInformation"; }

  // Stores one property value of a summary property set. Value points at
  // Size bytes of the value: for text the characters (cut at the first zero),
  // for integers 4 little-endian bytes, for FILETIMEs 8 bytes. Text is
  // decoded with CodePage (0: the active ANSI code page). Unknown
  // identifiers, and values too short for their type, are ignored.
  void ParseProperty(uint32_t propID, const uint8_t* Value, size_t Size, bool IsDocSummary,
                     uint32_t CodePage = 0);
  void ParseDocProperty(uint32_t propID, const uint8_t* Value, size_t Size, uint32_t CodePage = 0);

  // FILETIME (UTC) to local TDateTime with two-second resolution (through the
  // DOS date-time form); 0 when it cannot be represented (before 1980).
  static TDateTime FileTimeToDateTime(uint64_t FileTime);
  // A FILETIME duration in whole minutes.
  static int32_t FileTimeToElapsedTime(uint64_t FileTime);

#define LKW_SUM_PROP(Type, Name)                      \
  Type Name() const { return F##Name; }               \
  void Set##Name(const Type& Value) { F##Name = Value; }
  LKW_SUM_PROP(WideString, AppName)
  LKW_SUM_PROP(WideString, Author)
  LKW_SUM_PROP(int32_t, CharCount)
  LKW_SUM_PROP(WideString, Comments)
  LKW_SUM_PROP(TDateTime, Created)
  LKW_SUM_PROP(int32_t, EditTime)
  LKW_SUM_PROP(WideString, Keywords)
  LKW_SUM_PROP(WideString, LastAuthor)
  LKW_SUM_PROP(TDateTime, LastPrinted)
  LKW_SUM_PROP(TDateTime, LastSaved)
  LKW_SUM_PROP(int32_t, PageCount)
  LKW_SUM_PROP(WideString, RevNumber)
  LKW_SUM_PROP(WideString, Subject)
  LKW_SUM_PROP(WideString, Template)
  LKW_SUM_PROP(WideString, Title)
  LKW_SUM_PROP(int32_t, WordCount)
  LKW_SUM_PROP(WideString, Category)
  LKW_SUM_PROP(WideString, PresentationTarget)
  LKW_SUM_PROP(int32_t, ByteCount)
  LKW_SUM_PROP(int32_t, LineCount)
  LKW_SUM_PROP(int32_t, ParagraphCount)
  LKW_SUM_PROP(int32_t, SlideCount)
  LKW_SUM_PROP(int32_t, NoteCount)
  LKW_SUM_PROP(int32_t, HiddenSlideCount)
  LKW_SUM_PROP(int32_t, MMClipCount)
  LKW_SUM_PROP(WideString, Manager)
  LKW_SUM_PROP(WideString, Company)
  LKW_SUM_PROP(int32_t, CharCount2)
#undef LKW_SUM_PROP

 private:
  WideString FAppName;
  WideString FAuthor;
  int32_t FCharCount = 0;
  WideString FComments;
  TDateTime FCreated = 0;
  int32_t FEditTime = 0;
  WideString FKeywords;
  WideString FLastAuthor;
  TDateTime FLastPrinted = 0;
  TDateTime FLastSaved = 0;
  int32_t FPageCount = 0;
  WideString FRevNumber;
  WideString FSubject;
  WideString FTemplate;
  WideString FTitle;
  int32_t FWordCount = 0;
  WideString FCategory;
  WideString FPresentationTarget;
  int32_t FByteCount = 0;
  int32_t FLineCount = 0;
  int32_t FParagraphCount = 0;
  int32_t FSlideCount = 0;
  int32_t FNoteCount = 0;
  int32_t FHiddenSlideCount = 0;
  int32_t FMMClipCount = 0;
  WideString FManager;
  WideString FCompany;
  int32_t FCharCount2 = 0;
};

// Visits every field in declaration order, for listings and serialisation:
// the callbacks get the property name and its value.
struct TSummaryVisitor {
  virtual ~TSummaryVisitor() = default;
  virtual void Text(const char* Name, const WideString& Value) = 0;
  virtual void Integer(const char* Name, int32_t Value) = 0;
  virtual void Date(const char* Name, TDateTime Value) = 0;
};
void VisitSummary(const TLKWordSummaryInformation& S, TSummaryVisitor& V);

}  // namespace lkw
