#include "lkword/platform/Object.h"

#include <algorithm>

#include "lkword/platform/Exceptions.h"

namespace lkw {

void TPersistent::Assign(const TPersistent& Source) {
  throw EConvertError("Cannot assign a " + Source.ClassName() + " to a " + ClassName());
}

TComponent::TComponent(TComponent* AOwner) {
  if (AOwner) AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
  // Children remove themselves from FComponents as they die; take them from
  // the back so that removal is cheap.
  while (!FComponents.empty()) {
    TComponent* child = FComponents.back();
    delete child;
  }
  if (FOwner) FOwner->RemoveComponent(this);
}

TComponent* TComponent::Components(int Index) const {
  if (Index < 0 || static_cast<size_t>(Index) >= FComponents.size())
    throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
  return FComponents[static_cast<size_t>(Index)];
}

void TComponent::InsertComponent(TComponent* AComponent) {
  if (!AComponent || AComponent->FOwner == this) return;
  if (AComponent->FOwner) AComponent->FOwner->RemoveComponent(AComponent);
  FComponents.push_back(AComponent);
  AComponent->FOwner = this;
}

void TComponent::RemoveComponent(TComponent* AComponent) {
  auto it = std::find(FComponents.begin(), FComponents.end(), AComponent);
  if (it == FComponents.end()) return;
  FComponents.erase(it);
  AComponent->FOwner = nullptr;
}

}  // namespace lkw
