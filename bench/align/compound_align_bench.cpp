// compound_align on study-shaped peak lists: samples x peaks per sample, most
// compounds seen in most samples with a little mass and retention-time noise,
// about a tenth of the peaks unannotated. Mass_Tol 0.1 Da, windows 20 s / 10 s
// (the alignment tab's defaults), progress lines formatted into a discarding
// stream. Counters:
//   groups       groups made
//   work_B/peak  the call's own peak heap use beyond the list, per peak,
//                counted by the operator new below
// The step-by-step oracle of the tests runs at 10k peaks, and once at 92k, for
// the ratio.
// Run a Release build: bench_align [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <new>
#include <ostream>
#include <random>
#include <streambuf>
#include <vector>

#include "align/compound_align.h"
#include "align/rt_correction.h"
#include "tests/align/compound_align_oracle.h"

// ---------------------------------------------------------------------------
// Heap accounting: every block carries its size in a 16-byte header.

namespace {

std::atomic<std::size_t> g_live_bytes{0};
std::atomic<std::size_t> g_peak_bytes{0};

void* CountedAlloc(std::size_t n) {
  void* block = std::malloc(n + 16);
  if (block == nullptr) throw std::bad_alloc();
  *static_cast<std::size_t*>(block) = n;
  const std::size_t live = g_live_bytes.fetch_add(n) + n;
  std::size_t peak = g_peak_bytes.load();
  while (live > peak && !g_peak_bytes.compare_exchange_weak(peak, live)) {
  }
  return static_cast<char*>(block) + 16;
}

void CountedFree(void* p) noexcept {
  if (p == nullptr) return;
  void* block = static_cast<char*>(p) - 16;
  g_live_bytes.fetch_sub(*static_cast<std::size_t*>(block));
  std::free(block);
}

}  // namespace

