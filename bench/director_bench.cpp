// The demo-size director (crop 512, batch 1 and 4) as baked, run by ONNX Runtime's CPU provider
// with two intra-op threads and no load-time rewrite: the frame budget of the director before any
// of our own operators.
#include <benchmark/benchmark.h>
#include <onnxruntime_cxx_api.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

void runDirector(benchmark::State& state) {
  const int batch = static_cast<int>(state.range(0));
  const int64_t crop = 512;
  const std::string model =
      std::string(LE_BENCH_FIXTURES) + "/director-512/model_b" + std::to_string(batch) + ".onnx";
  static Ort::Env env(ORT_LOGGING_LEVEL_WARNING, "director_bench");
  Ort::SessionOptions opts;
  opts.SetIntraOpNumThreads(2);
  opts.SetInterOpNumThreads(1);
  opts.SetGraphOptimizationLevel(GraphOptimizationLevel::ORT_ENABLE_ALL);
  opts.AddConfigEntry("session.intra_op.allow_spinning", "0");
  Ort::Session session(env, model.c_str(), opts);

  std::vector<float> pooled(batch * 64 * 32 * 32), prior(batch * 3 * crop * crop);
  std::vector<float> kd(batch * 63), ks(batch * 63);
  for (size_t i = 0; i < pooled.size(); ++i) pooled[i] = std::sin(i * 0.01f);
  for (size_t i = 0; i < prior.size(); ++i) prior[i] = 0.5f + 0.4f * std::sin(i * 0.003f);
  for (size_t i = 0; i < kd.size(); ++i) {
    ks[i] = 0.6f * std::sin(i * 0.7f);
    kd[i] = ks[i] + 0.03f * std::cos(i * 1.3f);
  }
  Ort::MemoryInfo mem = Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault);
  const int64_t pooledShape[] = {batch, 64, 32, 32}, priorShape[] = {batch, 3, crop, crop},
                kpShape[] = {batch, 21, 3};
  Ort::Value inputs[] = {
      Ort::Value::CreateTensor<float>(mem, pooled.data(), pooled.size(), pooledShape, 4),
      Ort::Value::CreateTensor<float>(mem, prior.data(), prior.size(), priorShape, 4),
      Ort::Value::CreateTensor<float>(mem, kd.data(), kd.size(), kpShape, 3),
      Ort::Value::CreateTensor<float>(mem, ks.data(), ks.size(), kpShape, 3)};
  const char* inNames[] = {"pooled64", "P_rgb", "kp_driving", "kp_source"};
  const char* outName = "rgb";
  for (auto _ : state) {
    auto out = session.Run(Ort::RunOptions{nullptr}, inNames, inputs, 4, &outName, 1);
    benchmark::DoNotOptimize(out[0].GetTensorData<float>());
  }
  state.SetItemsProcessed(state.iterations() * batch);
}

BENCHMARK(runDirector)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
