// Document metadata of PDF: the dates of the information dictionary and of
// XMP, and the XMP fields the summary record holds.
#pragma once

#include <string_view>

#include "lkword/platform/Types.h"

namespace lkw {

// A PDF date "D:YYYYMMDDHHmmSSOHH'mm'" as local time: the "D:" and every part
// after the year may be missing (month and day then 1, the time 0); a zone
// (Z, +HH'mm', -HH'mm') is honoured, a date without one is taken as local
// time. 0 when the text is no such date.
TDateTime PDFDateToDateTime(const WideString& S);
// An XMP (ISO 8601) date "YYYY[-MM[-DD[THH:MM[:SS[.s]][Z|+HH:MM|-HH:MM]]]]"
// as local time; 0 when it is none.
TDateTime XMPDateToDateTime(std::string_view S);

// The fields of an XMP packet that the summary record holds.
struct TPDFXMPInfo {
  WideString Title;     // dc:title (the default language's entry)
  WideString Author;    // dc:creator, entries joined with "; "
  WideString Subject;   // dc:description
  WideString Keywords;  // pdf:Keywords, else dc:subject entries joined with ", "
  WideString Producer;  // pdf:Producer
  TDateTime Created = 0;   // xmp:CreateDate
  TDateTime Modified = 0;  // xmp:ModifyDate
};
// Reads Xml (UTF-8, or UTF-16 with its mark) written as elements or as
// attributes of rdf:Description. Never raises.
void ParseXMPMetadata(std::string_view Xml, TPDFXMPInfo& Info);

}  // namespace lkw
