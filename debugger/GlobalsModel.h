#pragma once
// The globals tree of a stopped script as an item model: the values are read once per refresh into
// plain nodes; the view creates rows only for what it shows, so a table of 100,000 entries costs
// nothing until it is expanded.
#include "lua/LuaUtils.h"

#include <QAbstractItemModel>

#include <string>
#include <vector>

namespace pek {

class TGlobalsModel : public QAbstractItemModel {
public:
    // Replaces the whole tree; each level is sorted by its text, ignoring case, when first shown.
    void SetTree(std::vector<LuaTreeNode> tree);
    void Clear() { SetTree({}); }
    // The text of a node (code page 932), for tests.
    std::string NodeText(const QModelIndex& index) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    struct Node {
        std::string text;
        int parent = -1;
        int row = 0;
        bool sorted = false;
        std::vector<int> children;
    };
    void Append(std::vector<LuaTreeNode>& level, int parent);
    // The level under parent (-1: the top), sorted on first use.
    const std::vector<int>& Level(int parent) const;

    mutable std::vector<Node> nodes_;
    mutable std::vector<int> roots_;
    mutable bool rootsSorted_ = false;
};

}  // namespace pek
