// Builds small font programs for the tests: a TrueType font with a cmap and
// glyph names, a CFF font with a charset and an encoding.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace lkw::fonttest {

inline std::string BE16(uint32_t V) { return {static_cast<char>(V >> 8), static_cast<char>(V)}; }
inline std::string BE32(uint32_t V) { return BE16(V >> 16) + BE16(V & 0xFFFF); }

// A format 4 subtable mapping each code to its glyph (one segment per code).
inline std::string CmapFormat4(const std::map<uint32_t, uint32_t>& Map) {
  std::string ends, starts, deltas, ranges;
  for (const auto& [code, glyph] : Map) {
    ends += BE16(code);
    starts += BE16(code);
    deltas += BE16((glyph - code) & 0xFFFF);
    ranges += BE16(0);
  }
  ends += BE16(0xFFFF);
  starts += BE16(0xFFFF);
  deltas += BE16(1);
  ranges += BE16(0);
  const uint32_t segX2 = static_cast<uint32_t>(2 * (Map.size() + 1));
  std::string body = BE16(segX2) + BE16(0) + BE16(0) + BE16(0) + ends + BE16(0) + starts + deltas + ranges;
  return BE16(4) + BE16(static_cast<uint32_t>(body.size() + 6)) + BE16(0) + body;
}

// An sfnt with the given tables (no checksums: readers of PDF fonts do not
// need them).
inline std::string Sfnt(const std::map<std::string, std::string>& Tables) {
  std::string dir = BE32(0x00010000) + BE16(static_cast<uint32_t>(Tables.size())) + BE16(0) + BE16(0) + BE16(0);
  std::string data;
  const size_t base = 12 + 16 * Tables.size();
  for (const auto& [tag, body] : Tables) {
    dir += tag + BE32(0) + BE32(static_cast<uint32_t>(base + data.size())) + BE32(static_cast<uint32_t>(body.size()));
    data += body;
    while (data.size() % 4) data.push_back('\0');
  }
  return dir + data;
}

// cmap with the given (platform, encoding) subtables.
inline std::string CmapTable(const std::vector<std::pair<std::pair<int, int>, std::string>>& Subtables) {
  std::string head = BE16(0) + BE16(static_cast<uint32_t>(Subtables.size()));
  std::string bodies;
  const size_t base = 4 + 8 * Subtables.size();
  for (const auto& [pe, sub] : Subtables) {
    head += BE16(static_cast<uint32_t>(pe.first)) + BE16(static_cast<uint32_t>(pe.second)) +
            BE32(static_cast<uint32_t>(base + bodies.size()));
    bodies += sub;
  }
  return head + bodies;
}

// post format 2: glyph names (standard Macintosh names by index, others
// as Pascal strings).
inline std::string Post2(const std::vector<std::string>& Names, const std::map<std::string, int>& MacIndex) {
  std::string t = BE32(0x00020000) + std::string(28, '\0') + BE16(static_cast<uint32_t>(Names.size()));
  std::string strings;
  int extra = 0;
  for (const std::string& n : Names) {
    if (const auto it = MacIndex.find(n); it != MacIndex.end()) {
      t += BE16(static_cast<uint32_t>(it->second));
    } else {
      t += BE16(static_cast<uint32_t>(258 + extra++));
      strings += static_cast<char>(n.size()) + n;
    }
  }
  return t + strings;
}

inline std::string Maxp(uint32_t NumGlyphs) { return BE32(0x00005000) + BE16(NumGlyphs); }

// A CFF font: glyph 0 is .notdef; Names[i] names glyph i + 1 (standard
// strings by SID, others in the String INDEX); Codes[i] is its code in a
// format 0 encoding.
inline std::string CFF(const std::vector<std::pair<int, std::string>>& Glyphs) {
  const auto index = [](const std::vector<std::string>& items) {
    if (items.empty()) return BE16(0);
    std::string out = BE16(static_cast<uint32_t>(items.size())) + std::string(1, '\4');
    uint32_t off = 1;
    out += BE32(off);
    std::string data;
    for (const std::string& i : items) {
      off += static_cast<uint32_t>(i.size());
      out += BE32(off);
      data += i;
    }
    return out + data;
  };
  static const std::map<std::string, int> standard = {{"space", 1}, {"A", 34}, {"B", 35}, {"a", 66}, {"fi", 109}};
  std::vector<std::string> strings;
  std::string charset = std::string(1, '\0'), encoding = std::string(1, '\0') + static_cast<char>(Glyphs.size());
  for (const auto& [code, name] : Glyphs) {
    int sid;
    if (const auto it = standard.find(name); it != standard.end()) sid = it->second;
    else sid = 391 + static_cast<int>(strings.size()), strings.push_back(name);
    charset += BE16(static_cast<uint32_t>(sid));
    encoding += static_cast<char>(code);
  }
  std::vector<std::string> charStrings(Glyphs.size() + 1, std::string(1, '\x0E'));
  const std::string header = std::string("\1\0\4\4", 4);
  const std::string names = index({"T"});
  // The Top DICT has a fixed size: three 5-byte operands and their operators.
  const size_t topSize = index({std::string(18, ' ')}).size();
  const std::string strIndex = index(strings), gsubrs = BE16(0);
  const size_t charsetOff = header.size() + names.size() + topSize + strIndex.size() + gsubrs.size();
  const size_t encodingOff = charsetOff + charset.size();
  const size_t charStringsOff = encodingOff + encoding.size();
  const auto op = [](size_t v, int o) { return std::string(1, '\x1D') + BE32(static_cast<uint32_t>(v)) + static_cast<char>(o); };
  const std::string top = op(charsetOff, 15) + op(encodingOff, 16) + op(charStringsOff, 17);
  return header + names + index({top}) + strIndex + gsubrs + charset + encoding + index(charStrings);
}

}  // namespace lkw::fonttest
