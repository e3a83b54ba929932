// Every PDF of the shared corpora (when they are present) opens, and each
// page's content streams decode to exactly what qpdf decodes
// (testdata/pdf/corpus-content.txt, made by testdata/pdf/corpus_content.py).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "lkword/crypto/LKWCrypt.h"
#include "lkword/pdf/LKWPDF.h"
#include "testing/PDFBuilder.h"

namespace lkw {
namespace {

namespace fs = std::filesystem;

fs::path SharedDir() {
  if (const char* env = std::getenv("LKWORD_SHARED")) return env;
  return fs::path(LKWORD_TESTDATA) / ".." / ".." / "shared";
}

// "corpus/pdf/x.pdf" -> [(page object, md5)]; files qpdf cannot read are absent.
std::map<std::string, std::vector<std::pair<int, std::string>>> Expected() {
  std::map<std::string, std::vector<std::pair<int, std::string>>> out;
  std::ifstream in(std::string(LKWORD_TESTDATA) + "/pdf/corpus-content.txt");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream ls(line);
    std::string file, obj, md5;
    ls >> file >> obj >> md5;
    if (obj == "unreadable" || md5.empty()) continue;
    out[file].emplace_back(std::stoi(obj), md5);
  }
  return out;
}

const std::map<std::string, std::string> kPublicPasswords = {
    {"fc_OOo320_simple-open-password.pdf", "password"},
    {"pypdf_libreoffice-writer-password.pdf", "openpassword"},
    {"qpdf_enc-R3_V2_U-view_O-master.pdf", "view"},
    {"tika_testPassword4Spaces.pdf", "    "},
};

struct TPageResult {
  int Object;
  std::string MD5;
  size_t Size;
};

std::vector<TPageResult> ReadPages(const fs::path& File, TLKPDFReader& R) {
  std::string pw;
  if (std::ifstream p(File.string() + ".password"); p) std::getline(p, pw);
  if (const auto it = kPublicPasswords.find(File.filename().string()); it != kPublicPasswords.end()) pw = it->second;
  R.SetPassword(pw);
  R.LoadFromFile(File.string());
  std::vector<TPageResult> pages;
  for (int i = 0; i < R.Pages().Count(); ++i) {
    const int obj = R.Pages().GetPage(i)->ObjNumber();
    const RawByteString c = R.GetPageContents(obj);
    pages.push_back({obj, pdftest::Hex(MD5String(c)), c.size()});
  }
  return pages;
}

TEST(PDFCorpus, PagesDecodeAsQpdfDecodesThem) {
  const fs::path shared = SharedDir();
  if (!fs::exists(shared / "corpus" / "pdf")) GTEST_SKIP() << "shared corpus not present";
  const auto expected = Expected();
  ASSERT_FALSE(expected.empty());
  int files = 0;
  for (const char* sub : {"corpus/pdf", "corpus-public/pdf"}) {
    if (!fs::exists(shared / sub)) continue;
    for (const auto& entry : fs::directory_iterator(shared / sub)) {
      if (entry.path().extension() != ".pdf") continue;
      const std::string key = std::string(sub) + "/" + entry.path().filename().string();
      SCOPED_TRACE(key);
      TLKPDFReader r;
      std::vector<TPageResult> pages;
      ASSERT_NO_THROW(pages = ReadPages(entry.path(), r));
      ++files;
      const auto it = expected.find(key);
      if (it == expected.end()) continue;  // qpdf cannot read it; checked below
      ASSERT_EQ(pages.size(), it->second.size());
      for (size_t i = 0; i < pages.size(); ++i) {
        EXPECT_EQ(pages[i].Object, it->second[i].first) << "page " << i + 1;
        EXPECT_EQ(pages[i].MD5, it->second[i].second) << "page " << i + 1;
        if (key != "corpus/pdf/dmg-corrupt-flate-p2.pdf" || i != 1) {
          EXPECT_GT(pages[i].Size, 0u) << "page " << i + 1;
        }
      }
    }
  }
  EXPECT_GT(files, 60);
}

TEST(PDFCorpus, DamagedFilesGiveWhatSurvives) {
  const fs::path dir = SharedDir() / "corpus" / "pdf";
  if (!fs::exists(dir)) GTEST_SKIP() << "shared corpus not present";
  auto pages = [&](const char* name) {
    TLKPDFReader r;
    auto p = ReadPages(dir / name, r);
    std::vector<std::string> md5;
    for (const auto& x : p) md5.push_back(x.MD5);
    return md5;
  };
  // A wrong startxref over a cross-reference stream: rebuilt in full.
  EXPECT_EQ(pages("dmg-bad-startxref-xrefstream.pdf"), pages("pdflatex-report.pdf"));
  // Truncated with its page tree: the first two pages survive intact.
  const auto cut = pages("dmg-truncated90-linearized.pdf");
  const auto whole = pages("var-linearized.pdf");
  ASSERT_GE(cut.size(), 2u);
  EXPECT_EQ(cut[0], whole[0]);
  EXPECT_EQ(cut[1], whole[1]);
  // Truncated before its catalog: no pages, and no error.
  EXPECT_TRUE(pages("dmg-truncated90.pdf").empty());
}

}  // namespace
}  // namespace lkw
