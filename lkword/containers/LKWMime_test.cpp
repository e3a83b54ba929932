#include "lkword/containers/LKWMime.h"

#include <gtest/gtest.h>

#include <string>

namespace lkw {
namespace {

TEST(MimeTest, WebArchivePartsDecoded) {
  // Folded headers, a quoted boundary, nested alternatives, quoted-printable
  // and base64 bodies, a part without headers, and no closing delimiter.
  const std::string message =
      "MIME-Version: 1.0\r\nContent-Type: multipart/related;\r\n\tboundary=\"=_b1\"; type=\"text/html\"\r\n\r\n"
      "preamble\r\n--=_b1\r\nContent-Type: text/html; charset=\"Windows-1252\"\r\n"
      "Content-Transfer-Encoding: quoted-printable\r\nContent-Location: file:///page.htm\r\n\r\n"
      "<p>caf=E9 and a soft=\r\n break, a=3Db, bad =ZZ</p>\r\n"
      "--=_b1\r\nContent-Type: multipart/alternative; boundary=inner\r\n\r\n--inner\r\n\r\nplain\r\n--inner--\r\n"
      "--=_b1\r\nContent-Type: image/png\r\nContent-Transfer-Encoding: base64\r\n\r\naGVs\r\nbG8=\r\n"
      "--=_b1\r\nContent-Type: text/css\r\n\r\ncut short";
  const std::vector<TMimePart> parts = MimeParts(message);
  ASSERT_EQ(parts.size(), 4u);
  EXPECT_EQ(parts[0].ContentType, "text/html");
  EXPECT_EQ(parts[0].Charset, "windows-1252");
  EXPECT_EQ(parts[0].Location, "file:///page.htm");
  EXPECT_EQ(parts[0].Body, "<p>caf\xE9 and a soft break, a=b, bad =ZZ</p>");
  EXPECT_EQ(parts[1].ContentType, "text/plain");
  EXPECT_EQ(parts[1].Body, "plain");
  EXPECT_EQ(parts[2].Body, "hello");
  EXPECT_EQ(parts[3].Body, "cut short");
  // A single part is itself; the part count is bounded.
  EXPECT_EQ(MimeParts("Content-Type: text/html\n\n<b>x</b>")[0].Body, "<b>x</b>");
  std::string many = "Content-Type: multipart/mixed; boundary=b\n\n";
  for (int i = 0; i < 50; ++i) many += "--b\n\nx\n";
  EXPECT_EQ(MimeParts(many, 10).size(), 10u);
}

}  // namespace
}  // namespace lkw
