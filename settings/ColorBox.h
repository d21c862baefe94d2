#pragma once
// A colour chooser button: shows its colour (0x00BBGGRR) and asks for a new one with the colour
// dialog, through the dialog service.
#include <QToolButton>

#include <cstdint>

namespace pek {

class TColorBox : public QToolButton {
    Q_OBJECT
public:
    explicit TColorBox(QWidget* parent = nullptr);
    std::uint32_t Color() const { return color_; }
    void SetColor(std::uint32_t color);

private:
    void Choose();
    std::uint32_t color_ = 0;
};

// Between 0x00BBGGRR and Qt's colours.
QColor ToQColor(std::uint32_t color);
std::uint32_t FromQColor(const QColor& color);

}  // namespace pek
