#include "debugger/GlobalsModel.h"

#include "platform/CodePage.h"

#include <algorithm>
#include <functional>
#include <utility>

namespace pek {

void TGlobalsModel::SetTree(std::vector<LuaTreeNode> tree)
{
    beginResetModel();
    nodes_.clear();
    roots_.clear();
    rootsSorted_ = false;
    std::size_t count = 0;
    const std::function<void(const std::vector<LuaTreeNode>&)> countLevel = [&](const std::vector<LuaTreeNode>& level) {
        count += level.size();
        for (const auto& node : level) countLevel(node.Children);
    };
    countLevel(tree);
    nodes_.reserve(count);
    Append(tree, -1);
    endResetModel();
}

void TGlobalsModel::Append(std::vector<LuaTreeNode>& level, int parent)
{
    std::vector<int> ids;
    ids.reserve(level.size());
    for (auto& node : level) {
        ids.push_back(int(nodes_.size()));
        nodes_.push_back({std::move(node.Text), parent, 0, false, {}});
    }
    (parent < 0 ? roots_ : nodes_[std::size_t(parent)].children) = ids;
    for (std::size_t i = 0; i < level.size(); ++i)
        if (!level[i].Children.empty()) Append(level[i].Children, ids[i]);
}

const std::vector<int>& TGlobalsModel::Level(int parent) const
{
    std::vector<int>& list = parent < 0 ? roots_ : nodes_[std::size_t(parent)].children;
    bool& sorted = parent < 0 ? rootsSorted_ : nodes_[std::size_t(parent)].sorted;
    if (!sorted) {
        sorted = true;
        // Folded once per node rather than in every comparison.
        std::vector<std::pair<std::string, int>> keys;
        keys.reserve(list.size());
        for (int id : list) {
            std::string key = nodes_[std::size_t(id)].text;
            for (char& c : key)
                if (c >= 'A' && c <= 'Z') c = char(c + 32);
            keys.emplace_back(std::move(key), id);
        }
        std::stable_sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        for (std::size_t i = 0; i < keys.size(); ++i) {
            list[i] = keys[i].second;
            nodes_[std::size_t(list[i])].row = int(i);
        }
    }
    return list;
}

std::string TGlobalsModel::NodeText(const QModelIndex& index) const
{
    return index.isValid() ? nodes_[std::size_t(index.internalId())].text : std::string();
}

QModelIndex TGlobalsModel::index(int row, int column, const QModelIndex& parent) const
{
    const std::vector<int>& list = Level(parent.isValid() ? int(parent.internalId()) : -1);
    if (column != 0 || row < 0 || row >= int(list.size())) return {};
    return createIndex(row, 0, quintptr(list[std::size_t(row)]));
}

QModelIndex TGlobalsModel::parent(const QModelIndex& child) const
{
    if (!child.isValid()) return {};
    const int p = nodes_[std::size_t(child.internalId())].parent;
    if (p < 0) return {};
    Level(nodes_[std::size_t(p)].parent);  // its row is known once its own level is sorted
    return createIndex(nodes_[std::size_t(p)].row, 0, quintptr(p));
}

int TGlobalsModel::rowCount(const QModelIndex& parent) const
{
    if (parent.column() > 0) return 0;
    return int(Level(parent.isValid() ? int(parent.internalId()) : -1).size());
}

int TGlobalsModel::columnCount(const QModelIndex&) const { return 1; }

QVariant TGlobalsModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || role != Qt::DisplayRole) return {};
    return Cp932ToQString(nodes_[std::size_t(index.internalId())].text);
}

}  // namespace pek
