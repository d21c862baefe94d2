#include "settings/setting_u.h"

#include "editor/EditorEx.h"
#include "platform/CodePage.h"
#include "platform/DialogService.h"
#include "platform/Profile.h"
#include "serial/CommXEx.h"
#include "settings/ColorBox.h"
#include "terminal/PortList.h"
#include "terminal/SheetSettings.h"
#include "terminal/TerminalHost.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include <climits>
#include <map>

namespace pek {

namespace {

// Today's USB adapters run far beyond 115200; the engine sets any of these on Linux.
const char* const kBitRates[] = {"300",    "600",    "1200",   "2400",    "4800",    "9600",    "14400",
                                 "19200",  "38400",  "56000",  "57600",   "115200",  "128000",  "230400",
                                 "256000", "460800", "500000", "576000",  "921600",  "1000000", "1500000",
                                 "2000000", "3000000"};
const char* const kPresetFilter = "すべてのファイル(*)|*|INIファイル(*.ini)|*.ini";

QSpinBox* Spin(QWidget* parent, int low, int high, const char* hint = nullptr)
{
    auto* spin = new QSpinBox(parent);
    spin->setRange(low, high);
    if (hint) spin->setToolTip(Ui(hint));
    return spin;
}

// The range the port engine takes for a key of the settings file.
QSpinBox* PortSpin(QWidget* parent, const char* key, const char* hint)
{
    for (const PortKey& k : PortKeys())
        if (std::string_view(k.key) == key) return Spin(parent, k.first, k.last, hint);
    return Spin(parent, INT_MIN, INT_MAX, hint);
}

QComboBox* List(QWidget* parent, std::initializer_list<const char*> items, const char* hint = nullptr)
{
    auto* box = new QComboBox(parent);
    for (const char* item : items) box->addItem(Ui(item));
    if (hint) box->setToolTip(Ui(hint));
    return box;
}

FileDialogRequest PresetRequest()
{
    FileDialogRequest request;
    request.filter = QtFilter(Ui(kPresetFilter));
    request.selectedFilter = QtFilterEntry(Ui(kPresetFilter), 1);
    request.defaultSuffix = "ini";
    return request;
}

void SetHighlight(TEditorEx& pane, const std::string& commenter, const std::vector<TBracketItem>& brackets,
                  const std::vector<std::string>& words, int tabWidth)
{
    pane.SetCommenter(commenter);
    pane.ClearBrackets();
    for (const TBracketItem& b : brackets) pane.AddBracket(b.LeftBracket, b.RightBracket, b.Color);
    pane.SetReserveWordList(words);
    pane.SetTabSpaceCount(tabWidth);
}

std::vector<std::string> MemoLines(const QPlainTextEdit& memo)
{
    std::vector<std::string> lines;
    for (const QString& line : memo.toPlainText().split('\n'))
        if (!line.isEmpty()) lines.push_back(QStringToCp932(line));
    return lines;
}

}  // namespace

TSettingForm::TSettingForm(TerminalHost& window, QWidget* parent) : QDialog(parent), window_(window)
{
    setObjectName("SettingForm");
    setWindowTitle(Ui("設定"));
    auto* layout = new QVBoxLayout(this);
    PageControl = new QTabWidget(this);
    auto* port = new QWidget(PageControl);
    auto* display = new QWidget(PageControl);
    auto* highlight = new QWidget(PageControl);
    PageControl->addTab(port, Ui("通信"));
    PageControl->addTab(display, Ui("表示(共通)"));
    PageControl->addTab(highlight, Ui("表示(個別)"));
    BuildPortPage(port);
    BuildDisplayPage(display);
    BuildHighlightPage(highlight);
    layout->addWidget(PageControl);
    auto* buttons = new QHBoxLayout;
    OkBtn = new QPushButton("OK", this);
    OkBtn->setObjectName("OkBtn");
    OkBtn->setDefault(true);
    CancelBtn = new QPushButton(Ui("キャンセル"), this);
    CancelBtn->setObjectName("CancelBtn");
    buttons->addStretch();
    buttons->addWidget(OkBtn);
    buttons->addWidget(CancelBtn);
    layout->addLayout(buttons);
    connect(OkBtn, &QPushButton::clicked, this, [this] { OkBtnClick(); });
    connect(CancelBtn, &QPushButton::clicked, this, [this] { CancelBtnClick(); });
}

TSettingForm::~TSettingForm() = default;

void TSettingForm::BuildPortPage(QWidget* page)
{
    auto* form = new QFormLayout(page);
    TmCBox = List(page, {"なし", "COM(シリアル通信)"});
    form->addRow(Ui("通信"), TmCBox);
    PortNoSed = PortSpin(page, "ComPortNo", "通信ポートの番号を指定します。");
    PortPathLbl = new QLabel(page);
    PortPathLbl->setObjectName("PortPathLbl");
    PortListCbx = new QComboBox(page);
    PortListCbx->setObjectName("PortListCbx");
    PortListCbx->setToolTip(Ui("設定ファイルの[Ports]と接続中のポート (●: 接続中)"));
    auto* portRow = new QHBoxLayout;
    portRow->addWidget(PortNoSed);
    portRow->addWidget(PortPathLbl, 1);
    form->addRow(Ui("ポートNo"), portRow);
    form->addRow(QString(), PortListCbx);
    PortDeviceCbx = new QComboBox(page);
    PortDeviceCbx->setObjectName("PortDeviceCbx");
    PortDeviceCbx->setEditable(true);
    PortDeviceCbx->setInsertPolicy(QComboBox::NoInsert);
    PortDeviceCbx->setCompleter(nullptr);
    PortDeviceCbx->setToolTip(Ui("一覧から選ぶか、デバイスのパスを入力します。OKでこのポート番号のデバイスになります。\n"
                                 "/dev/serial/by-id の名前は、アダプタを差し直して tty の番号が変わっても同じアダプタを指します。"));
    form->addRow(Ui("デバイス"), PortDeviceCbx);
    // The list shows where each stable name points; the box takes the name itself.
    connect(PortDeviceCbx, &QComboBox::activated, this, [this](int index) {
        PortDeviceCbx->setEditText(PortDeviceCbx->itemData(index).toString());
    });
    connect(PortNoSed, &QSpinBox::valueChanged, this, [this] { ShowPortPath(); });
    connect(PortListCbx, &QComboBox::activated, this, [this](int index) {
        if (const int n = PortListCbx->itemData(index).toInt(); n != 0) PortNoSed->setValue(n);
    });
    BitRateCbx = new QComboBox(page);
    BitRateCbx->setEditable(true);
    for (const char* rate : kBitRates) BitRateCbx->addItem(rate);
    BitRateCbx->setToolTip(Ui("通信速度をｂｐｓ単位で指定します。"));
    form->addRow(Ui("ビットレート"), BitRateCbx);
    CharSizeSed = PortSpin(page, "ComCharSize", "１キャラクタのビット数を指定します。デフォルトは 8 ビットです。");
    form->addRow(Ui("文字サイズ"), CharSizeSed);
    ParityBitCbx = List(page, {"パリティなし", "奇数パリティ", "偶数パリティ"}, "パリティチェックの方式を指定します。");
    form->addRow(Ui("パリティービット"), ParityBitCbx);
    StopBitCbx = List(page, {"1ビット", "1.5ビット", "2ビット"}, "\u3000ストップビット長を指定します。");
    form->addRow(Ui("停止ビット"), StopBitCbx);
    FlowCtrlCbx = List(page,
                       {"RTS/CTS制御", "DTR/DSR制御", "XON/XOFF制御", "半二重制御(送信時ON)", "半二重制御(送信時OFF)", "制御なし"},
                       "デフォルトは 制御なしです。");
    form->addRow(Ui("フロー制御"), FlowCtrlCbx);
    auto* xon = new QGroupBox(Ui("XON/OFF制御"), page);
    auto* xonForm = new QFormLayout(xon);
    XonCharSed = PortSpin(xon, "ComXonChar", "XON文字を指定します。");
    XoffCharSed = PortSpin(xon, "ComXoffChar", "XOFF文字を指定します。");
    xonForm->addRow(Ui("XON制御文字"), XonCharSed);
    xonForm->addRow(Ui("XOFF制御文字"), XoffCharSed);
    form->addRow(xon);
    auto* queues = new QGroupBox(page);
    auto* grid = new QGridLayout(queues);
    BufLenRecSed = PortSpin(queues, "ComBufLenRec",
                            "受信バッファの大きさをバイト単位で指定します。デフォルトは２０４８バイトです。");
    TimeOutRecSed = PortSpin(queues, "ComTimeOutRec", "受信のタイムアウトをｍｓ単位で指定します。");
    BufLenTransSed = PortSpin(queues, "ComBufLenTrans",
                              "送信バッファの大きさをバイト単位で指定します。デフォルトは２０４８バイトです。");
    TimeOutTransSed = PortSpin(queues, "ComTimeOutTrans",
                               "送信のタイムアウトをｍｓ単位で指定します。送信相手の準備ができていない状態のときに、"
                               "タイムアウト時間が経過すると、送信データは失われます。");
    grid->addWidget(new QLabel(Ui("ﾊﾞｯﾌｧｰｻｲｽﾞ"), queues), 0, 1);
    grid->addWidget(new QLabel(Ui("ﾀｲﾑｱｳﾄ [ms]"), queues), 0, 2);
    grid->addWidget(new QLabel(Ui("受信"), queues), 1, 0);
    grid->addWidget(BufLenRecSed, 1, 1);
    grid->addWidget(TimeOutRecSed, 1, 2);
    grid->addWidget(new QLabel(Ui("送信"), queues), 2, 0);
    grid->addWidget(BufLenTransSed, 2, 1);
    grid->addWidget(TimeOutTransSed, 2, 2);
    form->addRow(queues);
    DelayTransSed = PortSpin(page, "ComDelayTrans", "文字毎の送信遅延を設定します。(OSにより調整されるため実際は少し異なります)");
    form->addRow(Ui("送信遅延(文字毎) [ms]"), DelayTransSed);
    CrTypCBox = List(page, {"なし", "CR", "CR+LF", "LF"}, "デフォルトは 制御なしです。");
    form->addRow(Ui("送信 改行"), CrTypCBox);
    CharCodeCBox = List(page, {"シフトJIS (コード932)", "UTF-8"}, "機器が送受信する文字のコードです。受信バッファとバイナリログは受信したままのバイトです。");
    form->addRow(Ui("文字コード"), CharCodeCBox);
    auto* times = new QHBoxLayout;
    const char* const timeNames[] = {"なし", "ms", "D_H:M:S.ms", "日時"};
    for (int i = 0; i < 4; ++i) {
        TimeRB[size_t(i)] = new QRadioButton(Ui(timeNames[i]), page);
        times->addWidget(TimeRB[size_t(i)]);
    }
    form->addRow(Ui("時間表示"), times);
    EchoChkBox = new QCheckBox(Ui("エコーON"), page);
    EchoChkBox->setToolTip(Ui("送信文字列を表示"));
    form->addRow(EchoChkBox);
}

void TSettingForm::BuildDisplayPage(QWidget* page)
{
    auto* grid = new QGridLayout(page);
    FontCBox = new QComboBox(page);
    FontSizeSEdit = Spin(page, 1, kMaxFontHeight);
    FontColorBox = new TColorBox(page);
    BkColorBox = new TColorBox(page);
    WrapByteSEdit = Spin(page, 2, kMaxColumn);
    int row = 0;
    grid->addWidget(new QLabel(Ui("フォント"), page), row, 0);
    grid->addWidget(FontCBox, row, 1, 1, 3);
    grid->addWidget(new QLabel(Ui("サイズ"), page), row, 4);
    grid->addWidget(FontSizeSEdit, row++, 5);
    grid->addWidget(new QLabel(Ui("フォント色"), page), row, 0);
    grid->addWidget(FontColorBox, row, 1);
    grid->addWidget(new QLabel(Ui("背景色"), page), row, 2);
    grid->addWidget(BkColorBox, row, 3);
    grid->addWidget(new QLabel(Ui("1行の文字数"), page), row, 4);
    grid->addWidget(WrapByteSEdit, row++, 5);
    const char* const rowNames[] = {"予約", "コメント", "数字", "選択"};
    for (size_t i = 0; i < ColorRows.size(); ++i, ++row) {
        ColorRowControls& c = ColorRows[i];
        c.on = new QCheckBox(Ui(rowNames[i]), page);
        c.color = new TColorBox(page);
        c.bkOn = new QCheckBox(Ui("背景"), page);
        c.bk = new TColorBox(page);
        c.bold = new QCheckBox(Ui("太字"), page);
        c.italic = new QCheckBox(Ui("斜体"), page);
        grid->addWidget(c.on, row, 0);
        grid->addWidget(c.color, row, 1);
        grid->addWidget(c.bkOn, row, 2);
        grid->addWidget(c.bk, row, 3);
        grid->addWidget(c.bold, row, 4);
        grid->addWidget(c.italic, row, 5);
    }
    const char* const markNames[] = {"下線", "改行", "EOF"};
    for (size_t i = 0; i < MarkRows.size(); ++i) {
        MarkRows[i].on = new QCheckBox(Ui(markNames[i]), page);
        MarkRows[i].color = new TColorBox(page);
        grid->addWidget(MarkRows[i].on, row, int(i) * 2);
        grid->addWidget(MarkRows[i].color, row, int(i) * 2 + 1);
    }
    ++row;
    CtrlCodeChkBox = new QCheckBox(Ui("制御文字処理"), page);
    AutoColOffChkBox = new QCheckBox(Ui("自動横ｽｸﾛｰﾙOFF"), page);
    grid->addWidget(CtrlCodeChkBox, row, 0, 1, 3);
    grid->addWidget(AutoColOffChkBox, row, 3, 1, 3);
    ++row;
    MaxLinesSEdit = Spin(page, 0, 100'000'000);
    MaxLinesSEdit->setGroupSeparatorShown(true);
    MaxLinesSEdit->setSpecialValueText(Ui("無制限"));
    MaxLinesSEdit->setToolTip(Ui("受信画面に残す行数です。超えると古い行から消えます。0 は無制限です。ログには影響しません。"));
    auto* maxLinesLabel = new QLabel(Ui("最大行数"), page);
    maxLinesLabel->setBuddy(MaxLinesSEdit);
    grid->addWidget(maxLinesLabel, row, 0);
    grid->addWidget(MaxLinesSEdit, row, 1, 1, 2);
    grid->setRowStretch(row + 1, 1);
}

void TSettingForm::BuildHighlightPage(QWidget* page)
{
    auto* grid = new QGridLayout(page);
    ReserveWordMemo = new QPlainTextEdit(page);
    ReserveWordMemo->setPlainText(Ui("エラー\nｴﾗｰ\nError\nNG"));
    CommentEd = new QLineEdit(page);
    int row = 0;
    grid->addWidget(new QLabel(Ui("予約語"), page), row++, 0);
    grid->addWidget(ReserveWordMemo, row++, 0, 1, 4);
    grid->addWidget(new QLabel(Ui("コメント(1行)"), page), row, 0);
    grid->addWidget(CommentEd, row++, 1, 1, 3);
    for (size_t i = 0; i < Blocks.size(); ++i, ++row) {
        Blocks[i].start = new QLineEdit(page);
        Blocks[i].end = new QLineEdit(page);
        Blocks[i].color = new TColorBox(page);
        grid->addWidget(new QLabel(Ui("範囲ブロック") + QString::number(i + 1), page), row, 0);
        auto* line = new QHBoxLayout;
        line->addWidget(Blocks[i].start);
        line->addWidget(new QLabel(Ui("～"), page));
        line->addWidget(Blocks[i].end);
        grid->addLayout(line, row, 1, 1, 2);
        grid->addWidget(Blocks[i].color, row, 3);
    }
    grid->addWidget(new QLabel(Ui("定番設定の保存/読み込み"), page), row, 0, 1, 2);
    SaveAsEd2Btn = new QPushButton(Ui("保存"), page);
    LoadEd2Btn = new QPushButton(Ui("読み込み"), page);
    grid->addWidget(SaveAsEd2Btn, row, 2);
    grid->addWidget(LoadEd2Btn, row, 3);
    connect(SaveAsEd2Btn, &QPushButton::clicked, this, [this] { SaveAsEd2BtnClick(); });
    connect(LoadEd2Btn, &QPushButton::clicked, this, [this] { LoadEd2BtnClick(); });
}

int TSettingForm::Sheet() const
{
    return shownSheet_;
}

int TSettingForm::ShowModal()
{
    FormShow();
    if (QWidget* main = window_.DialogParent()) move(CentredOver(main->frameGeometry(), sizeHint()));
    const int result = Dialogs().Exec(*this);
    if (result != QDialog::Accepted) Restore();
    snapshot_.reset();
    return result == QDialog::Accepted ? 1 : 2;
}

void TSettingForm::FormShow()
{
    setResult(0);
    shownSheet_ = window_.ActiveSheet();
    snapshot_.reset();
    if (TEditorEx* pane = window_.SheetPane(shownSheet_)) {
        const THighlightRules& rules = pane->Model().HighlightRules();
        snapshot_ = std::make_unique<Snapshot>(
            Snapshot{rules.Commenter, rules.Brackets, pane->ReserveWordList(), pane->TabSpaceCount()});
    }
    ShowPort();
    const TerminalHost::Options options = window_.WindowOptions();
    EchoChkBox->setChecked(options.echo);
    CtrlCodeChkBox->setChecked(options.ctrlCode);
    AutoColOffChkBox->setChecked(options.autoColOff);
    ShowDisplayPages();
}

void TSettingForm::ShowPort()
{
    const std::shared_ptr<TCommXEx> port = window_.SheetPortShared(shownSheet_);
    const PortValues v = ReadPortValues(port.get());
    TmCBox->setCurrentIndex(v.hasPort ? 1 : 0);
    PortNoSed->setValue(v.Get("ComPortNo"));
    const QString rate = QString::number(v.Get("ComBitRate"));
    BitRateCbx->setCurrentIndex(BitRateCbx->findText(rate));
    BitRateCbx->setEditText(rate);
    CharSizeSed->setValue(v.Get("ComCharSize"));
    ParityBitCbx->setCurrentIndex(v.Get("ComParityBit"));
    StopBitCbx->setCurrentIndex(v.Get("ComStopBit"));
    FlowCtrlCbx->setCurrentIndex(v.Get("ComFlowCtrl"));
    XonCharSed->setValue(v.Get("ComXonChar"));
    XoffCharSed->setValue(v.Get("ComXoffChar"));
    BufLenRecSed->setValue(v.Get("ComBufLenRec"));
    TimeOutRecSed->setValue(v.Get("ComTimeOutRec"));
    BufLenTransSed->setValue(v.Get("ComBufLenTrans"));
    TimeOutTransSed->setValue(v.Get("ComTimeOutTrans"));
    DelayTransSed->setValue(v.Get("ComDelayTrans"));
    CrTypCBox->setCurrentIndex(v.Get("ComCrTypTrans"));
    CharCodeCBox->setCurrentIndex(v.Get("ComCharCode"));
    const int timeTyp = v.Get("ComTimeTyp");
    for (int i = 0; i < 4; ++i) TimeRB[size_t(i)]->setChecked(i == timeTyp);

    // The numbers the settings file maps and the ports present now, each with its device.
    PortListCbx->clear();
    std::map<int, std::pair<std::string, bool>> ports;
    const ProfileFile& ini = window_.Ini();
    const PortResolver resolve = PortsFromSettings(ini.Path());
    for (const std::string& key : ini.ReadSectionKeys("Ports"))
        if (key.size() > 3 && (key.rfind("COM", 0) == 0 || key.rfind("com", 0) == 0)) {
            const int n = std::atoi(key.c_str() + 3);
            if (n > 0) ports[n] = {resolve(n), QFileInfo::exists(QString::fromStdString(resolve(n)))};
        }
    try {
        for (const PresentPort& p : ListPresentPorts(ini)) ports[p.number] = {p.path, true};
    } catch (const std::exception&) {
    }
    PortListCbx->addItem(Ui("(一覧から選択)"), 0);
    for (const auto& [n, device] : ports)
        PortListCbx->addItem(QString("COM%1  %2%3").arg(n).arg(QString::fromStdString(device.first), device.second ? Ui("  ●") : QString()), n);
    PortDeviceCbx->clear();
    for (const SerialDevice& device : ListSerialDevices(deviceFolders_)) {
        const QString path = QString::fromStdString(device.path);
        PortDeviceCbx->addItem(device.target.empty() ? path : path + "  -> " + QString::fromStdString(device.target), path);
    }
    ShowPortPath();
}

void TSettingForm::ShowPortPath()
{
    const std::string path = PortsFromSettings(window_.Ini().Path())(PortNoSed->value());
    const bool present = QFileInfo::exists(QString::fromStdString(path));
    PortPathLbl->setText(QString::fromStdString(path) + (present ? Ui("  ●") : Ui("  (なし)")));
    PortDeviceCbx->setEditText(QString::fromStdString(path));
}

std::string TSettingForm::ChosenDevice() const
{
    const QString text = PortDeviceCbx->currentText().trimmed();
    // A list entry left as shown (with its "->" target) stands for its name.
    const int index = PortDeviceCbx->findText(text);
    return (index >= 0 ? PortDeviceCbx->itemData(index).toString() : text).toStdString();
}

void TSettingForm::ShowDisplayPages()
{
    TEditorEx* pane = window_.SheetPane(shownSheet_);
    if (!pane) return;
    const DisplayValues d = ReadDisplay(pane->Properties());
    FontCBox->clear();
    FontCBox->addItems(QFontDatabase::families());
    // A font this machine lacks stays selectable, so OK writes the same name back.
    const QString font = Cp932ToQString(d.fontName);
    if (FontCBox->findText(font) < 0) FontCBox->insertItem(0, font);
    FontCBox->setCurrentIndex(FontCBox->findText(font));
    FontSizeSEdit->setValue(d.fontSize);
    FontColorBox->SetColor(d.fontColor);
    BkColorBox->SetColor(d.bkColor);
    WrapByteSEdit->setValue(d.wrapByte);
    AutoColOffChkBox->setChecked(d.autoColOff);
    shownMaxLines_ = int(std::min<long long>(pane->Model().Lines().MaxLines(), MaxLinesSEdit->maximum()));
    MaxLinesSEdit->setValue(shownMaxLines_);
    for (size_t i = 0; i < ColorRows.size(); ++i) {
        const ColorRow& r = d.rows[i];
        ColorRows[i].on->setChecked(r.colorOn);
        ColorRows[i].color->SetColor(r.color);
        ColorRows[i].bkOn->setChecked(r.bkOn);
        ColorRows[i].bk->SetColor(r.bk);
        ColorRows[i].bold->setChecked(r.bold);
        ColorRows[i].italic->setChecked(r.italic);
    }
    for (size_t i = 0; i < MarkRows.size(); ++i) {
        MarkRows[i].on->setChecked(d.marks[i].visible);
        MarkRows[i].color->SetColor(d.marks[i].color);
    }
    std::array<std::uint32_t, 3> keep{};
    for (size_t i = 0; i < Blocks.size(); ++i) keep[i] = Blocks[i].color->Color();
    const HighlightValues h = ReadHighlightValues(pane->Commenter(), pane->Model().HighlightRules().Brackets,
                                                  pane->ReserveWordList(), keep);
    CommentEd->setText(Cp932ToQString(h.commenter));
    for (size_t i = 0; i < Blocks.size(); ++i) {
        Blocks[i].start->setText(Cp932ToQString(h.blocks[i].start));
        Blocks[i].end->setText(Cp932ToQString(h.blocks[i].end));
        Blocks[i].color->SetColor(h.blocks[i].color);
    }
    QStringList words;
    for (const std::string& w : h.words) words << Cp932ToQString(w);
    ReserveWordMemo->setPlainText(words.join('\n'));
}

bool TSettingForm::ReadPortPage(PortValues& v)
{
    v = ReadPortValues(window_.SheetPort(shownSheet_));
    v.hasPort = TmCBox->currentIndex() == 1;
    bool ok = false;
    const int rate = BitRateCbx->currentText().trimmed().toInt(&ok);
    if (v.hasPort && (!ok || rate <= 0)) {
        Message(Sjis("ビットレートが正しくありません。一覧から選ぶか数値を入力してください。"), MB_OK | MB_ICONERROR);
        PageControl->setCurrentIndex(0);
        BitRateCbx->setFocus();
        return false;
    }
    const std::string device = ChosenDevice();
    if (v.hasPort && (device.empty() || device[0] != '/' || device.find_first_of("\r\n") != std::string::npos)) {
        Message(Sjis("デバイスのパスが正しくありません。一覧から選ぶか / で始まるパスを入力してください。"), MB_OK | MB_ICONERROR);
        PageControl->setCurrentIndex(0);
        PortDeviceCbx->setFocus();
        return false;
    }
    v.Set("ComPortNo", PortNoSed->value());
    v.Set("ComBitRate", rate);
    v.Set("ComBufLenRec", BufLenRecSed->value());
    v.Set("ComBufLenTrans", BufLenTransSed->value());
    v.Set("ComTimeOutRec", TimeOutRecSed->value());
    v.Set("ComTimeOutTrans", TimeOutTransSed->value());
    v.Set("ComDelayTrans", DelayTransSed->value());
    v.Set("ComCrTypTrans", CrTypCBox->currentIndex());
    v.Set("ComCharCode", CharCodeCBox->currentIndex());
    v.Set("ComCharSize", CharSizeSed->value());
    v.Set("ComFlowCtrl", FlowCtrlCbx->currentIndex());
    v.Set("ComParityBit", ParityBitCbx->currentIndex());
    v.Set("ComStopBit", StopBitCbx->currentIndex());
    v.Set("ComXonChar", XonCharSed->value());
    v.Set("ComXoffChar", XoffCharSed->value());
    v.Set("ComTimeTyp", TimeRB[3]->isChecked() ? 3 : TimeRB[2]->isChecked() ? 2 : TimeRB[1]->isChecked() ? 1 : 0);
    if (const auto refused = CheckPortValues(v)) {
        Message(*refused, MB_OK | MB_ICONERROR);
        PageControl->setCurrentIndex(0);
        return false;
    }
    return true;
}

DisplayValues TSettingForm::ReadDisplayPage() const
{
    DisplayValues d;
    d.fontName = QStringToCp932(FontCBox->currentText());
    d.fontSize = FontSizeSEdit->value();
    d.fontColor = FontColorBox->Color();
    d.bkColor = BkColorBox->Color();
    d.wrapByte = WrapByteSEdit->value();
    for (size_t i = 0; i < ColorRows.size(); ++i) {
        const ColorRowControls& c = ColorRows[i];
        d.rows[i] = {c.on->isChecked(), c.color->Color(), c.bkOn->isChecked(), c.bk->Color(), c.bold->isChecked(),
                     c.italic->isChecked()};
    }
    for (size_t i = 0; i < MarkRows.size(); ++i) d.marks[i] = {MarkRows[i].on->isChecked(), MarkRows[i].color->Color()};
    d.autoColOff = AutoColOffChkBox->isChecked();
    return d;
}

HighlightValues TSettingForm::ReadHighlightPage() const
{
    HighlightValues h;
    h.commenter = QStringToCp932(CommentEd->text());
    for (size_t i = 0; i < Blocks.size(); ++i)
        h.blocks[i] = {QStringToCp932(Blocks[i].start->text()), QStringToCp932(Blocks[i].end->text()), Blocks[i].color->Color()};
    h.words = MemoLines(*ReserveWordMemo);
    return h;
}

void TSettingForm::ApplyHighlight(TEditorEx& pane, const HighlightValues& h)
{
    if (pane.Commenter() != h.commenter) pane.SetCommenter(h.commenter);
    const std::vector<TBracketItem> old = pane.Model().HighlightRules().Brackets;
    const std::vector<TBracketItem> brackets = MergeBrackets(h.blocks, old);
    if (brackets != old) {
        pane.ClearBrackets();
        for (const TBracketItem& b : brackets) pane.AddBracket(b.LeftBracket, b.RightBracket, b.Color);
    }
    if (pane.Model().HighlightRules().ReserveWords != h.words) pane.SetReserveWordList(h.words);
}

void TSettingForm::ApplyDisplayTo(TEditorEx& pane, const DisplayValues& d)
{
    const TEditorProps old = pane.Properties();
    const TEditorProps p = ApplyDisplay(old, d);
    if (p == old) return;
    // Each part only when it changed: a new wrap width or font re-lays the whole text out.
    if (!(p.Font == old.Font)) pane.SetFont(p.Font);
    if (p.Color != old.Color) pane.SetColor(p.Color);
    if (p.WordWrap != pane.WordWrap()) pane.SetWordWrap(p.WordWrap);
    if (p.WrapOption.WrapByte != pane.WrapByte()) pane.SetWrapByte(p.WrapOption.WrapByte);
    if (p.IsAutoColScroll != pane.IsAutoColScroll()) pane.SetIsAutoColScroll(p.IsAutoColScroll);
    if (!(p.View.Colors == old.View.Colors)) {
        TEditorView view = pane.View();
        view.Colors = p.View.Colors;
        pane.SetView(view);
    }
    if (!(p.Marks == old.Marks)) pane.SetMarks(p.Marks);
    if (!(p.ExMarks == old.ExMarks)) pane.SetExMarks(p.ExMarks);
}

bool TSettingForm::OkBtnClick()
{
    // Every value is checked before anything changes: a refused value leaves port and panes as they were.
    PortValues port;
    if (!ReadPortPage(port)) return false;
    const int sheet = Sheet();
    try {
        std::shared_ptr<TCommXEx> live = window_.SheetPortShared(sheet);
        if (!port.hasPort && live) {
            window_.RemoveSheetPort(sheet);
        } else if (port.hasPort) {
            // Only a device other than the number's present one is written, so an untouched page
            // leaves [Ports] as it was.
            const int number = port.Get("ComPortNo");
            const std::string device = ChosenDevice();
            if (device != PortsFromSettings(window_.Ini().Path())(number))
                window_.Ini().WriteString("Ports", "COM" + std::to_string(number), device);
            if (!live) live = window_.AddSheetPort(sheet);
            if (live) {
                // A worker inside Trans holds its own reference, so the object outlives this close.
                live->Close();
                ApplyPortValues(*live, port);
                live->Open();
            }
        }
    } catch (const std::exception& error) {
        window_.PortSettingsChanged(sheet);
        Message(error.what(), MB_OK | MB_ICONERROR);
        return false;
    }
    window_.PortSettingsChanged(sheet);

    const DisplayValues display = ReadDisplayPage();
    window_.SetWindowOptions({EchoChkBox->isChecked(), CtrlCodeChkBox->isChecked(), display.autoColOff});
    if (TEditorEx* t = window_.TemplatePane()) ApplyDisplayTo(*t, display);
    for (int k = window_.SheetCount() - 1; k >= 0; --k)
        if (TEditorEx* pane = window_.SheetPane(k)) ApplyDisplayTo(*pane, display);
    // Only a changed limit is applied, and then to every pane: sheets given their own in the
    // settings file keep it while the box is left alone.
    if (MaxLinesSEdit->value() != shownMaxLines_) {
        if (TEditorEx* t = window_.TemplatePane()) t->Model().Lines().SetMaxLines(MaxLinesSEdit->value());
        for (int k = window_.SheetCount() - 1; k >= 0; --k)
            if (TEditorEx* pane = window_.SheetPane(k)) pane->Model().Lines().SetMaxLines(MaxLinesSEdit->value());
    }
    if (TEditorEx* pane = window_.SheetPane(sheet)) ApplyHighlight(*pane, ReadHighlightPage());
    snapshot_.reset();
    try {
        window_.SaveSheetSettings(sheet);
    } catch (const std::exception& error) {
        Message(error.what(), MB_OK | MB_ICONERROR);
    }
    accept();
    return true;
}

void TSettingForm::CancelBtnClick()
{
    reject();
}

void TSettingForm::reject()
{
    Restore();
    QDialog::reject();
}

void TSettingForm::Restore()
{
    if (!snapshot_) return;
    TEditorEx* pane = window_.SheetPane(shownSheet_);
    if (!pane) return;
    SetHighlight(*pane, snapshot_->commenter, snapshot_->brackets, snapshot_->words, snapshot_->tabWidth);
}

void TSettingForm::SaveAsEd2BtnClick()
{
    const auto chosen = Dialogs().SaveFileName(this, PresetRequest());
    if (!chosen) return;
    TEditorEx* pane = window_.SheetPane(shownSheet_);
    if (!pane) return;
    ApplyHighlight(*pane, ReadHighlightPage());
    try {
        ProfileFile preset(chosen->toStdString());
        const std::string fileName = window_.SheetFile(shownSheet_);
        const THighlightRules& rules = pane->Model().HighlightRules();
        // An empty bracket list writes no Block key: an older one must not come back on loading.
        if (rules.Brackets.empty()) preset.DeleteKey(HighlightSection(fileName, shownSheet_), "Block");
        WriteHighlight(preset, fileName, shownSheet_, {rules.Commenter, rules.Brackets, pane->ReserveWordList(), 0});
    } catch (const std::exception& error) {
        Message(error.what(), MB_OK | MB_ICONERROR);
    }
}

void TSettingForm::LoadEd2BtnClick()
{
    const auto chosen = Dialogs().OpenFileName(this, PresetRequest());
    if (!chosen) return;
    TEditorEx* pane = window_.SheetPane(shownSheet_);
    if (!pane) return;
    try {
        const ProfileFile preset(chosen->toStdString());
        const TEditorEx* t = window_.TemplatePane();
        const HighlightSettings s = ReadHighlight(preset, window_.SheetFile(shownSheet_), shownSheet_,
                                                  t ? t->ReserveWordList() : std::vector<std::string>{});
        SetHighlight(*pane, s.commenter, s.brackets, s.reserveWords, s.tabWidth);
    } catch (const std::exception& error) {
        Message(error.what(), MB_OK | MB_ICONERROR);
        return;
    }
    ShowDisplayPages();
}

void TSettingForm::Message(const std::string& cp932Text, unsigned flags)
{
    Dialogs().MessageBox(this, Cp932ToQString(cp932Text), Ui("設定"), flags);
}

}  // namespace pek
