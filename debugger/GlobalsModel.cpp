#include "debugger/GlobalsModel.h"

#include "platform/CodePage.h"

#include <algorithm>

namespace pek {

bool TreeTextLess(const std::string& a, const std::string& b)
{
    const auto fold = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [&](char x, char y) { return fold(x) < fold(y); });
}

void TGlobalsModel::SetTree(std::vector<LuaTreeNode> tree)
{
    beginResetModel();
    nodes_.clear();
    roots_.clear();
    Append(tree, -1);
    endResetModel();
}

void TGlobalsModel::Append(std::vector<LuaTreeNode>& level, int parent)
{
    std::stable_sort(level.begin(), level.end(),
                     [](const LuaTreeNode& a, const LuaTreeNode& b) { return TreeTextLess(a.Text, b.Text); });
    std::vector<int> ids;
    ids.reserve(level.size());
    for (std::size_t i = 0; i < level.size(); ++i) {
        ids.push_back(int(nodes_.size()));
        nodes_.push_back({std::move(level[i].Text), parent, int(i), {}});
    }
    (parent < 0 ? roots_ : nodes_[std::size_t(parent)].children) = ids;
    for (std::size_t i = 0; i < level.size(); ++i)
        if (!level[i].Children.empty()) Append(level[i].Children, ids[i]);
}

std::string TGlobalsModel::NodeText(const QModelIndex& index) const
{
    return index.isValid() ? nodes_[std::size_t(index.internalId())].text : std::string();
}

QModelIndex TGlobalsModel::index(int row, int column, const QModelIndex& parent) const
{
    const std::vector<int>& list = parent.isValid() ? nodes_[std::size_t(parent.internalId())].children : roots_;
    if (column != 0 || row < 0 || row >= int(list.size())) return {};
    return createIndex(row, 0, quintptr(list[std::size_t(row)]));
}

QModelIndex TGlobalsModel::parent(const QModelIndex& child) const
{
    if (!child.isValid()) return {};
    const int p = nodes_[std::size_t(child.internalId())].parent;
    if (p < 0) return {};
    return createIndex(nodes_[std::size_t(p)].row, 0, quintptr(p));
}

int TGlobalsModel::rowCount(const QModelIndex& parent) const
{
    if (parent.column() > 0) return 0;
    return int(parent.isValid() ? nodes_[std::size_t(parent.internalId())].children.size() : roots_.size());
}

int TGlobalsModel::columnCount(const QModelIndex&) const { return 1; }

QVariant TGlobalsModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || role != Qt::DisplayRole) return {};
    return Cp932ToQString(nodes_[std::size_t(index.internalId())].text);
}

}  // namespace pek
