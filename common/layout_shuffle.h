// The layout-keeping shuffle: an article's paragraphs trade places, every other byte stays put.
//
// A slot is a <p> or <div> element (tag name in any ASCII letter case), from its start tag through
// its own closing tag, that holds no other <p> or <div>; one that holds them is a wrapper and stays
// in place, as does an element left unclosed or badly nested, and anything inside a comment,
// script, style or other raw text. Slots trade places only with their siblings, the slots directly
// inside the same parent element, so every tag keeps its partner and the page keeps its shape.
//
// The scan reads raw bytes and works alike on GBK, GB18030, Big5 and UTF-8 text. The bytes it acts
// on ('<', '>', '/', '!', '-', '?', '=', quotes, spaces) are below 0x40 and not digits, so never
// the trail byte of a character (GBK and Big5 trails are 0x40 and up, GB18030's four-byte trails
// 0x30-0x39, UTF-8's 0x80-0xBF); the tag-name letters it compares follow such a byte or an ASCII
// letter, so they start a character. A slot therefore never splits a character.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Where a paragraph sits: bytes [begin, end) of the article; paragraphs trade places only within
// one group. Groups are numbered 0, 1, ... in the order of their first slot.
struct ParagraphSlot {
  size_t begin;
  size_t end;
  size_t group;
};

// Every slot of `article`, in text order; slots never overlap. One pass, linear in the article
// whatever it holds; nesting deeper than 1024 elements ends the scan (later bytes stay in place).
std::vector<ParagraphSlot> FindParagraphSlots(std::string_view article);

// The article with the paragraphs of each group permuted uniformly at random among that group's
// slots, drawn from a generator seeded with `seed`; every other byte in place. The same article
// and seed give the same bytes on every build and machine.
std::string ShuffleKeepingLayout(std::string_view article, uint64_t seed);

// A seed from the operating system's randomness (getrandom).
uint64_t SeedFromSystem();

// PCG32 (XSH RR, 64-bit state), seeded and stepped as its author's reference code does
// (pcg32_srandom_r, pcg32_random_r). The shuffle seeds it with (seed, kLayoutShuffleStream).
struct Pcg32 {
  uint64_t state;
  uint64_t increment;
};
inline constexpr uint64_t kLayoutShuffleStream = 0x5EC0'7A55'1A40'0715;
Pcg32 SeedPcg32(uint64_t initial_state, uint64_t stream);
uint32_t NextPcg32(Pcg32& generator);

// Uniform in [0, bound); requires bound >= 1. Lemire's multiply-and-shift with rejection, so no
// value is favoured.
uint64_t DrawBelow(Pcg32& generator, uint64_t bound);
