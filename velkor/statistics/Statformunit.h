// The statistics window: one tree, TreeView1, whose three group nodes and their counter nodes are
// part of the window's design. A statistics request adds the header lines and the value nodes
// (FillStatisticsTree); closing the window only hides it.
#pragma once

#include <QDialog>
#include <array>
#include <cstddef>
#include <memory>

class QTreeWidget;
class QTreeWidgetItem;

namespace Ui {
class TStatisticForm;
}

namespace velkor {

class TStatisticForm : public QDialog {
  Q_OBJECT

 public:
  explicit TStatisticForm(QWidget* parent = nullptr);
  ~TStatisticForm() override;

  QTreeWidget* TreeView1() const;

  // The preset nodes as designed: group g (0: 10000, 1: 500, 2: 50 inserted bills) and its
  // counter c.
  QTreeWidgetItem* GroupNode(std::size_t group) const;
  QTreeWidgetItem* CounterNode(std::size_t group, std::size_t counter) const;

  // Removes every node a fill added, leaving the 32 preset nodes.
  void RemoveFilledNodes();

 private:
  std::unique_ptr<Ui::TStatisticForm> ui;
  std::array<QTreeWidgetItem*, 3> groups_{};
};

}  // namespace velkor
