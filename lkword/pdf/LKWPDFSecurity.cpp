// The standard security handler: key derivation for revisions 2 to 6, RC4
// and AES decryption of strings and streams, and password preparation.
#include "lkword/pdf/LKWPDFSecurity.h"

#include <algorithm>
#include <cstring>

#include "lkword/crypto/LKWCrypt.h"
#include "lkword/pdf/LKWPDF.h"
#include "lkword/platform/Ascii.h"

namespace lkw {

namespace {

constexpr uint8_t kPasswordPadding[32] = {0x28, 0xBF, 0x4E, 0x5E, 0x4E, 0x75, 0x8A, 0x41, 0x64, 0x00, 0x4E,
                                          0x56, 0xFF, 0xFA, 0x01, 0x08, 0x2E, 0x2E, 0x00, 0xB6, 0xD0, 0x68,
                                          0x3E, 0x80, 0x2F, 0x0C, 0xA9, 0xFE, 0x64, 0x53, 0x69, 0x7A};

// AES-CBC with the IV in front and PKCS#5 padding at the end. A wrong
// padding is left in place rather than losing the data.
RawByteString AESDecryptWithIV(const RawByteString& Key, const RawByteString& Value) {
  if (Value.size() < 32) return {};
  const int bits = static_cast<int>(Key.size() * 8);
  if (bits != 128 && bits != 192 && bits != 256) return {};
  AESContext ctx{};
  AES_SetKey_Dec(ctx, Key.data(), bits);
  const size_t len = (Value.size() - 16) / 16 * 16;
  RawByteString out(len, '\0');
  AES_CBC_Decrypt(ctx, reinterpret_cast<const uint8_t*>(Value.data()),
                  reinterpret_cast<const uint8_t*>(Value.data()) + 16, reinterpret_cast<uint8_t*>(out.data()), len);
  if (!out.empty()) {
    const auto pad = static_cast<uint8_t>(out.back());
    if (pad >= 1 && pad <= 16 && pad <= out.size()) {
      bool ok = true;
      for (size_t i = out.size() - pad; i < out.size(); ++i)
        if (static_cast<uint8_t>(out[i]) != pad) ok = false;
      if (ok) out.erase(out.size() - pad);
    }
  }
  return out;
}

// AES-256-CBC without padding and with a zero IV (/OE, /UE).
RawByteString AESDecryptNoIV(const RawByteString& Key, std::string_view Value) {
  if (Key.size() != 32) return {};
  AESContext ctx{};
  AES_SetKey_Dec(ctx, Key.data(), 256);
  const uint8_t iv[16] = {};
  const size_t len = Value.size() / 16 * 16;
  RawByteString out(len, '\0');
  AES_CBC_Decrypt(ctx, iv, reinterpret_cast<const uint8_t*>(Value.data()), reinterpret_cast<uint8_t*>(out.data()), len);
  return out;
}

// ---------------------------------------------------------------------------
// Password text

// Decodes UTF-8 strictly; false for anything that is not UTF-8.
bool DecodeUtf8(std::string_view S, std::vector<uint32_t>& Out) {
  Out.clear();
  for (size_t i = 0; i < S.size();) {
    const auto c = static_cast<uint8_t>(S[i]);
    uint32_t cp;
    int extra;
    if (c < 0x80) {
      cp = c;
      extra = 0;
    } else if (c >= 0xC2 && c <= 0xDF) {
      cp = c & 0x1F;
      extra = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      cp = c & 0x0F;
      extra = 2;
    } else if (c >= 0xF0 && c <= 0xF4) {
      cp = c & 0x07;
      extra = 3;
    } else {
      return false;
    }
    if (extra > 0 && i + static_cast<size_t>(extra) >= S.size()) return false;
    for (int k = 1; k <= extra; ++k) {
      const auto d = static_cast<uint8_t>(S[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    Out.push_back(cp);
    i += static_cast<size_t>(extra) + 1;
  }
  return true;
}

void AppendUtf8(std::string& Out, uint32_t cp) {
  if (cp < 0x80) {
    Out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    Out += static_cast<char>(0xC0 | (cp >> 6));
    Out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    Out += static_cast<char>(0xE0 | (cp >> 12));
    Out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    Out += static_cast<char>(0xF0 | (cp >> 18));
    Out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    Out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// PDFDocEncoding's codes that differ from Latin-1.
struct TDocCode {
  uint16_t Unicode;
  uint8_t Code;
};
constexpr TDocCode kPDFDocSpecials[] = {
    {0x02D8, 0x18}, {0x02C7, 0x19}, {0x02C6, 0x1A}, {0x02D9, 0x1B}, {0x02DD, 0x1C}, {0x02DB, 0x1D},
    {0x02DA, 0x1E}, {0x02DC, 0x1F}, {0x2022, 0x80}, {0x2020, 0x81}, {0x2021, 0x82}, {0x2026, 0x83},
    {0x2014, 0x84}, {0x2013, 0x85}, {0x0192, 0x86}, {0x2044, 0x87}, {0x2039, 0x88}, {0x203A, 0x89},
    {0x2212, 0x8A}, {0x2030, 0x8B}, {0x201E, 0x8C}, {0x201C, 0x8D}, {0x201D, 0x8E}, {0x2018, 0x8F},
    {0x2019, 0x90}, {0x201A, 0x91}, {0x2122, 0x92}, {0xFB01, 0x93}, {0xFB02, 0x94}, {0x0141, 0x95},
    {0x0152, 0x96}, {0x0160, 0x97}, {0x0178, 0x98}, {0x017D, 0x99}, {0x0131, 0x9A}, {0x0142, 0x9B},
    {0x0153, 0x9C}, {0x0161, 0x9D}, {0x017E, 0x9E}, {0x20AC, 0xA0}};

// Canonical compositions of a base letter and one combining mark, for the
// Latin, Greek and Cyrillic letters (generated from the Unicode character
// database; composition exclusions left out).
struct TComposition {
  uint16_t Base, Mark, Composed;
};
constexpr TComposition kCompositions[] = {
    {0x0041, 0x0300, 0x00C0}, {0x0041, 0x0301, 0x00C1}, {0x0041, 0x0302, 0x00C2}, {0x0041, 0x0303, 0x00C3},
    {0x0041, 0x0304, 0x0100}, {0x0041, 0x0306, 0x0102}, {0x0041, 0x0307, 0x0226}, {0x0041, 0x0308, 0x00C4},
    {0x0041, 0x030A, 0x00C5}, {0x0041, 0x030C, 0x01CD}, {0x0041, 0x030F, 0x0200}, {0x0041, 0x0311, 0x0202},
    {0x0041, 0x0328, 0x0104}, {0x0043, 0x0301, 0x0106}, {0x0043, 0x0302, 0x0108}, {0x0043, 0x0307, 0x010A},
    {0x0043, 0x030C, 0x010C}, {0x0043, 0x0327, 0x00C7}, {0x0044, 0x030C, 0x010E}, {0x0045, 0x0300, 0x00C8},
    {0x0045, 0x0301, 0x00C9}, {0x0045, 0x0302, 0x00CA}, {0x0045, 0x0304, 0x0112}, {0x0045, 0x0306, 0x0114},
    {0x0045, 0x0307, 0x0116}, {0x0045, 0x0308, 0x00CB}, {0x0045, 0x030C, 0x011A}, {0x0045, 0x030F, 0x0204},
    {0x0045, 0x0311, 0x0206}, {0x0045, 0x0327, 0x0228}, {0x0045, 0x0328, 0x0118}, {0x0047, 0x0301, 0x01F4},
    {0x0047, 0x0302, 0x011C}, {0x0047, 0x0306, 0x011E}, {0x0047, 0x0307, 0x0120}, {0x0047, 0x030C, 0x01E6},
    {0x0047, 0x0327, 0x0122}, {0x0048, 0x0302, 0x0124}, {0x0048, 0x030C, 0x021E}, {0x0049, 0x0300, 0x00CC},
    {0x0049, 0x0301, 0x00CD}, {0x0049, 0x0302, 0x00CE}, {0x0049, 0x0303, 0x0128}, {0x0049, 0x0304, 0x012A},
    {0x0049, 0x0306, 0x012C}, {0x0049, 0x0307, 0x0130}, {0x0049, 0x0308, 0x00CF}, {0x0049, 0x030C, 0x01CF},
    {0x0049, 0x030F, 0x0208}, {0x0049, 0x0311, 0x020A}, {0x0049, 0x0328, 0x012E}, {0x004A, 0x0302, 0x0134},
    {0x004B, 0x030C, 0x01E8}, {0x004B, 0x0327, 0x0136}, {0x004C, 0x0301, 0x0139}, {0x004C, 0x030C, 0x013D},
    {0x004C, 0x0327, 0x013B}, {0x004E, 0x0300, 0x01F8}, {0x004E, 0x0301, 0x0143}, {0x004E, 0x0303, 0x00D1},
    {0x004E, 0x030C, 0x0147}, {0x004E, 0x0327, 0x0145}, {0x004F, 0x0300, 0x00D2}, {0x004F, 0x0301, 0x00D3},
    {0x004F, 0x0302, 0x00D4}, {0x004F, 0x0303, 0x00D5}, {0x004F, 0x0304, 0x014C}, {0x004F, 0x0306, 0x014E},
    {0x004F, 0x0307, 0x022E}, {0x004F, 0x0308, 0x00D6}, {0x004F, 0x030B, 0x0150}, {0x004F, 0x030C, 0x01D1},
    {0x004F, 0x030F, 0x020C}, {0x004F, 0x0311, 0x020E}, {0x004F, 0x031B, 0x01A0}, {0x004F, 0x0328, 0x01EA},
    {0x0052, 0x0301, 0x0154}, {0x0052, 0x030C, 0x0158}, {0x0052, 0x030F, 0x0210}, {0x0052, 0x0311, 0x0212},
    {0x0052, 0x0327, 0x0156}, {0x0053, 0x0301, 0x015A}, {0x0053, 0x0302, 0x015C}, {0x0053, 0x030C, 0x0160},
    {0x0053, 0x0326, 0x0218}, {0x0053, 0x0327, 0x015E}, {0x0054, 0x030C, 0x0164}, {0x0054, 0x0326, 0x021A},
    {0x0054, 0x0327, 0x0162}, {0x0055, 0x0300, 0x00D9}, {0x0055, 0x0301, 0x00DA}, {0x0055, 0x0302, 0x00DB},
    {0x0055, 0x0303, 0x0168}, {0x0055, 0x0304, 0x016A}, {0x0055, 0x0306, 0x016C}, {0x0055, 0x0308, 0x00DC},
    {0x0055, 0x030A, 0x016E}, {0x0055, 0x030B, 0x0170}, {0x0055, 0x030C, 0x01D3}, {0x0055, 0x030F, 0x0214},
    {0x0055, 0x0311, 0x0216}, {0x0055, 0x031B, 0x01AF}, {0x0055, 0x0328, 0x0172}, {0x0057, 0x0302, 0x0174},
    {0x0059, 0x0301, 0x00DD}, {0x0059, 0x0302, 0x0176}, {0x0059, 0x0304, 0x0232}, {0x0059, 0x0308, 0x0178},
    {0x005A, 0x0301, 0x0179}, {0x005A, 0x0307, 0x017B}, {0x005A, 0x030C, 0x017D}, {0x0061, 0x0300, 0x00E0},
    {0x0061, 0x0301, 0x00E1}, {0x0061, 0x0302, 0x00E2}, {0x0061, 0x0303, 0x00E3}, {0x0061, 0x0304, 0x0101},
    {0x0061, 0x0306, 0x0103}, {0x0061, 0x0307, 0x0227}, {0x0061, 0x0308, 0x00E4}, {0x0061, 0x030A, 0x00E5},
    {0x0061, 0x030C, 0x01CE}, {0x0061, 0x030F, 0x0201}, {0x0061, 0x0311, 0x0203}, {0x0061, 0x0328, 0x0105},
    {0x0063, 0x0301, 0x0107}, {0x0063, 0x0302, 0x0109}, {0x0063, 0x0307, 0x010B}, {0x0063, 0x030C, 0x010D},
    {0x0063, 0x0327, 0x00E7}, {0x0064, 0x030C, 0x010F}, {0x0065, 0x0300, 0x00E8}, {0x0065, 0x0301, 0x00E9},
    {0x0065, 0x0302, 0x00EA}, {0x0065, 0x0304, 0x0113}, {0x0065, 0x0306, 0x0115}, {0x0065, 0x0307, 0x0117},
    {0x0065, 0x0308, 0x00EB}, {0x0065, 0x030C, 0x011B}, {0x0065, 0x030F, 0x0205}, {0x0065, 0x0311, 0x0207},
    {0x0065, 0x0327, 0x0229}, {0x0065, 0x0328, 0x0119}, {0x0067, 0x0301, 0x01F5}, {0x0067, 0x0302, 0x011D},
    {0x0067, 0x0306, 0x011F}, {0x0067, 0x0307, 0x0121}, {0x0067, 0x030C, 0x01E7}, {0x0067, 0x0327, 0x0123},
    {0x0068, 0x0302, 0x0125}, {0x0068, 0x030C, 0x021F}, {0x0069, 0x0300, 0x00EC}, {0x0069, 0x0301, 0x00ED},
    {0x0069, 0x0302, 0x00EE}, {0x0069, 0x0303, 0x0129}, {0x0069, 0x0304, 0x012B}, {0x0069, 0x0306, 0x012D},
    {0x0069, 0x0308, 0x00EF}, {0x0069, 0x030C, 0x01D0}, {0x0069, 0x030F, 0x0209}, {0x0069, 0x0311, 0x020B},
    {0x0069, 0x0328, 0x012F}, {0x006A, 0x0302, 0x0135}, {0x006A, 0x030C, 0x01F0}, {0x006B, 0x030C, 0x01E9},
    {0x006B, 0x0327, 0x0137}, {0x006C, 0x0301, 0x013A}, {0x006C, 0x030C, 0x013E}, {0x006C, 0x0327, 0x013C},
    {0x006E, 0x0300, 0x01F9}, {0x006E, 0x0301, 0x0144}, {0x006E, 0x0303, 0x00F1}, {0x006E, 0x030C, 0x0148},
    {0x006E, 0x0327, 0x0146}, {0x006F, 0x0300, 0x00F2}, {0x006F, 0x0301, 0x00F3}, {0x006F, 0x0302, 0x00F4},
    {0x006F, 0x0303, 0x00F5}, {0x006F, 0x0304, 0x014D}, {0x006F, 0x0306, 0x014F}, {0x006F, 0x0307, 0x022F},
    {0x006F, 0x0308, 0x00F6}, {0x006F, 0x030B, 0x0151}, {0x006F, 0x030C, 0x01D2}, {0x006F, 0x030F, 0x020D},
    {0x006F, 0x0311, 0x020F}, {0x006F, 0x031B, 0x01A1}, {0x006F, 0x0328, 0x01EB}, {0x0072, 0x0301, 0x0155},
    {0x0072, 0x030C, 0x0159}, {0x0072, 0x030F, 0x0211}, {0x0072, 0x0311, 0x0213}, {0x0072, 0x0327, 0x0157},
    {0x0073, 0x0301, 0x015B}, {0x0073, 0x0302, 0x015D}, {0x0073, 0x030C, 0x0161}, {0x0073, 0x0326, 0x0219},
    {0x0073, 0x0327, 0x015F}, {0x0074, 0x030C, 0x0165}, {0x0074, 0x0326, 0x021B}, {0x0074, 0x0327, 0x0163},
    {0x0075, 0x0300, 0x00F9}, {0x0075, 0x0301, 0x00FA}, {0x0075, 0x0302, 0x00FB}, {0x0075, 0x0303, 0x0169},
    {0x0075, 0x0304, 0x016B}, {0x0075, 0x0306, 0x016D}, {0x0075, 0x0308, 0x00FC}, {0x0075, 0x030A, 0x016F},
    {0x0075, 0x030B, 0x0171}, {0x0075, 0x030C, 0x01D4}, {0x0075, 0x030F, 0x0215}, {0x0075, 0x0311, 0x0217},
    {0x0075, 0x031B, 0x01B0}, {0x0075, 0x0328, 0x0173}, {0x0077, 0x0302, 0x0175}, {0x0079, 0x0301, 0x00FD},
    {0x0079, 0x0302, 0x0177}, {0x0079, 0x0304, 0x0233}, {0x0079, 0x0308, 0x00FF}, {0x007A, 0x0301, 0x017A},
    {0x007A, 0x0307, 0x017C}, {0x007A, 0x030C, 0x017E}, {0x00A8, 0x0301, 0x0385}, {0x00C4, 0x0304, 0x01DE},
    {0x00C5, 0x0301, 0x01FA}, {0x00C6, 0x0301, 0x01FC}, {0x00C6, 0x0304, 0x01E2}, {0x00D5, 0x0304, 0x022C},
    {0x00D6, 0x0304, 0x022A}, {0x00D8, 0x0301, 0x01FE}, {0x00DC, 0x0300, 0x01DB}, {0x00DC, 0x0301, 0x01D7},
    {0x00DC, 0x0304, 0x01D5}, {0x00DC, 0x030C, 0x01D9}, {0x00E4, 0x0304, 0x01DF}, {0x00E5, 0x0301, 0x01FB},
    {0x00E6, 0x0301, 0x01FD}, {0x00E6, 0x0304, 0x01E3}, {0x00F5, 0x0304, 0x022D}, {0x00F6, 0x0304, 0x022B},
    {0x00F8, 0x0301, 0x01FF}, {0x00FC, 0x0300, 0x01DC}, {0x00FC, 0x0301, 0x01D8}, {0x00FC, 0x0304, 0x01D6},
    {0x00FC, 0x030C, 0x01DA}, {0x01B7, 0x030C, 0x01EE}, {0x01EA, 0x0304, 0x01EC}, {0x01EB, 0x0304, 0x01ED},
    {0x0226, 0x0304, 0x01E0}, {0x0227, 0x0304, 0x01E1}, {0x022E, 0x0304, 0x0230}, {0x022F, 0x0304, 0x0231},
    {0x0292, 0x030C, 0x01EF}, {0x0391, 0x0301, 0x0386}, {0x0395, 0x0301, 0x0388}, {0x0397, 0x0301, 0x0389},
    {0x0399, 0x0301, 0x038A}, {0x0399, 0x0308, 0x03AA}, {0x039F, 0x0301, 0x038C}, {0x03A5, 0x0301, 0x038E},
    {0x03A5, 0x0308, 0x03AB}, {0x03A9, 0x0301, 0x038F}, {0x03B1, 0x0301, 0x03AC}, {0x03B5, 0x0301, 0x03AD},
    {0x03B7, 0x0301, 0x03AE}, {0x03B9, 0x0301, 0x03AF}, {0x03B9, 0x0308, 0x03CA}, {0x03BF, 0x0301, 0x03CC},
    {0x03C5, 0x0301, 0x03CD}, {0x03C5, 0x0308, 0x03CB}, {0x03C9, 0x0301, 0x03CE}, {0x03CA, 0x0301, 0x0390},
    {0x03CB, 0x0301, 0x03B0}, {0x03D2, 0x0301, 0x03D3}, {0x03D2, 0x0308, 0x03D4}, {0x0406, 0x0308, 0x0407},
    {0x0410, 0x0306, 0x04D0}, {0x0410, 0x0308, 0x04D2}, {0x0413, 0x0301, 0x0403}, {0x0415, 0x0300, 0x0400},
    {0x0415, 0x0306, 0x04D6}, {0x0415, 0x0308, 0x0401}, {0x0416, 0x0306, 0x04C1}, {0x0416, 0x0308, 0x04DC},
    {0x0417, 0x0308, 0x04DE}, {0x0418, 0x0300, 0x040D}, {0x0418, 0x0304, 0x04E2}, {0x0418, 0x0306, 0x0419},
    {0x0418, 0x0308, 0x04E4}, {0x041A, 0x0301, 0x040C}, {0x041E, 0x0308, 0x04E6}, {0x0423, 0x0304, 0x04EE},
    {0x0423, 0x0306, 0x040E}, {0x0423, 0x0308, 0x04F0}, {0x0423, 0x030B, 0x04F2}, {0x0427, 0x0308, 0x04F4},
    {0x042B, 0x0308, 0x04F8}, {0x042D, 0x0308, 0x04EC}, {0x0430, 0x0306, 0x04D1}, {0x0430, 0x0308, 0x04D3},
    {0x0433, 0x0301, 0x0453}, {0x0435, 0x0300, 0x0450}, {0x0435, 0x0306, 0x04D7}, {0x0435, 0x0308, 0x0451},
    {0x0436, 0x0306, 0x04C2}, {0x0436, 0x0308, 0x04DD}, {0x0437, 0x0308, 0x04DF}, {0x0438, 0x0300, 0x045D},
    {0x0438, 0x0304, 0x04E3}, {0x0438, 0x0306, 0x0439}, {0x0438, 0x0308, 0x04E5}, {0x043A, 0x0301, 0x045C},
    {0x043E, 0x0308, 0x04E7}, {0x0443, 0x0304, 0x04EF}, {0x0443, 0x0306, 0x045E}, {0x0443, 0x0308, 0x04F1},
    {0x0443, 0x030B, 0x04F3}, {0x0447, 0x0308, 0x04F5}, {0x044B, 0x0308, 0x04F9}, {0x044D, 0x0308, 0x04ED},
    {0x0456, 0x0308, 0x0457}, {0x0474, 0x030F, 0x0476}, {0x0475, 0x030F, 0x0477}, {0x04D8, 0x0308, 0x04DA},
    {0x04D9, 0x0308, 0x04DB}, {0x04E8, 0x0308, 0x04EA}, {0x04E9, 0x0308, 0x04EB},

};

uint32_t Compose(uint32_t Base, uint32_t Mark) {
  for (const auto& c : kCompositions)
    if (c.Base == Base && c.Mark == Mark) return c.Composed;
  return 0;
}

bool IsNonAsciiSpace(uint32_t cp) {
  return cp == 0x00A0 || cp == 0x1680 || (cp >= 0x2000 && cp <= 0x200B) || cp == 0x202F || cp == 0x205F ||
         cp == 0x3000;
}

bool MapsToNothing(uint32_t cp) {
  return cp == 0x00AD || cp == 0x034F || cp == 0x1806 || (cp >= 0x180B && cp <= 0x180D) ||
         (cp >= 0x200B && cp <= 0x200D) || cp == 0x2060 || (cp >= 0xFE00 && cp <= 0xFE0F) || cp == 0xFEFF;
}

// Characters a password may not hold once prepared (controls, private
// use, surrogates, non-characters); such a password is taken as given.
bool ProhibitedInPassword(uint32_t cp) {
  return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x0340 || cp == 0x0341 || (cp >= 0x200E && cp <= 0x200F) ||
         (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x206A && cp <= 0x206F) || (cp >= 0xD800 && cp <= 0xDFFF) ||
         (cp >= 0xE000 && cp <= 0xF8FF) || (cp >= 0xFDD0 && cp <= 0xFDEF) || (cp & 0xFFFE) == 0xFFFE ||
         cp >= 0xF0000 || (cp >= 0xFFF9 && cp <= 0xFFFD) || (cp >= 0x2FF0 && cp <= 0x2FFB) || cp == 0xE0001 ||
         (cp >= 0xE0020 && cp <= 0xE007F);
}

// The compatibility forms a typed password is most likely to hold, written
// as the characters they stand for: full-width ASCII, the Latin ligatures,
// super- and subscript digits, and the letter-like symbols with a plain twin.
// Appends the replacement to Out and returns true; false for anything else.
bool AppendCompatibility(uint32_t cp, std::vector<uint32_t>& Out) {
  if (cp >= 0xFF01 && cp <= 0xFF5E) {
    Out.push_back(cp - 0xFEE0);
    return true;
  }
  static constexpr struct {
    uint32_t From;
    char To[4];
  } kForms[] = {{0xFB00, "ff"}, {0xFB01, "fi"}, {0xFB02, "fl"}, {0xFB03, "ffi"}, {0xFB04, "ffl"}, {0xFB06, "st"},
                {0x00B2, "2"},  {0x00B3, "3"},  {0x00B9, "1"},  {0x00AA, "a"},   {0x00BA, "o"},   {0x2070, "0"},
                {0x2071, "i"},  {0x207F, "n"},  {0x2122, "TM"}, {0x2116, "No"}};
  for (const auto& f : kForms)
    if (f.From == cp) {
      for (const char* c = f.To; *c; ++c) Out.push_back(static_cast<uint8_t>(*c));
      return true;
    }
  if (cp >= 0x2074 && cp <= 0x2079) Out.push_back('0' + (cp - 0x2070));
  else if (cp >= 0x2080 && cp <= 0x2089) Out.push_back('0' + (cp - 0x2080));
  else if (cp == 0x2126) Out.push_back(0x03A9);  // ohm sign: omega
  else if (cp == 0x212A) Out.push_back('K');     // kelvin sign
  else if (cp == 0x212B) Out.push_back(0x00C5);  // angstrom sign
  else return false;
  return true;
}

}  // namespace

RawByteString PDFPasswordToPDFDoc(const std::string& Password) {
  std::vector<uint32_t> cps;
  if (!DecodeUtf8(Password, cps)) return Password;
  RawByteString out;
  for (uint32_t cp : cps) {
    uint8_t code = '?';
    if (cp < 0x80 || (cp >= 0xA1 && cp <= 0xFF)) {
      code = static_cast<uint8_t>(cp);
    } else {
      for (const auto& s : kPDFDocSpecials)
        if (s.Unicode == cp) code = s.Code;
    }
    out += static_cast<char>(code);
  }
  return out;
}

RawByteString PDFPasswordToSASL(const std::string& Password) {
  std::vector<uint32_t> cps;
  if (!DecodeUtf8(Password, cps)) return Password.substr(0, 127);
  std::vector<uint32_t> mapped;
  for (uint32_t cp : cps) {
    if (MapsToNothing(cp)) continue;
    if (IsNonAsciiSpace(cp)) cp = 0x20;
    if (ProhibitedInPassword(cp)) return Password.substr(0, 127);
    if (AppendCompatibility(cp, mapped)) continue;
    if (!mapped.empty() && cp >= 0x0300 && cp <= 0x036F) {
      if (const uint32_t c = Compose(mapped.back(), cp)) {
        mapped.back() = c;
        continue;
      }
    }
    mapped.push_back(cp);
  }
  std::string out;
  for (uint32_t cp : mapped) {
    std::string one;
    AppendUtf8(one, cp);
    if (out.size() + one.size() > 127) break;
    out += one;
  }
  return out;
}

// ---------------------------------------------------------------------------
// TLKPDFEncryption

RawByteString TLKPDFEncryption::DecryptStream(int32_t ContentID, const RawByteString& DocID,
                                              const RawByteString& Password, const RawByteString& Value) {
  return DecryptObject(ContentID, 0, TPDFCryptTarget::ctStream, DocID, Password, Value);
}

bool TLKPDFEncryption::CheckAuthentication(const RawByteString&, const RawByteString&) { return true; }

RawByteString TLKPDFEncryption::DecryptObject(int32_t, int32_t, TPDFCryptTarget, const RawByteString& DocID,
                                              const RawByteString& Password, const RawByteString& Value,
                                              std::string_view) {
  if (!CheckAuthentication(DocID, Password)) throw EPDFPasswordError(SPDFPasswordNotValid);
  return Value;
}

// ---------------------------------------------------------------------------
// TLKPDFStandardEncryption

RawByteString TLKPDFStandardEncryption::PASSWORD_PADDING() {
  return RawByteString(reinterpret_cast<const char*>(kPasswordPadding), 32);
}

RawByteString TLKPDFStandardEncryption::GetPaddedPassword(const RawByteString& Password, size_t Len) {
  RawByteString out = Password.substr(0, std::min<size_t>(Len, 32));
  out.append(reinterpret_cast<const char*>(kPasswordPadding), 32);
  out.resize(32);
  return out;
}

size_t TLKPDFStandardEncryption::KeyBytes() const {
  if (FRevision == 2) return 5;
  if (FKeyBytesFound) return FKeyBytesFound;
  // Lengths outside 40..128 bits are bounded rather than refused.
  return static_cast<size_t>(std::clamp(FKeyLength, 40, 128) / 8);
}

RawByteString TLKPDFStandardEncryption::ComputeKey(const RawByteString& DocID, const RawByteString& Password) {
  const size_t n = KeyBytes();
  MD5Context ctx;
  MD5Digest d;
  MD5Init(ctx);
  const RawByteString padded = GetPaddedPassword(Password, 32);
  MD5Update(ctx, padded.data(), 32);
  MD5Update(ctx, FOwnerPasswordHash.data(), FOwnerPasswordHash.size());
  uint8_t p[4];
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(static_cast<uint32_t>(FPermissions) >> (8 * i));
  MD5Update(ctx, p, 4);
  MD5Update(ctx, DocID.data(), DocID.size());
  if (FRevision >= 4 && !FEncryptMetadata) {
    static constexpr uint8_t kAllOnes[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    MD5Update(ctx, kAllOnes, 4);
  }
  MD5Final(ctx, d);
  if (FRevision >= 3) {
    for (int i = 0; i < 50; ++i) {
      MD5Init(ctx);
      MD5Update(ctx, d, n);
      MD5Final(ctx, d);
    }
  }
  return RawByteString(reinterpret_cast<const char*>(d), n);
}

RawByteString TLKPDFStandardEncryption::ComputeUserPassword(const RawByteString& DocID, const RawByteString& Password) {
  if (FRevision < 2 || FRevision > 4) return {};
  const RawByteString key = ComputeKey(DocID, Password);
  if (FRevision == 2) return RC4String(key, PASSWORD_PADDING());
  RawByteString v = MD5String(PASSWORD_PADDING() + DocID);
  RawByteString k = key;
  for (int i = 0; i < 20; ++i) {
    for (size_t j = 0; j < k.size(); ++j) k[j] = static_cast<char>(static_cast<uint8_t>(key[j]) ^ i);
    v = RC4String(k, v);
  }
  return v;
}

bool TLKPDFStandardEncryption::TryUserR4(const RawByteString& DocID, const RawByteString& Password) {
  const size_t cmp = FRevision == 2 ? 32 : 16;
  if (FUserPasswordHash.size() < cmp) return false;
  const RawByteString u = ComputeUserPassword(DocID, Password);
  if (u.size() < cmp || u.compare(0, cmp, FUserPasswordHash, 0, cmp) != 0) return false;
  FFileKey = ComputeKey(DocID, Password);
  return true;
}

bool TLKPDFStandardEncryption::TryOwnerR4(const RawByteString& DocID, const RawByteString& Password) {
  if (FOwnerPasswordHash.size() < 32) return false;
  RawByteString h = MD5String(GetPaddedPassword(Password, 32));
  if (FRevision >= 3)
    for (int i = 0; i < 50; ++i) h = MD5String(h);
  const RawByteString key = h.substr(0, KeyBytes());
  RawByteString user = FOwnerPasswordHash.substr(0, 32);
  if (FRevision == 2) {
    user = RC4String(key, user);
  } else {
    RawByteString k = key;
    for (int i = 19; i >= 0; --i) {
      for (size_t j = 0; j < k.size(); ++j) k[j] = static_cast<char>(static_cast<uint8_t>(key[j]) ^ i);
      user = RC4String(k, user);
    }
  }
  return TryUserR4(DocID, user);
}

RawByteString TLKPDFStandardEncryption::HashR6(const RawByteString& Password, std::string_view Salt,
                                               std::string_view UserKey) const {
  RawByteString k = SHA256String(Password + RawByteString(Salt) + RawByteString(UserKey));
  if (FRevision < 6) return k;
  // The iterated hash of revision 6: AES-128-CBC over 64 copies of
  // password + K + user key, then SHA-256/384/512 chosen by the result.
  RawByteString k1, e;
  k1.reserve((Password.size() + 64 + UserKey.size()) * 64);
  for (int round = 0;;) {
    k1.clear();
    for (int i = 0; i < 64; ++i) {
      k1 += Password;
      k1 += k;
      k1 += UserKey;
    }
    AESContext ctx{};
    AES_SetKey_Enc(ctx, k.data(), 128);
    e.assign(k1.size(), '\0');
    AES_CBC_Encrypt(ctx, reinterpret_cast<const uint8_t*>(k.data()) + 16, reinterpret_cast<const uint8_t*>(k1.data()),
                    reinterpret_cast<uint8_t*>(e.data()), k1.size());
    unsigned sum = 0;
    for (int i = 0; i < 16; ++i) sum += static_cast<uint8_t>(e[i]);
    switch (sum % 3) {
      case 0: k = SHA256String(e); break;
      case 1: k = SHA384String(e); break;
      default: k = SHA512String(e); break;
    }
    ++round;
    if (round >= 64 && static_cast<uint8_t>(e.back()) <= round - 32) break;
  }
  return k.substr(0, 32);
}

bool TLKPDFStandardEncryption::TryUserR6(const RawByteString& Password) {
  if (FUserPasswordHash.size() < 48 || FUserEncryptedKey.size() < 32) return false;
  const std::string_view u(FUserPasswordHash);
  if (HashR6(Password, u.substr(32, 8), {}) != u.substr(0, 32)) return false;
  FFileKey = AESDecryptNoIV(HashR6(Password, u.substr(40, 8), {}), std::string_view(FUserEncryptedKey).substr(0, 32));
  return FFileKey.size() == 32;
}

bool TLKPDFStandardEncryption::TryOwnerR6(const RawByteString& Password) {
  if (FOwnerPasswordHash.size() < 48 || FUserPasswordHash.size() < 48 || FOwnerEncryptedKey.size() < 32) return false;
  const std::string_view o(FOwnerPasswordHash), u = std::string_view(FUserPasswordHash).substr(0, 48);
  if (HashR6(Password, o.substr(32, 8), u) != o.substr(0, 32)) return false;
  FFileKey = AESDecryptNoIV(HashR6(Password, o.substr(40, 8), u), std::string_view(FOwnerEncryptedKey).substr(0, 32));
  return FFileKey.size() == 32;
}

bool TLKPDFStandardEncryption::CheckAuthentication(const RawByteString& DocID, const RawByteString& Password) {
  if (FRevision < 2 || FRevision > 6) throw EPDFEncryptionError(SPDFUnknownRevision);
  if (FAuthTried && DocID == FAuthDocID && Password == FAuthPassword) return FAuthOK;
  FAuthTried = true;
  FAuthDocID = DocID;
  FAuthPassword = Password;
  FAuthOK = false;
  FOwner = false;
  FFileKey.clear();
  // The password arrives as text; the bytes as given are tried as well, for
  // callers that pass the encoded form themselves.
  std::vector<RawByteString> candidates;
  if (FRevision <= 4) {
    candidates.push_back(PDFPasswordToPDFDoc(Password));
    if (Password != candidates[0]) candidates.push_back(Password.substr(0, 32));
    const auto tryPasswords = [&] {
      for (const auto& c : candidates)
        if (TryUserR4(DocID, c)) return FAuthOK = true;
      for (const auto& c : candidates)
        if (TryOwnerR4(DocID, c)) return FOwner = true, FAuthOK = true;
      return false;
    };
    FKeyBytesFound = 0;
    if (tryPasswords()) return true;
    // Writers get /Length wrong (left out, in bytes, not whole bytes): the
    // password check tells which reading of it holds.
    if (FRevision >= 3) {
      const size_t declared = KeyBytes();
      std::vector<size_t> readings;
      if (FKeyLength >= 5 && FKeyLength <= 16) readings.push_back(static_cast<size_t>(FKeyLength));
      if (FKeyLength > 40 && FKeyLength < 128 && FKeyLength % 8 != 0) readings.push_back(static_cast<size_t>(FKeyLength / 8 + 1));
      readings.push_back(16);
      readings.push_back(5);
      for (const size_t bytes : readings) {
        if (bytes == declared) continue;
        FKeyBytesFound = bytes;
        if (tryPasswords()) return true;
      }
      FKeyBytesFound = 0;
    }
  } else {
    candidates.push_back(PDFPasswordToSASL(Password));
    if (Password.substr(0, 127) != candidates[0]) candidates.push_back(Password.substr(0, 127));
    for (const auto& c : candidates)
      if (TryUserR6(c)) return FAuthOK = true;
    for (const auto& c : candidates)
      if (TryOwnerR6(c)) return FOwner = true, FAuthOK = true;
  }
  return false;
}

void TLKPDFStandardEncryption::RequireAuthentication(const RawByteString& DocID, const RawByteString& Password) {
  if (!CheckAuthentication(DocID, Password)) throw EPDFPasswordError(SPDFPasswordNotValid);
}

RawByteString TLKPDFStandardEncryption::ObjectKey(int32_t ObjNum, int32_t Gen, bool AES) const {
  RawByteString input = FFileKey;
  const auto n = static_cast<uint32_t>(ObjNum);
  const auto g = static_cast<uint32_t>(Gen);
  input += static_cast<char>(n & 0xff);
  input += static_cast<char>((n >> 8) & 0xff);
  input += static_cast<char>((n >> 16) & 0xff);
  input += static_cast<char>(g & 0xff);
  input += static_cast<char>((g >> 8) & 0xff);
  if (AES) input += "sAlT";
  return MD5String(input).substr(0, std::min<size_t>(FFileKey.size() + 5, 16));
}

RawByteString TLKPDFStandardEncryption::DecryptRC4(int32_t ObjNum, int32_t Gen, const RawByteString& Value) const {
  return RC4String(ObjectKey(ObjNum, Gen, false), Value);
}

RawByteString TLKPDFStandardEncryption::DecryptAESV2(int32_t ObjNum, int32_t Gen, const RawByteString& Value) const {
  return AESDecryptWithIV(ObjectKey(ObjNum, Gen, true), Value);
}

RawByteString TLKPDFStandardEncryption::DecryptAESV3(const RawByteString& Value) const {
  return AESDecryptWithIV(FFileKey, Value);
}

// ---------------------------------------------------------------------------
// TLKPDFStandardAlgorithm12

RawByteString TLKPDFStandardAlgorithm12::DecryptObject(int32_t ObjNum, int32_t Gen, TPDFCryptTarget,
                                                       const RawByteString& DocID, const RawByteString& Password,
                                                       const RawByteString& Value, std::string_view CryptFilterName) {
  if (CryptFilterName == "Identity") return Value;
  RequireAuthentication(DocID, Password);
  return DecryptRC4(ObjNum, Gen, Value);
}

// ---------------------------------------------------------------------------
// TLKPDFCryptFilter

void TLKPDFCryptFilter::Assign(const TPersistent& Source) {
  if (const auto* f = dynamic_cast<const TLKPDFCryptFilter*>(&Source)) {
    CFM = f->CFM;
    AuthEvent = f->AuthEvent;
    Length = f->Length;
    return;
  }
  TPersistent::Assign(Source);
}

// ---------------------------------------------------------------------------
// TLKPDFStandardCryptFilter

namespace {
// /Length of a crypt filter in bits; writers often give it in bytes.
int32_t FilterBits(int32_t Length) { return (Length > 0 && Length <= 32) ? Length * 8 : Length; }
}  // namespace

TLKPDFStandardCryptFilter::TLKPDFStandardCryptFilter() : FCF(std::make_unique<TLKPDFCryptFilter>()) {}

void TLKPDFStandardCryptFilter::AddCryptFilter(const std::string& Name, const TLKPDFCryptFilter& Filter) {
  for (auto& f : FFilters)
    if (f.first == Name) return;
  FFilters.emplace_back(Name, std::make_unique<TLKPDFCryptFilter>());
  FFilters.back().second->Assign(Filter);
}

const TLKPDFCryptFilter* TLKPDFStandardCryptFilter::FindCryptFilter(std::string_view Name) const {
  for (const auto& f : FFilters)
    if (f.first == Name) return f.second.get();
  return nullptr;
}

const TLKPDFCryptFilter* TLKPDFStandardCryptFilter::Select(std::string_view Name) const {
  if (Name.empty() || Name == "Identity") return nullptr;
  if (const TLKPDFCryptFilter* f = FindCryptFilter(Name)) return f;
  // A name missing from /CF: the filter that was read stands in for it.
  return FFilters.empty() ? nullptr : FCF.get();
}

size_t TLKPDFStandardCryptFilter::KeyBytes() const {
  const TLKPDFCryptFilter* f = Select(FStmF);
  if (!f) f = Select(FStrF);
  if (f && f->CFM == "/aesv2") return 16;
  if (FKeyBytesFound) return FKeyBytesFound;
  int32_t bits = f ? FilterBits(f->Length) : 0;
  if (bits <= 0) bits = FKeyLength >= 40 ? FKeyLength : 128;
  return static_cast<size_t>(std::clamp(bits, 40, 128) / 8);
}

void TLKPDFStandardCryptFilter::Validate(const TLKPDFCryptFilter& Filter) const {
  if (Filter.CFM != "/none" && Filter.CFM != "/v2" && Filter.CFM != "/aesv2" && Filter.CFM != "/aesv3")
    throw EPDFEncryptionError(Format(SPDFInvalidMethod, {Filter.CFM}));
  // An absent /AuthEvent means /DocOpen.
  if (!Filter.AuthEvent.empty() && Filter.AuthEvent != "/docopen" && Filter.AuthEvent != "/efopen")
    throw EPDFEncryptionError(Format(SPDFInvalidEvent, {Filter.AuthEvent}));
  if (Filter.CFM == "/none") throw EPDFEncryptionError(SPDFCryptFilterNotImplemented);
}

bool TLKPDFStandardCryptFilter::CheckAuthentication(const RawByteString& DocID, const RawByteString& Password) {
  if (const TLKPDFCryptFilter* f = Select(FStmF)) Validate(*f);
  if (const TLKPDFCryptFilter* f = Select(FStrF)) Validate(*f);
  return TLKPDFStandardEncryption::CheckAuthentication(DocID, Password);
}

RawByteString TLKPDFStandardCryptFilter::DecryptObject(int32_t ObjNum, int32_t Gen, TPDFCryptTarget Target,
                                                       const RawByteString& DocID, const RawByteString& Password,
                                                       const RawByteString& Value, std::string_view CryptFilterName) {
  const std::string_view name =
      !CryptFilterName.empty() ? CryptFilterName : (Target == TPDFCryptTarget::ctStream ? FStmF : FStrF);
  const TLKPDFCryptFilter* f = Select(name);
  if (!f) return Value;
  Validate(*f);
  RequireAuthentication(DocID, Password);
  if (f->CFM == "/v2") return DecryptRC4(ObjNum, Gen, Value);
  if (f->CFM == "/aesv2") return FRevision >= 5 ? DecryptAESV3(Value) : DecryptAESV2(ObjNum, Gen, Value);
  return FRevision >= 5 ? DecryptAESV3(Value) : DecryptAESV2(ObjNum, Gen, Value);
}

}  // namespace lkw

namespace lkw {

// ---------------------------------------------------------------------------
// Reading the /Encrypt dictionary

namespace {
// A name as the crypt filter fields keep it: lowered, with its slash.
std::string SlashName(const TPDFObject* Name, std::string_view Default) {
  return SlashLowerName((Name && Name->IsName()) ? std::string_view(Name->Str) : Default);
}
}  // namespace

void TLKPDFReader::ParseEncryption(TStream*) {
  TPDFObject dict;
  if (FEncryptDict.IsDict()) {
    dict = FEncryptDict;
  } else if (!EncryptTag.empty()) {
    GetObject(static_cast<int32_t>(PDFStrToInt64Def(EncryptTag, -1)), dict);
  } else {
    return;
  }
  if (!dict.IsDict()) throw EPDFEncryptionError(SPDFEncryptionNotSupported);
  auto value = [&](const char* key) { return Resolve(dict.Get(key) ? *dict.Get(key) : TPDFObject()); };
  const TPDFObject filter = value("Filter");
  if (!filter.IsName() || LowerAscii(filter.Str) != "standard") throw EPDFEncryptionError(SPDFEncryptionNotSupported);
  const int64_t v = value("V").AsInt(0);
  std::unique_ptr<TLKPDFStandardEncryption> handler;
  TLKPDFStandardCryptFilter* cryptFilter = nullptr;
  if (v == 1 || v == 2) {
    handler = std::make_unique<TLKPDFStandardAlgorithm12>();
  } else if (v == 3) {
    throw EPDFEncryptionError(SPDFAlgorithm3NotSupported);
  } else if (v == 4 || v == 5) {
    auto cf = std::make_unique<TLKPDFStandardCryptFilter>();
    cryptFilter = cf.get();
    handler = std::move(cf);
  } else {
    throw EPDFEncryptionError(Format(SPDFUnknownAlgorithm, {std::to_string(v)}));
  }
  handler->SetEnabled(true);
  handler->SetAlgorithm(static_cast<int32_t>(v));
  handler->SetKeyLength(static_cast<int32_t>(std::clamp<int64_t>(value("Length").AsInt(40), 0, 4096)));
  handler->SetRevision(static_cast<int32_t>(std::clamp<int64_t>(value("R").AsInt(0), -1, 1000)));
  handler->SetOwnerPasswordHash(value("O").Str);
  handler->SetUserPasswordHash(value("U").Str);
  handler->SetOwnerEncryptedKey(value("OE").Str);
  handler->SetUserEncryptedKey(value("UE").Str);
  handler->SetEncryptedPermissions(value("Perms").Str);
  // /P is a signed 32-bit value; some writers give it unsigned.
  handler->SetPermissions(static_cast<int32_t>(static_cast<uint32_t>(value("P").AsInt(0))));
  const TPDFObject meta = value("EncryptMetadata");
  handler->SetEncryptMetadata(!(meta.Kind == TPDFObjKind::okBool && !meta.BoolValue));
  if (cryptFilter) {
    const TPDFObject cf = value("CF");
    bool first = true;
    for (size_t i = 0; cf.IsDict() && i < cf.Keys.size(); ++i) {
      const TPDFObject fd = Resolve(cf.Items[i]);
      if (!fd.IsDict()) continue;
      TLKPDFCryptFilter f;
      const TPDFObject* cfm = fd.Get("CFM");
      f.CFM = SlashName(cfm, "none");
      const TPDFObject* ev = fd.Get("AuthEvent");
      if (ev && ev->IsName()) f.AuthEvent = SlashName(ev, "");
      const TPDFObject* len = fd.Get("Length");
      f.Length = len ? static_cast<int32_t>(std::clamp<int64_t>(len->AsInt(0), -1, 4096)) : 0;
      cryptFilter->AddCryptFilter(cf.Keys[i], f);
      if (first) cryptFilter->SetCF(f);
      first = false;
    }
    auto name = [&](const char* key, const char* def) {
      const TPDFObject n = value(key);
      return n.IsName() ? n.Str : std::string(def);
    };
    cryptFilter->SetStmF(name("StmF", "Identity"));
    cryptFilter->SetStrF(name("StrF", "Identity"));
    cryptFilter->SetEFF(name("EFF", ""));
    if (const TLKPDFCryptFilter* f = cryptFilter->FindCryptFilter(cryptFilter->StmF())) cryptFilter->SetCF(*f);
  }
  FEncryption = std::move(handler);
}

}  // namespace lkw
