// The stage context of a double-arch tray scan.
#include "ZoCAcquisitionSteeringOrbal2StateContext.h"

#include "ZoCAcquisitionSteeringOrbal2States.h"

ZoCAcquisitionSteeringOrbal2StateContext::ZoCAcquisitionSteeringOrbal2StateContext() {
    TransitionTo<ZoCAcquisitionSteeringOrbal2StateSide1>();
}
