// Cross-reference entries: where each object of a PDF file lies.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace lkw {

enum TLKPDFXRefKind : uint8_t { xrkFree = 0, xrkUnCompressed = 1, xrkCompressed = 2 };

class TLKPDFXRef {
 public:
  TLKPDFXRefKind Kind() const { return FKind; }
  void SetKind(TLKPDFXRefKind Value) { FKind = Value; }
  // xrkUnCompressed: byte offset of "N G obj"; xrkCompressed: index of the
  // object within its object stream.
  int64_t Offset() const { return FOffset; }
  void SetOffset(int64_t Value) { FOffset = Value; }
  // xrkCompressed: number of the containing object stream.
  int32_t ObjNumber() const { return FObjNumber; }
  void SetObjNumber(int32_t Value) { FObjNumber = Value; }
  uint16_t Generation() const { return FGeneration; }
  void SetGeneration(uint16_t Value) { FGeneration = Value; }
  // Whether some cross-reference section described this entry. Sections are
  // read newest first and never overwrite an assigned entry.
  bool Assigned() const { return FAssigned; }
  void SetAssigned(bool Value) { FAssigned = Value; }

 private:
  TLKPDFXRefKind FKind = xrkFree;
  bool FAssigned = false;
  uint16_t FGeneration = 0;
  int32_t FObjNumber = 0;
  int64_t FOffset = 0;
};

// Entries indexed by object number (StartCrossRef is always 0 here: every
// subsection is placed by its own start number). Numbers below Limit() are
// held densely; higher ones (a page cut from a large document keeps its
// numbering) sparsely, up to a count of their own, so that no number a
// section claims can make the table outgrow the file.
class TLKPDFXRefList {
 public:
  // Dense entries only: numbers below Count() that may or may not be assigned.
  int Count() const { return static_cast<int>(FItems.size()); }
  // nullptr when Index has no entry.
  TLKPDFXRef* GetItem(int Index) {
    return const_cast<TLKPDFXRef*>(static_cast<const TLKPDFXRefList*>(this)->GetItem(Index));
  }
  const TLKPDFXRef* GetItem(int Index) const {
    if (Index < 0) return nullptr;
    if (Index < Count()) return &FItems[static_cast<size_t>(Index)];
    if (Index < FLimit || FSparse.empty()) return nullptr;
    const auto it = FSparse.find(Index);
    return it == FSparse.end() ? nullptr : &it->second;
  }
  // The entry of Index, made when missing; nullptr when Index is negative
  // or the sparse part is full.
  TLKPDFXRef* AddItem(int Index) {
    if (Index < 0) return nullptr;
    if (Index < FLimit) {
      if (Index >= Count()) FItems.resize(static_cast<size_t>(Index) + 1);
      return &FItems[static_cast<size_t>(Index)];
    }
    if (const auto it = FSparse.find(Index); it != FSparse.end()) return &it->second;
    if (FSparse.size() >= FSparseLimit) return nullptr;
    return &FSparse[Index];
  }
  // Every entry with its number, the dense ones in order.
  template <class F>
  void ForEach(F&& Visit) const {
    for (size_t i = 0; i < FItems.size(); ++i) Visit(static_cast<int>(i), FItems[i]);
    for (const auto& [num, e] : FSparse) Visit(num, e);
  }
  // The file offset of object Index: its own offset when uncompressed, the
  // offset of its object stream when compressed (one hop only, so chains of
  // containers cannot loop), -1 when free, unknown or out of range.
  int64_t GetOffsetForXRef(int Index) const {
    const TLKPDFXRef* e = GetItem(Index);
    if (!e || !e->Assigned()) return -1;
    if (e->Kind() == xrkUnCompressed) return e->Offset();
    if (e->Kind() != xrkCompressed) return -1;
    const TLKPDFXRef* c = GetItem(e->ObjNumber());
    return c && c->Assigned() && c->Kind() == xrkUnCompressed ? c->Offset() : -1;
  }
  void Clear() {
    FItems.clear();
    FSparse.clear();
  }
  // Numbers below Limit() are held densely; as many entries again (at most
  // kMaxSparse) above it.
  int Limit() const { return FLimit; }
  void SetLimit(int Value) {
    FLimit = Value;
    FSparseLimit = std::min<size_t>(static_cast<size_t>(std::max(Value, 0)), kMaxSparse);
  }

 private:
  static constexpr size_t kMaxSparse = size_t{1} << 20;
  std::vector<TLKPDFXRef> FItems;
  std::unordered_map<int, TLKPDFXRef> FSparse;
  int FLimit = 1 << 23;
  size_t FSparseLimit = kMaxSparse;
};

}  // namespace lkw
