// Texts of the validator's status codes: the status lines of a Poll answer, the rejection reasons
// and the failure lines. Plain text logic: the window writes what these return into its log.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace velkor {

// Bill types 0 to 23 have a name each (digits of the value, "-", three country characters).
inline constexpr size_t kBillTypes = 24;
using BillNameTable = std::array<std::string, kBillTypes>;

// Status codes the poll cycle acts on.
inline constexpr uint8_t kStatusPowerUp = 0x10;
inline constexpr uint8_t kStatusPowerUpBillInAcceptor = 0x11;
inline constexpr uint8_t kStatusPowerUpBillInStacker = 0x12;
inline constexpr uint8_t kStatusInitialize = 0x13;
inline constexpr uint8_t kStatusIdling = 0x14;
inline constexpr uint8_t kStatusUnitDisabled = 0x19;
inline constexpr uint8_t kStatusRejecting = 0x1C;
inline constexpr uint8_t kStatusFailure = 0x47;
inline constexpr uint8_t kStatusEscrow = 0x80;
inline constexpr uint8_t kStatusStacked = 0x81;
inline constexpr uint8_t kStatusReturned = 0x82;

// Sub-code used when a Poll answer carries no second data byte: no table has a row for it and it
// names no bill type.
inline constexpr uint8_t kNoSubCode = 0xFF;

// The line for a Poll answer's status code and sub-code, or nothing for a code without a line
// (and for a rejection or failure whose sub-code has no row). Bill events (0x80 to 0x82) end with
// the bill type's name; a bill type of 24 or more names nothing and the line ends after "- ".
std::optional<std::string> StatusText(uint8_t status, uint8_t sub, const BillNameTable& names);

// "* Rejecting because of - " and the reason word, or nothing for a code without a row.
std::optional<std::string> RejectReasonText(uint8_t code);

// The failure line, or nothing for a code without a row.
std::optional<std::string> FailureText(uint8_t code);

}  // namespace velkor
