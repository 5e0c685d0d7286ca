// The lines the download writes into the message log, and its result with the line of each.
#pragma once

#include <string_view>

namespace velkor {

enum DownloadResult : int { dlOk = 0, dlExchangeError = 1, dlHexError = 2 };

inline constexpr std::string_view kTextDownloadExecuted = "The Download-command is executed";
inline constexpr std::string_view kTextDownloadModeError = "The ERROR exchange in Download mode";
inline constexpr std::string_view kTextDownloadMode = "Download mode";
inline constexpr std::string_view kTextHexFileOk = "HEX-FILE - OK!";
inline constexpr std::string_view kTextPreparation = "Preparation data...";
inline constexpr std::string_view kTextPreparationOk = "** OK.";
inline constexpr std::string_view kTextProgramming = "Programming data to BV...";
inline constexpr std::string_view kTextNotHexFile = "ERROR";  // the modal box's message

// The log line for a download result: "Proramming - OK!", "ERROR exchange with BV!!!" or
// "ERROR HEX-FILE!!!".
constexpr std::string_view DownloadResultLine(DownloadResult result) {
  switch (result) {
    case dlOk:
      return "Proramming - OK!";
    case dlHexError:
      return "ERROR HEX-FILE!!!";
    case dlExchangeError:
      break;
  }
  return "ERROR exchange with BV!!!";
}

}  // namespace velkor
