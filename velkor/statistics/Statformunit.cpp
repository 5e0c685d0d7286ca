#include "Statformunit.h"

#include <QTreeWidget>
#include <algorithm>

#include "ui_Statformunit.h"

namespace velkor {

TStatisticForm::TStatisticForm(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TStatisticForm>()) {
  ui->setupUi(this);
  // The window's font: "MS Sans Serif" 14 pixels high (a form's height of -14).
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setPixelSize(14);
  setFont(font);
  // A close box only: no minimise, maximise or help button.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  for (std::size_t g = 0; g < groups_.size(); ++g) {
    groups_[g] = ui->TreeView1->topLevelItem(static_cast<int>(g));
  }
}

TStatisticForm::~TStatisticForm() = default;

QTreeWidget* TStatisticForm::TreeView1() const {
  return ui->TreeView1;
}

QTreeWidgetItem* TStatisticForm::GroupNode(std::size_t group) const {
  return group < groups_.size() ? groups_[group] : nullptr;
}

QTreeWidgetItem* TStatisticForm::CounterNode(std::size_t group, std::size_t counter) const {
  QTreeWidgetItem* node = GroupNode(group);
  return node ? node->child(static_cast<int>(counter)) : nullptr;
}

void TStatisticForm::RemoveFilledNodes() {
  QTreeWidget* tree = ui->TreeView1;
  for (int i = tree->topLevelItemCount() - 1; i >= 0; --i) {
    if (std::find(groups_.begin(), groups_.end(), tree->topLevelItem(i)) == groups_.end()) {
      delete tree->takeTopLevelItem(i);
    }
  }
  for (QTreeWidgetItem* group : groups_) {
    for (int c = 0; c < group->childCount(); ++c) qDeleteAll(group->child(c)->takeChildren());
  }
}

}  // namespace velkor
