// Writes a benchmark article of about SIZE bytes to OUT: `word`, an article as Word exports it
// (GBK Chinese text in spans, a head with styles and conditional comments, bordered sections as
// nested divs, lists, tables, headings, line breaks inside tags), or one of the hostile shapes:
// `dense` (<p></p>x repeated), `open` (<p with no closing tag), `nested` (<p><div> repeated and one
// </p>). Usage: make_bench_article KIND SIZE OUT
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

namespace {

// `count` random GBK characters from the common Han block, with a comma or full stop now and then.
std::string Chinese(std::mt19937& random, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    if (random() % 17 == 0) {
      text += random() % 3 == 0 ? "\xA1\xA3" : "\xA3\xAC";
    } else {
      text += static_cast<char>(0xB0 + random() % 0x28);
      text += static_cast<char>(0xA1 + random() % 0x5E);
    }
  }
  return text;
}

std::string WordParagraph(std::mt19937& random) {
  std::string p = "<p class=MsoNormal style='text-indent:21.0pt;line-height:150%'>";
  if (random() % 8 == 0) {
    p = "<p class=MsoListParagraph style='margin-left:18.0pt;text-indent:-18.0pt'><![if "
        "!supportLists]><span lang=EN-US>1.<span style='font:7.0pt \"Times New "
        "Roman\"'>&nbsp;&nbsp;&nbsp; </span></span><![endif]>";
  }
  const int spans = 1 + static_cast<int>(random() % 4);
  for (int i = 0; i < spans; ++i) {
    p += "<span style='font-family:\xCB\xCE\xCC\xE5'>" + Chinese(random, 20 + random() % 60) +
         "</span>";
    if (random() % 3 == 0) {
      p += "<span lang=EN-US style='font-family:\"Times New Roman\",serif'>Word 2016</span>";
    }
    if (random() % 4 == 0) p += "\r\n";
  }
  return p + "</p>\r\n";
}

std::string WordArticle(size_t size, std::mt19937& random) {
  std::string a =
      "<html xmlns:v=\"urn:schemas-microsoft-com:vml\" xmlns:o=\"urn:schemas-microsoft-com:office:"
      "office\"\r\nxmlns:w=\"urn:schemas-microsoft-com:office:word\">\r\n<head>\r\n<meta "
      "http-equiv=Content-Type content=\"text/html; charset=gb2312\">\r\n<meta name=Generator "
      "content=\"Microsoft Word 15 (filtered)\">\r\n<title>\xB1\xEA\xCC\xE2</title>\r\n"
      "<!--[if gte mso 9]><xml>\r\n <o:DocumentProperties>\r\n  <o:Author>user</o:Author>\r\n "
      "</o:DocumentProperties>\r\n</xml><![endif]-->\r\n<style>\r\n<!--\r\n@font-face\r\n\t"
      "{font-family:\xCB\xCE\xCC\xE5;}\r\np.MsoNormal, li.MsoNormal, "
      "div.MsoNormal\r\n\t{margin:0cm;"
      "\r\n\ttext-align:justify;\r\n\tfont-size:10.5pt;}\r\n-->\r\n</style>\r\n</head>\r\n\r\n"
      "<body lang=ZH-CN style='text-justify-trim:punctuation'>\r\n\r\n<div class=WordSection1 "
      "style='layout-grid:15.6pt'>\r\n\r\n";
  const std::string tail = "</div>\r\n\r\n</body>\r\n\r\n</html>\r\n";
  for (int n = 0; a.size() + tail.size() < size; ++n) {
    if (n % 30 == 0) {
      a += "<h2><span style='font-family:\xBA\xDA\xCC\xE5'>" + Chinese(random, 6) +
           "</span></h2>\r\n";
    } else if (n % 23 == 0) {
      a +=
          "<div style='mso-element:para-border-div;border:solid windowtext 1.0pt;\r\npadding:1.0pt "
          "4.0pt 1.0pt 4.0pt'>\r\n";
      for (int i = 0; i < 3; ++i) a += WordParagraph(random);
      a += "</div>\r\n";
    } else if (n % 41 == 0) {
      a += "<table class=MsoTableGrid border=1 cellspacing=0 cellpadding=0>\r\n <tr>\r\n";
      for (int i = 0; i < 3; ++i) {
        a += "  <td width=189 valign=top style='width:141.8pt'>\r\n  " + WordParagraph(random) +
             "  </td>\r\n";
      }
      a += " </tr>\r\n</table>\r\n";
    } else if (n % 11 == 0) {
      a += "<p class=MsoNormal><span lang=EN-US><o:p>&nbsp;</o:p></span></p>\r\n";
    } else {
      a += WordParagraph(random);
    }
  }
  return a + tail;
}

std::string Repeated(const char* unit, size_t size, const char* end) {
  std::string text;
  text.reserve(size + strlen(end));
  while (text.size() < size) text += unit;
  return text + end;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: make_bench_article word|dense|open|nested SIZE OUT\n");
    return 2;
  }
  const std::string kind = argv[1];
  const size_t size = strtoull(argv[2], nullptr, 10);
  std::mt19937 random(static_cast<uint32_t>(size));
  std::string article;
  if (kind == "word") {
    article = WordArticle(size, random);
  } else if (kind == "dense") {
    article = Repeated("<p></p>x", size, "");
  } else if (kind == "open") {
    article = Repeated("<p", size, "");
  } else if (kind == "nested") {
    article = Repeated("<p><div>", size, "</p>");
  } else {
    fprintf(stderr, "make_bench_article: unknown kind %s\n", argv[1]);
    return 2;
  }
  FILE* out = fopen(argv[3], "wb");
  if (out == nullptr || fwrite(article.data(), 1, article.size(), out) != article.size() ||
      fclose(out) != 0) {
    perror(argv[3]);
    return 1;
  }
  return 0;
}
