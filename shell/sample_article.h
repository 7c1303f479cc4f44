// The built-in sample article: a GBK HTML fragment of four blocks (P, DIV, P, DIV) joined by
// CR LF, 2009 bytes, compiled into the program.
#pragma once

#include <string_view>

// The sample's bytes, valid for the whole run.
std::string_view SampleArticle();
