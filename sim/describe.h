// Short human descriptions of frames and codes, for the bvsim executable's trace lines.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bvsim {

// "02 03 06 33 DA 81"; frames longer than `max` bytes show their first bytes, "..." and the
// total count.
std::string HexBytes(const std::vector<uint8_t>& bytes, size_t max = 24);

// "Poll", "Enable Bill Types FF FF FF / escrow 00 00 00", "Download block 0x00B000, 256 bytes",
// "bad check code"...
std::string DescribeRequest(const std::vector<uint8_t>& frame, bool crcOk);

// The answer to a request with this command code: "Idling", "Escrow, bill type 2",
// "accepted (E0)", "34 data bytes"...
std::string DescribeAnswer(int requestCommand, const std::vector<uint8_t>& frame);
// Same, knowing the whole request (names the block size after the block-size query).
std::string DescribeAnswer(const std::vector<uint8_t>& request, const std::vector<uint8_t>& frame);

std::string CommandName(int command);
std::string StatusName(uint8_t status);  // "" for a code that is no status
std::string RejectName(uint8_t reason);  // "" for an unknown reason
std::string FailureName(uint8_t code);   // "" for an unknown code

}  // namespace bvsim
