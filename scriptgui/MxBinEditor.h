#pragma once
// The binary editor grid: a thin scroll-area view on TMxBinEdit that paints only the rows in
// view and maps keys, the mouse and the clipboard onto the model.
#include "scriptgui/MxBinEdit.h"
#include "scriptgui/MxBinGeometry.h"
#include "scriptgui/MxShareMemStream.h"

#include <QAbstractScrollArea>
#include <QColor>

#include <functional>
#include <memory>
#include <string>

namespace pek {

// The clipboard form that carries the raw bytes of a copied range.
inline constexpr const char* MxBinaryMimeType = "application/x-CF_MXBINARY";
inline constexpr const char* MxSearchTextName = "MX_SHAREMEM_SEARCHTEXT";
inline constexpr int MxSearchTextSize = 260;

class TMxBinEditor : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TMxBinEditor(QWidget* parent = nullptr);
    ~TMxBinEditor() override;

    TMxBinEdit& Model() { return edit_; }
    std::int64_t FileSize() const { return edit_.Size(); }

    // Throws Exception when the backing file cannot be written; the old content then stays.
    void LoadFromMemory(const void* bytes, std::int64_t count);
    // The number of bytes copied (fewer than count when the content is shorter).
    std::int64_t SaveToMemory(void* buffer, std::int64_t count, bool keepHistory);

    const TMxBinGeometry& Geometry() const { return geo_; }
    void SetRowDigits(int digits);
    void SetHideOffsetHeader(bool on);
    void SetHideRowCount(bool on);
    void SetHideByteView(bool on);
    void SetColumnBytes(TMxColumnBytes bytes);
    void SetReadOnlyMode(bool on);
    void SetInsertMode(bool on);
    void SetInputMode(TMxInputMode mode);
    void SetCharCode(TMxCharCode code);

    struct TColors {
        QColor Caret = Qt::white, Address = QColor(0x00, 0x4E, 0x98), AddressBG = Qt::white;
        QColor CurrentLine = QColor(0x80, 0, 0), CurrentLineBG = Qt::white;
        QColor Select = Qt::black, SelectBG = QColor(0xCC, 0xEE, 0xFF), UnderLine = QColor(0, 0, 0xFF);
    };
    TColors Colors;
    bool ViewUnderLine = false;

    // The whole content's size in pixels (the frame not counted).
    QSize ContentSize() const;
    // The text other grids publish for searching, and its flag byte.
    const std::string& SearchText() const { return searchText_; }
    // Why the grid has no shared search text (empty when it has the block).
    const std::string& SearchBlockError() const { return searchBlockError_; }
    // Publishes a search text to every grid of the program.
    static void PublishSearchText(const std::string& text, std::uint8_t flag);

    std::function<void(TMxBinEditor&)> OnFileOpen;
    std::function<void(TMxBinEditor&)> OnFileOpenAnyInstance;
    std::function<void(TMxBinEditor&)> OnChangeSearchText;
    std::function<void(TMxBinEditor&)> OnChangeFileSize;
    std::function<void(TMxBinEditor&)> OnChangeReadOnlyMode;
    std::function<void(TMxBinEditor&)> OnChangeEditMode;
    std::function<void(TMxBinEditor&, std::size_t undoCount)> OnChangeUndo;
    std::function<void(TMxBinEditor&)> OnMoveCell;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool focusNextPrevChild(bool) override { return false; }  // the grid keeps Tab

private:
    void Relayout();
    void UpdateScrollBars();
    void EnsureCursorVisible();
    void ReadSearchText();
    int VisibleRows() const;
    std::int64_t TopRow() const;
    TMxCell CellAt(QPoint pos) const;
    void AfterEdit(std::int64_t oldSize);
    void CopyToClipboard(bool cut);
    void PasteFromClipboard();

    TMxBinEdit edit_;
    TMxBinGeometry geo_;
    std::unique_ptr<TMxShareMemStream> searchBlock_;
    std::string searchText_;
    std::string searchBlockError_;
    std::uint8_t searchFlag_ = 0;
    bool dragging_ = false;
};

}  // namespace pek
