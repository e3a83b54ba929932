#include "lkword/framework/TextPath.h"

#include <algorithm>

#include "lkword/framework/MSWBase.h"
#include "lkword/platform/CodePages.h"

namespace lkw {

// Cuts Item, which follows Before counted units, so that the text stays within
// the limit; false when nothing of it is left. Each item counts with its
// CR LF, and an item that only just fits stays whole.
bool TTextPath::Cut(int64_t Before, WideString& Item) {
  const int64_t len = static_cast<int64_t>(Item.size());
  if (Before + len + 2 > F.MaxLength && F.OnCut) F.OnCut();
  if (F.Cancelled) *F.Cancelled = true;
  if (Before + len + 2 <= F.MaxLength) return true;
  const int64_t room = F.MaxLength - Before;
  if (room <= 0) return false;
  Item.resize(static_cast<size_t>(std::min(room, len)));
  return true;
}

bool TTextPath::PastDeadline() const {
  if (FTimedOut) return true;
  if (std::chrono::steady_clock::now() < *F.Deadline) return false;
  FTimedOut = true;
  if (F.Cancelled) *F.Cancelled = true;
  return true;
}

inline void TTextPath::Deliver(WideString&& Item) {
  if (!Sinking()) {
    F.List->Add(std::move(Item));
  } else if (FHoldingFinish) {
    FFinish = std::move(Item);
    FFinishHeld = true;
  } else if (FHolding) {
    FHeldLength += static_cast<int64_t>(Item.size()) + 2;
    FHeld.push_back(std::move(Item));
  } else {
    (*F.Sink)(Item);
  }
}

int64_t TTextPath::Counted() const {
  // A list is counted by what it holds, so that a reader may take items
  // back from it.
  return Sinking() ? FCounted : F.List->TextLength() - FUncounted;
}

void TTextPath::AddMain(WideString&& Item) {
  if (Cancelled()) return;
  const int64_t before = Counted();
  const int64_t after = before + static_cast<int64_t>(Item.size()) + 2;
  if (F.MaxLength > 0 && after >= F.MaxLength) {
    if (!Cut(before, Item)) {
      FCounted = F.MaxLength;
      return;
    }
    // A sink counts the limit as reached.
    FCounted = F.MaxLength;
  } else {
    FCounted = after;
  }
  Deliver(std::move(Item));
}

void TTextPath::AddUncounted(WideString Item) {
  if (!Sinking()) FUncounted += static_cast<int64_t>(Item.size()) + 2;
  Deliver(std::move(Item));
}

void TTextPath::AddFinish(WideString Item, bool Counted) {
  // An empty finish adds an empty line where the frame closes, before
  // anything the host adds; a held one counts as if the sink had taken it.
  FHoldingFinish = Sinking() && F.HoldFinish && !Item.empty();
  const bool mark = !Sinking() && !Item.empty();
  const int before = mark ? F.List->Count() : 0;
  if (Counted)
    AddMain(std::move(Item));
  else
    AddUncounted(std::move(Item));
  FHoldingFinish = false;
  if (mark && F.List->Count() > before) FFinishAt = static_cast<size_t>(before);
}

bool TTextPath::ListEndsWithFinish() const {
  return !Sinking() && FFinishAt != kNoFinish && FFinishAt + 1 == static_cast<size_t>(F.List->Count());
}

void TTextPath::AddTo(TWideStrings& List, WideString Item) {
  if (&List == F.List) {
    AddMain(std::move(Item));
    return;
  }
  if (F.MaxLength <= 0) {
    List.Add(std::move(Item));
    return;
  }
  if (Cancelled()) return;
  const int64_t before = List.TextLength();
  if (before + static_cast<int64_t>(Item.size()) + 2 >= F.MaxLength && !Cut(before, Item)) return;
  List.Add(std::move(Item));
}

void TTextPath::AddUtf8(std::string_view Utf8, size_t Units) {
  if (HasUtf8Sink() && !FHolding && !Cancelled()) {
    const int64_t len = static_cast<int64_t>(Units);
    // An item the limit cuts takes the UTF-16 path, which cuts it in units.
    if (F.MaxLength <= 0 || FCounted + len + 2 < F.MaxLength) {
      FCounted += len + 2;
      (*F.Utf8Sink)(Utf8);
      return;
    }
  }
  AddMain(Utf8ToWide(Utf8));
}

TTextPath::TCheckpoint TTextPath::Checkpoint() {
  if (Sinking() && !FHolding) {
    FHolding = true;
    FReleased = false;
  }
  TCheckpoint p;
  p.ListCount = Sinking() ? FHeld.size() : static_cast<size_t>(F.List->Count());
  p.Counted = FCounted;
  p.Uncounted = FUncounted;
  p.Cancelled = Cancelled();
  p.Valid = true;
  return p;
}

void TTextPath::RollBack(const TCheckpoint& Point) {
  if (!CanRollBack(Point)) return;
  if (Sinking()) {
    for (size_t i = Point.ListCount; i < FHeld.size(); ++i) FHeldLength -= static_cast<int64_t>(FHeld[i].size()) + 2;
    FHeld.resize(Point.ListCount);
  } else {
    while (static_cast<size_t>(F.List->Count()) > Point.ListCount) F.List->Delete(F.List->Count() - 1);
  }
  FCounted = Point.Counted;
  FUncounted = Point.Uncounted;
  if (F.Cancelled) *F.Cancelled = Point.Cancelled;
}

void TTextPath::Release() {
  if (!FHolding) return;
  FHolding = false;
  FReleased = true;
  std::vector<WideString> held;
  held.swap(FHeld);
  FHeldLength = 0;
  for (WideString& item : held) (*F.Sink)(item);
}

}  // namespace lkw
