#include "lkword/registry/LKWReaders.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "lkword/platform/Exceptions.h"
#include "lkword/platform/CodePages.h"
#include "lkword/platform/Streams.h"
#include "testing/MacWordBuilder.h"
#include "testing/ZipBuilder.h"

namespace lkw {
namespace {

const std::string kData = LKWORD_TESTDATA;

// Each format's sample must reach its own component, and that component must
// read it: a wrong row (test or factory) fails here.
TEST(LKWReadersTest, SamplesReachTheirComponentAndLoad) {
  const struct {
    const char* File;
    const char* Reader;
  } kCases[] = {
      {"/palmdoc/sample-compressed.pdb", "pdb"}, {"/doc/sample.doc", "doc"},
      {"/docx/sample.docx", "docx"},             {"/docx/sample-in-ole.docx", "docx"},
      {"/odf/sample.odt", "odt"},                {"/wpd/sample.wpd", "wpd"},
      {"/wpd/sample-ole.wpd", "wpd"},            {"/wri/sample.wri", "wri"},
      {"/wri/word-dos.wri", "wri"},              {"/fb2/tidewater.fb2", "fb2"},
      {"/epub/tidewater-epub3.epub", "epub"},    {"/pdf/hello.pdf", "pdf"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.File);
    const TLKWReaderInfo* info = nullptr;
    auto doc = CreateReaderFor(kData + c.File, &info);
    ASSERT_NE(doc, nullptr);
    ASSERT_NE(info, nullptr);
    EXPECT_STREQ(info->Name, c.Reader);
    doc->LoadFromFile(kData + c.File);
    EXPECT_GT(doc->Text().Count(), 0);
  }
}

// A Word for the Macintosh file has no container, only its magic: from
// memory as from a path it goes to the Word reader.
TEST(LKWReadersTest, AMacintoshWordFileGoesToTheWordReader) {
  testing::TMacWordBuilder b;
  b.Pieces = {"Mac text\r"};
  TBytesStream stream(b.Build());
  const TLKWReaderInfo* info = DetectReaderInfo(stream);
  ASSERT_NE(info, nullptr);
  EXPECT_STREQ(info->Name, "doc");
  auto doc = info->Create();
  doc->LoadFromStream(stream);
  ASSERT_EQ(doc->Text().Count(), 3);
  EXPECT_EQ(WideToUtf8(doc->Text().Get(1)), "Mac text\r\n");
}

// The registry takes the readers' own content tests, so what it sends to a
// reader is what the reader reads: a header after junk, in lower case.
TEST(LKWReadersTest, DetectionAgreesWithTheReader) {
  TFileStream file(kData + "/pdf/hello.pdf");
  RawByteString bytes = file.ReadBytes(file.Size());
  bytes.replace(0, 5, "%pdf-");
  TBytesStream stream("\r\njunk before the header\r\n" + bytes);
  const TLKWReaderInfo* info = DetectReaderInfo(stream);
  ASSERT_NE(info, nullptr);
  EXPECT_STREQ(info->Name, "pdf");
  auto doc = info->Create();
  doc->LoadFromStream(stream);
  EXPECT_NE(doc->Text().ToUtf8().find("Hello"), std::string::npos);
}

// A PDF whose header was lost or damaged: a damaged header at the start is
// sniffed; no header at all needs the name (or a forced reader) and objects.
TEST(LKWReadersTest, APDFWithoutItsHeader) {
  TFileStream file(kData + "/pdf/hello.pdf");
  const RawByteString bytes = file.ReadBytes(file.Size());
  const RawByteString body = bytes.substr(bytes.find('\n') + 1);
  TBytesStream garbled("%PDF.1.4\n" + body);
  ASSERT_NE(DetectReaderInfo(garbled), nullptr);
  EXPECT_STREQ(DetectReaderInfo(garbled)->Name, "pdf");
  TBytesStream headless(body);
  EXPECT_EQ(DetectReaderInfo(headless), nullptr);
  const TLKWReaderInfo* info = DetectReaderInfo(headless, "dir/report.PDF");
  ASSERT_NE(info, nullptr);
  EXPECT_STREQ(info->Name, "pdf");
  auto doc = info->Create();
  doc->LoadFromStream(headless);
  EXPECT_NE(doc->Text().ToUtf8().find("Hello"), std::string::npos);
  // Named a PDF is not enough: text, or "obj" not at a line start, is not one.
  TBytesStream prose("Notes on the 3 0 obj keyword and the xref table.\n");
  EXPECT_EQ(DetectReaderInfo(prose, "notes.pdf"), nullptr);
  TBytesStream named(body);
  EXPECT_EQ(DetectReaderInfo(named, "notes.txt"), nullptr);
}

// A zipped FictionBook is a zip too: its test must come before EPUB's.
TEST(LKWReadersTest, AZippedBookGoesToItsOwnReader) {
  const std::string book =
      "<?xml version=\"1.0\"?><FictionBook xmlns=\"http://www.gribuser.ru/xml/fictionbook/2.0\">"
      "<body><section><p>one</p></section></body></FictionBook>";
  for (const bool deflated : {false, true}) {
    using TMembers = std::vector<std::pair<std::string, std::string>>;
    TBytesStream stream(testing::MakeZip(
        TMembers{{"books/", ""}, {"readme.txt", "not a book"}, {"books/Story.FB2", book}}, deflated));
    const TLKWReaderInfo* info = DetectReaderInfo(stream);
    ASSERT_NE(info, nullptr);
    EXPECT_STREQ(info->Name, "fb2");
  }
}

TEST(LKWReadersTest, ContentThatIsNoDocumentFindsNoComponent) {
  const RawByteString kInputs[] = {
      "",
      "plain text that mentions %PD but not the header",
      std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(600, '\0'),  // a broken compound file
      std::string("PK\x03\x04", 4) + std::string(40, '\0'),                            // a broken zip
      "<?xml version=\"1.0\"?><html><body>not fiction</body></html>",
  };
  for (const RawByteString& bytes : kInputs) {
    SCOPED_TRACE(bytes.substr(0, 12));
    TBytesStream stream(bytes);
    stream.Seek(static_cast<int64_t>(bytes.size() / 2), soBeginning);
    EXPECT_EQ(CreateReaderFor(stream), nullptr);
    EXPECT_EQ(stream.Position(), 0);
  }
}

TEST(LKWReadersTest, StreamIsRewoundForTheComponent) {
  TFileStream file(kData + "/pdf/hello.pdf");
  TBytesStream stream(file.ReadBytes(file.Size()));
  stream.Seek(5, soBeginning);
  auto doc = CreateReaderFor(stream);
  ASSERT_NE(doc, nullptr);
  EXPECT_EQ(stream.Position(), 0);
  doc->LoadFromStream(stream);
  EXPECT_NE(doc->Text().ToUtf8().find("Hello"), std::string::npos);
}

TEST(LKWReadersTest, MissingFileRaisesTheComponentsMessage) {
  try {
    CreateReaderFor(kData + "/no-such-file.doc");
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "File " + kData + "/no-such-file.doc is not found.");
  }
}

// A file whose reading fails part way with a standard library exception, the
// way an allocation deep inside a reader fails.
class TFailingStream : public TStream {
 public:
  TFailingStream(RawByteString Bytes, int64_t FailAt, bool OutOfMemory)
      : FBytes(std::move(Bytes)), FFailAt(FailAt), FOutOfMemory(OutOfMemory) {}
  int64_t Read(void* Buffer, int64_t Count) override {
    if (Count > 0 && FPos <= FFailAt && FPos + Count > FFailAt) {
      if (FOutOfMemory) throw std::bad_alloc();
      throw std::out_of_range("vector::_M_range_check");
    }
    const int64_t n = std::max<int64_t>(0, std::min<int64_t>(Count, static_cast<int64_t>(FBytes.size()) - FPos));
    if (n > 0) std::memcpy(Buffer, FBytes.data() + FPos, static_cast<size_t>(n));
    FPos += n;
    return n;
  }
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override {
    const int64_t base = Origin == soBeginning ? 0 : Origin == soCurrent ? FPos : static_cast<int64_t>(FBytes.size());
    FPos = std::max<int64_t>(0, base + Offset);
    return FPos;
  }

