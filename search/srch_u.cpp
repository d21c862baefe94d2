#include "search/srch_u.h"

#include "platform/CodePage.h"
#include "platform/DialogService.h"
#include "platform/Profile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace pek {

namespace {

const std::string& Section()
{
    static const std::string section = "Surchwin";
    return section;
}

QPushButton* Button(const char* caption, QWidget* parent)
{
    auto* button = new QPushButton(Ui(caption), parent);
    button->setAutoDefault(false);  // Enter is the dialog's own key
    return button;
}

}  // namespace

Tsrch_form::Tsrch_form(ProfileFile& ini, QWidget* mainWindow) : QDialog(mainWindow), ini_(ini), mainWindow_(mainWindow)
{
    setWindowTitle(Ui("検索"));
    auto* layout = new QGridLayout(this);
    auto* srch_lb = new QLabel(Ui("検索(&S)"), this);
    layout->addWidget(srch_lb, 0, 0);
    srch_cbox = new QComboBox(this);
    srch_lb->setBuddy(srch_cbox);
    srch_cbox->setEditable(true);
    srch_cbox->setInsertPolicy(QComboBox::NoInsert);
    srch_cbox->setMinimumWidth(280);
    srch_cbox->installEventFilter(this);
    srch_cbox->lineEdit()->installEventFilter(this);
    layout->addWidget(srch_cbox, 0, 1, 1, 2);
    replace_lb = new QLabel(Ui("置換(&R)"), this);
    replace_cbox = new QComboBox(this);
    replace_cbox->setEditable(true);
    replace_lb->setBuddy(replace_cbox);
    layout->addWidget(replace_lb, 1, 0);
    layout->addWidget(replace_cbox, 1, 1, 1, 2);

    auto* typeBox = new QGroupBox(this);
    auto* typeLayout = new QVBoxLayout(typeBox);
    const char* types[] = {"通常", "正規表現", "ワイルドカード"};
    for (int i = 0; i < 3; ++i) typeLayout->addWidget(SrchTypeRG[i] = new QRadioButton(Ui(types[i]), typeBox));
    layout->addWidget(typeBox, 2, 0, 1, 2);
    auto* startBox = new QGroupBox(this);
    auto* startLayout = new QVBoxLayout(startBox);
    const char* starts[] = {"先頭から検索", "カーソル位置から検索"};
    for (int i = 0; i < 2; ++i) startLayout->addWidget(srchst_rgp[i] = new QRadioButton(Ui(starts[i]), startBox));
    layout->addWidget(startBox, 2, 2);
    ChkMatchCase = new QCheckBox(Ui("大文字と小文字を区別"), this);
    layout->addWidget(ChkMatchCase, 3, 0, 1, 3);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Prebtn = Button("前を検索(&U)", this));
    buttons->addWidget(Nextbtn = Button("次を検索(&D)", this));
    buttons->addWidget(Okbtn = Button("&OK", this));
    buttons->addWidget(Cancelbtn = Button("&Cancel", this));
    layout->addLayout(buttons, 4, 0, 1, 3);
    connect(Prebtn, &QPushButton::clicked, this, [this] { PrebtnClick(); });
    connect(Nextbtn, &QPushButton::clicked, this, [this] { NextbtnClick(); });
    connect(Okbtn, &QPushButton::clicked, this, [this] { OkbtnClick(); });
    connect(Cancelbtn, &QPushButton::clicked, this, [this] { CancelbtnClick(); });

    // FormCreate: search mode, twenty entries below the newest.
    for (THistoryList* list : {&SrchHist, &ReplaceHist}) {
        list->Section = Section();
        list->Max = 20;
    }
    SrchHist.Ident = Sjis("検索");
    SrchHist.ComboBox = srch_cbox;
    ReplaceHist.Ident = Sjis("置換");
    ReplaceHist.ComboBox = replace_cbox;
    SrchTypeRG[0]->setChecked(true);
    srchst_rgp[1]->setChecked(true);
}

TSearchType Tsrch_form::SearchType() const
{
    for (int i = 0; i < 3; ++i)
        if (SrchTypeRG[i]->isChecked()) return TSearchType(i);
    return TSearchType::Plain;
}

TSearchOptions Tsrch_form::SearchOptions() const { return SearchOptionsFor(SearchType(), ChkMatchCase->isChecked()); }

void Tsrch_form::SetFindText(const std::string& cp932) { srch_cbox->setEditText(Cp932ToQString(cp932)); }

std::string Tsrch_form::FindText() const { return QStringToCp932(srch_cbox->currentText()); }

void Tsrch_form::FormShow()
{
    const QRect main = mainWindow_ != nullptr ? mainWindow_->frameGeometry() : QRect();
    adjustSize();
    move(CentredOver(main, frameGeometry().size()));
    setWindowTitle(Ui("検索"));
    replace_lb->hide();
    replace_cbox->hide();
    SrchHist.LoadHistory(&ini_);
    ReplaceHist.LoadHistory(&ini_);
    SrchTypeRG[std::clamp(ini_.ReadInteger(Section(), "SrchType", 0), 0, 2)]->setChecked(true);
    ChkMatchCase->setChecked(ini_.ReadBool(Section(), "MatchCase", false));
    srchst_rgp[std::clamp(ini_.ReadInteger(Section(), "Start_r", 1), 0, 1)]->setChecked(true);
    srch_cbox->setFocus();
}

void Tsrch_form::Accept()
{
    const std::string text = FindText();
    pattern_ = SearchType() == TSearchType::Wildcard ? WildcardToRegex(text) : text;
    try {
        ProfileBatch batch(ini_);
        ini_.WriteInteger(Section(), "SrchType", int(SearchType()));
        ini_.WriteBool(Section(), "MatchCase", ChkMatchCase->isChecked());
        ini_.WriteInteger(Section(), "Start_r", srchst_rgp[0]->isChecked() ? 0 : 1);
        batch.Commit();
        SrchHist.AddAndStore(&ini_, text);
    } catch (const std::exception& error) {
        // The search itself goes on; the entry stays in this window's list.
        SrchHist.AddItem(text);
        if (OnStoreError) OnStoreError(error);
    }
}

void Tsrch_form::PrebtnClick()
{
    Accept();
    if (OnSearch) OnSearch(false);
}

void Tsrch_form::NextbtnClick()
{
    Accept();
    if (OnSearch) OnSearch(true);
}

void Tsrch_form::OkbtnClick()
{
    Accept();
    accept();
}

void Tsrch_form::CancelbtnClick() { reject(); }

bool Tsrch_form::FormKeyDown(const QKeyEvent& key)
{
    if (key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter) {
        Accept();
        if (!(key.modifiers() & Qt::ShiftModifier) && OnSearch) OnSearch(true);
        accept();
        return true;
    }
    if (key.key() == Qt::Key_Escape) {
        CancelbtnClick();
        return true;
    }
    return false;
}

void Tsrch_form::keyPressEvent(QKeyEvent* event)
{
    if (!FormKeyDown(*event)) QDialog::keyPressEvent(event);
}

bool Tsrch_form::eventFilter(QObject* watched, QEvent* event)
{
    // The find box sees Enter and Escape first; they are the dialog's keys and go no further.
    if (event->type() == QEvent::KeyPress && FormKeyDown(static_cast<const QKeyEvent&>(*event))) return true;
    return QDialog::eventFilter(watched, event);
}

}  // namespace pek
