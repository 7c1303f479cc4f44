// Feeds any bytes to the shuffle: the first four pick the clock reading, the rest is the article.
// Checks that the result is a rearrangement of the article's bytes less CR and LF, that Boost and
// the landmark scan bounding its search never disagree, and that the paragraph search gives what
// Boost searching the whole text on its own gives.
#include <algorithm>
#include <cstdint>

#include <boost/regex.hpp>

#include "fuzz/check.h"
#include "text/paragraph_shuffler.h"
#include "text/random_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto [clock, article] = SplitInput<uint32_t>(data, size);
  PinClock(clock);
  SetReseedCounter(0);

  const Text result = ShuffleArticle(article);
  const Text kept = StripLineBreaks(article);
  Check(kept.size() + std::count_if(article.begin(), article.end(),
                                    [](char c) { return c == '\r' || c == '\n'; }) ==
            article.size(),
        "only CR and LF are stripped");
  Check(std::is_permutation(result.begin(), result.end(), kept.begin(), kept.end()),
        "result is a rearrangement of the article less CR and LF");

  TextList paragraphs = CollectParagraphs(kept);
  Check(ParagraphSearchDisagreements() == 0, "Boost matches where the landmark scan expects");

  // Boost alone may give up on a long hostile text; compare only when it answers.
  TextList expected;
  try {
    for (const char* pattern : {"<p(.*?)>(.*?)</p>", "<div(.*?)>(.*?)</div>"}) {
      boost::regex regex(pattern, boost::regex::perl | boost::regex::icase);
      for (boost::cregex_iterator it(kept.data(), kept.data() + kept.size(), regex), end; it != end;
           ++it) {
        expected.Append(it->str());
      }
    }
  } catch (const std::exception&) {
    return 0;
  }
  Check(paragraphs.Count() == expected.Count(), "same number of paragraphs as Boost alone");
  for (size_t i = 1; i <= expected.Count(); ++i) {
    Check(paragraphs.At(i) == expected.At(i), "same paragraphs as Boost alone");
  }
  return 0;
}