 private:
  RawByteString FBytes;
  int64_t FPos = 0;
  int64_t FFailAt;
  bool FOutOfMemory;
};

// Whatever fails inside, only the library's exceptions leave a component,
// and running out of memory is reported as such.
TEST(LKWReadersTest, StandardExceptionsLeaveAsTheLibrarysOwn) {
  const char* const kFiles[] = {"/palmdoc/sample-compressed.pdb", "/doc/sample.doc", "/docx/sample.docx",
                                "/odf/sample.odt", "/wpd/sample.wpd", "/wri/sample.wri", "/fb2/tidewater.fb2",
                                "/epub/tidewater-epub3.epub", "/pdf/hello.pdf"};
  for (const char* file : kFiles) {
    TFileStream in(kData + file);
    const RawByteString bytes = in.ReadBytes(in.Size());
    const int64_t size = static_cast<int64_t>(bytes.size());
    for (const int64_t at : {int64_t{0}, int64_t{100}, size / 2}) {
      for (const bool oom : {true, false}) {
        SCOPED_TRACE(std::string(file) + " at " + std::to_string(at) + (oom ? ", bad_alloc" : ", out_of_range"));
        TBytesStream probe(bytes);
        auto doc = CreateReaderFor(probe);
        ASSERT_NE(doc, nullptr);
        TFailingStream stream(bytes, at, oom);
        try {
          doc->LoadFromStream(stream);
          ADD_FAILURE() << "no exception";
        } catch (const EOutOfMemory&) {
          EXPECT_TRUE(oom);
        } catch (const Exception& e) {
          EXPECT_FALSE(oom);
          EXPECT_FALSE(e.Message().empty());
        } catch (...) {
          ADD_FAILURE() << "an exception of another family";
        }
      }
    }
  }
}

TEST(LKWReadersTest, TableIsConsistentAndSearchable) {
  std::set<std::string> names, extensions;
  for (const TLKWReaderInfo& r : RegisteredReaders()) {
    EXPECT_TRUE(names.insert(r.Name).second) << r.Name;
    EXPECT_FALSE(r.Extensions.empty()) << r.Name;
    for (const char* e : r.Extensions) EXPECT_TRUE(extensions.insert(e).second) << e;
    EXPECT_EQ(FindReaderInfo(r.Name), &r);
    EXPECT_EQ(FindReaderInfo(r.ComponentName), &r);
    EXPECT_NE(r.Create(), nullptr);
  }
  EXPECT_EQ(RegisteredReaders().size(), 11u);
  EXPECT_EQ(FindReaderInfo("PDF"), FindReaderInfo("tlkpdfreader"));
  EXPECT_EQ(FindReaderInfo("txt"), nullptr);
  EXPECT_EQ(FindReaderInfo(""), nullptr);

  EXPECT_STREQ(ReaderInfoForExtension("dir.v2/Report.DOCX")->Name, "docx");
  EXPECT_STREQ(ReaderInfoForExtension("book.prc")->Name, "pdb");
  EXPECT_EQ(ReaderInfoForExtension("dir.pdf/readme"), nullptr);
  EXPECT_EQ(ReaderInfoForExtension(".pdf"), nullptr);

  const std::string filter = DocumentFilter();
  EXPECT_EQ(filter.rfind("All documents|*.pdb;*.prc;*.mobi;*.doc;", 0), 0u);
  EXPECT_NE(filter.find("|PDF documents (also encrypted ones, with a password) (*.pdf)|*.pdf"), std::string::npos);
}

// The host's sink and the list are two consumers of one text path: for
// every reader that streams, the sink (the frame's last item held, as the
// tool asks) must give the list's text, in each format and under a limit.
TEST(LKWReadersTest, SinkAndListGiveTheSameText) {
  // The RTF header carries the time of the load, which may move on.
  auto withoutClock = [](WideString Text) {
    for (const std::u16string_view word : {u"\\yr", u"\\mo", u"\\dy", u"\\hr", u"\\min"})
      for (size_t at = Text.find(word); at != WideString::npos; at = Text.find(word, at + 1)) {
        size_t end = at + word.size();
        while (end < Text.size() && Text[end] >= u'0' && Text[end] <= u'9') ++end;
        Text.erase(at + word.size(), end - at - word.size());
      }
    return Text;
  };
  const char* const kFiles[] = {"samples/hello.pdf", "samples/keeper.doc", "samples/keeper.docx", "samples/keeper.odt",
                                "samples/lighthouse.pdb", "samples/harbour-notes.pdb", "doc/sample.doc",
                                "docx/sample.docx", "odf/sample.odt", "palmdoc/sample-compressed.pdb"};
  for (const char* file : kFiles)
    for (const TMSTextFormating format : {tfPlainText, tfRTF, tfHTML})
      for (const int32_t limit : {0, 150}) {
        SCOPED_TRACE(std::string(file) + " format " + std::to_string(format) + " limit " + std::to_string(limit));
        auto listed = CreateReaderFor(kData + "/" + file);
        auto sunk = CreateReaderFor(kData + "/" + file);
        ASSERT_TRUE(listed && sunk);
        ASSERT_TRUE(sunk->SupportsTextSink());
        WideString expected, joined;
        for (auto* doc : {listed.get(), sunk.get()}) {
          doc->SetTextFormating(format);
          doc->SetMaxTextLength(limit);
        }
        sunk->SetHoldTextFinish(true);
        sunk->SetTextSink([&](std::u16string_view Item) { joined.append(Item).append(u"\r\n"); });
        sunk->SetUtf8TextSink([&](std::string_view Item) {
          for (const char16_t c : Utf8ToWide(Item)) joined.append(c == u'\n' ? u"\r\n" : std::u16string(1, c));
          joined += u"\r\n";
        });
        listed->LoadFromFile(kData + "/" + file);
        sunk->LoadFromFile(kData + "/" + file);
        if (sunk->TextFinishHeld()) joined.append(sunk->HeldTextFinish()).append(u"\r\n");
        for (const WideString& item : listed->Text().Items()) expected.append(item).append(u"\r\n");
        EXPECT_EQ(sunk->Text().Count(), 0);
        EXPECT_FALSE(expected.empty());
        EXPECT_TRUE(withoutClock(expected) == withoutClock(joined));
      }
}

}  // namespace
}  // namespace lkw
