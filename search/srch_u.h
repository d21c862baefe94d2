#pragma once
// The search dialog: the pattern, its type and case option, with histories of recent patterns.
// It collects what to find; the window's search actions find it in the panes.
#include "search/HistoryList.h"
#include "search/SearchText.h"

#include <QDialog>

#include <functional>
#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;

namespace pek {

class ProfileFile;

class Tsrch_form : public QDialog {
    Q_OBJECT
public:
    // ini: the window's settings file; mainWindow: what the dialog is centred over.
    Tsrch_form(ProfileFile& ini, QWidget* mainWindow);

    // What the panes are given: for the wildcard type the converted pattern.
    const std::string& Pattern() const { return pattern_; }
    TSearchOptions SearchOptions() const;
    TSearchType SearchType() const;
    void SetFindText(const std::string& cp932);
    std::string FindText() const;

    // Run the window's search forward (true) or backward.
    std::function<void(bool forward)> OnSearch;
    // A settings file that cannot be written: the error, reported by the owner.
    std::function<void(const std::exception&)> OnStoreError;

    void FormShow();
    void PrebtnClick();
    void NextbtnClick();
    void OkbtnClick();
    void CancelbtnClick();

    THistoryList SrchHist;
    THistoryList ReplaceHist;
    QComboBox* srch_cbox = nullptr;
    QLabel* replace_lb = nullptr;
    QComboBox* replace_cbox = nullptr;
    QRadioButton* SrchTypeRG[3] = {};
    QCheckBox* ChkMatchCase = nullptr;
    QRadioButton* srchst_rgp[2] = {};
    QPushButton* Prebtn = nullptr;
    QPushButton* Nextbtn = nullptr;
    QPushButton* Okbtn = nullptr;
    QPushButton* Cancelbtn = nullptr;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Accept();
    bool FormKeyDown(const QKeyEvent& key);

    ProfileFile& ini_;
    QWidget* mainWindow_;
    std::string pattern_;
};

}  // namespace pek