void* operator new(std::size_t n) { return CountedAlloc(n); }
void* operator new[](std::size_t n) { return CountedAlloc(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  try {
    return CountedAlloc(n);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t n, const std::nothrow_t& t) noexcept { return operator new(n, t); }
void operator delete(void* p) noexcept { CountedFree(p); }
void operator delete[](void* p) noexcept { CountedFree(p); }
void operator delete(void* p, std::size_t) noexcept { CountedFree(p); }
void operator delete[](void* p, std::size_t) noexcept { CountedFree(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { CountedFree(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { CountedFree(p); }

namespace {

using Peak = Chromatogram_Peak_Group_Compound_Align;
using List = std::vector<Peak>;

// Discards what it is given, after the stream has formatted it.
class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

List MakeStudy(std::size_t samples, std::size_t per_sample, std::size_t shape_points) {
  std::mt19937_64 rng(42);
  std::uniform_real_distribution<double> mass(100.0, 1200.0), rt(30.0, 1500.0);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::lognormal_distribution<double> intensity(10.0, 1.5), spread(0.0, 0.3);
  std::normal_distribution<double> mass_noise(0.0, 0.002), rt_noise(0.0, 1.5), drift(0.0, 2.0);
  struct Compound {
    double mass, rt, intensity;
  };
  const std::size_t annotated = per_sample * 9 / 10;
  std::vector<Compound> compounds(annotated * 100 / 85);
  for (Compound& c : compounds) c = {mass(rng), rt(rng), intensity(rng)};

  List list;
  list.reserve(samples * per_sample);
  for (std::size_t s = 0; s < samples; ++s) {
    const double shift = drift(rng);
    std::size_t made = 0;
    auto add = [&](std::uint32_t compound, double m, double t, double in) {
      Peak p;
      p.EIC_ID = static_cast<std::uint32_t>(made);
      p.Peak_ID = static_cast<std::uint32_t>(made);
      p.Apex_MZ = m + 1.00728;
      p.Apex_Retention_Time = t;
      p.Apex_Intensity = in;
      p.Adduct_Annotation = "[M+H]+";
      p.Compound_ID = compound;
      p.Compound_MolecularMass = m;
      p.Compound_Retention_Time = t;
      p.Compound_Intensity = in;
      p.SAMPLE_ID = static_cast<std::uint32_t>(s);
      p.SAMPLE_NAME = "sample_" + std::to_string(s);
      for (std::size_t i = 0; i < shape_points; ++i) {
        p.Peak_shape.push_back({static_cast<std::uint32_t>(i), t + i, m, in / (1.0 + i)});
      }
      list.push_back(std::move(p));
      ++made;
    };
    for (std::size_t c = 0; c < compounds.size() && made < annotated; ++c) {
      if (unit(rng) < 0.15) continue;
      add(static_cast<std::uint32_t>(c + 1), compounds[c].mass + mass_noise(rng),
          compounds[c].rt + shift + rt_noise(rng), compounds[c].intensity * spread(rng));
    }
    while (made < per_sample) add(0, mass(rng), rt(rng), intensity(rng) * 0.1);
  }
  return list;
}

const List& Study(std::size_t samples, std::size_t per_sample, std::size_t shape_points) {
  static std::map<std::vector<std::size_t>, List> cache;  // nodes stay put
  List& list = cache[{samples, per_sample, shape_points}];
  if (list.empty()) list = MakeStudy(samples, per_sample, shape_points);
  return list;
}

// Args: samples, peaks per sample, mode, points per shape.
void BM_CompoundAlign(benchmark::State& state) {
  const List& study = Study(state.range(0), state.range(1), state.range(3));
  const auto mode = static_cast<Compound_Align_Mode>(state.range(2));
  NullBuffer sink;
  std::ostream progress(&sink);
  std::uint32_t groups = 0;
  double work_per_peak = 0;
  for (auto _ : state) {
    state.PauseTiming();
    List list = study;
    const std::size_t before = g_live_bytes.load();
    g_peak_bytes.store(before);
    state.ResumeTiming();
    compound_align(mode, 0.1, 20.0, 10.0, list, progress,
                   [&](std::uint32_t g, std::size_t) { groups = g; });
    state.PauseTiming();
    work_per_peak = static_cast<double>(g_peak_bytes.load() - before) / list.size();
    benchmark::DoNotOptimize(list.data());
    list = List();
    state.ResumeTiming();
  }
  state.counters["peaks"] = static_cast<double>(study.size());
  state.counters["groups"] = groups;
  state.counters["work_B/peak"] = work_per_peak;
}

void BM_OracleCompoundAlign(benchmark::State& state) {
  const List& study = Study(state.range(0), state.range(1), 0);
  const auto mode = static_cast<Compound_Align_Mode>(state.range(2));
  NullBuffer sink;
  std::ostream progress(&sink);
  for (auto _ : state) {
    state.PauseTiming();
    List list = study;
    state.ResumeTiming();
    oracle::CompoundAlign(mode, 0.1, 20.0, 10.0, list, progress);
    state.PauseTiming();
    list = List();
    state.ResumeTiming();
  }
  state.counters["peaks"] = static_cast<double>(study.size());
}

void Sizes(benchmark::internal::Benchmark* b) {
  b->ArgNames({"samples", "per_sample", "mode", "points"});
  for (int mode : {0, 1}) {
    b->Args({10, 1000, mode, 0});
    b->Args({46, 2000, mode, 0});  // 92k, for the ratio to the oracle
    b->Args({20, 5000, mode, 0});
    b->Args({50, 20000, mode, 0});
  }
  b->Args({20, 5000, 0, 40});  // shapes are moved, not copied: same time and memory
  b->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5)->ReportAggregatesOnly(true);
}

BENCHMARK(BM_CompoundAlign)->Apply(Sizes);
BENCHMARK(BM_OracleCompoundAlign)
    ->ArgNames({"samples", "per_sample", "mode"})
    ->Args({10, 1000, 0})
    ->Args({10, 1000, 1})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);
// The fast alignment with the retention-time correction: fit (two anchor
// passes and the curves) plus apply, align, restore. Its time over that of
// BM_CompoundAlign with the same arguments is the correction's cost.
void BM_CompoundAlignRtCorrected(benchmark::State& state) {
  const List& study = Study(state.range(0), state.range(1), state.range(3));
  NullBuffer sink;
  std::ostream progress(&sink);
  std::size_t anchors = 0;
  for (auto _ : state) {
    state.PauseTiming();
    List list = study;
    state.ResumeTiming();
    Rt_Correction_Params params;
    params.anchors.window = Rt_Anchor_Window(20.0);
    const Rt_Correction correction = Fit_Rt_Correction(list, params);
    Compound_Align_With_Rt_Correction(One_Phase_Align, Mass_Tolerance{}, 20.0, 10.0, list,
                                      correction, progress);
    anchors = correction.anchors;
    state.PauseTiming();
    benchmark::DoNotOptimize(list.data());
    list = List();
    state.ResumeTiming();
  }
  state.counters["peaks"] = static_cast<double>(study.size());
  state.counters["anchors"] = static_cast<double>(anchors);
}
BENCHMARK(BM_CompoundAlignRtCorrected)
    ->ArgNames({"samples", "per_sample", "mode", "points"})
    ->Args({20, 5000, 0, 0})
    ->Args({50, 20000, 0, 0})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

// Once at 92k, the same list as BM_CompoundAlign/46/2000 (about 1.5 min CPU).
BENCHMARK(BM_OracleCompoundAlign)
    ->ArgNames({"samples", "per_sample", "mode"})
    ->Args({46, 2000, 0})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
