// Shared fixture: fresh process-wide state and a fake platform per test.
#pragma once

#include <gtest/gtest.h>
#include <string.h>

#include "fake_platform.h"
#include "manifest/manifest.h"
#include "run/run.h"
#include "shared/run_state.h"
#include "shared/work_paths.h"
#include "trust/trust.h"

class UpdaterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gRunState = UpdateRunState();
    gWorkPaths = WorkPaths();
    gManifest = UpdateManifest();
  }

  // The build's trust switches, as a test may set them, restored whatever it asserted.
  void TearDown() override {
    gSignerPins = savedPins;
    gFeedPins = savedFeedPins;
    gSignedManifest = savedSignedManifest;
    gHttpsOnly = savedHttpsOnly;
  }

  // Fresh state and a fresh fake, for the next row of a table.
  void NextCase() {
    SetUp();
    gHttpsOnly = savedHttpsOnly;
    fake = FakePlatform();
    gFake = &fake;
  }

  // The paths a first run on the default fake machine works out.
  void UseDefaultPaths() {
    strcpy(gWorkPaths.hostExePath, "C:\\App\\Orvessa.exe");
    strcpy(gWorkPaths.workDir, "C:\\Temp\\kelvaport\\");
    strcpy(gWorkPaths.installerPath, "C:\\Temp\\kelvaport\\setup.exe");
  }

  // The default paths, with Orvessa.exe 1.1.0.12181 installed.
  void Installed12181() {
    UseDefaultPaths();
    fake.files[gWorkPaths.hostExePath] = "MZ";
    fake.InstalledVersion(1, 1, 0, 12181);
  }

  FakePlatform fake;
  const char* const savedPins = gSignerPins;
  const char* const savedFeedPins = gFeedPins;
  const int savedSignedManifest = gSignedManifest;
  const int savedHttpsOnly = gHttpsOnly;
};
