#include "StatusText.h"

namespace velkor {

namespace {

struct Row {
  uint8_t code;
  const char* text;
};

template <size_t N>
const char* Find(const Row (&rows)[N], uint8_t code) {
  for (const Row& row : rows) {
    if (row.code == code) return row.text;
  }
  return nullptr;
}

constexpr Row kStatusLines[] = {
    {0x10, "* Power Up"},
    {0x11, "* Power Up with Bill in Acceptor"},
    {0x12, "* Power Up with Bill in Stacker"},
    {0x13, "* Initialize"},
    {0x14, "* Idling"},
    {0x15, "* Accepting"},
    {0x17, "* Stacking"},
    {0x18, "* Returning"},
    {0x19, "* Unit Disabled"},
    {0x1A, "* Holding"},
    {0x1B, "* Device is busy"},
    {0x41, "* Stacker Full"},
    {0x42, "* Cash Box out of position"},
    {0x43, "* Acceptor Jammed"},
    {0x44, "* Stacker Jammed"},
    {0x45, "* Cheated"},
    {0x46, "* Pause"},
};

constexpr Row kBillEvents[] = {
    {kStatusEscrow, "* Escrow - "},
    {kStatusStacked, "* Stacked - "},
    {kStatusReturned, "* Returned - "},
};

constexpr Row kRejectReasons[] = {
    {0x60, "Insertion"},       {0x61, "Magnetic"},       {0x62, "Remained"},
    {0x63, "Multiplying"},     {0x64, "Conveying"},      {0x65, "Identification"},
    {0x66, "Verification"},    {0x67, "Optic"},          {0x68, "Inhibit"},
    {0x69, "Capacity"},        {0x6A, "Operation"},      {0x6B, "Stack"},
    {0x6C, "Length"},          {0x92, "Unknown bill"},   {0x93, "Char Length Error"},
    {0x94, "Start bit error"}, {0x95, "Stop bit error"},
};

constexpr Row kFailureLines[] = {
    {0x50, "* Stack Motor Failure"},        {0x51, "* Transport Motor Speed Failure"},
    {0x52, "* Transport Motor Failure"},    {0x53, "* Aligning Motor Failure"},
    {0x54, "* Initial Box Status Failure"}, {0x55, "* Optic Canal Failure"},
    {0x56, "* Magnetic Canal Failure"},     {0x5F, "* Capacitace Canal Failure"},
};

}  // namespace

std::optional<std::string> StatusText(uint8_t status, uint8_t sub, const BillNameTable& names) {
  if (status == kStatusRejecting) return RejectReasonText(sub);
  if (status == kStatusFailure) return FailureText(sub);
  if (const char* event = Find(kBillEvents, status)) {
    std::string line = event;
    if (sub < names.size()) line += names[sub];
    return line;
  }
  if (const char* text = Find(kStatusLines, status)) return std::string(text);
  return std::nullopt;
}

std::optional<std::string> RejectReasonText(uint8_t code) {
  const char* word = Find(kRejectReasons, code);
  if (!word) return std::nullopt;
  return std::string("* Rejecting because of - ") + word;
}

std::optional<std::string> FailureText(uint8_t code) {
  const char* text = Find(kFailureLines, code);
  if (!text) return std::nullopt;
  return std::string(text);
}

}  // namespace velkor
