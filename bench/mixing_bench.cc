// How evenly each shuffle mixes: 1,000 seeds on an article of 40 numbered <p> paragraphs, one a
// line. Prints, for the window's shuffle (clock pinned to the seed, reseed counter from 0) and
// the layout-keeping one: the share of paragraph pairs that change order (an even shuffle: 50%),
// the share of paragraphs left in place (1/40), and a chi-square test of paragraph x slot counts.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "common/layout_shuffle.h"
#include "text/paragraph_shuffler.h"
#include "text/random_source.h"

namespace {

constexpr int kParagraphs = 40;
constexpr int kSeeds = 1000;

std::string Paragraph(int number) {
  return "<p>paragraph " + std::to_string(number) + "</p>";
}

// Where each paragraph stands in `result`: the numbers in the order they appear.
std::vector<int> OrderIn(const std::string& result) {
  std::vector<std::pair<size_t, int>> found;
  for (int i = 0; i < kParagraphs; ++i) found.emplace_back(result.find(Paragraph(i)), i);
  std::sort(found.begin(), found.end());
  std::vector<int> order;
  for (const auto& [at, number] : found) order.push_back(number);
  return order;
}

// Upper tail of the chi-square distribution, by the Wilson-Hilferty cube-root normal
// approximation (close for the 1,521 degrees of freedom here).
double ChiSquareTail(double statistic, double freedom) {
  const double spread = 2.0 / (9.0 * freedom);
  const double z = (std::cbrt(statistic / freedom) - (1.0 - spread)) / std::sqrt(spread);
  return 0.5 * std::erfc(z / std::sqrt(2.0));
}

void Report(const char* name, const std::function<std::string(const std::string&, int)>& shuffle,
            const std::string& article) {
  std::vector<std::vector<int>> at_slot(kParagraphs, std::vector<int>(kParagraphs, 0));
  long changed_pairs = 0, in_place = 0;
  for (int seed = 0; seed < kSeeds; ++seed) {
    const std::vector<int> order = OrderIn(shuffle(article, seed));
    for (int slot = 0; slot < kParagraphs; ++slot) {
      ++at_slot[order[slot]][slot];
      in_place += order[slot] == slot;
      for (int later = slot + 1; later < kParagraphs; ++later) {
        changed_pairs += order[later] < order[slot];
      }
    }
  }
  const double pairs = static_cast<double>(kSeeds) * kParagraphs * (kParagraphs - 1) / 2;
  const double expected = static_cast<double>(kSeeds) / kParagraphs;
  double chi_square = 0;
  for (const auto& row : at_slot) {
    for (int n : row) chi_square += (n - expected) * (n - expected) / expected;
  }
  const double freedom = (kParagraphs - 1) * (kParagraphs - 1);
  printf("%-16s %13.1f%% %13.2f%% %12.0f %6.0f %10.3g\n", name, 100 * changed_pairs / pairs,
         100.0 * in_place / (kSeeds * kParagraphs), chi_square, freedom,
         ChiSquareTail(chi_square, freedom));
}

}  // namespace

int main() {
  std::string article;
  for (int i = 0; i < kParagraphs; ++i) article += Paragraph(i) + "\r\n";
  printf("%d seeds, %d paragraphs\n", kSeeds, kParagraphs);
  printf("%-16s %14s %14s %12s %6s %10s\n", "shuffle", "pairs changed", "left in place",
         "chi-square", "df", "p-value");
  Report(
      "window (classic)",
      [](const std::string& text, int seed) {
        PinClock(static_cast<uint32_t>(seed));
        SetReseedCounter(0);
        return ShuffleArticle(text);
      },
      article);
  Report(
      "layout-keeping",
      [](const std::string& text, int seed) { return ShuffleKeepingLayout(text, seed); }, article);
  printf("goal for the layout-keeping shuffle: 50%% +- 2%% pairs changed, about %.1f%% in place\n",
         100.0 / kParagraphs);
}
