#pragma once
// A most-recent-first list of texts (with an optional data text each), mirrored into combo boxes
// and stored in the settings file as comma text.
#include <string>
#include <vector>

class QComboBox;

namespace pek {

class ProfileFile;

class THistoryList {
public:
    const std::vector<std::string>& History() const { return history_; }
    const std::vector<std::string>& HistData() const { return histData_; }
    void SetHistory(std::vector<std::string> items, std::vector<std::string> data = {});

    std::string Section = "History";
    std::string Ident = "History";
    std::string IdentD = "HistData";
    bool WithData = false;
    int Max = 10;  // entries kept below the newest
    bool IgnoreCase = false;
    QComboBox* ComboBox = nullptr;

    int Count() const { return int(history_.size()); }
    const std::string& SelItem() const { return selItem_; }
    int SelIndex() const { return selIndex_; }

    // Puts text (up to its first line break) at the top with its data; an empty text is ignored.
    void AddItem(const std::string& text, const std::string& data = {});
    // Nothing without a file. SaveHistory throws pek::Exception when the file cannot be written.
    void LoadHistory(const ProfileFile* ini);
    void SaveHistory(ProfileFile* ini) const;
    // Load, add, save: windows sharing the file keep each other's entries.
    void AddAndStore(ProfileFile* ini, const std::string& text, const std::string& data = {});
    void RefreshControls();
    void SelectItem(int index);

private:
    bool Same(const std::string& a, const std::string& b) const;

    std::vector<std::string> history_;
    std::vector<std::string> histData_;  // in step with history_ when WithData
    std::string selItem_;
    int selIndex_ = -1;
};

}  // namespace pek
