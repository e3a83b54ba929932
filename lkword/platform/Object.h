// Root object, assignable object and owner-managed component.
#pragma once

#include <string>
#include <vector>

namespace lkw {

class TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject() = default;
  virtual std::string ClassName() const { return "TObject"; }
};

// An object whose state can be copied from another object of a compatible
// class. The default raises EConvertError ("Cannot assign a X to a Y").
class TPersistent : public TObject {
 public:
  virtual void Assign(const TPersistent& Source);
  std::string ClassName() const override { return "TPersistent"; }
};

// A component deletes the components it owns when it is deleted; a component
// deleted first leaves its owner's list by itself.
class TComponent : public TPersistent {
 public:
  explicit TComponent(TComponent* AOwner = nullptr);
  ~TComponent() override;

  TComponent* Owner() const { return FOwner; }
  const std::string& Name() const { return FName; }
  void SetName(const std::string& Value) { FName = Value; }
  int ComponentCount() const { return static_cast<int>(FComponents.size()); }
  TComponent* Components(int Index) const;
  void InsertComponent(TComponent* AComponent);
  void RemoveComponent(TComponent* AComponent);
  std::string ClassName() const override { return "TComponent"; }

 private:
  TComponent* FOwner = nullptr;
  std::string FName;
  std::vector<TComponent*> FComponents;
};

}  // namespace lkw
