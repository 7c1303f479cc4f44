// Speed of the shuffle: the built-in sample, a scaling series of generated articles, large articles
// with the page faults they cost, hostile input for the paragraph search, and the floor any exact
// implementation must pay: one memmem pass over the working text per paragraph.
#include <string.h>
#include <sys/resource.h>

#include <random>
#include <string>

#include <benchmark/benchmark.h>

#include "text/paragraph_shuffler.h"
#ifdef HAVE_SAMPLE_ARTICLE
#include "shell/sample_article.h"
#endif

namespace {

// An article of about `size` bytes: distinct P and DIV paragraphs of about `paragraph_size` bytes
// of GBK prose and markup, joined by CR LF.
Text GenerateArticle(size_t size, size_t paragraph_size = 400) {
  std::mt19937 random(static_cast<uint32_t>(size));
  Text article;
  for (int n = 0; article.size() < size; ++n) {
    const bool div = n % 2 == 1;
    Text paragraph = div ? "<DIV><FONT size=2>" : "<P><FONT size=2>";
    while (paragraph.size() < paragraph_size - 20) {
      paragraph += static_cast<char>(0xB0 + random() % 0x27);
      paragraph += static_cast<char>(0xA1 + random() % 0x5E);
    }
    paragraph += div ? "</FONT></DIV>\r\n" : "</FONT></P>\r\n";
    article += paragraph;
  }
  return article;
}

void BM_ShuffleGenerated(benchmark::State& state) {
  const Text article = GenerateArticle(static_cast<size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(ShuffleArticle(article));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * article.size()));
}
BENCHMARK(BM_ShuffleGenerated)
    ->RangeMultiplier(4)
    ->Range(16 << 10, 4 << 20)
    ->Unit(benchmark::kMillisecond);

// One shuffle of a large article (size, paragraph size), with the minor page faults and the
// kernel time it cost: a fresh full-size buffer per paragraph shows up as both.
void BM_ShuffleLarge(benchmark::State& state) {
  const Text article =
      GenerateArticle(static_cast<size_t>(state.range(0)), static_cast<size_t>(state.range(1)));
  rusage before{}, after{};
  getrusage(RUSAGE_THREAD, &before);
  for (auto _ : state) benchmark::DoNotOptimize(ShuffleArticle(article));
  getrusage(RUSAGE_THREAD, &after);
  const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  state.counters["faults"] = benchmark::Counter(
      static_cast<double>(after.ru_minflt - before.ru_minflt), benchmark::Counter::kAvgIterations);
  state.counters["kernel_s"] = benchmark::Counter(
      seconds(after.ru_stime) - seconds(before.ru_stime), benchmark::Counter::kAvgIterations);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * article.size()));
}
BENCHMARK(BM_ShuffleLarge)
    ->Args({1 << 20, 400})
    ->Args({10 << 20, 400})
    ->Args({64 << 20, 1 << 20})  // past glibc's largest mmap threshold (32 MiB)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

void BM_MemmemFloor(benchmark::State& state) {
  const Text working = StripLineBreaks(GenerateArticle(static_cast<size_t>(state.range(0))));
  const TextList paragraphs = CollectParagraphs(working);
  for (auto _ : state) {
    size_t hits = 0;
    for (size_t i = 1; i <= paragraphs.Count(); ++i) {
      const Text& paragraph = paragraphs.At(i);
      const char* at = working.data();
      const char* end = working.data() + working.size();
      while (const void* hit =
                 memmem(at, static_cast<size_t>(end - at), paragraph.data(), paragraph.size())) {
        ++hits;
        at = static_cast<const char*>(hit) + paragraph.size();
      }
    }
    benchmark::DoNotOptimize(hits);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * working.size()));
}
BENCHMARK(BM_MemmemFloor)
    ->RangeMultiplier(4)
    ->Range(16 << 10, 4 << 20)
    ->Unit(benchmark::kMillisecond);

void BM_CollectHostile(benchmark::State& state, const char* unit, const char* tail) {
  Text text;
  while (text.size() < (1 << 20)) text += unit;
  text += tail;
  for (auto _ : state) benchmark::DoNotOptimize(ShuffleArticle(text));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK_CAPTURE(BM_CollectHostile, openings_without_close, "<p", "")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CollectHostile, tags_then_one_close, "<p><div>", "</p>")
    ->Unit(benchmark::kMillisecond);

// The costliest shape per byte: nothing but tiny identical paragraphs, each cut out of the whole
// text at every one of its occurrences. Time grows with the square of the size.
void BM_ShuffleDenseParagraphs(benchmark::State& state) {
  Text text;
  while (text.size() < static_cast<size_t>(state.range(0))) text += "<p></p>x";
  for (auto _ : state) benchmark::DoNotOptimize(ShuffleArticle(text));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ShuffleDenseParagraphs)
    ->RangeMultiplier(4)
    ->Range(4 << 10, 64 << 10)
    ->Unit(benchmark::kMillisecond);

#ifdef HAVE_SAMPLE_ARTICLE
void BM_ShuffleSample(benchmark::State& state) {
  const std::string_view sample = SampleArticle();
  for (auto _ : state) benchmark::DoNotOptimize(ShuffleArticle(sample));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * sample.size()));
}
BENCHMARK(BM_ShuffleSample)->Unit(benchmark::kMicrosecond);

// The sample's three steps apart: 0 strips line breaks, 1 collects paragraphs, 2 scatters the
// working text around each of the four paragraphs.
void BM_SampleSteps(benchmark::State& state) {
  const Text stripped = StripLineBreaks(SampleArticle());
  const TextList paragraphs = CollectParagraphs(stripped);
  for (auto _ : state) {
    if (state.range(0) == 0) benchmark::DoNotOptimize(StripLineBreaks(SampleArticle()));
    if (state.range(0) == 1) benchmark::DoNotOptimize(CollectParagraphs(stripped));
    if (state.range(0) == 2) {
      for (size_t i = 1; i <= paragraphs.Count(); ++i) {
        benchmark::DoNotOptimize(ScatterAround(stripped, paragraphs.At(i)));
      }
    }
  }
}
BENCHMARK(BM_SampleSteps)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
#endif

}  // namespace

BENCHMARK_MAIN();
