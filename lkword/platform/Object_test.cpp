#include "lkword/platform/Object.h"

#include <gtest/gtest.h>

#include "lkword/platform/Exceptions.h"

namespace lkw {
namespace {

int g_destroyed = 0;

class Probe : public TComponent {
 public:
  using TComponent::TComponent;
  ~Probe() override { ++g_destroyed; }
};

TEST(ComponentTest, OwnerDeletesOwnedComponentsAndEarlyDeletesLeaveTheList) {
  g_destroyed = 0;
  auto* owner = new Probe(nullptr);
  auto* a = new Probe(owner);
  new Probe(owner);
  new Probe(a);  // grandchild
  EXPECT_EQ(owner->ComponentCount(), 2);
  delete a;  // takes its own child with it and leaves the owner's list
  EXPECT_EQ(g_destroyed, 2);
  EXPECT_EQ(owner->ComponentCount(), 1);
  delete owner;
  EXPECT_EQ(g_destroyed, 4);
}

TEST(ComponentTest, AssignOfAnUnrelatedClassRaises) {
  TPersistent a, b;
  EXPECT_THROW(a.Assign(b), EConvertError);
  TComponent c;
  EXPECT_THROW(c.Components(0), EListError);
}

}  // namespace
}  // namespace lkw
