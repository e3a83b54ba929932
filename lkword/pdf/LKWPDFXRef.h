// Cross-reference entries: where each object of a PDF file lies.
#pragma once

#include <cstddef>
#include <cstdint>
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
// subsection is placed by its own start number).
class TLKPDFXRefList {
 public:
  int Count() const { return static_cast<int>(FItems.size()); }
  // nullptr when Index is out of range.
  TLKPDFXRef* GetItem(int Index) {
    return Index < 0 || Index >= Count() ? nullptr : &FItems[static_cast<size_t>(Index)];
  }
  const TLKPDFXRef* GetItem(int Index) const {
    return Index < 0 || Index >= Count() ? nullptr : &FItems[static_cast<size_t>(Index)];
  }
  // Grows the list to hold Index and returns its entry; nullptr when Index is
  // negative or not below Limit().
  TLKPDFXRef* AddItem(int Index) {
    if (Index < 0 || Index >= FLimit) return nullptr;
    if (Index >= Count()) FItems.resize(static_cast<size_t>(Index) + 1);
    return &FItems[static_cast<size_t>(Index)];
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
  void Clear() { FItems.clear(); }
  // Highest object number + 1 that AddItem accepts.
  int Limit() const { return FLimit; }
  void SetLimit(int Value) { FLimit = Value; }

 private:
  std::vector<TLKPDFXRef> FItems;
  int FLimit = 1 << 23;
};

}  // namespace lkw
