#include "render/graph/onnx_topo_check.h"

#include <gtest/gtest.h>

#include "render/support/test_models.h"

namespace {

TEST(GsTopoCheck, OrderedGraphPasses) { EXPECT_EQ(le::gsTopoSelfCheck(le::test::testModel("director")), ""); }

TEST(GsTopoCheck, ReaderBeforeProducerIsNamed) {
  EXPECT_EQ(le::gsTopoSelfCheck(le::test::testModel("unordered")),
            "self-check: node 0 reads 't' produced at 1 — the rewritten graph is not topologically ordered");
}

}  // namespace
