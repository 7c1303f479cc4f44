// Scatters the paragraphs of an HTML article into a random order.
//
// Paragraphs are the whole matches of "<p(.*?)>(.*?)</p>" and then "<div(.*?)>(.*?)</div>"
// (Perl syntax, ASCII case folding), searched in the article with its line breaks removed. Each
// paragraph in turn is cut out of the working text wherever it occurs, and the pieces, with the
// paragraph put back once per cut, are reassembled in an order drawn from the random source.
#pragma once

#include <functional>
#include <string_view>

#include "text/text_ops.h"

// The article with every CR and LF removed and its paragraphs scattered. The result is always a
// rearrangement of those bytes: nothing lost, nothing added. Never throws; linear in the article
// for the search, and one pass over the working text per paragraph for the scatter.
// `progress`, when given, is called after each paragraph with (paragraphs done, total).
Text ShuffleArticle(std::string_view article,
                    const std::function<void(size_t done, size_t total)>& progress = {});

// `text` without any CR or LF byte; every other byte kept in order.
Text StripLineBreaks(std::string_view text);

// Every match of the first pattern left to right, then every match of the second. Matches of one
// pattern never overlap. Time is linear in the text, whatever it holds.
TextList CollectParagraphs(std::string_view text);

// `text` cut at every occurrence of `paragraph` (as SplitText does), the paragraph appended once
// per cut, reseeded once, and the pieces joined in the drawn order. Returns `text` unchanged,
// without reseeding, when the paragraph does not occur.
Text ScatterAround(std::string_view text, std::string_view paragraph);
