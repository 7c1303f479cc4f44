// The built-in sample article: a GBK HTML fragment of four blocks (P, DIV, P, DIV) joined by
// CR LF, 2009 bytes, compiled into the program. Edit it in sample_article.html (UTF-8, one block
// per line); the build converts it.
#pragma once

#include <string_view>

// The sample's bytes, valid for the whole run.
std::string_view SampleArticle();
