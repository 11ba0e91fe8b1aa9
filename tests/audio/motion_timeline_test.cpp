// The chunked motion timeline: what the cross-fade, the 3-frame average, the checkpoint, the
// read-out and the final cut must do, on predictions whose right answer is known.
#include <gtest/gtest.h>

#include <vector>

#include "audio/motion_layout.h"
#include "audio/motion_timeline.h"

namespace le::audio {
namespace {

using namespace motion;

// 80 predicted vectors: value(frame, dim) for every dimension.
template <class F>
std::vector<float> chunkOf(F value) {
  std::vector<float> p(size_t(kChunkFrames) * kMotionDim);
  for (size_t i = 0; i < size_t(kChunkFrames); ++i)
    for (size_t d = 0; d < kMotionDim; ++d) p[i * kMotionDim + d] = value(i, d);
  return p;
}

std::vector<float> constantChunk(float v) {
  return chunkOf([v](size_t, size_t) { return v; });
}

TEST(MotionTimeline, ConstantChunksStayConstant) {
  MotionTimeline t;
  for (int k = 0; k < 3; ++k) t.addChunk(constantChunk(0.25f).data());
  ASSERT_EQ(t.length(), 80u + 70u + 70u);
  for (float v : t.frames()) ASSERT_EQ(v, 0.25f);
}

TEST(MotionTimeline, LaterChunkCrossFadesItsFirstTenFramesAndAppendsTheRest) {
  MotionTimeline t;
  t.addChunk(constantChunk(0.0f).data());
  t.addChunk(chunkOf([](size_t i, size_t) { return i < 10 ? 1.0f : 2.0f + float(i); }).data());
  ASSERT_EQ(t.length(), 150u);
  // The expression is never averaged: frame 70 + k is k/10 of the new value.
  for (size_t k = 0; k < 10; ++k) EXPECT_FLOAT_EQ(t.frame(70 + k)[kMvExpression], float(k) / 10.0f) << k;
  for (size_t i = 10; i < 80; ++i) EXPECT_FLOAT_EQ(t.frame(70 + i)[kMotionDim - 1], 2.0f + float(i)) << i;
}

TEST(MotionTimeline, FirstChunkAveragesPoseDimensionsOverThreeFramesFromUnsmoothedValues) {
  MotionTimeline t;
  // Pose dimension 0 alternates 0, 3, 0, 3, ...; expression dimension carries the frame index.
  t.addChunk(chunkOf([](size_t i, size_t d) { return d < kSmoothDims ? float(3 * (i % 2)) : float(i); }).data());
  EXPECT_FLOAT_EQ(t.frame(0)[0], 1.5f);   // mean of frames 0, 1
  EXPECT_FLOAT_EQ(t.frame(1)[0], 1.0f);   // mean of 0, 3, 0 (unsmoothed neighbours)
  EXPECT_FLOAT_EQ(t.frame(2)[0], 2.0f);   // mean of 3, 0, 3
  EXPECT_FLOAT_EQ(t.frame(79)[0], 1.5f);  // mean of frames 78, 79
  EXPECT_FLOAT_EQ(t.frame(2)[kSmoothDims], 2.0f);
  EXPECT_FLOAT_EQ(t.frame(79)[kMotionDim - 1], 79.0f);
}

TEST(MotionTimeline, SeamAveragingCoversFramesLMinusTenToL) {
  MotionTimeline t;
  t.addChunk(constantChunk(0.0f).data());
  // A spike in every pose dimension at the new chunk's frame 11 (timeline frame 81): it lies
  // beyond the seam, so only frame 80 (= L) averages it in and frame 82 keeps its neighbours'.
  t.addChunk(chunkOf([](size_t i, size_t) { return i == 11 ? 3.0f : 0.0f; }).data());
  EXPECT_FLOAT_EQ(t.frame(80)[0], 1.0f);
  EXPECT_FLOAT_EQ(t.frame(81)[0], 3.0f);
  EXPECT_FLOAT_EQ(t.frame(82)[0], 0.0f);
  EXPECT_FLOAT_EQ(t.frame(80)[kMvExpression], 0.0f);
}

TEST(MotionTimeline, NextStateIsTheFrameElevenBeforeTheEnd) {
  MotionTimeline t;
  t.addChunk(chunkOf([](size_t i, size_t) { return float(i); }).data());
  EXPECT_EQ(t.nextState(), t.frame(69));
}

TEST(MotionTimeline, RestoringACheckpointUndoesLaterChunksBitForBit) {
  MotionTimeline t;
  t.addChunk(chunkOf([](size_t i, size_t d) { return float(i) * 0.01f + float(d); }).data());
  const std::vector<float> before = t.frames();
  const MotionTimeline::Checkpoint c = t.checkpoint();
  t.addChunk(constantChunk(7.0f).data());
  t.addChunk(constantChunk(9.0f).data());
  t.restore(c);
  EXPECT_EQ(t.length(), 80u);
  EXPECT_EQ(t.frames(), before);
}

TEST(MotionTimeline, ReadoutAveragesNeighboursAndClamps) {
  MotionTimeline t;
  t.addChunk(chunkOf([](size_t i, size_t d) { return d == 5 ? float(i * i) : d == kMvExpression ? float(i) : 0.0f; }).data());
  std::vector<float> lo(kMotionDim, -100.0f), hi(kMotionDim, 1e4f), out(kMotionDim);
  hi[kMvExpression] = 3.5f;
  t.readout(10, lo.data(), hi.data(), out.data());
  const float expected = (t.frame(9)[5] + t.frame(10)[5] + t.frame(11)[5]) / 3.0f;
  EXPECT_FLOAT_EQ(out[5], expected);
  EXPECT_FLOAT_EQ(out[kMvExpression], 3.5f);
  t.readout(0, lo.data(), hi.data(), out.data());
  EXPECT_FLOAT_EQ(out[5], (t.frame(0)[5] + t.frame(1)[5]) / 2.0f);
  EXPECT_THROW(t.readout(79, lo.data(), hi.data(), out.data()), std::logic_error);
}

TEST(MotionTimeline, FinalCutsAveragesFromACopyAndClamps) {
  MotionTimeline t;
  t.addChunk(chunkOf([](size_t i, size_t d) { return d == 0 ? float(3 * (i % 2)) : float(i); }).data());
  const std::vector<float> smoothedOnce = t.frames();
  std::vector<float> lo(kMotionDim, -1.0f), hi(kMotionDim, 50.0f);
  t.finalize(33, lo.data(), hi.data());
  ASSERT_EQ(t.length(), 33u);
  auto once = [&](size_t i, size_t d) { return smoothedOnce[i * kMotionDim + d]; };
  EXPECT_FLOAT_EQ(t.frame(5)[0], (once(4, 0) + once(5, 0) + once(6, 0)) / 3.0f);
  EXPECT_FLOAT_EQ(t.frame(32)[0], (once(31, 0) + once(32, 0)) / 2.0f);  // the cut is the new end
  EXPECT_FLOAT_EQ(t.frame(32)[kMvExpression], 32.0f);
}

TEST(ChunkRows, RowsPastTheLastRepeatIt) {
  std::vector<float> cond(size_t(100) * kCondDim);
  for (size_t r = 0; r < 100; ++r) cond[r * kCondDim] = float(r);
  std::vector<float> out(size_t(kChunkFrames) * kCondDim);
  chunkRows(cond.data(), 100, 1, out.data());
  EXPECT_EQ(out[0], 70.0f);
  EXPECT_EQ(out[29 * kCondDim], 99.0f);
  EXPECT_EQ(out[30 * kCondDim], 99.0f);
  EXPECT_EQ(out[79 * kCondDim], 99.0f);
}

}  // namespace
}  // namespace le::audio
