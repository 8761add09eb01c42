#pragma once
// The downlink receive chain: the modem's bit stream in UDP datagrams, frame
// detection, de-randomising, Reed-Solomon correction, the packet check, and
// the dispatch of good packets. Everything runs on the receive thread.

#include <cstdint>
#include <span>

#include "radio/frame_detector.hpp"

// Runs `bytes` of the modem's stream through `detector` and processes every
// frame they complete. Prints "-----FRAME DETECTED-----\r\n" for each sync word.
void receive_bytes(FrameDetector& detector, std::span<const uint8_t> bytes);

// Processes one received codeword of N bytes: de-randomises and corrects it
// (RS pad 255 - N) and passes its first N - 32 bytes to check_packet. Prints
// "ReedSolomon: ERROR\r\n", or "ReedSolomon: OK (Corrected %d bytes)\r\n",
// "Received %d bytes\r\n" and "-------FRAME END--------\r\n".
void process_codeword(std::span<const uint8_t> codeword);

// Checks a packet (CSP header, payload, CRC-32C, most significant byte first)
// and hands the payload, its destination port and source to dispatch_csp_packet.
// The CRC may cover the header and payload or the payload alone; one that
// differs from the payload-only CRC in at most 4 bits is accepted after
// "CRC32: ERROR %x:%x\r\n", more is dropped after "CRC32: Error\n" as well.
// Packets under 8 bytes: "ERROR: Packet is too small\r\n", dropped.
void check_packet(std::span<const uint8_t> packet);

// The receive thread: binds UDP GR_ReceivePort (on GR_ReceiveAddress, or on
// all local addresses when it is empty) and feeds every datagram to the chain.
// Never returns; ends the process with status 1 when the port cannot be bound.
[[noreturn]] void receive_thread();
