#include <gtest/gtest.h>
#include <zlib.h>

#include <map>
#include <string>

#include "lkword/pdf/LKWPDF.h"
#include "testing/PDFBuilder.h"

namespace lkw {
namespace {

using pdftest::Deflate;

constexpr size_t kBig = size_t{1} << 30;

std::string Bytes(std::initializer_list<int> v) {
  std::string s;
  for (int b : v) s += static_cast<char>(b);
  return s;
}

// Text that compresses moderately, so damage lands in the middle of output.
std::string SampleText(size_t n) {
  std::string s;
  uint32_t x = 12345;
  while (s.size() < n) {
    x = x * 1103515245 + 12345;
    s += "word" + std::to_string((x >> 16) % 997) + ' ';
  }
  return s;
}

// An LZW encoder for the tests: clear code first, a clear whenever the table
// is full, and code widths that follow the decoder's table.
std::string LZWEncode(const std::string& In, bool MsbFirst, int EarlyChange) {
  std::string out;
  uint32_t bits = 0;
  int count = 0;
  auto put = [&](int code, int width) {
    if (MsbFirst) {
      bits = (bits << width) | static_cast<uint32_t>(code);
      count += width;
      while (count >= 8) {
        out += static_cast<char>((bits >> (count - 8)) & 0xff);
        count -= 8;
      }
    } else {
      bits |= static_cast<uint32_t>(code) << count;
      count += width;
      while (count >= 8) {
        out += static_cast<char>(bits & 0xff);
        bits >>= 8;
        count -= 8;
      }
    }
  };
  std::map<std::string, int> dict;
  int emitted = 0;  // codes since the last clear
  auto width = [&] {
    int w = 9;
    const int next = 258 + std::max(0, emitted - 1);
    while (w < 12 && next + EarlyChange >= (1 << w)) ++w;
    return w;
  };
  auto emit = [&](int code) {
    put(code, width());
    ++emitted;
  };
  emit(256);
  emitted = 0;
  std::string cur;
  for (char c : In) {
    const std::string t = cur + c;
    if (cur.empty() || dict.count(t)) {
      cur = t;
      continue;
    }
    emit(cur.size() == 1 ? static_cast<uint8_t>(cur[0]) : dict[cur]);
    if (258 + static_cast<int>(dict.size()) < 4096 - 1) {
      dict[t] = 258 + static_cast<int>(dict.size());
    } else {
      emit(256);
      dict.clear();
      emitted = 0;
    }
    cur = std::string(1, c);
  }
  if (!cur.empty()) emit(cur.size() == 1 ? static_cast<uint8_t>(cur[0]) : dict[cur]);
  emit(257);
  if (count > 0) put(0, 8 - count % 8);
  return out;
}

TEST(PDFFilters, FlateRoundTripAndRawDeflate) {
  const std::string text = SampleText(100000);
  TPDFDecodeStatus st;
  EXPECT_EQ(PDFFlateDecode(Deflate(text), kBig, st), text);
  EXPECT_EQ(st, TPDFDecodeStatus::dsOK);

  // A stream written without the zlib header.
  z_stream zs{};
  deflateInit2(&zs, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string raw(compressBound(text.size()), '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  zs.avail_in = static_cast<uInt>(text.size());
  zs.next_out = reinterpret_cast<Bytef*>(raw.data());
  zs.avail_out = static_cast<uInt>(raw.size());
  deflate(&zs, Z_FINISH);
  raw.resize(zs.total_out);
  deflateEnd(&zs);
  EXPECT_EQ(PDFFlateDecode(raw, kBig, st), text);
}

TEST(PDFFilters, CorruptFlateKeepsWhatInflatedBefore) {
  const std::string text = SampleText(200000);
  std::string z = Deflate(text);
  for (size_t i = z.size() * 3 / 4; i < z.size() * 3 / 4 + 40; ++i) z[i] = static_cast<char>(z[i] ^ 0x5a);
  TPDFDecodeStatus st;
  const std::string out = PDFFlateDecode(z, kBig, st);
  EXPECT_EQ(st, TPDFDecodeStatus::dsCorrupt);
  EXPECT_GT(out.size(), text.size() / 2);
  EXPECT_EQ(text.compare(0, out.size() / 2, out, 0, out.size() / 2), 0);
  // A cut stream gives its prefix too.
  const std::string cut = PDFFlateDecode(Deflate(text).substr(0, 5000), kBig, st);
  EXPECT_EQ(st, TPDFDecodeStatus::dsCorrupt);
  EXPECT_EQ(text.compare(0, cut.size(), cut), 0);
  EXPECT_TRUE(PDFFlateDecode("not deflate at all", kBig, st).empty());
}

TEST(PDFFilters, DecodedSizeIsCapped) {
  const std::string bomb = Deflate(std::string(16 << 20, '\0'));
  TPDFDecodeStatus st;
  EXPECT_EQ(PDFFlateDecode(bomb, 1 << 20, st).size(), size_t{1} << 20);
  EXPECT_EQ(st, TPDFDecodeStatus::dsTruncated);
  const std::string lzw = LZWEncode(std::string(1 << 20, 'a'), true, 1);
  EXPECT_EQ(PDFLZWDecode(lzw, 1, 4096, st).size(), 4096u);
  EXPECT_EQ(st, TPDFDecodeStatus::dsTruncated);
  EXPECT_EQ(PDFRunLengthDecode(Bytes({129, 'x', 129, 'y'}), 100, st).size(), 100u);
  EXPECT_EQ(st, TPDFDecodeStatus::dsTruncated);
}

// Buffer with the predictor undone.
std::string Unpredicted(std::string Buffer, int Predictor, int Columns, int Colors = 1, int Bpc = 8) {
  TPDFDecodeParms p;
  p.Predictor = Predictor;
  p.Columns = Columns;
  p.Colors = Colors;
  p.BitsPerComponent = Bpc;
  PDFUnpredict(Buffer, p);
  return Buffer;
}

TEST(PDFFilters, PNGPredictors) {
  // Up: rows add column by column (mod 256); the first row adds nothing.
  EXPECT_EQ(Unpredicted(Bytes({2, 1, 2, 3, 4, 2, 1, 1, 1, 1, 2, 0, 0, 0, 255}), 12, 4),
            Bytes({1, 2, 3, 4, 2, 3, 4, 5, 2, 3, 4, 4}));
  // Sub with three bytes per pixel.
  EXPECT_EQ(Unpredicted(Bytes({1, 10, 20, 30, 1, 2, 3}), 12, 2, 3), Bytes({10, 20, 30, 11, 22, 33}));
  // Average and Paeth, one byte per pixel, and a short last row.
  EXPECT_EQ(Unpredicted(Bytes({3, 10, 20, 3, 4, 6}), 12, 2), Bytes({10, 25, 9, 23}));
  EXPECT_EQ(Unpredicted(Bytes({0, 50, 60, 4, 1, 1, 2, 7}), 12, 2), Bytes({50, 60, 51, 61, 58}));
  // The original form: one byte per pixel, Columns bytes per row.
  std::string orig = Bytes({2, 1, 2, 2, 1, 2});
  ApplyPNGPredictor(orig, 2);
  EXPECT_EQ(orig, Bytes({1, 2, 2, 4}));
}

TEST(PDFFilters, TIFFPredictor) {
  EXPECT_EQ(Unpredicted(Bytes({1, 1, 1, 1, 5, 250, 10, 0}), 2, 4), Bytes({1, 2, 3, 4, 5, 255, 9, 9}));
  EXPECT_EQ(Unpredicted(Bytes({0x80}), 2, 8, 1, 1), Bytes({0xFF}));
  EXPECT_EQ(Unpredicted(Bytes({0x01, 0xFF, 0x00, 0x01}), 2, 2, 1, 16), Bytes({0x01, 0xFF, 0x02, 0x00}));
}

TEST(PDFFilters, ASCIIHexAndASCII85) {
  TPDFDecodeStatus st;
  EXPECT_EQ(PDFASCIIHexDecode("48 65\n6C6c 6F>ignored", kBig, st), "Hello");
  EXPECT_EQ(PDFASCIIHexDecode("414>", kBig, st), "A@");
  EXPECT_EQ(PDFASCIIHexDecode("41x4\x13 2", kBig, st), "AB");
  EXPECT_EQ(st, TPDFDecodeStatus::dsCorrupt);

  EXPECT_EQ(PDFASCII85Decode("87cURD]i,\"Ebo7~>", kBig, st), "Hello World");
  EXPECT_EQ(PDFASCII85Decode("<~87cUR D]i,\n\"Ebo7~>", kBig, st), "Hello World");
  EXPECT_EQ(PDFASCII85Decode("z~>", kBig, st), std::string(4, '\0'));
  EXPECT_EQ(PDFASCII85Decode("87cURD]zi,\"Ebo7", kBig, st), "Hell");
  EXPECT_EQ(st, TPDFDecodeStatus::dsCorrupt);  // 'z' inside a group
  EXPECT_EQ(PDFASCII85Decode("s8W-!~>", kBig, st), "\xFF\xFF\xFF\xFF");
  EXPECT_EQ(PDFASCII85Decode("s8W-\"~>", kBig, st), "");  // above 2^32 - 1
}

TEST(PDFFilters, LZWExampleEarlyChangeAndGIF) {
  // The worked LZW example of the PDF standard (ISO 32000-1, 7.4.4.2).
  TPDFDecodeStatus st;
  EXPECT_EQ(PDFLZWDecode(Bytes({0x80, 0x0B, 0x60, 0x50, 0x22, 0x0C, 0x0C, 0x85, 0x01}), 1, kBig, st),
            Bytes({45, 45, 45, 45, 45, 65, 45, 45, 45, 66}));
  // Long inputs cross every width change and a table reset.
  const std::string text = SampleText(60000);
  EXPECT_EQ(PDFLZWDecode(LZWEncode(text, true, 1), 1, kBig, st), text);
  EXPECT_EQ(st, TPDFDecodeStatus::dsOK);
  EXPECT_EQ(PDFLZWDecode(LZWEncode(text, true, 0), 0, kBig, st), text);
  // The wrong early-change setting does not survive the first width change.
  EXPECT_NE(PDFLZWDecode(LZWEncode(text, true, 0), 1, kBig, st), text);

  TLKWLZWDecoder dec;
  const std::string tiff = LZWEncode(text, true, 1);
  std::string out(text.size(), '\0');
  EXPECT_EQ(dec.DecodeTIFF(reinterpret_cast<const uint8_t*>(tiff.data()), reinterpret_cast<uint8_t*>(out.data()),
                           static_cast<int>(tiff.size()), static_cast<int>(out.size())),
            static_cast<int>(text.size()));
  EXPECT_EQ(out, text);
  const std::string gif = LZWEncode(text, false, 0);
  std::fill(out.begin(), out.end(), '\0');
  EXPECT_EQ(dec.DecodeGIF(reinterpret_cast<const uint8_t*>(gif.data()), reinterpret_cast<uint8_t*>(out.data()),
                          static_cast<int>(gif.size()), 100),
            100);
  EXPECT_EQ(out.substr(0, 100), text.substr(0, 100));
  // A code beyond the table ends the data with what came before.
  EXPECT_EQ(PDFLZWDecode(Bytes({0x80, 0x0B, 0x7F, 0xF0}), 1, kBig, st), Bytes({45}));
  EXPECT_EQ(st, TPDFDecodeStatus::dsCorrupt);
}

TEST(PDFFilters, RunLengthAndFilterNames) {
  TPDFDecodeStatus st;
  EXPECT_EQ(PDFRunLengthDecode(Bytes({2, 'a', 'b', 'c', 254, 'x', 128, 'z'}), kBig, st), "abcxxx");
  EXPECT_EQ(PDFRunLengthDecode(Bytes({5, 'a'}), kBig, st), "a");
  EXPECT_EQ(st, TPDFDecodeStatus::dsCorrupt);

  RawByteString out;
  const TPDFDecodeParms none;
  for (const char* name : {"/FlateDecode", "flatedecode", "/Fl", "fl"}) {
    EXPECT_TRUE(PDFDecodeFilter(name, Deflate("abc"), none, kBig, out, st)) << name;
    EXPECT_EQ(out, "abc");
  }
  EXPECT_TRUE(PDFDecodeFilter("/AHx", "616263>", none, kBig, out, st));
  EXPECT_EQ(out, "abc");
  EXPECT_TRUE(PDFDecodeFilter("/A85", "@:E^~>", none, kBig, out, st));
  EXPECT_EQ(out, "abc");
  EXPECT_TRUE(PDFDecodeFilter("/RL", Bytes({2, 'a', 'b', 'c', 128}), none, kBig, out, st));
  EXPECT_EQ(out, "abc");
  // Image codecs and unknown names pass the data through.
  EXPECT_FALSE(PDFDecodeFilter("/DCTDecode", "jpeg", none, kBig, out, st));
  EXPECT_EQ(out, "jpeg");
}

}  // namespace
}  // namespace lkw
