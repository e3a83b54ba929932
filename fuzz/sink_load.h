// Fuzz targets load inputs into the text list and through the host's text
// sink, as the tool streams, so that both sides of the readers and renderers
// are covered. That the sink gives the list's text is the seam's own test.
#pragma once

#include "lkword/framework/MSWBase.h"
#include "lkword/platform/Exceptions.h"

namespace lkw::fuzzing {

// Configure sets up a fresh document, Load loads it: once into the list,
// once through sinks that drop the text, the frame's last item held as the
// tool holds it.
template <typename T, typename Setup, typename Loader>
void LoadIntoListAndSink(Setup&& Configure, Loader&& Load) {
  {
    T listed;
    Configure(listed);
    try {
      Load(listed);
    } catch (const Exception&) {
    }
  }
  T doc;
  Configure(doc);
  doc.SetHoldTextFinish(true);
  doc.SetTextSink([](std::u16string_view) {});
  doc.SetUtf8TextSink([](std::string_view) {});
  try {
    Load(doc);
  } catch (const Exception&) {
  }
  // Text that went to the sink is not kept in the list as well.
  if (doc.Text().Count() != 0) __builtin_trap();
}

}  // namespace lkw::fuzzing
