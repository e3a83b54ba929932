// Readers that hand text to a sink while they read must hand out exactly the
// text their list would hold: the tool writes through the sink, the library's
// callers read the list. Fuzz targets load a document both ways and abort on
// any difference.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "lkword/framework/MSWBase.h"
#include "lkword/platform/CodePages.h"
#include "lkword/platform/Exceptions.h"

namespace lkw::fuzzing {

// Loads Doc from Load (a callable taking the document) and tells whether
// it ended without an exception.
template <typename T, typename Loader>
bool TryLoad(T& Doc, Loader&& Load) {
  try {
    Load(Doc);
    return true;
  } catch (const Exception&) {
    return false;
  }
}

// The RTF header carries the time of the load, which may move on between
// the two loads: its digits are left out of the comparison.
inline WideString WithoutClock(const WideString& Text) {
  static const std::u16string_view kWords[] = {u"\\yr", u"\\mo", u"\\dy", u"\\hr", u"\\min"};
  WideString out;
  out.reserve(Text.size());
  for (size_t i = 0; i < Text.size();) {
    size_t skip = 0;
    for (std::u16string_view w : kWords)
      if (std::u16string_view(Text).substr(i, w.size()) == w) skip = w.size();
    if (!skip) {
      out += Text[i++];
      continue;
    }
    out.append(Text, i, skip);
    i += skip;
    while (i < Text.size() && Text[i] >= u'0' && Text[i] <= u'9') ++i;
  }
  return out;
}

// Setup configures each of two fresh documents alike; Load loads one. A load
// that fails either way says nothing about the sink: only two complete loads
// are compared.
template <typename T, typename Setup, typename Loader>
void LoadBothWays(Setup&& Configure, Loader&& Load) {
  T kept, sunk;
  Configure(kept);
  Configure(sunk);
  WideString joined;
  // As the tool streams: the frame's last item comes after the body.
  sunk.SetHoldTextFinish(true);
  sunk.SetTextSink([&joined](std::u16string_view Item) {
    joined.append(Item);
    joined += u"\r\n";
  });
  // Readers may hand items they have as bytes to a UTF-8 sink beside it,
  // several lines joined by LF in one.
  sunk.SetUtf8TextSink([&joined](std::string_view Item) {
    for (char16_t c : Utf8ToWide(Item)) {
      if (c == u'\n') joined += u'\r';
      joined += c;
    }
    joined += u"\r\n";
  });
  const bool keptOk = TryLoad(kept, Load);
  const bool sunkOk = TryLoad(sunk, Load);
  if (!keptOk || !sunkOk) return;
  if (sunk.TextFinishHeld()) {
    joined += sunk.HeldTextFinish();
    joined += u"\r\n";
  }
  WideString expected;
  for (const WideString& item : kept.Text().Items()) {
    expected += item;
    expected += u"\r\n";
  }
  if (sunk.Text().Count() != 0) {
    std::fprintf(stderr, "the text list holds %d items beside the sink\n", sunk.Text().Count());
    std::abort();
  }
  if (expected != joined && WithoutClock(expected) != WithoutClock(joined)) {
    size_t at = 0;
    while (at < expected.size() && at < joined.size() && expected[at] == joined[at]) ++at;
    std::fprintf(stderr, "text sink and text list differ at unit %zu (%zu vs %zu units)\n", at, joined.size(),
                 expected.size());
    std::abort();
  }
}

}  // namespace lkw::fuzzing
