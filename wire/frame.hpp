#pragma once
// The one frame format of the radio link, both directions:
//   sync word 93 0B 51 DE | Golay (24,12) length field, 3 bytes | codeword, N bytes
// The codeword is the randomised RS codeword of one CSP packet:
//   CSP header, 4 | payload, P | CRC-32C, 4 (both MSB first) | RS parity, 32
// so N = P + 40 and the frame is P + 47 bytes long.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace kestrelis {

constexpr std::array<uint8_t, 4> sync_word = {0x93, 0x0B, 0x51, 0xDE};
constexpr size_t frame_prefix_size = 7;
constexpr size_t csp_header_size = 4;
constexpr size_t crc_size = 4;
constexpr size_t packet_overhead = csp_header_size + crc_size;            // 8
constexpr size_t codeword_overhead = packet_overhead + 32;                // 40
constexpr size_t frame_overhead = frame_prefix_size + codeword_overhead;  // 47
constexpr size_t max_payload_size = 215;

// The preamble and postamble byte around each uplink frame.
constexpr uint8_t idle_byte = 0xAA;

// The CCSDS randomiser sequence (x^8 + x^7 + x^5 + x^3 + 1, all cells one at
// the start), eight periods packed MSB first: FF 48 0E C0 ... 4A 66 F5 58.
extern const std::array<uint8_t, 255> pn_sequence;

// Writes the sync word and the extended Golay (24,12) codeword of the low 12
// bits of `value` (the codeword length N) into `prefix`.
void make_frame_prefix(std::span<uint8_t, frame_prefix_size> prefix, unsigned value);

// XORs the buffer in place with pn_sequence from its first byte; randomising
// and de-randomising are the same. Only the first 255 bytes are touched.
void apply_randomizer(std::span<uint8_t> buffer);

// CRC-32C (Castagnoli, reflected 0x82F63B78, initial and final 0xFFFFFFFF).
[[nodiscard]] uint32_t crc32c(std::span<const uint8_t> data);

// A complete frame for `payload` behind the four CSP `header` bytes, with the
// CRC over header and payload. Empty when the payload exceeds 215 bytes.
[[nodiscard]] std::vector<uint8_t> build_frame(std::span<const uint8_t, csp_header_size> header,
                                               std::span<const uint8_t> payload);

}  // namespace kestrelis
