// The statistics window offscreen: its design (caption, size, close box, the 32 preset nodes),
// and the fill into its tree: node counts, order of children, a second fill replacing the first.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTreeWidget>
#include <array>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

#include "StatBlockBuilder.h"
#include "StatDecode.h"
#include "Statformunit.h"
#include "StatisticsFill.h"

using namespace velkor;

namespace {

// The captions of the window's design: the three groups and the counters of each.
const std::array<std::string_view, 3> kGroupCaptions = {
    "Samples based on 10000 inserted bills",
    "Samples based on 500 inserted bills",
    "Samples based on 50 inserted bills",
};
const std::array<std::vector<std::string_view>, 3> kCounterCaptions = {{
    {
        "Number of inserted bills",
        "Number of accepted bills",
        "Number of rejected bills by optical test",
        "Number of rejected bills by magnetic test",
        "Number of rejected bills by capacitance test",
        "Number of unrecognized bills",
        "Number of rejected bills by length error",
        "Number of Magnetic channel failures",
        "Number of Optical channel failures",
        "Number of Transport mech failures",
        "Number of Stacking mech failures",
        "Number of Aligning mech failures",
        "Number of jams in cassette",
        "Number of jams at entrance sensor",
        "Number of jams at both entrance and aligning sensors",
        "Number of jams at aligning sensor",
        "Number of jams at both aligning and optical sensors",
        "Number of jams at optical sensor",
        "Number of jams at both optical and exit sensors",
        "Number of jams at exit sensor",
    },
    {
        "Number of accepted bills",
        "Number of rejected bills by verification",
        "Total number of rejected bills by optical test",
        "Total number of rejected bills by magnetic test",
        "Total number of rejected bills by capacitance test",
        "Number of jams at bezel",
        "Number of jams at transport path",
        "Total number of jams",
    },
    {"Total number of jams"},
}};

int CountNodes(const QTreeWidgetItem* item) {
  int n = 1;
  for (int i = 0; i < item->childCount(); ++i) n += CountNodes(item->child(i));
  return n;
}

int CountNodes(const QTreeWidget& tree) {
  int n = 0;
  for (int i = 0; i < tree.topLevelItemCount(); ++i) n += CountNodes(tree.topLevelItem(i));
  return n;
}

// 5 header lines, 32 preset nodes, 16 samples under 10000-bill counters 0 and 5-19, 4N labels with
// 16 samples, 2N labels with 20 samples, 140 samples under the other 500-bill and 50-bill counters.
int ExpectedNodes(int n) {
  return 5 + 32 + 256 + 4 * n * 17 + 2 * n * 21 + 140;
}

std::vector<std::string> Texts(const QTreeWidgetItem* parent) {
  std::vector<std::string> texts;
  for (int i = 0; i < parent->childCount(); ++i)
    texts.push_back(parent->child(i)->text(0).toStdString());
  return texts;
}

// Whether the children of parent are exactly nodes, recursively.
bool SameNodes(const QTreeWidgetItem* parent, std::span<const TStatNode> nodes) {
  if (parent->childCount() != static_cast<int>(nodes.size())) return false;
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    const QTreeWidgetItem* child = parent->child(static_cast<int>(i));
    if (child->text(0).toStdString() != nodes[i].Text || !SameNodes(child, nodes[i].Children)) {
      return false;
    }
  }
  return true;
}

bool AnyExpanded(const QTreeWidget& tree) {
  std::function<bool(const QTreeWidgetItem*)> expanded = [&](const QTreeWidgetItem* item) {
    if (item->isExpanded()) return true;
    for (int i = 0; i < item->childCount(); ++i) {
      if (expanded(item->child(i))) return true;
    }
    return false;
  };
  for (int i = 0; i < tree.topLevelItemCount(); ++i) {
    if (expanded(tree.topLevelItem(i))) return true;
  }
  return false;
}

void Fill(TStatisticForm& form, const velkor::test::BlockBuilder& block) {
  FillStatisticsTree(form, block.Bytes().data(), block.Bytes().size());
}

}  // namespace

TEST(StatisticForm, DesignHasThePresetTreeAndACloseBoxOnly) {
  TStatisticForm form;
  EXPECT_EQ(form.windowTitle(), "Statistics");
  EXPECT_EQ(form.size(), QSize(679, 643));
  const Qt::WindowFlags flags = form.windowFlags();
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowContextHelpButtonHint);

  QTreeWidget* tree = form.TreeView1();
  ASSERT_NE(tree, nullptr);
  EXPECT_EQ(tree->objectName(), "TreeView1");
  EXPECT_EQ(tree->indentation(), 19);
  EXPECT_TRUE(tree->isHeaderHidden());
  ASSERT_EQ(tree->topLevelItemCount(), 3);
  EXPECT_EQ(CountNodes(*tree), 32);
  for (std::size_t g = 0; g < 3; ++g) {
    const QTreeWidgetItem* group = tree->topLevelItem(static_cast<int>(g));
    EXPECT_EQ(group->text(0).toStdString(), kGroupCaptions[g]);
    EXPECT_EQ(group, form.GroupNode(g));
    const auto& captions = kCounterCaptions[g];
    ASSERT_EQ(group->childCount(), static_cast<int>(captions.size()));
    EXPECT_EQ(captions.size(), kStatGroupCounters[g]);
    for (std::size_t c = 0; c < captions.size(); ++c) {
      EXPECT_EQ(group->child(static_cast<int>(c))->text(0).toStdString(), captions[c]);
    }
  }
  EXPECT_EQ(form.CounterNode(0, 19)->text(0), "Number of jams at exit sensor");
  EXPECT_EQ(form.CounterNode(3, 0), nullptr);

  // The tree fills the client area.
  form.show();
  QApplication::processEvents();
  EXPECT_EQ(tree->geometry(), form.rect());
}

