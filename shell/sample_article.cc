#include "shell/sample_article.h"

namespace {

// sample_article.html converted to GBK, its lines joined by CR LF, at build time.
constexpr char kSampleArticleGbk[] =
#include "sample_article_gbk.inc"
    ;

}  // namespace

std::string_view SampleArticle() {
  return {kSampleArticleGbk, sizeof kSampleArticleGbk - 1};
}
