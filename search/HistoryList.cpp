#include "search/HistoryList.h"

#include "platform/CodePage.h"
#include "platform/Profile.h"

#include <QComboBox>
#include <QLineEdit>

#include <algorithm>

namespace pek {

namespace {

bool SameIgnoringCase(const std::string& a, const std::string& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](unsigned char x, unsigned char y) {
        return (x >= 'A' && x <= 'Z' ? x + 32 : x) == (y >= 'A' && y <= 'Z' ? y + 32 : y);
    });
}

}  // namespace

void THistoryList::SetHistory(std::vector<std::string> items, std::vector<std::string> data)
{
    history_ = std::move(items);
    histData_ = std::move(data);
    RefreshControls();
}

bool THistoryList::Same(const std::string& a, const std::string& b) const
{
    return IgnoreCase ? SameIgnoringCase(a, b) : a == b;
}

void THistoryList::AddItem(const std::string& text, const std::string& data)
{
    // A line break would split the stored line of the settings file.
    const std::string item = text.substr(0, text.find_first_of("\r\n"));
    if (item.empty()) return;
    const bool inStep = histData_.size() == history_.size();
    for (int i = Count() - 1; i >= 0; --i) {
        if (i >= Max || Same(history_[std::size_t(i)], item)) {
            history_.erase(history_.begin() + i);
            if (std::size_t(i) < histData_.size()) histData_.erase(histData_.begin() + i);
        }
    }
    history_.insert(history_.begin(), item);
    if (WithData || (inStep && !histData_.empty())) histData_.insert(histData_.begin(), data);
    RefreshControls();
}

void THistoryList::LoadHistory(const ProfileFile* ini)
{
    if (ini == nullptr) return;
    const std::string items = ini->ReadString(Section, Ident, "");
    if (!items.empty()) history_ = FromCommaText(items);
    if (WithData) {
        const std::string data = ini->ReadString(Section, IdentD, "");
        if (!data.empty()) histData_ = FromCommaText(data);
    }
    for (int i = Count() - 1; i >= 0; --i) {
        if (!history_[std::size_t(i)].empty()) continue;
        history_.erase(history_.begin() + i);
        if (std::size_t(i) < histData_.size()) histData_.erase(histData_.begin() + i);
    }
    RefreshControls();
}

void THistoryList::SaveHistory(ProfileFile* ini) const
{
    if (ini == nullptr || history_.empty()) return;
    // The stored value ends with an empty item ("a,b,"), as files written before have it; the
    // list itself stays as it is.
    ProfileBatch batch(*ini);
    ini->WriteString(Section, Ident, ToCommaText(history_) + ",");
    if (WithData) {
        std::vector<std::string> data = histData_;
        data.resize(history_.size());
        ini->WriteString(Section, IdentD, ToCommaText(data) + ",");
    }
    batch.Commit();
}

void THistoryList::AddAndStore(ProfileFile* ini, const std::string& text, const std::string& data)
{
    LoadHistory(ini);
    AddItem(text, data);
    SaveHistory(ini);
}

void THistoryList::RefreshControls()
{
    if (ComboBox == nullptr) return;
    const QString edit = ComboBox->currentText();
    ComboBox->clear();
    for (const std::string& item : history_) ComboBox->addItem(Cp932ToQString(item));
    ComboBox->setEditText(edit);
}

void THistoryList::SelectItem(int index)
{
    if (index < 0 || index >= Count()) return;
    selItem_ = history_[std::size_t(index)];
    selIndex_ = 0;
    if (Count() <= 1) return;
    history_.erase(history_.begin() + index);
    history_.insert(history_.begin(), selItem_);
    if (std::size_t(index) < histData_.size() && histData_.size() > 1) {
        std::string data = std::move(histData_[std::size_t(index)]);
        histData_.erase(histData_.begin() + index);
        histData_.insert(histData_.begin(), std::move(data));
    }
    RefreshControls();
}

}  // namespace pek
