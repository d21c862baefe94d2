#pragma once
// One source tab of the debugger window: a Lua editor on a page of the window's tab widget, its file
// name and the row marks of the current line and the breakpoints.
#include "editor/EditorProps.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QTabWidget;
class QWidget;

namespace pek {

class TBreakPoints;
class TEditorEx;

// The look of a Lua source editor: keywords, comment and string colours, line numbers, row marks.
TEditorProps LuaSourceProperties();

// Row marks of a source editor.
constexpr std::uint16_t kCurrentLineMark = 4096;
constexpr std::uint16_t kBreakPointMark = 8192;

// One source tab.
class TEditInfo {
public:
    TEditInfo(QTabWidget& pages, const TBreakPoints& breakPoints, const TEditorProps& props);
    ~TEditInfo();
    TEditInfo(const TEditInfo&) = delete;
    TEditInfo& operator=(const TEditInfo&) = delete;

    // Loading another file than the tab's empties the whole breakpoint list (of every file).
    void LoadFromFile(const std::string& name, TBreakPoints& breakPoints);  // throws Exception
    void SaveToFile(const std::string& name);                                // throws Exception
    const std::string& FileName() const { return fileName_; }
    void SetFileName(const std::string& name);
    void SetRowMark(int row, std::uint16_t mark);
    void RestoreRowMark(int row);
    void RestoreAllMarks();
    void ScrollIntoView(int row);
    void ClearUndo();
    TEditorEx& Editor() const { return *editor_; }
    QWidget* Sheet() const { return sheet_.get(); }

    std::function<void()> OnFileNameChange;

private:
    const TBreakPoints& breakPoints_;
    std::unique_ptr<QWidget> sheet_;
    TEditorEx* editor_;  // owned by the sheet
    std::string fileName_;
};

}  // namespace pek
