#include "About.h"

#include <QPainter>

#include "ui_About.h"

namespace velkor {

QPixmap ProgramPicture(int size) {
  QPixmap picture(size, size);
  picture.fill(Qt::transparent);
  QPainter painter(&picture);
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;
  // A banknote, slightly turned, with a "Z" in its oval.
  painter.translate(s / 2, s / 2);
  painter.rotate(-12);
  const QRectF note(-s * 0.46, -s * 0.26, s * 0.92, s * 0.52);
  painter.setPen(QPen(QColor(20, 90, 40), s / 32));
  painter.setBrush(QColor(150, 210, 150));
  painter.drawRoundedRect(note, s / 20, s / 20);
  painter.setBrush(QColor(230, 245, 225));
  painter.drawEllipse(QPointF(0, 0), s * 0.17, s * 0.17);
  QFont font = painter.font();
  font.setBold(true);
  font.setPixelSize(static_cast<int>(s * 0.22));
  painter.setFont(font);
  painter.drawText(QRectF(-s * 0.17, -s * 0.17, s * 0.34, s * 0.34), Qt::AlignCenter,
                   QStringLiteral("Z"));
  return picture;
}

TDlgAbout::TDlgAbout(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      ui(std::make_unique<Ui::TDlgAbout>()) {
  ui->setupUi(this);
  ui->ProgramIcon->setPixmap(ProgramPicture(72));
  setFixedSize(385, 217);
}

TDlgAbout::~TDlgAbout() = default;

}  // namespace velkor
