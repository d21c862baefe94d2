#include "settings/ColorBox.h"

#include "platform/DialogService.h"

#include <QColorDialog>
#include <QPixmap>

namespace pek {

QColor ToQColor(std::uint32_t c)
{
    return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
}

std::uint32_t FromQColor(const QColor& c)
{
    return std::uint32_t(c.red()) | (std::uint32_t(c.green()) << 8) | (std::uint32_t(c.blue()) << 16);
}

TColorBox::TColorBox(QWidget* parent) : QToolButton(parent)
{
    setIconSize(QSize(40, 12));
    SetColor(0);
    connect(this, &QToolButton::clicked, this, [this] { Choose(); });
}

void TColorBox::SetColor(std::uint32_t color)
{
    color_ = color & 0x00FFFFFFu;
    QPixmap swatch(iconSize());
    swatch.fill(ToQColor(color_));
    setIcon(QIcon(swatch));
}

void TColorBox::Choose()
{
    QColorDialog dialog(ToQColor(color_), window());
    if (Dialogs().Exec(dialog) == QDialog::Accepted) SetColor(FromQColor(dialog.selectedColor()));
}

}  // namespace pek
