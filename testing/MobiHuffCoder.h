// A HUFF/CDIC coder for tests. The phrases are every byte, some words and
// phrases made of other phrases (stored coded, one of them two levels
// deep), coded with a canonical Huffman code of how often each is used and
// written as the format wants it: longer codes numerically below shorter
// ones, phrases numbered by code length.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <queue>
#include <string>
#include <utility>
#include <vector>

namespace lkw::testing {

class THuffCoder {
 public:
  // Texts are the records to be coded; Bits the log2 of phrases per CDIC.
  explicit THuffCoder(const std::vector<std::string>& Texts, unsigned Bits = 6) : FBits(Bits) {
    for (int b = 0; b < 256; ++b) AddPlain(std::string(1, static_cast<char>(b)));
    for (const char* w : {"the ", "lighthouse", " keeper", "<p>", "</p>", "\xE2\x82\xAC"}) AddPlain(w);
    const size_t pair = AddCoded({Find("the "), Find("lighthouse")});
    AddCoded({pair, Find(" keeper")});
    // How often each phrase is used, in the texts and in coded phrases;
    // every phrase gets a code.
    std::vector<uint64_t> weight(FText.size(), 1);
    for (const std::string& t : Texts)
      for (size_t id : Tokens(t)) weight[id] += 3;
    for (const auto& parts : FParts)
      for (size_t id : parts) ++weight[id];
    AssignCodes(weight);
    for (const std::string& t : Texts) FRecords.push_back(Encode(Tokens(t)));
  }

  const std::vector<std::string>& Records() const { return FRecords; }

  std::string Huff() const {
    std::string h(24 + 256 * 4 + 64 * 4, '\0');
    h.replace(0, 4, "HUFF");
    Put32(h, 4, 24);
    Put32(h, 8, 24);
    Put32(h, 12, 24 + 1024);
    for (uint32_t prefix = 0; prefix < 256; ++prefix) {
      uint32_t entry = 9;  // longer than 8 bits: found from the length table
      for (unsigned len = 1; len <= 8; ++len)
        if (FMaxOffset[len] && HasCode(len, prefix >> (8 - len))) entry = (FMaxOffset[len] << 8) | 0x80 | len;
      Put32(h, 24 + 4 * prefix, entry);
    }
    for (unsigned len = 1; len <= 32; ++len) {
      Put32(h, 24 + 1024 + 8 * (len - 1), FLowest[len]);
      Put32(h, 24 + 1024 + 8 * (len - 1) + 4, FMaxOffset[len]);
    }
    return h;
  }

  std::vector<std::string> Cdics() const {
    std::vector<std::string> out;
    const size_t per = size_t{1} << FBits;
    for (size_t first = 0; first < FOrder.size(); first += per) {
      const size_t n = std::min(per, FOrder.size() - first);
      std::string c(16 + 2 * n, '\0');
      c.replace(0, 4, "CDIC");
      Put32(c, 4, 16);
      Put32(c, 8, static_cast<uint32_t>(FOrder.size()));
      Put32(c, 12, FBits);
      for (size_t k = 0; k < n; ++k) {
        const size_t id = FOrder[first + k];
        const bool plain = FParts[id].empty();
        const std::string data = plain ? FText[id] : Encode(FParts[id]);
        Put16(c, 16 + 2 * k, static_cast<uint32_t>(c.size() - 16));
        std::string len(2, '\0');
        Put16(len, 0, static_cast<uint32_t>(data.size() | (plain ? 0x8000 : 0)));
        c += len + data;
      }
      out.push_back(c);
    }
    return out;
  }

  unsigned LongestCode() const { return *std::max_element(FLength.begin(), FLength.end()); }
  unsigned ShortestCode() const { return *std::min_element(FLength.begin(), FLength.end()); }

 private:
  static void Put16(std::string& s, size_t at, uint32_t v) {
    s[at] = static_cast<char>(v >> 8);
    s[at + 1] = static_cast<char>(v);
  }
  static void Put32(std::string& s, size_t at, uint32_t v) {
    Put16(s, at, v >> 16);
    Put16(s, at + 2, v & 0xFFFF);
  }

