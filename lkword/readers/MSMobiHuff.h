// HUFF/CDIC, the Huffman compression of Mobipocket books (compression
// 17480): codes index a dictionary of phrases, and a phrase may itself be
// coded with the same tables.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lkw {

class TMobiHuffCdic {
 public:
  // Huff is the HUFF record, Cdics the CDIC records that follow it; the
  // decoder refers to their bytes, which must outlive it. Raises EReadError
  // when the tables are malformed.
  TMobiHuffCdic(std::string_view Huff, const std::vector<std::string_view>& Cdics);

  // Appends the text of one record to Out. False when the record is damaged
  // (a code beyond the dictionary, a phrase that contains itself, more than
  // Limit bytes of text); Out then keeps what came before the damage.
  // Raises ELimitError when decoded phrases would hold more than the
  // decoder's memory budget.
  bool Decode(std::string_view Record, std::string& Out, size_t Limit);

  size_t PhraseCount() const { return FPhrases.size(); }

 private:
  struct TCode {
    uint8_t Length = 0;
    bool Terminal = false;
    uint64_t Max = 0;
  };
  struct TPhrase {
    std::string_view Data;
    bool Plain = false;  // stored as text, not coded
    bool Busy = false;   // being decoded: met again, it contains itself
    bool Decoded = false;
    std::string Text;
  };

  bool Unpack(std::string_view In, std::string& Out, size_t Limit, int Depth);
  void LoadCdic(std::string_view Cdic);

  TCode FCodes[256];
  uint64_t FMin[33] = {};
  uint64_t FMax[33] = {};
  std::vector<TPhrase> FPhrases;
  uint32_t FDeclaredPhrases = 0;
  size_t FDecodedBytes = 0;
};

}  // namespace lkw
