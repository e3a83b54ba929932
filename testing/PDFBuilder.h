// Builds small PDF files for the tests: objects with correct offsets, classic
// tables, cross-reference streams, object streams and incremental updates;
// and what the tests read back from a loaded reader.
#pragma once

#include <zlib.h>

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "lkword/pdf/LKWPDF.h"
#include "lkword/platform/CodePages.h"
#include "lkword/platform/Streams.h"

namespace lkw::pdftest {

inline std::string Deflate(const std::string& Data) {
  uLongf size = compressBound(static_cast<uLong>(Data.size()));
  std::string out(size, '\0');
  compress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(Data.data()),
           static_cast<uLong>(Data.size()));
  out.resize(size);
  return out;
}

// "<< /Length N extra >>\nstream\n" data "\nendstream"
inline std::string Stream(const std::string& Data, const std::string& Extra = "") {
  return "<< /Length " + std::to_string(Data.size()) + (Extra.empty() ? "" : " " + Extra) + " >>\nstream\n" + Data +
         "\nendstream";
}

// A one-page document: catalog 1, pages 2, page 3, content 4.
inline std::map<int, std::string> OnePage(const std::string& Content = "BT (Hi) Tj ET") {
  return {{1, "<< /Type /Catalog /Pages 2 0 R >>"},
          {2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>"},
          {3, "<< /Type /Page /Parent 2 0 R /Contents 4 0 R >>"},
          {4, Stream(Content)}};
}

class Builder {
 public:
  explicit Builder(std::string Header = "%PDF-1.7\n") : FOut(std::move(Header)) {}

  // Writes the objects and remembers their offsets.
  Builder& Objects(const std::map<int, std::string>& Objs) {
    for (const auto& [num, body] : Objs) {
      FOffsets[num] = FOut.size();
      FOut += std::to_string(num) + " 0 obj\n" + body + "\nendobj\n";
    }
    return *this;
  }

  // A classic table of the objects written since the last section, in
  // subsections of consecutive numbers, then the trailer and startxref.
  Builder& Table(const std::string& TrailerExtra, bool WithFreeHead = true) {
    const size_t xref = FOut.size();
    FOut += "xref\n";
    std::map<int, size_t> entries(FOffsets.begin(), FOffsets.end());
    if (WithFreeHead) entries[0] = 0;
    auto it = entries.begin();
    while (it != entries.end()) {
      auto end = it;
      int expect = it->first;
      std::string lines;
      while (end != entries.end() && end->first == expect) {
        char buf[32];
        if (end->first == 0) std::snprintf(buf, sizeof buf, "%010d 65535 f \n", 0);
        else std::snprintf(buf, sizeof buf, "%010zu 00000 n \n", end->second);
        lines += buf;
        ++end;
        ++expect;
      }
      FOut += std::to_string(it->first) + " " + std::to_string(expect - it->first) + "\n" + lines;
      it = end;
    }
    FOut += "trailer\n<< /Size " + std::to_string(MaxNum() + 1) + " " + TrailerExtra + Prev() + " >>\n";
    Finish(xref);
    return *this;
  }

  // A cross-reference stream (/W [1 4 2]) as object Num; Compressed maps
  // objects stored in object streams to (stream number, index).
  Builder& XRefStream(int Num, const std::string& TrailerExtra,
                      const std::map<int, std::pair<int, int>>& Compressed = {}, bool Flate = true) {
    const size_t xref = FOut.size();
    FOffsets[Num] = xref;
    std::map<int, std::string> rows;
    auto row = [](int type, uint32_t f2, uint16_t f3) {
      std::string r(7, '\0');
      r[0] = static_cast<char>(type);
      for (int i = 0; i < 4; ++i) r[1 + i] = static_cast<char>(f2 >> (24 - 8 * i));
      r[5] = static_cast<char>(f3 >> 8);
      r[6] = static_cast<char>(f3);
      return r;
    };
    for (const auto& [num, off] : FOffsets) rows[num] = row(1, static_cast<uint32_t>(off), 0);
    for (const auto& [num, where] : Compressed) rows[num] = row(2, static_cast<uint32_t>(where.first), where.second);
    rows[0] = row(0, 0, 65535);
    // Runs of consecutive numbers become the /Index pairs.
    std::string data, index;
    for (auto it = rows.begin(); it != rows.end();) {
      int first = it->first, n = 0;
      while (it != rows.end() && it->first == first + n) {
        data += it->second;
        ++it;
        ++n;
      }
      index += std::to_string(first) + " " + std::to_string(n) + " ";
    }
    const int size = rows.rbegin()->first + 1;
    const std::string body = Flate ? Deflate(data) : data;
    FOut += std::to_string(Num) + " 0 obj\n<< /Type /XRef /W [1 4 2] /Index [" + index + "] /Size " + std::to_string(size) +
            (Flate ? " /Filter /FlateDecode" : "") + " /Length " + std::to_string(body.size()) + " " + TrailerExtra +
            Prev() + " >>\nstream\n" + body + "\nendstream\nendobj\n";
    Finish(xref);
    return *this;
  }

  // An object stream holding Objs, written as object Num.
  Builder& ObjStm(int Num, const std::map<int, std::string>& Objs) {
    std::string header, bodies;
    for (const auto& [num, body] : Objs) {
      header += std::to_string(num) + " " + std::to_string(bodies.size()) + " ";
      bodies += body + "\n";
    }
    const std::string data = header + bodies;
    return Objects({{Num, Stream(Deflate(data), "/Type /ObjStm /Filter /FlateDecode /N " +
                                                    std::to_string(Objs.size()) + " /First " +
                                                    std::to_string(header.size()))}});
  }

  // Starts an incremental update: later objects and sections are appended.
  Builder& Update() {
    FOffsets.clear();
    return *this;
  }

  const std::string& Bytes() const { return FOut; }
  size_t LastXRef() const { return FLastXRef; }
  size_t OffsetOf(int Num) const { return FOffsets.at(Num); }

 private:
  int MaxNum() const { return FOffsets.empty() ? 0 : FOffsets.rbegin()->first; }
  std::string Prev() const { return FHasXRef ? " /Prev " + std::to_string(FLastXRef) : ""; }
  void Finish(size_t XRef) {
    FOut += "startxref\n" + std::to_string(XRef) + "\n%%EOF\n";
    FLastXRef = XRef;
    FHasXRef = true;
  }

  std::string FOut;
  std::map<int, size_t> FOffsets;
  size_t FLastXRef = 0;
  bool FHasXRef = false;
};

// Objs with a classic table, object 1 the catalog.
inline std::string Document(const std::map<int, std::string>& Objs) {
  return Builder().Objects(Objs).Table("/Root 1 0 R").Bytes();
}

// Loads Bytes into Reader.
inline void Load(TLKPDFReader& Reader, const std::string& Bytes) {
  TBytesStream s(Bytes);
  Reader.LoadFromStream(s);
}

#ifdef LKWORD_TESTDATA
// A document of testdata/pdf.
inline std::string TestFile(const std::string& Name) { return std::string(LKWORD_TESTDATA) + "/pdf/" + Name; }
// Loads testdata/pdf/Name with Password.
inline void LoadFile(TLKPDFReader& Reader, const std::string& Name, const std::string& Password = "") {
  Reader.SetPassword(Password);
  Reader.LoadFromFile(TestFile(Name));
}
#endif

// The decoded content streams of the page at Index.
inline std::string PageContents(TLKPDFReader& Reader, int Index = 0) {
  const TLKPDFPage* p = Reader.Pages().GetPage(Index);
  return p ? Reader.GetPageContents(p->ObjNumber()) : "<no page>";
}

// The text items as UTF-8, and those between the header and the footer.
inline std::vector<std::string> Items(TLKPDFReader& Reader) {
  std::vector<std::string> out;
  for (const WideString& s : Reader.Text().Items()) out.push_back(WideToUtf8(s));
  return out;
}
inline std::vector<std::string> Body(TLKPDFReader& Reader) {
  std::vector<std::string> items = Items(Reader);
  if (items.size() < 2) return {};
  return std::vector<std::string>(items.begin() + 1, items.end() - 1);
}

inline bool HasWarning(const TLKPDFReader& Reader, std::string_view Part) {
  for (const auto& w : Reader.Warnings())
    if (w.Message.find(Part) != std::string::npos) return true;
  return false;
}

// The message of what loading Bytes raised; "" when it loaded.
inline std::string LoadError(const std::string& Bytes) {
  TLKPDFReader r;
  try {
    Load(r, Bytes);
  } catch (const Exception& e) {
    return e.what();
  }
  return "";
}

inline std::string Hex(std::string_view Bytes) {
  static const char* const kDigits = "0123456789abcdef";
  std::string out;
  for (const unsigned char c : Bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

// Page resources with /F1, Helvetica in WinAnsiEncoding.
inline constexpr const char* kHelveticaResources =
    "<< /Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >> >> >>";

// Text shown in /F1 at 12 points, 72 points in and 92 down.
inline std::string Show(const std::string& Text) { return "BT /F1 12 Tf 72 700 Td (" + Text + ") Tj ET"; }

// A page (object 10, content 11) whose label "Applicant:" and the line
// "Below." are followed by the annotations Annots; objects 20 on are theirs
// (AnnotObjects, by number), and a catalog (1) among them replaces the plain
// one.
inline std::string AnnotatedPage(const std::string& Annots, const std::map<int, std::string>& AnnotObjects) {
  std::map<int, std::string> objs = AnnotObjects;
  objs.emplace(1, "<< /Type /Catalog /Pages 2 0 R >>");
  objs[2] = std::string("<< /Type /Pages /Kids [10 0 R] /Count 1 /Resources ") + kHelveticaResources + " >>";
  objs[10] = "<< /Type /Page /Parent 2 0 R /Contents 11 0 R /Annots [" + Annots + "] >>";
  objs[11] = Stream(Show("Applicant:") + " BT /F1 12 Tf 72 600 Td (Below.) Tj ET");
  return Document(objs);
}

// An appearance form showing Text in a 100 x 10 box, with /F1.
inline std::string Appearance(const std::string& Text) {
  return Stream("/Tx BMC BT /F1 8 Tf 2 2 Td (" + Text + ") Tj ET EMC",
                std::string("/Type /XObject /Subtype /Form /BBox [0 0 100 10] /Resources ") + kHelveticaResources);
}

// The separator line in front of each page's text.
inline const std::string kPageSeparator = "--------------------";

}  // namespace lkw::pdftest
