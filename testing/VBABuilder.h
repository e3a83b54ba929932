// Test-only: writes the VBA pieces of a "Macros" storage (compressed
// containers, "_VBA_PROJECT" tables, "dir" records) so that tests and fuzz
// seeds can be made in code.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lkw::testing {

inline void VBAAdd16(std::string& S, uint32_t V) {
  S += static_cast<char>(V & 0xFF);
  S += static_cast<char>((V >> 8) & 0xFF);
}
inline void VBAAdd32(std::string& S, uint32_t V) {
  VBAAdd16(S, V & 0xFFFF);
  VBAAdd16(S, V >> 16);
}
// ASCII as UTF-16LE bytes.
inline std::string VBAUtf16(std::string_view Ascii) {
  std::string s;
  for (char c : Ascii) VBAAdd16(s, static_cast<uint8_t>(c));
  return s;
}

// Length bits of a copy token at position P of its chunk, computed the way
// the format's own compressor does: the offset field is just wide enough
// to reach the chunk start.
inline unsigned VBATestLengthBits(size_t P) {
  unsigned bits = 4;
  while ((size_t{1} << bits) < P) ++bits;
  return 16 - bits;
}

// The compressed container of Text: greedy longest matches, 4096-byte
// chunks; a full chunk that does not shrink is stored raw when AllowRaw.
inline std::string VBACompress(std::string_view Text, bool AllowRaw = true) {
  std::string out = "\x01";
  for (size_t start = 0; start < Text.size(); start += 4096) {
    const std::string_view chunk = Text.substr(start, 4096);
    std::string body;
    size_t p = 0;
    while (p < chunk.size()) {
      const size_t flagPos = body.size();
      body += '\0';
      uint8_t flags = 0;
      for (int bit = 0; bit < 8 && p < chunk.size(); ++bit) {
        const unsigned lengthBits = VBATestLengthBits(p);
        const size_t maxLen = std::min<size_t>((size_t{1} << lengthBits) + 2, chunk.size() - p);
        size_t bestLen = 0, bestOff = 0;
        for (size_t off = 1; off <= p; ++off) {
          size_t len = 0;
          while (len < maxLen && chunk[p + len] == chunk[p + len - off]) ++len;
          if (len > bestLen) bestLen = len, bestOff = off;
        }
        if (bestLen >= 3) {
          flags = static_cast<uint8_t>(flags | (1u << bit));
          VBAAdd16(body, static_cast<uint32_t>(((bestOff - 1) << lengthBits) | (bestLen - 3)));
          p += bestLen;
        } else {
          body += chunk[p++];
        }
      }
      body[flagPos] = static_cast<char>(flags);
    }
    if (AllowRaw && chunk.size() == 4096 && body.size() > 4096) {
      VBAAdd16(out, 0x3FFF);
      out += chunk;
    } else {
      if (body.size() > 4096) throw std::length_error("chunk does not fit a compressed chunk");
      VBAAdd16(out, static_cast<uint32_t>(0xB000 | (body.size() + 2 - 3)));
      out += body;
    }
  }
  return out;
}

// One compressed chunk from hand-made token bytes (flag bytes included).
inline std::string VBAChunk(std::string_view Tokens) {
  std::string s;
  VBAAdd16(s, static_cast<uint32_t>(0xB000 | (Tokens.size() + 2 - 3)));
  return s + std::string(Tokens);
}

struct TVBATestModule {
  std::string Name;    // module and stream name (ASCII)
  std::string Source;  // source text
  std::string Prefix;  // bytes before the container in the module stream
};

// A "_VBA_PROJECT" stream in the layout the extractor reads: a 34-byte
// header, the reference records, 132 bytes, the module table.
inline std::string VBAProjectStream(const std::vector<std::string>& References,
                                    const std::vector<std::pair<std::string, uint32_t>>& Modules) {
  std::string s(34, '\0');
  bool secondOfPair = false;
  for (const std::string& ref : References) {
    VBAAdd16(s, static_cast<uint32_t>(2 * ref.size()));
    s += VBAUtf16(ref);
    const std::string_view kind = std::string_view(ref).substr(0, 3);
    if (kind == "*\\G" || kind == "*\\H") {
      s += std::string(12, 'g');
    } else if (kind == "*\\C" || kind == "*\\D") {
      if (secondOfPair) s += std::string(12, 'c');
      secondOfPair = !secondOfPair;
    }
  }
  // The table's end mark is read again as part of the 132 bytes.
  s += std::string(132, '\0');
  VBAAdd16(s, static_cast<uint32_t>(Modules.size()));
  for (const auto& [name, offset] : Modules) {
    VBAAdd16(s, static_cast<uint32_t>(2 * name.size()));
    s += VBAUtf16(name);
    VBAAdd16(s, static_cast<uint32_t>(2 * name.size()));
    s += VBAUtf16(name);
    VBAAdd16(s, 4);
    s += std::string(4 + 2, 'x');
    s += std::string(8, 'y');
    s += '\x01';
    s += std::string(8 + 6, 'z');
    VBAAdd32(s, offset);
    s += std::string(2, 'w');
  }
  return s;
}

