#include "component/Component.h"

#include <algorithm>

namespace quillet {

TComponent::TComponent(TComponent* owner) : owner_(owner) {
  if (owner_) owner_->InsertComponent(this);
}

TComponent::~TComponent() {
  Destroying();
  for (TComponent* child : owned_) child->owner_ = nullptr;
  if (owner_) owner_->RemoveComponent(this);
}

void TComponent::Destroying() {
  if (IsDestroying()) return;
  state_ |= csDestroying;
  for (TComponent* child : owned_) child->Destroying();
}

void TComponent::RemoveComponent(TComponent* child) {
  owned_.erase(std::remove(owned_.begin(), owned_.end(), child), owned_.end());
}

}  // namespace quillet
