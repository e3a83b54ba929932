// The one path rendered text takes out of a reader: into the document's
// list or, when the host gave one, into its sinks; MaxTextLength, the cut
// warning and the cancelling of extraction are kept here.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <optional>
#include <string_view>
#include <vector>

#include "lkword/platform/Types.h"

namespace lkw {

class TWideStrings;

// Receives the items of the document text one by one as they are produced.
using TMSWTextSink = std::function<void(std::u16string_view Item)>;
// Receives items of the document text already encoded as UTF-8.
using TMSWUtf8TextSink = std::function<void(std::string_view Item)>;

class TTextPath {
 public:
  struct TSettings {
    TWideStrings* List = nullptr;  // the main text
    const TMSWTextSink* Sink = nullptr;
    const TMSWUtf8TextSink* Utf8Sink = nullptr;
    int64_t MaxLength = 0;  // 0 or less: no limit
    bool* Cancelled = nullptr;
    std::function<void()> OnCut;  // the output was cut at the limit
    // The main text's last item stays with the host (see TakeFinish).
    bool HoldFinish = false;
    // Past it, extraction is cancelled as at the length limit.
    std::optional<std::chrono::steady_clock::time_point> Deadline;
  };

  TTextPath() = default;
  explicit TTextPath(TSettings Settings) : F(std::move(Settings)) {}

  // Whether extraction must stop: the text reached the limit, or the time
  // is up (which cancels it from then on).
  bool Cancelled() const { return (F.Cancelled && *F.Cancelled) || (F.Deadline && PastDeadline()); }
  bool TimedOut() const { return FTimedOut; }
  bool Sinking() const { return F.Sink && *F.Sink; }
  // What the main text counts against the limit so far, each item with its
  // CR LF.
  int64_t Counted() const;

  // An item of the current text (the main text unless a TRedirect is in
  // force), counted against the limit; once the limit is reached later
  // items are dropped.
  void Add(WideString Item) {
    if (FTarget && FTarget != F.List)
      AddTo(*FTarget, std::move(Item));
    else
      AddMain(std::move(Item));
  }

  // While one lives, the items Add gets go to List (a secondary text, or a
  // list a caller gave) instead of the main text.
  class TRedirect {
   public:
    TRedirect(TTextPath& Path, TWideStrings& List) : FPath(Path), FSaved(Path.FTarget) { Path.FTarget = &List; }
    ~TRedirect() { FPath.FTarget = FSaved; }
    TRedirect(const TRedirect&) = delete;
    TRedirect& operator=(const TRedirect&) = delete;

   private:
    TTextPath& FPath;
    TWideStrings* FSaved;
  };
  // An item of the main text outside the limit (the frame of readers that
  // keep it outside).
  void AddUncounted(WideString Item);
  // The frame's last item: kept for the host when it asked so.
  void AddFinish(WideString Item, bool Counted);
  bool FinishHeld() const { return FFinishHeld; }
  const WideString& HeldFinish() const { return FFinish; }
  // Whether the list ends with the frame's last item, non-empty, which a
  // host that appends to the text puts after what it appends.
  bool ListEndsWithFinish() const;

  // An item of a secondary text (notes, headers): each list is cut at the
  // limit on its own, and cutting one ends the extraction too.
  void AddTo(TWideStrings& List, WideString Item);

  // Whether AddUtf8 reaches a UTF-8 sink (otherwise it converts).
  bool HasUtf8Sink() const { return Sinking() && F.Utf8Sink && *F.Utf8Sink; }
  // An item (or several joined by LF) given as UTF-8, Units long in UTF-16.
  void AddUtf8(std::string_view Utf8, size_t Units);

  // A checkpoint of the main text: items after it are held back from the
  // sink until Release, so that RollBack can take them back.
  struct TCheckpoint {
    size_t ListCount = 0;
    int64_t Counted = 0;
    int64_t Uncounted = 0;
    bool Cancelled = false;
    bool Valid = false;
  };
  TCheckpoint Checkpoint();
  // Whether the text since Point can still be taken back.
  bool CanRollBack(const TCheckpoint& Point) const { return Point.Valid && !FReleased; }
  void RollBack(const TCheckpoint& Point);
  // Hands the held items on; the checkpoint cannot be rolled back after.
  void Release();
  bool Holding() const { return FHolding; }
  int64_t HeldLength() const { return FHeldLength; }
  size_t HeldCount() const { return FHeld.size(); }

 private:
  void Deliver(WideString&& Item);
  bool Cut(int64_t Before, WideString& Item);

  void AddMain(WideString&& Item);
  bool PastDeadline() const;

  TSettings F;
  TWideStrings* FTarget = nullptr;
  int64_t FCounted = 0;    // what went to the sink
  int64_t FUncounted = 0;  // the list's items outside the limit
  bool FHolding = false;
  bool FReleased = false;
  std::vector<WideString> FHeld;
  int64_t FHeldLength = 0;
  WideString FFinish;
  bool FFinishHeld = false;
  bool FHoldingFinish = false;  // the item on its way is the finish
  static constexpr size_t kNoFinish = static_cast<size_t>(-1);
  size_t FFinishAt = kNoFinish;  // in the list
  mutable bool FTimedOut = false;
};

}  // namespace lkw
