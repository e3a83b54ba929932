#include "lkword/framework/LKWReaders.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "lkword/platform/Exceptions.h"
#include "lkword/platform/Streams.h"

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
  EXPECT_EQ(filter.rfind("All documents|*.pdb;*.prc;*.doc;", 0), 0u);
  EXPECT_NE(filter.find("|PDF documents (also encrypted ones, with a password) (*.pdf)|*.pdf"), std::string::npos);
}

}  // namespace
}  // namespace lkw
