#include "lkword/framework/MSW_Sum.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "lkword/platform/DateTime.h"
#include "lkword/platform/Exceptions.h"

namespace lkw {
namespace {

uint64_t FileTimeOf(int y, int m, int d, int h, int mi, int s) {
  int64_t unix = DateTimeToUnix(EncodeDateTime(y, m, d, h, mi, s, 0));
  return static_cast<uint64_t>(FileTimeUnixEpoch + unix * FileTimeTicksPerSecond);
}

std::string Bytes64(uint64_t v) {
  std::string b(8, '\0');
  for (int i = 0; i < 8; ++i) b[static_cast<size_t>(i)] = static_cast<char>(v >> (8 * i));
  return b;
}

const uint8_t* P(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

class SummaryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
  }
};

TEST_F(SummaryTest, TextPropertiesStopAtTheFirstZeroAndUseTheGivenCodePage) {
  TLKWordSummaryInformation s;
  std::string title("Report\0", 7);
  s.ParseProperty(2, P(title), title.size(), false);
  EXPECT_EQ(s.Title(), u"Report");
  std::string cut("ab\0cd", 5);
  s.ParseProperty(4, P(cut), cut.size(), false);
  EXPECT_EQ(s.Author(), u"ab");
  std::string ansi("Caf\xE9");
  s.ParseProperty(3, P(ansi), ansi.size(), false);
  EXPECT_EQ(s.Subject(), u"Caf\u00E9");
  std::string utf8("Caf\xC3\xA9");
  s.ParseProperty(6, P(utf8), utf8.size(), false, 65001);
  EXPECT_EQ(s.Comments(), u"Caf\u00E9");
  // Identifiers of the other set land in other fields.
  s.ParseProperty(2, P(title), title.size(), true);
  EXPECT_EQ(s.Category(), u"Report");
  s.ParseProperty(15, P(title), title.size(), true);
  EXPECT_EQ(s.Company(), u"Report");
  // Ignored identifiers and short values change nothing.
  s.ParseProperty(1, P(title), title.size(), false);
  s.ParseProperty(14, P(title), 3, false);
  EXPECT_EQ(s.PageCount(), 0);
}

TEST_F(SummaryTest, IntegersDatesAndEditingTime) {
  TLKWordSummaryInformation s;
  std::string n("\x2A\x00\x00\x00", 4);
  s.ParseProperty(14, P(n), 4, false);
  s.ParseProperty(17, P(n), 4, true);
  EXPECT_EQ(s.PageCount(), 42);
  EXPECT_EQ(s.CharCount2(), 42);
  std::string created = Bytes64(FileTimeOf(2015, 3, 7, 9, 5, 31));
  s.ParseProperty(12, P(created), 8, false);
  EXPECT_DOUBLE_EQ(s.Created(), EncodeDateTime(2015, 3, 7, 9, 5, 30, 0));  // two-second resolution
  std::string old = Bytes64(FileTimeOf(1979, 12, 31, 12, 0, 0));
  s.ParseProperty(13, P(old), 8, false);
  EXPECT_EQ(s.LastSaved(), 0.0);
  // 90 minutes of editing is 90, not the minute of an hour.
  std::string edit = Bytes64(90ULL * 600000000ULL);
  s.ParseProperty(10, P(edit), 8, false);
  EXPECT_EQ(s.EditTime(), 90);
}

TEST_F(SummaryTest, ClearAndAssignCoverEveryField) {
  TLKWordSummaryInformation a;
  a.SetTitle(u"T");
  a.SetPageCount(3);
  a.SetCharCount2(77);
  a.SetCreated(40000.5);
  a.SetCompany(u"C");
  TLKWordSummaryInformation b;
  b.Assign(a);
  EXPECT_EQ(b.Title(), u"T");
  EXPECT_EQ(b.CharCount2(), 77);
  EXPECT_EQ(b.Created(), 40000.5);
  EXPECT_EQ(b.Company(), u"C");
  a.Clear();
  EXPECT_EQ(a.Title(), u"");
  EXPECT_EQ(a.PageCount(), 0);
  EXPECT_EQ(a.Created(), 0.0);
  TPersistent other;
  EXPECT_THROW(b.Assign(other), EConvertError);

  struct Counter : TSummaryVisitor {
    int n = 0;
    void Text(const char*, const WideString&) override { ++n; }
    void Integer(const char*, int32_t) override { ++n; }
    void Date(const char*, TDateTime) override { ++n; }
  } c;
  VisitSummary(b, c);
  EXPECT_EQ(c.n, 28);
}

}  // namespace
}  // namespace lkw
