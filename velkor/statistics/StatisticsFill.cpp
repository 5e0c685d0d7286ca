#include "StatisticsFill.h"

#include <QString>
#include <QTreeWidget>
#include <span>

#include "StatDecode.h"
#include "Statformunit.h"

namespace velkor {

namespace {

QTreeWidgetItem* MakeNode(const TStatNode& node) {
  auto* item = new QTreeWidgetItem(
      QStringList{QString::fromUtf8(node.Text.data(), static_cast<qsizetype>(node.Text.size()))});
  for (const TStatNode& child : node.Children) item->addChild(MakeNode(child));
  return item;
}

}  // namespace

void FillStatisticsTree(TStatisticForm& form, const std::uint8_t* block, std::size_t size) {
  const TStatisticsTree tree = DecodeStatistics(block ? std::span<const std::uint8_t>(block, size)
                                                      : std::span<const std::uint8_t>());
  QTreeWidget* view = form.TreeView1();
  view->setUpdatesEnabled(false);
  form.RemoveFilledNodes();
  for (std::size_t i = 0; i < tree.Header.size(); ++i) {
    view->insertTopLevelItem(
        static_cast<int>(i),
        new QTreeWidgetItem(QStringList{QString::fromStdString(tree.Header[i])}));
  }
  for (std::size_t g = 0; g < tree.Groups.size(); ++g) {
    for (std::size_t c = 0; c < tree.Groups[g].size(); ++c) {
      QTreeWidgetItem* counter = form.CounterNode(g, c);
      if (!counter) continue;
      QList<QTreeWidgetItem*> children;
      for (const TStatNode& node : tree.Groups[g][c]) children.append(MakeNode(node));
      counter->addChildren(children);
    }
  }
  view->setUpdatesEnabled(true);
}

}  // namespace velkor
