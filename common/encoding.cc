#include "common/encoding.h"

#include <iconv.h>

#include <strings.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <utility>

namespace {

constexpr size_t kNone = std::string_view::npos;

// How far iconv got: the converted bytes, and where and why it stopped (offset kNone when the
// whole input converted).
struct IconvRun {
  std::string out;
  size_t stop = kNone;
  int error = 0;
  bool unsupported = false;  // iconv has no such conversion
};

IconvRun RunIconv(std::string_view in, const char* from, const char* to) {
  IconvRun run;
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    run.stop = 0;
    run.unsupported = true;
    return run;
  }
  char* in_next = const_cast<char*>(in.data());
  size_t in_left = in.size();
  run.out.resize(in.size() * 2 + 16);
  size_t used = 0;
  bool flushing = false;  // the input is done; one more call ends any shift state
  for (;;) {
    char* out_next = run.out.data() + used;
    size_t out_left = run.out.size() - used;
    size_t result = flushing ? iconv(cd, nullptr, nullptr, &out_next, &out_left)
                             : iconv(cd, &in_next, &in_left, &out_next, &out_left);
    int error = errno;
    used = out_next - run.out.data();
    if (result == static_cast<size_t>(-1) && error == E2BIG) {
      run.out.resize(run.out.size() * 2);
    } else if (result == static_cast<size_t>(-1)) {
      run.stop = in_next - in.data();
      run.error = error;
      break;
    } else if (!flushing) {
      flushing = true;
    } else {
      break;
    }
  }
  run.out.resize(used);
  iconv_close(cd);
  return run;
}

const char* IconvName(Encoding encoding) {
  switch (encoding) {
    case Encoding::kGbk:
      return "GBK";
    case Encoding::kGb18030:
      return "GB18030";
    case Encoding::kUtf8:
      return "UTF-8";
  }
  return "";
}

std::string Hex(unsigned char byte) {
  char buffer[8];
  snprintf(buffer, sizeof buffer, "0x%02X", byte);
  return buffer;
}

// The fault iconv stopped at, put in words.
EncodingFault DescribeStop(std::string_view bytes, Encoding encoding, const IconvRun& run) {
  std::string name(EncodingName(encoding));
  if (run.unsupported || (run.error != EILSEQ && run.error != EINVAL)) {
    return {run.stop, name + " text this system's iconv cannot read"};
  }
  if (run.error == EINVAL) return {run.stop, "incomplete " + name + " character"};
  auto lead = static_cast<unsigned char>(bytes[run.stop]);
  if (encoding == Encoding::kUtf8) {
    // The UTF-8 may be well formed and only lack a GB18030 form; decoding it alone tells which.
    IconvRun alone = RunIconv(bytes.substr(run.stop, 4), "UTF-8", "UTF-32BE");
    if (alone.out.size() >= 4) {
      uint32_t code = 0;
      for (int i = 0; i < 4; ++i) code = code << 8 | static_cast<unsigned char>(alone.out[i]);
      char buffer[48];
      snprintf(buffer, sizeof buffer, "character U+%04X, which has no GB18030 form,", code);
      return {run.stop, buffer};
    }
  }
  return {run.stop, "invalid " + name + " byte sequence starting with " + Hex(lead)};
}

}  // namespace

std::string_view EncodingName(Encoding encoding) {
  return IconvName(encoding);
}

std::optional<Encoding> EncodingNamed(std::string_view name) {
  for (auto [spelling, encoding] : {std::pair{"gbk", Encoding::kGbk},
                                    {"gb18030", Encoding::kGb18030},
                                    {"utf-8", Encoding::kUtf8},
                                    {"utf8", Encoding::kUtf8}}) {
    std::string_view candidate(spelling);
    if (name.size() == candidate.size() &&
        strncasecmp(name.data(), candidate.data(), name.size()) == 0) {
      return encoding;
    }
  }
  return std::nullopt;
}

std::optional<EncodingFault> FindEncodingFault(std::string_view bytes, Encoding encoding) {
  IconvRun run = encoding == Encoding::kUtf8 ? RunIconv(bytes, "UTF-8", "GB18030")
                                             : RunIconv(bytes, IconvName(encoding), "UTF-8");
  if (encoding == Encoding::kGbk) {
    // iconv takes a lone 0x80 for the euro sign; look for one where a character begins.
    size_t end = run.stop == kNone ? bytes.size() : run.stop;
    for (size_t i = 0; i < end;) {
      auto byte = static_cast<unsigned char>(bytes[i]);
      if (byte == 0x80) return EncodingFault{i, "invalid GBK byte 0x80"};
      i += byte > 0x80 ? 2 : 1;
    }
  }
  if (run.stop == kNone) return std::nullopt;
  return DescribeStop(bytes, encoding, run);
}

std::optional<std::string> Utf8ToGb18030(std::string_view utf8) {
  IconvRun run = RunIconv(utf8, "UTF-8", "GB18030");
  if (run.stop != kNone) return std::nullopt;
  return std::move(run.out);
}

std::optional<std::string> Gb18030ToUtf8(std::string_view gb18030) {
  IconvRun run = RunIconv(gb18030, "GB18030", "UTF-8");
  if (run.stop != kNone) return std::nullopt;
  return std::move(run.out);
}