// Decompressed "dir" records: project information with CodePage, one
// reference, and the module records (names in CodePage bytes, as given).
struct TVBADirTestModule {
  std::string Name, StreamName;
  std::string UnicodeStreamName;  // UTF-16LE bytes; empty: no such record
  uint32_t Offset = 0;
};

inline void VBADirRecord(std::string& S, uint16_t Id, std::string_view Data) {
  VBAAdd16(S, Id);
  VBAAdd32(S, static_cast<uint32_t>(Data.size()));
  S += Data;
}

inline std::string VBADirRecords(uint16_t CodePage, const std::vector<TVBADirTestModule>& Modules) {
  std::string s, v;
  VBAAdd32(v, 1);
  VBADirRecord(s, 0x0001, v);  // SYSKIND
  VBADirRecord(s, 0x0002, v);  // LCID
  v.clear();
  VBAAdd16(v, CodePage);
  VBADirRecord(s, 0x0003, v);
  VBADirRecord(s, 0x0004, "Project");
  VBADirRecord(s, 0x0005, "");
  VBADirRecord(s, 0x0040, "");
  // The version record's size says 4 but 6 bytes follow.
  VBAAdd16(s, 0x0009);
  VBAAdd32(s, 4);
  s += std::string(6, '\x07');
  VBADirRecord(s, 0x0016, "stdole");
  VBADirRecord(s, 0x000D, std::string(40, 'r'));
  v.clear();
  VBAAdd16(v, static_cast<uint32_t>(Modules.size()));
  VBADirRecord(s, 0x000F, v);
  VBADirRecord(s, 0x0013, "\xFF\xFF");
  for (const TVBADirTestModule& m : Modules) {
    VBADirRecord(s, 0x0019, m.Name);
    VBADirRecord(s, 0x001A, m.StreamName);
    if (!m.UnicodeStreamName.empty()) VBADirRecord(s, 0x0032, m.UnicodeStreamName);
    VBADirRecord(s, 0x001C, "");
    VBADirRecord(s, 0x0048, "");
    v.clear();
    VBAAdd32(v, m.Offset);
    VBADirRecord(s, 0x0031, v);
    VBADirRecord(s, 0x0021, "");
    VBADirRecord(s, 0x002B, "");
  }
  VBADirRecord(s, 0x0010, "");
  return s;
}

// The streams of a "Macros" storage holding Modules: "PROJECT", and in
// "VBA" the "_VBA_PROJECT" tables (with the given references before the
// modules), the compressed "dir" and one stream per module.
inline std::vector<std::pair<std::string, std::string>> VBAMacroStreams(
    const std::vector<TVBATestModule>& Modules, const std::vector<std::string>& References = {},
    uint16_t CodePage = 1252) {
  std::vector<std::pair<std::string, uint32_t>> table;
  std::vector<TVBADirTestModule> dir;
  std::vector<std::pair<std::string, std::string>> streams;
  std::string project = "ID=\"{00000000-0000-0000-0000-000000000000}\"\r\n";
  for (const TVBATestModule& m : Modules) {
    const uint32_t offset = static_cast<uint32_t>(m.Prefix.size());
    table.emplace_back(m.Name, offset);
    dir.push_back({m.Name, m.Name, VBAUtf16(m.Name), offset});
    streams.emplace_back("Macros/VBA/" + m.Name, m.Prefix + VBACompress(m.Source));
    project += "Module=" + m.Name + "\r\n";
  }
  streams.emplace_back("Macros/PROJECT", project);
  streams.emplace_back("Macros/VBA/_VBA_PROJECT", VBAProjectStream(References, table));
  streams.emplace_back("Macros/VBA/dir", VBACompress(VBADirRecords(CodePage, dir)));
  return streams;
}

}  // namespace lkw::testing
