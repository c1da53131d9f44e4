#include "framework/ui/Artwork.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>

#include "framework/ui/Commands.h"

namespace quorrel {

namespace {

const QColor kFolder(232, 190, 60);
const QColor kFolderEdge(150, 110, 20);
const QColor kPage(255, 255, 255);
const QColor kEdge(90, 90, 90);
const QColor kBlue(0, 0, 255);
const QColor kMagenta(255, 0, 255);

QPixmap Canvas(int w, int h) {
    QPixmap pixmap(w, h);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

void Letter(QPainter& p, const QRect& box, const QString& text, const QColor& colour,
            int pixelSize = 9) {
    QFont font(QStringLiteral("Sans"));
    font.setPixelSize(pixelSize);
    font.setBold(true);
    p.setFont(font);
    p.setPen(colour);
    p.drawText(box, Qt::AlignCenter, text);
}

void Folder(QPainter& p, bool open) {
    p.setPen(kFolderEdge);
    p.setBrush(kFolder.darker(110));
    p.drawRect(1, 3, 6, 2);
    p.drawRect(1, 4, 13, 10);
    if (open) {
        QPainterPath flap;
        flap.moveTo(3, 7);
        flap.lineTo(15, 7);
        flap.lineTo(13, 14);
        flap.lineTo(1, 14);
        flap.closeSubpath();
        p.setBrush(kFolder.lighter(115));
        p.drawPath(flap);
    }
}

void Page(QPainter& p, int w, int h) {
    p.setPen(kEdge);
    p.setBrush(kPage);
    QPolygon page(
        {QPoint(3, 1), QPoint(w - 6, 1), QPoint(w - 3, 4), QPoint(w - 3, h - 2), QPoint(3, h - 2)});
    p.drawPolygon(page);
}

}  // namespace

QPixmap TreeImage(int index) {
    QPixmap pixmap = Canvas(16, 16);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing, false);
    switch (index) {
        case 0:  // briefcase: the document element
            p.setPen(QColor(90, 50, 10));
            p.setBrush(Qt::NoBrush);
            p.drawRect(5, 2, 5, 2);
            p.setBrush(QColor(160, 95, 35));
            p.drawRect(1, 4, 13, 10);
            p.drawLine(1, 8, 14, 8);
            break;
        case 1:  // closed folder: element with element children
            Folder(p, false);
            break;
        case 2:  // folder marked E: element without element children
            Folder(p, false);
            Letter(p, QRect(1, 4, 14, 11), QStringLiteral("E"), kBlue);
            break;
        case 3: {  // magenta diamond: attribute
            p.setRenderHint(QPainter::Antialiasing, true);
            p.setPen(kMagenta.darker(140));
            p.setBrush(kMagenta);
            p.drawPolygon(QPolygon({QPoint(8, 2), QPoint(14, 8), QPoint(8, 14), QPoint(2, 8)}));
            break;
        }
        case 4:  // page marked T: text
            Page(p, 16, 16);
            Letter(p, QRect(3, 2, 10, 13), QStringLiteral("T"), Qt::black);
            break;
        case 5:  // exclamation mark and dash: comment
            Letter(p, QRect(0, 1, 9, 14), QStringLiteral("!"), QColor(0, 128, 0), 13);
            p.setPen(QPen(QColor(0, 128, 0), 2));
            p.drawLine(9, 9, 14, 9);
            break;
        case 6:  // open folder: expanded element with element children
            Folder(p, true);
            break;
        case 7:  // page marked C: CDATA
            Page(p, 16, 16);
            Letter(p, QRect(3, 2, 10, 13), QStringLiteral("C"), QColor(160, 0, 0));
            break;
        default:
            break;
    }
    return pixmap;
}

QIcon ToolbarIcon(int command) {
    QPixmap pixmap = Canvas(16, 15);
    QPainter p(&pixmap);
    switch (command) {
        case ID_FILE_NEW:
            Page(p, 16, 15);
            break;
        case ID_FILE_OPEN:
            Folder(p, true);
            break;
        case ID_FILE_SAVE:
            p.setPen(kEdge);
            p.setBrush(QColor(40, 70, 160));
            p.drawRect(1, 1, 13, 12);
            p.setBrush(Qt::white);
            p.drawRect(4, 1, 7, 5);
            p.setBrush(QColor(200, 200, 200));
            p.drawRect(4, 9, 7, 4);
            break;
        case ID_EDIT_CUT:
            p.setRenderHint(QPainter::Antialiasing, true);
            p.setPen(QPen(kEdge, 1.5));
            p.drawLine(4, 1, 10, 9);
            p.drawLine(11, 1, 5, 9);
            p.drawEllipse(QPointF(4, 11.5), 2.5, 2.5);
            p.drawEllipse(QPointF(11, 11.5), 2.5, 2.5);
            break;
        case ID_EDIT_COPY:
            p.setPen(kEdge);
            p.setBrush(kPage);
            p.drawRect(1, 1, 8, 9);
            p.drawRect(6, 4, 8, 9);
            break;
        case ID_EDIT_PASTE:
            p.setPen(kEdge);
            p.setBrush(QColor(170, 120, 60));
            p.drawRect(1, 2, 10, 12);
            p.setBrush(kPage);
            p.drawRect(6, 5, 8, 9);
            p.setBrush(QColor(120, 120, 120));
            p.drawRect(4, 1, 4, 2);
            break;
        case ID_FILE_PRINT:
            p.setPen(kEdge);
            p.setBrush(kPage);
            p.drawRect(4, 1, 8, 5);
            p.setBrush(QColor(180, 180, 180));
            p.drawRect(1, 6, 14, 6);
            p.setBrush(kPage);
            p.drawRect(4, 10, 8, 4);
            break;
        case ID_SWITCH_TO_SOURCE:
            Page(p, 16, 15);
            Letter(p, QRect(2, 1, 12, 13), QStringLiteral("<>"), kBlue, 8);
            break;
        case ID_SWITCH_TO_TREE:
            p.setPen(kEdge);
            p.drawLine(3, 3, 3, 12);
            p.drawLine(3, 7, 8, 7);
            p.drawLine(3, 12, 8, 12);
            p.setBrush(kFolder);
            p.drawRect(1, 1, 4, 3);
            p.drawRect(8, 5, 5, 3);
            p.drawRect(8, 10, 5, 3);
            break;
        case ID_OPEN_URL:
            p.setRenderHint(QPainter::Antialiasing, true);
            p.setPen(QColor(0, 90, 160));
            p.setBrush(QColor(150, 200, 240));
            p.drawEllipse(QRectF(1.5, 1, 12, 12));
            p.drawLine(QPointF(1.5, 7), QPointF(13.5, 7));
            p.drawEllipse(QRectF(5, 1, 5, 12));
            break;
        case ID_VALIDATE_NO:
            Letter(p, QRect(0, 0, 16, 15), QStringLiteral("V"), QColor(160, 0, 0), 13);
            break;
        case ID_PARSE:
            Letter(p, QRect(0, 0, 16, 15), QStringLiteral("P"), QColor(0, 110, 0), 13);
            break;
        case ID_GET_XML_DATA:
            p.setRenderHint(QPainter::Antialiasing, true);
            p.setPen(kEdge);
            p.setBrush(QColor(200, 200, 120));
            p.drawRect(QRectF(2.5, 3, 11, 9));
            p.drawEllipse(QRectF(2.5, 10, 11, 4));
            p.drawEllipse(QRectF(2.5, 1, 11, 4));
            break;
        case ID_FIND_XPATH:
            Letter(p, QRect(0, 0, 16, 15), QStringLiteral("X"), QColor(160, 60, 0), 13);
            p.setPen(QPen(kEdge, 1.5));
            p.drawLine(10, 11, 15, 14);
            break;
        case ID_HELP_TOPICS:
            Letter(p, QRect(0, 0, 16, 15), QStringLiteral("?"), kBlue, 13);
            break;
        default:
            return {};
    }
    p.end();
    return QIcon(pixmap);
}

QPixmap AppPixmap(int size) {
    QPixmap pixmap = Canvas(size, size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.scale(size / 32.0, size / 32.0);
    p.setPen(QPen(kEdge, 1.2));
    p.setBrush(kPage);
    p.drawPolygon(QPolygonF(
        {QPointF(5, 2), QPointF(21, 2), QPointF(27, 8), QPointF(27, 30), QPointF(5, 30)}));
    QFont font(QStringLiteral("Sans"));
    font.setPixelSize(11);
    font.setBold(true);
    p.setFont(font);
    p.setPen(kBlue);
    p.drawText(QRectF(5, 6, 22, 12), Qt::AlignCenter, QStringLiteral("<Q>"));
    p.setPen(QPen(kMagenta, 2));
    p.drawLine(QPointF(9, 22), QPointF(23, 22));
    p.drawLine(QPointF(9, 26), QPointF(19, 26));
    return pixmap;
}

QIcon AppIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128}) {
        icon.addPixmap(AppPixmap(size));
    }
    return icon;
}

}  // namespace quorrel
