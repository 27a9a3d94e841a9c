// Umbrella header of the ZoOrbal2 library: includes every exported header.
#pragma once

// Steering
#include "ZoCAcquisitionSteeringOrbal2.h"
#include "ZoCAcquisitionSteeringOrbal2Jaw.h"
#include "ZoCAcquisitionSteeringOrbal2Rotation.h"
#include "ZoCJawScanJointSequenceGenerator.h"
#include "ZoCJointSequenceGenerator.h"
#include "ZoCPlanningFrame.h"
#include "ZoCRotScanJointSequenceGenerator.h"

// Numerics
#include "ZoDebugPrint.h"
#include "ZoTVector.h"
#include "ZoTMatrix.h"
#include "ZoCPMatrix.h"
#include "ZoLapack.h"
#include "ZoCNLSObjectiveFunction.h"
#include "ZoCNLSSolver.h"
#include "ZoCPolynomial.h"

// Calibration
#include "ZoBase64.h"
#include "ZoCOrbal2AxisCalibrationObjFunction.h"
#include "ZoCOrbal2AxisCalibration.h"

// Saw cuts
#include "ZoCSawCutExtractor.h"
#include "ZoCSawCutDetector.h"

// Gyration and scan body
#include "ZoCAcquisitionSteeringOrbal2Gyration.h"
#include "ZoCAcquisitionSteeringOrbal2Scanbody.h"
#include "ZoCTripleTrayCollisionsLoader.h"

// Triple tray
#include "ZoCAcquisitionSteeringOrbal2StateBase.h"
#include "ZoCAcquisitionSteeringOrbal2States.h"
#include "ZoCAcquisitionSteeringOrbal2StateContext.h"
#include "ZoCTripleTrayStageTables.h"
#include "ZoCCreateJawBoundaries.h"
#include "ZoCCreateScanPositionsAlongJawline.h"
#include "ZoCAcquisitionSteeringOrbal2TripleTray.h"
