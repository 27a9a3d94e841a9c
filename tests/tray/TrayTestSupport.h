// Helpers of the tray suite: scratch files and the process-wide collision table.
#pragma once

#include "AcquisitionPlanningStore.h"
#include "CapturingLogSink.h"
#include "ReferenceDevice.h"
#include "TestSupport.h"
#include "ZoOrbal2.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cfloat>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

namespace traytest {

using Loader = ZoCTripleTrayCollisionsLoader;
using Steering = ZoCAcquisitionSteeringOrbal2TripleTray;
using Sequence = ZoCOrbal2AxisChain::CJointPositionSequence;
using Config = ZoCOrbal2AxisChain::NCJointConfiguration;
constexpr unsigned long c_dwHandshakeTimeout = 120000;  // ms; a broken handshake fails, never hangs

// Per process: suites of other build trees may share the scratch folder and its file names.
inline std::string scratchPath(const std::string& name) {
    return (std::filesystem::path(testsupport::ScratchDirectory()) / (std::to_string(getpid()) + "-" + name))
        .string();
}

inline std::string scratchFile(const std::string& name, const std::string& content) {
    std::ofstream(scratchPath(name), std::ios::binary) << content;
    return scratchPath(name);
}

// Points the loader at a file for one test, with an empty table, and back at the default.
struct ScopedTable {
    std::string path;
    explicit ScopedTable(std::string file) : path(std::move(file)) {
        Loader::ResetTable();
        Loader::m_pszFileName = path.c_str();
    }
    ~ScopedTable() {
        Loader::ResetTable();
        Loader::m_pszFileName = Loader::c_pszDefaultFileName;
    }
};

// Reads the current table on a loader's thread and waits for it; returns the nodes it holds.
inline size_t loadTable() {
    CbEvent done(true, false);
    size_t nodes = 0;
    Loader loader;
    loader.LoadAsync(
        [&](const Loader::TCollisionTree& tree) { nodes = tree.CountDescendants(), done.Set(); });
    return done.Wait(c_dwHandshakeTimeout) ? nodes : 0;
}

}  // namespace traytest
