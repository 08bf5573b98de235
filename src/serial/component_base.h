// The components' common base. TComponent stands for the framework's component: an owner, a
// Name, a Tag and a component state whose loading flag is set while the component's stored
// settings are being read (BeginLoading .. Loaded) and whose designing flag marks design-time
// use. TBaseComponent adds the read-only Version every component of this family reports.
#pragma once

#include <string>

namespace mbus::serial {

class TComponent {
public:
    explicit TComponent(TComponent* owner = nullptr) : Owner_(owner) {}
    virtual ~TComponent() = default;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const { return Owner_; }
    const std::string& Name() const { return Name_; }
    void SetName(const std::string& name) { Name_ = name; }
    long Tag() const { return Tag_; }
    void SetTag(long tag) { Tag_ = tag; }

    // Component state: loading while stored settings are being read, designing at design time.
    bool IsLoading() const { return Loading_; }
    bool IsDesigning() const { return Designing_; }
    void SetDesigning(bool designing) { Designing_ = designing; }

    // Marks the start of reading stored settings; Loaded ends it.
    void BeginLoading() { Loading_ = true; }
    // Called when the stored settings have been read; clears the loading flag. Overrides call
    // the base first.
    virtual void Loaded() { Loading_ = false; }

private:
    TComponent* Owner_;
    std::string Name_;
    long Tag_ = 0;
    bool Loading_ = false;
    bool Designing_ = false;
};

class TBaseComponent : public TComponent {
public:
    using TComponent::TComponent;

    // Always "v5.00"; assignments are ignored and the value is never stored.
    std::string Version() const { return "v5.00"; }
    void SetVersion(const std::string&) {}
};

} // namespace mbus::serial
