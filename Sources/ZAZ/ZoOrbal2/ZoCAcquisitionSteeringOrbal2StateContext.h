// Holds the current stage of a double-arch tray scan and the one before it.
#pragma once

#include "ZoCAcquisitionSteeringOrbal2StateBase.h"

#include <memory>

class ZoCAcquisitionSteeringOrbal2StateContext {
  public:
    using TState = std::shared_ptr<ZoCAcquisitionSteeringOrbal2StateBase>;

    // Starts in the first side stage, without an area type.
    ZoCAcquisitionSteeringOrbal2StateContext();
    // States point back at their context: it stays where it was built.
    ZoCAcquisitionSteeringOrbal2StateContext(const ZoCAcquisitionSteeringOrbal2StateContext&) = delete;
    ZoCAcquisitionSteeringOrbal2StateContext& operator=(const ZoCAcquisitionSteeringOrbal2StateContext&) =
        delete;

    // The current stage becomes the previous one (releasing the one before), a fresh stage of
    // type TNew becomes current; returns it.
    template <class TNew>
    TState TransitionTo() {
        TState fresh = std::make_shared<TNew>();
        fresh->SetContext(this);
        m_previous = std::move(m_current);
        m_current = fresh;
        return fresh;
    }

    const TState& GetCurrentState() const { return m_current; }
    const TState& GetPreviousState() const { return m_previous; }

  private:
    TState m_current;
    TState m_previous;
};