  size_t AddPlain(const std::string& t) {
    FText.push_back(t);
    FParts.emplace_back();
    return FText.size() - 1;
  }
  size_t AddCoded(const std::vector<size_t>& parts) {
    std::string t;
    for (size_t p : parts) t += FText[p];
    FText.push_back(t);
    FParts.push_back(parts);
    return FText.size() - 1;
  }
  size_t Find(const std::string& t) const {
    return static_cast<size_t>(std::find(FText.begin(), FText.end(), t) - FText.begin());
  }

  // Longest match first.
  std::vector<size_t> Tokens(const std::string& t) const {
    std::vector<size_t> ids;
    for (size_t at = 0; at < t.size();) {
      size_t best = static_cast<uint8_t>(t[at]);
      for (size_t id = 256; id < FText.size(); ++id)
        if (t.compare(at, FText[id].size(), FText[id]) == 0 && FText[id].size() > FText[best].size()) best = id;
      ids.push_back(best);
      at += FText[best].size();
    }
    return ids;
  }

  void AssignCodes(const std::vector<uint64_t>& weight) {
    // Huffman code lengths.
    using TNode = std::pair<uint64_t, size_t>;
    std::priority_queue<TNode, std::vector<TNode>, std::greater<>> q;
    std::vector<size_t> parent(2 * weight.size(), SIZE_MAX);
    for (size_t i = 0; i < weight.size(); ++i) q.push({weight[i], i});
    size_t next = weight.size();
    while (q.size() > 1) {
      const TNode a = q.top();
      q.pop();
      const TNode b = q.top();
      q.pop();
      parent[a.second] = parent[b.second] = next;
      q.push({a.first + b.first, next++});
    }
    FLength.assign(weight.size(), 0);
    for (size_t i = 0; i < weight.size(); ++i)
      for (size_t n = i; parent[n] != SIZE_MAX; n = parent[n]) ++FLength[i];
    // Canonical codes, shortest first, then every bit inverted so that the
    // longer codes lie below the shorter ones.
    FOrder.resize(weight.size());
    for (size_t i = 0; i < FOrder.size(); ++i) FOrder[i] = i;
    std::stable_sort(FOrder.begin(), FOrder.end(), [&](size_t a, size_t b) { return FLength[a] < FLength[b]; });
    FCode.assign(weight.size(), 0);
    uint64_t code = 0;
    unsigned len = FLength[FOrder[0]];
    for (size_t k = 0; k < FOrder.size(); ++k) {
      const size_t id = FOrder[k];
      code <<= FLength[id] - len;
      len = FLength[id];
      FCode[id] = static_cast<uint32_t>(~code & ((uint64_t{1} << len) - 1));
      // The first (highest) code of a length carries its index base.
      if (!FMaxOffset[len]) FMaxOffset[len] = static_cast<uint32_t>(k + FCode[id]);
      FLowest[len] = FCode[id];
      ++code;
    }
    // Lengths without codes take their shorter neighbour's lowest code, so
    // that the walk up the lengths passes them.
    FLowest[0] = 1;
    for (unsigned l = 1; l <= 32; ++l)
      if (!FMaxOffset[l]) FLowest[l] = FLowest[l - 1] << 1;
  }

  bool HasCode(unsigned len, uint32_t code) const {
    for (size_t id = 0; id < FCode.size(); ++id)
      if (FLength[id] == len && FCode[id] == code) return true;
    return false;
  }

  std::string Encode(const std::vector<size_t>& ids) const {
    std::string out;
    uint64_t acc = 0;
    unsigned bits = 0;
    for (size_t id : ids) {
      acc = (acc << FLength[id]) | FCode[id];
      bits += FLength[id];
      while (bits >= 8) {
        out += static_cast<char>(acc >> (bits - 8));
        bits -= 8;
      }
    }
    if (bits) out += static_cast<char>(acc << (8 - bits));
    return out;
  }

  unsigned FBits;
  std::vector<std::string> FText;
  std::vector<std::vector<size_t>> FParts;
  std::vector<unsigned> FLength;
  std::vector<uint32_t> FCode;
  std::vector<size_t> FOrder;  // phrases by index
  uint32_t FMaxOffset[33] = {};
  uint32_t FLowest[33] = {};
  std::vector<std::string> FRecords;
};

}  // namespace lkw::testing
