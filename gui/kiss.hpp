#pragma once
// KISS framing of the GUI link: FEND, command byte, escaped data, FEND.

#include <cstdint>
#include <span>
#include <vector>

constexpr uint8_t FEND = 0xC0;
constexpr uint8_t FESC = 0xDB;
constexpr uint8_t TFEND = 0xDC;
constexpr uint8_t TFESC = 0xDD;

// One frame with command byte 0x00 around `data`: n + 3 bytes, at most 2n + 3.
std::vector<uint8_t> kiss_encode(std::span<const uint8_t> data);
