// The random positions the shuffle draws: a small linear congruential generator reseeded from a
// millisecond clock before every reassembly. A counter is folded into each seed, so reseeds
// within one millisecond still start different sequences. Each thread has its own generator,
// counter and pinned clock.
#pragma once

#include <cstdint>
#include <optional>

// Seeds the calling thread's generator with clock + reseed counter, then advances the counter by
// (seed & 0xFF) + 100. All arithmetic wraps modulo 2^32.
void Reseed();

// An integer in [low, high]. Negative bounds count as 0 and reversed bounds are swapped. When
// low == high it returns low without drawing; otherwise it draws one raw value r and returns
// low + r % (high - low + 1), so only the first 32768 values of a wider range can come up.
int DrawInRange(int low, int high);

// Advances the generator once and returns its raw value, 0 to 32767.
uint32_t DrawRaw();

// Milliseconds since the system started, wrapping at 2^32: what Reseed reads unless pinned.
uint32_t MillisecondsSinceBoot();

// Makes every later Reseed on this thread read `ms` as the clock; std::nullopt goes back to the
// real clock. For reproducible runs and tests.
void PinClock(std::optional<uint32_t> ms);

// The generator state (1 before the first Reseed) and the reseed counter (0 at start), for tests
// and diagnostics.
uint32_t GeneratorState();
void SetGeneratorState(uint32_t state);
uint32_t ReseedCounter();
void SetReseedCounter(uint32_t counter);
