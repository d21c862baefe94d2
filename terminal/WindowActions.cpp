#include "terminal/WindowActions.h"

#include "platform/CodePage.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

namespace pek {

const std::vector<ActionEntry>& WindowActionTable()
{
    static const std::vector<ActionEntry> table{
        {"FileOpenComAct", "新しくポートを開く(&N)...", "", "ファイル(&F)", false, false},
        {"FileOpenAct", "ファイルを開く(&O)...", "Ctrl+O", "ファイル(&F)", true, false},
        {"FileCloseToNewAct", "ファイルを閉じて初期化(&C)", "", "ファイル(&F)", false, false},
        {"FileLoadAct", "ファイルをロードする(&L)...", "Ctrl+L", "ファイル(&F)", false, false},
        {"FileSaveAct", "上書き保存(&S)", "Ctrl+S", "ファイル(&F)", false, false},
        {"FileSaveAsAct", "名前を付けて保存(&A)...", "", "ファイル(&F)", false, false},
        {"FileLogAct", "ログ...", "Ctrl+Shift+L", "ファイル(&F)", false, false},
        {"FileCloseComAct", "ポートのみ閉じる", "", "ファイル(&F)", true, false},
        {"FileCloseAct", "閉じる", "", "ファイル(&F)", false, false},
        {"FileQuitAct", "終了(&X)", "", "ファイル(&F)", false, false},
        {"EditUndoAct", "元に戻す(&U)", "", "編集(&E)", false, false},
        {"EditRedoAct", "やり直し(&R)", "", "編集(&E)", false, false},
        {"EditCutAct", "切り取り(&T)", "", "編集(&E)", true, false},
        {"EditCopyAct", "コピー(&C)", "", "編集(&E)", false, false},
        {"EdtiPasteAct", "貼り付け(&P)", "", "編集(&E)", false, false},
        {"EditSelectAllAct", "すべて選択(&A)", "", "編集(&E)", false, false},
        {"EditClearAct", "クリア(&C)", "", "編集(&E)", false, false},
        {"EditReadOnlyAct", "リードオンリー", "", "編集(&E)", true, true},
        {"SrchSearchAct", "検索(&F)", "Ctrl+F", "検索(&S)", false, false},
        {"SrchForwardAct", "次を検索(&N)", "F3", "検索(&S)", false, false},
        {"SrchBackwardAct", "前を検索(&P)", "Shift+F3", "検索(&S)", false, false},
        {"ViewStayOnTopAct", "最前面表示", "", "表示(&V)", false, true},
        {"ViewSplitAct", "分割", "", "表示(&V)", true, true},
        {"ViewHexAct", "16進表示(&H)", "", "表示(&V)", false, true},
        {"ViewOtherWinAct", "別の窓を開く", "", "表示(&V)", false, false},
        {"ViewDebugger", "デバッガー表示(&D)", "", "表示(&V)", true, false},
        {"ViewStopMcrAct", "マクロ停止窓表示", "", "表示(&V)", false, false},
        {"ViewLuaGuiAct", "Lua GUI表示(&L)", "", "表示(&V)", false, false},
        {"RunRunCmdAct", "コマンド実行(&R)", "", "実行(&R)", false, false},
        {"RunAsciiCodeAct", "ASCIIコード送信", "", "実行(&R)", false, false},
        {"RunHexSendAct", "16進送信(&X)", "", "実行(&R)", false, true},
        {"RunCallCmdAct", "呼び出し(&C)", "", "実行(&R)", false, false},
        {"OptSettingAct", "設定(&S)", "", "オプション(&O)", false, false},
        {"OptFncSettingAct", "呼び出し関数設定(&C)", "", "オプション(&O)", false, false},
        {"HelpVerAct", "バージョン情報(&V)", "", "ヘルプ(&H)", false, false},
    };
    return table;
}

WindowActions::WindowActions(QObject* owner) : owner_(owner)
{
    for (const ActionEntry& entry : WindowActionTable()) {
        auto* action = new QAction(Ui(entry.caption), owner_);
        action->setObjectName(entry.name);
        if (*entry.shortcut) action->setShortcut(QKeySequence(entry.shortcut));
        action->setCheckable(entry.checkable);
        action->setEnabled(false);
        actions_.push_back(action);
    }
}

QAction* WindowActions::Find(std::string_view name) const
{
    for (QAction* action : actions_)
        if (action->objectName().toStdString() == name) return action;
    return nullptr;
}

QAction* WindowActions::Attach(std::string_view name, std::function<void()> handler)
{
    QAction* action = Find(name);
    if (!action) return nullptr;
    QObject::connect(action, &QAction::triggered, owner_, [handler = std::move(handler)] { handler(); });
    action->setEnabled(true);
    return action;
}

void WindowActions::FillMenuBar(QMenuBar& bar) const
{
    QMenu* menu = nullptr;
    const char* current = nullptr;
    const auto& table = WindowActionTable();
    for (size_t i = 0; i < table.size(); ++i) {
        const ActionEntry& entry = table[i];
        if (!current || std::string_view(current) != entry.menu) {
            menu = bar.addMenu(Ui(entry.menu));
            current = entry.menu;
        } else if (entry.separatorBefore) {
            menu->addSeparator();
        }
        menu->addAction(actions_[i]);
    }
}

}  // namespace pek
