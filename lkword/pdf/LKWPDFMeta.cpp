// Document metadata: the information dictionary, and the XMP packet for what
// the dictionary lacks; PDF and XMP dates.
#include "lkword/pdf/LKWPDFMeta.h"

#include <string>
#include <string_view>

#include "lkword/pdf/LKWPDF.h"
#include "lkword/pdf/LKWPDFFont.h"
#include "lkword/platform/Ascii.h"
#include "lkword/platform/CodePages.h"
#include "lkword/platform/DateTime.h"

namespace lkw {

namespace {

// Reads up to MaxDigits decimal digits at Pos (at least MinDigits).
bool ReadDigits(std::u16string_view S, size_t& Pos, size_t MinDigits, size_t MaxDigits, int& Value) {
  size_t n = 0;
  int v = 0;
  while (Pos + n < S.size() && n < MaxDigits && S[Pos + n] >= u'0' && S[Pos + n] <= u'9') {
    v = v * 10 + (S[Pos + n] - u'0');
    ++n;
  }
  if (n < MinDigits) return false;
  Pos += n;
  Value = v;
  return true;
}

// Date and time parts to a local TDateTime; ZoneMinutes east of UTC when
// HasZone. 0 for values that are no date.
TDateTime MakeDateTime(int Year, int Month, int Day, int Hour, int Minute, int Second, bool HasZone,
                       int ZoneMinutes) {
  if (Second == 60) Second = 59;  // a leap second
  TDateTime date = 0, time = 0;
  if (Year < 1 || !TryEncodeDate(Year, Month, Day, date) || !TryEncodeTime(Hour, Minute, Second, 0, time)) return 0;
  const TDateTime dt = date >= 0 ? date + time : date - time;
  return HasZone ? UTCToLocal(dt - ZoneMinutes / 1440.0) : dt;
}

// A zone after the time: Z, or a sign and hours with optional minutes
// (HH'mm', HH:mm, HHmm). Trailing apostrophes and junk after Z are ignored.
bool ReadZone(std::u16string_view S, size_t Pos, bool& HasZone, int& Minutes) {
  HasZone = false;
  Minutes = 0;
  while (Pos < S.size() && S[Pos] == u' ') ++Pos;
  if (Pos >= S.size()) return true;
  const char16_t c = S[Pos];
  if (c == u'Z' || c == u'z') {
    HasZone = true;
    return true;
  }
  if (c != u'+' && c != u'-') return true;  // unknown trailing text: no zone
  ++Pos;
  int hh = 0, mm = 0;
  if (!ReadDigits(S, Pos, 1, 2, hh)) return true;
  if (Pos < S.size() && (S[Pos] == u'\'' || S[Pos] == u':')) ++Pos;
  ReadDigits(S, Pos, 2, 2, mm);
  if (hh > 23 || mm > 59) return false;
  HasZone = true;
  Minutes = (c == u'-' ? -1 : 1) * (hh * 60 + mm);
  return true;
}

// Decodes the XML character references and the five named entities.
std::string DecodeXMLText(std::string_view S) {
  std::string out;
  out.reserve(S.size());
  for (size_t i = 0; i < S.size(); ++i) {
    if (S[i] != '&') {
      out += S[i];
      continue;
    }
    const size_t semi = S.find(';', i + 1);
    if (semi == std::string_view::npos || semi - i > 12) {
      out += '&';
      continue;
    }
    const std::string_view ent = S.substr(i + 1, semi - i - 1);
    uint32_t cp = 0;
    if (ent == "amp") cp = '&';
    else if (ent == "lt") cp = '<';
    else if (ent == "gt") cp = '>';
    else if (ent == "quot") cp = '"';
    else if (ent == "apos") cp = '\'';
    else if (ent.size() > 1 && ent[0] == '#') {
      const bool hex = ent[1] == 'x' || ent[1] == 'X';
      for (size_t k = hex ? 2 : 1; k < ent.size(); ++k) {
        const int d = hex ? HexDigitValue(static_cast<uint8_t>(ent[k])) : IsAsciiDigit(ent[k]) ? ent[k] - '0' : -1;
        if (d < 0 || cp > 0x10FFFF) {
          cp = 0;
          break;
        }
        cp = cp * (hex ? 16 : 10) + static_cast<uint32_t>(d);
      }
      if (cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) cp = 0;
    }
    if (cp == 0) {
      out += '&';
      continue;
    }
    // UTF-8 of the code point.
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
    i = semi;
  }
  return out;
}

WideString XMLTextToWide(std::string_view S) {
  WideString w = Utf8ToWide(DecodeXMLText(S));
  // Collapse the layout white space of the packet.
  WideString out;
  out.reserve(w.size());
  bool space = false;
  for (const char16_t c : w) {
    if (c == u' ' || c == u'\t' || c == u'\r' || c == u'\n') {
      space = !out.empty();
      continue;
    }
    if (space) out += u' ';
    space = false;
    out += c;
  }
  return out;
}

bool IsNameEnd(char C) { return C == '>' || C == '/' || C == ' ' || C == '\t' || C == '\r' || C == '\n'; }

// The content of the first element QName (empty for an empty element);
// false when there is none.
bool FindElement(std::string_view Xml, std::string_view QName, std::string_view& Inner) {
  size_t pos = 0;
  while ((pos = Xml.find(QName, pos)) != std::string_view::npos) {
    const size_t after = pos + QName.size();
    if (pos == 0 || Xml[pos - 1] != '<' || after >= Xml.size() || !IsNameEnd(Xml[after])) {
      pos = after;
      continue;
    }
    const size_t close = Xml.find('>', after);
    if (close == std::string_view::npos) return false;
    if (Xml[close - 1] == '/') {
      Inner = {};
      return true;
    }
    const std::string endTag = "</" + std::string(QName);
    const size_t end = Xml.find(endTag, close + 1);
    if (end == std::string_view::npos) return false;
    Inner = Xml.substr(close + 1, end - close - 1);
    return true;
  }
  return false;
}

// The value of attribute QName of some start tag.
bool FindAttribute(std::string_view Xml, std::string_view QName, std::string_view& Value) {
  size_t pos = 0;
  while ((pos = Xml.find(QName, pos)) != std::string_view::npos) {
    size_t p = pos + QName.size();
    const bool startsName = pos > 0 && (Xml[pos - 1] == ' ' || Xml[pos - 1] == '\t' || Xml[pos - 1] == '\r' ||
                                        Xml[pos - 1] == '\n');
    pos = p;
    if (!startsName) continue;
    while (p < Xml.size() && (Xml[p] == ' ' || Xml[p] == '\t')) ++p;
    if (p >= Xml.size() || Xml[p] != '=') continue;
    ++p;
    while (p < Xml.size() && (Xml[p] == ' ' || Xml[p] == '\t')) ++p;
    if (p >= Xml.size() || (Xml[p] != '"' && Xml[p] != '\'')) continue;
    const size_t end = Xml.find(Xml[p], p + 1);
    if (end == std::string_view::npos) return false;
    Value = Xml.substr(p + 1, end - p - 1);
    return true;
  }
  return false;
}

// The rdf:li entries of a container (rdf:Alt, rdf:Seq, rdf:Bag), or the
// content itself for a simple value. For a language alternative the
// x-default entry comes first.
std::vector<WideString> PropertyValues(std::string_view Inner) {
  std::vector<WideString> values;
  if (Inner.find("<rdf:li") == std::string_view::npos) {
    // A simple value; markup in it (an empty rdf:Seq, a comment) is no text.
    std::string text;
    for (size_t i = 0; i < Inner.size(); ++i) {
      if (Inner[i] != '<') {
        text += Inner[i];
        continue;
      }
      const size_t close = Inner.find('>', i);
      if (close == std::string_view::npos) break;
      i = close;
    }
    WideString v = XMLTextToWide(text);
    if (!v.empty()) values.push_back(std::move(v));
    return values;
  }
  size_t pos = 0;
  while ((pos = Inner.find("<rdf:li", pos)) != std::string_view::npos) {
    const size_t close = Inner.find('>', pos);
    if (close == std::string_view::npos) break;
    if (Inner[close - 1] == '/') {
      pos = close;
      continue;
    }
    const size_t end = Inner.find("</rdf:li>", close);
    if (end == std::string_view::npos) break;
    WideString v = XMLTextToWide(Inner.substr(close + 1, end - close - 1));
    const bool isDefault = Inner.substr(pos, close - pos).find("x-default") != std::string_view::npos;
    if (!v.empty()) values.insert(isDefault ? values.begin() : values.end(), std::move(v));
    pos = end;
  }
  return values;
}

WideString JoinValues(const std::vector<WideString>& Values, std::u16string_view Sep) {
  WideString out;
  for (const WideString& v : Values) {
    if (!out.empty()) out += Sep;
    out += v;
  }
  return out;
}

// The values of property QName, written as an element or as an attribute.
std::vector<WideString> XMPProperty(std::string_view Xml, std::string_view QName) {
  std::string_view inner;
  if (FindElement(Xml, QName, inner)) return PropertyValues(inner);
  if (FindAttribute(Xml, QName, inner)) {
    WideString v = XMLTextToWide(inner);
    if (!v.empty()) return {std::move(v)};
  }
  return {};
}

}  // namespace

// ---------------------------------------------------------------------------
// Dates

TDateTime PDFDateToDateTime(const WideString& S) {
  const std::u16string_view s(S);
  size_t p = 0;
  while (p < s.size() && (s[p] == u' ' || s[p] == u'\t')) ++p;
  if (p < s.size() && (s[p] == u'D' || s[p] == u'd')) {
    ++p;
    if (p < s.size() && s[p] == u':') ++p;
  }
  int year = 0, month = 1, day = 1, hour = 0, minute = 0, second = 0;
  if (!ReadDigits(s, p, 4, 4, year)) return 0;
  // Every later part is optional, but each one needs the one before it.
  if (ReadDigits(s, p, 2, 2, month) && ReadDigits(s, p, 2, 2, day) && ReadDigits(s, p, 2, 2, hour) &&
      ReadDigits(s, p, 2, 2, minute))
    ReadDigits(s, p, 2, 2, second);
  if (p < s.size() && s[p] >= u'0' && s[p] <= u'9') return 0;  // an odd digit count is no date
  bool hasZone = false;
  int zone = 0;
  if (!ReadZone(s, p, hasZone, zone)) return 0;
  return MakeDateTime(year, month, day, hour, minute, second, hasZone, zone);
}

TDateTime XMPDateToDateTime(std::string_view S) {
  const WideString w = AsciiToWide(std::string(S.substr(0, 64)));
  const std::u16string_view s(w);
  size_t p = 0;
  while (p < s.size() && (s[p] == u' ' || s[p] == u'\t' || s[p] == u'\r' || s[p] == u'\n')) ++p;
  int year = 0, month = 1, day = 1, hour = 0, minute = 0, second = 0;
  if (!ReadDigits(s, p, 4, 4, year)) return 0;
  auto sep = [&](char16_t c) {
    if (p < s.size() && s[p] == c) {
      ++p;
      return true;
    }
    return false;
  };
  bool hasTime = false;
  if (sep(u'-') && ReadDigits(s, p, 2, 2, month) && sep(u'-') && ReadDigits(s, p, 2, 2, day) &&
      (sep(u'T') || sep(u't') || sep(u' ')) && ReadDigits(s, p, 2, 2, hour) && sep(u':') &&
      ReadDigits(s, p, 2, 2, minute)) {
    hasTime = true;
    if (sep(u':') && ReadDigits(s, p, 2, 2, second) && sep(u'.'))
      while (p < s.size() && s[p] >= u'0' && s[p] <= u'9') ++p;
  }
  bool hasZone = false;
  int zone = 0;
  if (hasTime && !ReadZone(s, p, hasZone, zone)) return 0;
  return MakeDateTime(year, month, day, hour, minute, second, hasZone, zone);
}

// ---------------------------------------------------------------------------
// XMP

void ParseXMPMetadata(std::string_view Xml, TPDFXMPInfo& Info) {
  std::string utf8;
  if (Xml.size() >= 2 && ((Xml[0] == '\xFE' && Xml[1] == '\xFF') || (Xml[0] == '\xFF' && Xml[1] == '\xFE'))) {
    const bool be = Xml[0] == '\xFE';
    WideString w;
    w.reserve(Xml.size() / 2);
    for (size_t i = 2; i + 1 < Xml.size(); i += 2) {
      const auto hi = static_cast<uint8_t>(Xml[be ? i : i + 1]), lo = static_cast<uint8_t>(Xml[be ? i + 1 : i]);
      w += static_cast<char16_t>(hi << 8 | lo);
    }
    utf8 = WideToUtf8(w);
    Xml = utf8;
  } else if (Xml.substr(0, 3) == "\xEF\xBB\xBF") {
    Xml.remove_prefix(3);
  }
  const auto first = [&](std::string_view QName) {
    std::vector<WideString> v = XMPProperty(Xml, QName);
    return v.empty() ? WideString() : std::move(v.front());
  };
  Info.Title = first("dc:title");
  Info.Author = JoinValues(XMPProperty(Xml, "dc:creator"), u"; ");
  Info.Subject = first("dc:description");
  Info.Keywords = first("pdf:Keywords");
  if (Info.Keywords.empty()) Info.Keywords = JoinValues(XMPProperty(Xml, "dc:subject"), u", ");
  Info.Producer = first("pdf:Producer");
  WideString created = first("xmp:CreateDate");
  if (created.empty()) created = first("xap:CreateDate");
  WideString modified = first("xmp:ModifyDate");
  if (modified.empty()) modified = first("xap:ModifyDate");
  Info.Created = XMPDateToDateTime(WideToUtf8(created));
  Info.Modified = XMPDateToDateTime(WideToUtf8(modified));
}

// ---------------------------------------------------------------------------
// The information dictionary

bool TLKPDFReader::GetInfoTag(std::string_view Key, const TPDFObject& Dict, int32_t ObjNum, int32_t Gen,
                              RawByteString& Value) {
  Value.clear();
  if (!Dict.IsDict()) return false;
  const TPDFObject* entry = Dict.Get(Key);
  for (size_t i = 0; !entry && i < Dict.Keys.size() && i < Dict.Items.size(); ++i) {
    const RawByteString& k = Dict.Keys[i];
    if (SameTextAscii(k, Key)) entry = &Dict.Items[i];
  }
  if (!entry) return false;
  int32_t num = ObjNum, gen = Gen;
  TPDFObject target;
  if (entry->IsRef()) {
    num = entry->RefNum;
    if (!GetObject(num, target, &gen)) return false;
    entry = &target;
  }
  if (!entry->IsString()) return false;
  Value = num > 0 ? DecryptString(num, gen, entry->Str) : entry->Str;
  return true;
}

bool TLKPDFReader::GetInfoString(std::string_view Key, const TPDFObject& Dict, int32_t ObjNum, int32_t Gen,
                                 WideString& Value) {
  Value.clear();
  RawByteString bytes;
  if (!GetInfoTag(Key, Dict, ObjNum, Gen, bytes)) return false;
  Value = DecodePDFTextString(bytes);
  while (!Value.empty() && (Value.back() == u'\0' || Value.back() == u' ' || Value.back() == u'\r' ||
                            Value.back() == u'\n' || Value.back() == u'\t'))
    Value.pop_back();
  return !Value.empty();
}

void TLKPDFReader::ProcessMetaData(TStream&) {
  if (!ParseItems().Contains(wpiSummaryInformation)) return;
  TLKWordSummaryInformation& sum = SummaryInformation();
  TPDFObject info;
  int32_t infoNum = 0, infoGen = 0;
  if (const TPDFObject* entry = FTrailer.Get("Info")) {
    if (entry->IsRef()) {
      infoNum = entry->RefNum;
      if (!GetObject(infoNum, info, &infoGen)) info = TPDFObject();
    } else {
      info = *entry;  // a direct dictionary in the trailer: its strings are not encrypted
    }
  }
  // One entry that cannot be read leaves its field empty; a wrong password
  // fails the load.
  const auto text = [&](std::string_view Key, void (TLKWordSummaryInformation::*Set)(const WideString&)) {
    WideString v;
    try {
      if (GetInfoString(Key, info, infoNum, infoGen, v)) (sum.*Set)(v);
    } catch (const EPasswordError&) {
      throw;
    } catch (const EEncryptionNotSupportedError&) {
      throw;
    } catch (const Exception&) {
    }
  };
  const auto date = [&](std::string_view Key, void (TLKWordSummaryInformation::*Set)(const TDateTime&)) {
    WideString v;
    try {
      if (GetInfoString(Key, info, infoNum, infoGen, v)) (sum.*Set)(PDFDateToDateTime(v));
    } catch (const EPasswordError&) {
      throw;
    } catch (const EEncryptionNotSupportedError&) {
      throw;
    } catch (const Exception&) {
    }
  };
  if (info.IsDict()) {
    text("Title", &TLKWordSummaryInformation::SetTitle);
    text("Author", &TLKWordSummaryInformation::SetAuthor);
    text("Subject", &TLKWordSummaryInformation::SetSubject);
    text("Keywords", &TLKWordSummaryInformation::SetKeywords);
    text("Producer", &TLKWordSummaryInformation::SetAppName);
    date("CreationDate", &TLKWordSummaryInformation::SetCreated);
    date("ModDate", &TLKWordSummaryInformation::SetLastSaved);
  }
  if (!sum.Title().empty() && !sum.Author().empty() && !sum.Subject().empty() && !sum.Keywords().empty() &&
      !sum.AppName().empty() && sum.Created() != 0 && sum.LastSaved() != 0)
    return;

  // The catalog's XMP packet fills what the dictionary lacks.
  TPDFObject catalog;
  if (!GetCatalog(catalog)) return;
  const TPDFObject* meta = catalog.Get("Metadata");
  if (!meta || !meta->IsRef()) return;
  RawByteString xml;
  try {
    if (!GetStreamData(meta->RefNum, xml)) return;
  } catch (const EPasswordError&) {
    throw;
  } catch (const EEncryptionNotSupportedError&) {
    throw;
  } catch (const Exception&) {
    return;
  }
  TPDFXMPInfo xmp;
  ParseXMPMetadata(xml, xmp);
  if (sum.Title().empty()) sum.SetTitle(xmp.Title);
  if (sum.Author().empty()) sum.SetAuthor(xmp.Author);
  if (sum.Subject().empty()) sum.SetSubject(xmp.Subject);
  if (sum.Keywords().empty()) sum.SetKeywords(xmp.Keywords);
  if (sum.AppName().empty()) sum.SetAppName(xmp.Producer);
  if (sum.Created() == 0) sum.SetCreated(xmp.Created);
  if (sum.LastSaved() == 0) sum.SetLastSaved(xmp.Modified);
}

}  // namespace lkw
