// The choice an editable box stands for.
#pragma once

#include <QComboBox>

namespace velkor {

// The index of the item whose text equals the box's text, or -1 when none does: a typed text
// that matches no item chooses nothing, whatever item was chosen before.
inline int ItemIndex(const QComboBox& box) {
  return box.findText(box.currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
}

}  // namespace velkor
