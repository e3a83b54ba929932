#include "lkword/platform/TextEncoding.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "lkword/platform/DateTime.h"

namespace lkw {
namespace {

std::string Utf8(std::u16string_view s) {
  std::string out = "prefix:";
  AppendUtf8(out, s);
  return out.substr(7);
}

std::string Json(std::u16string_view s) {
  std::string out;
  AppendJsonString(out, s);
  return out;
}

TEST(EncodingUtf8, EncodesEveryLengthAndAppends) {
  EXPECT_EQ(Utf8(u"plain ASCII"), "plain ASCII");
  EXPECT_EQ(Utf8(u"caf\u00e9 \u20ac5"), "caf\xC3\xA9 \xE2\x82\xAC" "5");
  EXPECT_EQ(Utf8(u"\U0001F600!"), "\xF0\x9F\x98\x80!");
  std::string out = "abc";
  AppendUtf8(out, u"d\u00e9");
  EXPECT_EQ(out, "abcd\xC3\xA9");
}

TEST(EncodingUtf8, LoneSurrogatesBecomeReplacementCharacters) {
  const std::string fffd = "\xEF\xBF\xBD";
  EXPECT_EQ(Utf8(std::u16string(1, char16_t(0xD800))), fffd);           // high at the end
  EXPECT_EQ(Utf8(std::u16string(1, char16_t(0xDC00)) + u"x"), fffd + "x");  // low alone
  EXPECT_EQ(Utf8(std::u16string{char16_t(0xD83D), u'a'}), fffd + "a");  // high before a non-surrogate
  EXPECT_EQ(Utf8(std::u16string{char16_t(0xD83D), char16_t(0xD83D), char16_t(0xDE00)}), fffd + "\xF0\x9F\x98\x80");
}

TEST(EncodingJson, EscapesWhatJsonAndJavaScriptForbid) {
  EXPECT_EQ(Json(u"a\"b\\c/d"), "\"a\\\"b\\\\c/d\"");
  EXPECT_EQ(Json(u"l1\nl2\r\tx\b\f"), "\"l1\\nl2\\r\\tx\\b\\f\"");
  EXPECT_EQ(Json(std::u16string(u"\x01\x1f\x7f", 3)), "\"\\u0001\\u001f\\u007f\"");
  EXPECT_EQ(Json(std::u16string(1, u'\0')), "\"\\u0000\"");
  EXPECT_EQ(Json(u"\u2028\u2029"), "\"\\u2028\\u2029\"");
  EXPECT_EQ(Json(u"\u00e9\U0001F600"), "\"\xC3\xA9\xF0\x9F\x98\x80\"");
  EXPECT_EQ(Json(std::u16string(1, char16_t(0xDFFF))), "\"\xEF\xBF\xBD\"");
}

// Long texts go through the encoders in blocks: a unit that needs more than
// one byte, or an escape, must come out the same at every position of a block.
TEST(EncodingEncoders, BlocksAgreeWithShortTexts) {
  const std::u16string specials[] = {u"\u00e9", u"\u20ac", u"\U0001F600", u"\r", u"\r\n", u"\r\r\n", u"\n", u"\"",
                                     u"\\", std::u16string(1, u'\0'), u"\x7f", u"\u2028", std::u16string(1, char16_t(0xD800))};
  for (const auto& special : specials) {
    for (size_t at = 0; at < 40; ++at) {
      SCOPED_TRACE(at);
      const std::u16string text = std::u16string(at, u'a') + special + std::u16string(40 - at, u'b');
      for (bool normalise : {false, true}) {
        // Texts shorter than a block take the unit-by-unit path.
        std::string expected(at, 'a');
        char small[16];
        expected.append(small, EncodeUtf8(small, special, normalise));
        expected += std::string(40 - at, 'b');
        std::string got(MaxUtf8Bytes(text.size()), '\0');
        got.resize(static_cast<size_t>(EncodeUtf8(got.data(), text, normalise) - got.data()));
        EXPECT_EQ(got, expected);
        // The same text given as UTF-8 is written alike.
        std::string utf8(MaxUtf8Bytes(text.size()), '\0');
        utf8.resize(static_cast<size_t>(EncodeUtf8(utf8.data(), text) - utf8.data()));
        std::string copied(utf8.size(), '\0');
        copied.resize(static_cast<size_t>(CopyUtf8(copied.data(), utf8, normalise) - copied.data()));
        EXPECT_EQ(copied, expected);

        std::string expectedJson(at, 'a');
        char smallJson[32];
        expectedJson.append(smallJson, EncodeJson(smallJson, special, normalise));
        expectedJson += std::string(40 - at, 'b');
        std::string json(MaxJsonBytes(text.size()), '\0');
        json.resize(static_cast<size_t>(EncodeJson(json.data(), text, normalise) - json.data()));
        EXPECT_EQ(json, expectedJson);
      }
    }
  }
}

TEST(EncodingEncoders, Utf8LineEndsAtTheEdges) {
  for (const auto& [in, out] : std::vector<std::pair<std::string, std::string>>{
           {"", ""}, {"\r", "\n"}, {"a\r", "a\n"}, {"\r\na", "\na"}, {"\r\n\r\n", "\n\n"}}) {
    std::string got(in.size(), '\0');
    got.resize(static_cast<size_t>(CopyUtf8(got.data(), in, true) - got.data()));
    EXPECT_EQ(got, out) << in.size();
  }
}

// Sets TZ for one test and restores it afterwards.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* tz) {
    if (const char* old = std::getenv("TZ")) FOld = old;
    ::setenv("TZ", tz, 1);
    ::tzset();
  }
  ~ScopedTimeZone() {
    if (FOld) ::setenv("TZ", FOld->c_str(), 1);
    else ::unsetenv("TZ");
    ::tzset();
  }

 private:
  std::optional<std::string> FOld;
};

TEST(EncodingDates, LocalTimeCarriesTheZoneOffsetOfThatDate) {
  {
    // POSIX rule strings need no time-zone database.
    ScopedTimeZone tz("CET-1CEST,M3.5.0,M10.5.0/3");
    EXPECT_EQ(FormatLocalISO8601(EncodeDateTime(2024, 5, 1, 10, 0, 0, 0)), "2024-05-01T10:00:00+02:00");
    EXPECT_EQ(FormatLocalISO8601(EncodeDateTime(2024, 1, 15, 23, 59, 58, 0)), "2024-01-15T23:59:58+01:00");
  }
  {
    ScopedTimeZone tz("EST5EDT,M3.2.0,M11.1.0");
    EXPECT_EQ(FormatLocalISO8601(EncodeDateTime(2001, 12, 24, 8, 30, 0, 0)), "2001-12-24T08:30:00-05:00");
  }
  {
    ScopedTimeZone tz("IST-5:30");
    EXPECT_EQ(FormatLocalISO8601(EncodeDateTime(2010, 7, 7, 0, 0, 0, 0)), "2010-07-07T00:00:00+05:30");
  }
  {
    ScopedTimeZone tz("UTC0");
    EXPECT_EQ(FormatLocalISO8601(EncodeDateTime(1999, 3, 4, 5, 6, 7, 0)), "1999-03-04T05:06:07+00:00");
  }
}

}  // namespace
}  // namespace lkw
