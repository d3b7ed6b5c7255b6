// A render-graph object over the real filters on synthetic cameras, with the stand-ins bound:
// the camera list and filter settings start empty and COM is initialised for the test.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "graph/capture_graph.h"
#include "tests/graph/camera_env.h"
#include "tests/graph/standins.h"

namespace test {

class RealGraphFixture : public StandInTest {
 protected:
  void SetUp() override {
    StandInTest::SetUp();
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ClearCameras();
    ClearFilterSettings();
    RegisterFilters();
    graph_ = std::make_unique<CVDRendGraphImpl>();
    ASSERT_TRUE(graph_->vcam.Load());
  }
  void TearDown() override {
    if (graph_) graph_->StopGraph();
    graph_.reset();
    ClearCameras();
    ClearFilterSettings();
    CoUninitialize();
    StandInTest::TearDown();
  }

  std::unique_ptr<CVDRendGraphImpl> graph_;
};

}  // namespace test