TEST(StatisticForm, FillPlacesHeaderLinesAndValuesInOrder) {
  TStatisticForm form;
  Fill(form, velkor::test::DollarBlock());
  QTreeWidget& tree = *form.TreeView1();
  EXPECT_EQ(CountNodes(tree), 763);
  EXPECT_EQ(ExpectedNodes(3), 763);
  EXPECT_FALSE(AnyExpanded(tree));

  ASSERT_EQ(tree.topLevelItemCount(), 8);
  const std::vector<std::string> top = {
      "Country Code -  USA",
      "Total number of denominations -  3",
      "Type of statistics -  5",
      "Date and time of last clearing : 2002/3/7 9:5:0",
      "Serial number: BV0123456789",
      "Samples based on 10000 inserted bills",
      "Samples based on 500 inserted bills",
      "Samples based on 50 inserted bills",
  };
  for (int i = 0; i < 8; ++i) EXPECT_EQ(tree.topLevelItem(i)->text(0).toStdString(), top[i]);

  // Every node under every counter as the decoding lists it, labels with their samples.
  const TStatisticsTree decoded = DecodeStatistics(velkor::test::DollarBlock().Bytes());
  for (std::size_t g = 0; g < 3; ++g) {
    for (std::size_t c = 0; c < decoded.Groups[g].size(); ++c) {
      EXPECT_TRUE(SameNodes(form.CounterNode(g, c), decoded.Groups[g][c])) << g << "/" << c;
    }
  }
  EXPECT_EQ(Texts(form.CounterNode(0, 2)),
            (std::vector<std::string>{"1 Dollar", "100 new Dollars", "50 Dollars"}));
  EXPECT_EQ(form.CounterNode(1, 0)->child(1)->child(19)->text(0).toStdString(),
            "20 Sample -  " + std::to_string(velkor::test::Value500(0, 1)));
}

TEST(StatisticForm, SecondFillReplacesTheFirst) {
  TStatisticForm form;
  QTreeWidget& tree = *form.TreeView1();
  QTreeWidgetItem* const firstGroup = form.GroupNode(0);
  Fill(form, velkor::test::DollarBlock());
  ASSERT_EQ(CountNodes(tree), ExpectedNodes(3));

  velkor::test::BlockBuilder one;
  one.Text(5, "EUR").Put8(8, 1).Text(4341, "Euro").Denomination(0, 0x05, 1);
  Fill(form, one);
  EXPECT_EQ(CountNodes(tree), ExpectedNodes(1));
  EXPECT_EQ(tree.topLevelItemCount(), 8);
  EXPECT_EQ(tree.topLevelItem(0)->text(0), "Country Code -  EUR");
  EXPECT_EQ(tree.topLevelItem(1)->text(0), "Total number of denominations -  1");
  EXPECT_EQ(tree.topLevelItem(5), firstGroup);  // the preset nodes themselves stay
  for (std::size_t c = 1; c <= 4; ++c) {
    EXPECT_EQ(Texts(form.CounterNode(0, c)), std::vector<std::string>{"50 Euros"});
  }
  EXPECT_EQ(form.CounterNode(0, 0)->childCount(), 16);

  Fill(form, velkor::test::DollarBlock());
  EXPECT_EQ(CountNodes(tree), 763);
  form.RemoveFilledNodes();
  EXPECT_EQ(CountNodes(tree), 32);
  EXPECT_EQ(tree.topLevelItemCount(), 3);
}

TEST(StatisticForm, NoDenominationsAndMoreThanTwenty) {
  TStatisticForm form;
  QTreeWidget& tree = *form.TreeView1();
  velkor::test::BlockBuilder none;
  none.Put8(8, 0);
  Fill(form, none);
  EXPECT_EQ(CountNodes(tree), ExpectedNodes(0));
  EXPECT_EQ(form.CounterNode(1, 0)->childCount(), 0);
  EXPECT_EQ(form.CounterNode(1, 1)->childCount(), 0);

  velkor::test::BlockBuilder many;
  many.Put8(8, 25).Text(4341, "Lira");
  Fill(form, many);
  EXPECT_EQ(tree.topLevelItem(1)->text(0), "Total number of denominations -  25");
  EXPECT_EQ(CountNodes(tree), ExpectedNodes(20));
  EXPECT_EQ(form.CounterNode(0, 1)->childCount(), 20);
  EXPECT_EQ(form.CounterNode(1, 1)->childCount(), 20);

  // A buffer shorter than the block, even none, fills without reading beyond it.
  FillStatisticsTree(form, nullptr, 0);
  EXPECT_EQ(CountNodes(tree), ExpectedNodes(0));
  EXPECT_EQ(tree.topLevelItem(2)->text(0), "Type of statistics -  0");
}
