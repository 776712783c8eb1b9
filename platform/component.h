// TComponent: the minimal base of the framework's non-visual components. A component may have an
// owner; the plug-ins always create theirs without one and free them explicitly. No thread
// affinity: a component is used by whichever thread owns it at the time.
#pragma once

class TComponent {
  public:
    explicit TComponent(TComponent* owner = nullptr) : owner_(owner) {}
    virtual ~TComponent() = default;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const { return owner_; }

  private:
    TComponent* owner_;
};
