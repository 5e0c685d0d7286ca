// The window's controls read as choices: the item an editable box stands for, and the texts of
// three bit-mask edits as bytes.
#pragma once

#include <QByteArray>
#include <QComboBox>
#include <QString>
#include <array>
#include <cstdint>
#include <string_view>

#include "WindowChoices.h"

namespace velkor {

// The index of the item whose text equals the box's text, or -1 when none does: a typed text
// that matches no item chooses nothing, whatever item was chosen before.
inline int ItemIndex(const QComboBox& box) {
  return box.findText(box.currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
}

// ParseBitEdits over the texts of three edits; a character outside Latin-1 turns into '?', which
// is refused like any other wrong character.
inline bool ParseBitTexts(const std::array<QString, 3>& texts, std::array<uint8_t, 3>& bytes) {
  std::array<QByteArray, 3> latin1;
  std::array<std::string_view, 3> views;
  for (size_t i = 0; i < 3; ++i) {
    latin1[i] = texts[i].toLatin1();
    views[i] = std::string_view(latin1[i].constData(), static_cast<size_t>(latin1[i].size()));
  }
  return ParseBitEdits(views, bytes);
}

}  // namespace velkor
