#include "text/random_source.h"

#include <time.h>

#include <algorithm>

namespace {

// Each thread has a random source of its own, so shuffles on several threads never disturb each
// other's draws; the window draws on its one thread.
thread_local uint32_t generator_state = 1;
thread_local uint32_t reseed_counter = 0;
thread_local int64_t pinned_clock = -1;  // -1: read the real clock

}  // namespace

uint32_t MillisecondsSinceBoot() {
  timespec now{};
  clock_gettime(CLOCK_BOOTTIME, &now);
  uint64_t ms =
      static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
  return static_cast<uint32_t>(ms);
}

void PinClock(std::optional<uint32_t> ms) {
  pinned_clock = ms ? int64_t{*ms} : -1;
}

void Reseed() {
  int64_t pinned = pinned_clock;
  uint32_t clock = pinned >= 0 ? static_cast<uint32_t>(pinned) : MillisecondsSinceBoot();
  uint32_t seed = clock + reseed_counter;
  reseed_counter += (seed & 0xFF) + 100;
  generator_state = seed;
}

// The classic rand() recurrence: modulo 2^32 by unsigned wrap-around; bits 16 to 30 of the state
// are the raw value, which is why it never exceeds 32767.
uint32_t DrawRaw() {
  generator_state = generator_state * 214013u + 2531011u;
  return (generator_state >> 16) & 0x7FFF;
}

int DrawInRange(int low, int high) {
  low = std::max(low, 0);
  high = std::max(high, 0);
  if (low > high) std::swap(low, high);
  if (low == high) return low;
  uint32_t span = std::min<uint32_t>(static_cast<uint32_t>(high - low), 0x7FFFFFFE);
  return low + static_cast<int>(DrawRaw() % (span + 1));
}

uint32_t GeneratorState() {
  return generator_state;
}
void SetGeneratorState(uint32_t state) {
  generator_state = state;
}
uint32_t ReseedCounter() {
  return reseed_counter;
}
void SetReseedCounter(uint32_t counter) {
  reseed_counter = counter;
}
