#include "gui/common/Pictures.h"

#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QPolygonF>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <initializer_list>
#include <map>
#include <numbers>
#include <utility>
#include <vector>

// Every picture is drawn in its nominal pixel grid: pixel (x, y) covers [x, x+1) x [y, y+1).
// Straight edges lie on whole coordinates and outlines are one unit wide, drawn inside the shape
// they belong to (convex shapes) or around it (the others), so a picture drawn at twice its size
// keeps sharp edges. Curves and slants are antialiased.

namespace pictures {
namespace {

using Painting = std::function<void(QPainter&)>;

// The palette.
const QColor kInk(0x3b, 0x46, 0x52);
const QColor kPaper(0xff, 0xff, 0xff);
const QColor kPaperLine(0x8c, 0x98, 0xa5);
const QColor kPaperFold(0xdd, 0xe3, 0xea);
const QColor kGreyBorder(0x8f, 0x98, 0xa2);
const QColor kGreyPaper(0xd9, 0xdd, 0xe2);
const QColor kGreyLine(0xae, 0xb5, 0xbd);
const QColor kGreen(0x3a, 0xa3, 0x4d);
const QColor kGreenDark(0x1f, 0x6e, 0x35);
const QColor kAmber(0xf0, 0xa9, 0x1c);
const QColor kAmberDark(0x9c, 0x66, 0x06);
const QColor kRed(0xd9, 0x41, 0x3a);
const QColor kRedDark(0x8e, 0x22, 0x1d);
const QColor kBlue(0x2f, 0x76, 0xc9);
const QColor kBlueDark(0x1b, 0x4a, 0x86);
const QColor kBlueLight(0xa6, 0xcb, 0xf2);
const QColor kSteel(0x8a, 0x96, 0xa4);
const QColor kSteelDark(0x4a, 0x56, 0x64);
const QColor kSteelLight(0xc9, 0xd1, 0xda);
const QColor kYellow(0xf5, 0xc5, 0x4f);
const QColor kYellowDeep(0xe0, 0xa8, 0x35);
const QColor kYellowDark(0xa8, 0x7a, 0x1a);
const QColor kYellowLight(0xfc, 0xe6, 0xa6);
const QColor kBrown(0xa8, 0x6d, 0x3e);
const QColor kBrownDark(0x6b, 0x40, 0x20);
const QColor kDoorway(0x2a, 0x31, 0x39);

// ---- drawing helpers -------------------------------------------------------------------------

QImage render(int size, int scale, const Painting& paint)
{
    QImage image(size * scale, size * scale, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.scale(scale, scale);
    paint(p);
    return image;
}

QPointF intersect(const QPointF& p1, const QPointF& d1, const QPointF& p2, const QPointF& d2)
{
    const qreal det = d1.x() * d2.y() - d1.y() * d2.x();
    if (std::abs(det) < 1e-9)
        return p2;
    const QPointF w = p2 - p1;
    const qreal t = (w.x() * d2.y() - w.y() * d2.x()) / det;
    return p1 + t * d1;
}

// A convex polygon moved inwards by `d` along every edge; either winding.
QPolygonF inset(const QPolygonF& poly, qreal d)
{
    const qsizetype n = poly.size();
    qreal area = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const QPointF a = poly.at(i);
        const QPointF b = poly.at((i + 1) % n);
        area += a.x() * b.y() - b.x() * a.y();
    }
    const qreal side = area > 0 ? 1 : -1;
    std::vector<std::pair<QPointF, QPointF>> lines; // point on the moved edge, direction
    lines.reserve(size_t(n));
    for (qsizetype i = 0; i < n; ++i) {
        const QPointF a = poly.at(i);
        const QPointF dir = poly.at((i + 1) % n) - a;
        const qreal len = std::hypot(dir.x(), dir.y());
        const QPointF normal = QPointF(-dir.y(), dir.x()) * (side * d / len);
        lines.emplace_back(a + normal, dir);
    }
    QPolygonF out;
    for (qsizetype i = 0; i < n; ++i) {
        const auto& prev = lines.at(size_t((i + n - 1) % n));
        const auto& cur = lines.at(size_t(i));
        out << intersect(prev.first, prev.second, cur.first, cur.second);
    }
    return out;
}

// A rectangle with a one-unit border inside it.
void box(QPainter& p, const QRectF& r, const QColor& border, const QColor& fill)
{
    p.fillRect(r, border);
    p.fillRect(r.adjusted(1, 1, -1, -1), fill);
}

// A convex polygon with a one-unit border inside it.
void convex(QPainter& p, const QPolygonF& poly, const QColor& border, const QColor& fill)
{
    p.setPen(Qt::NoPen);
    p.setBrush(border);
    p.drawPolygon(poly);
    p.setBrush(fill);
    p.drawPolygon(inset(poly, 1));
}

// Any shape with a one-unit border around it.
void outlined(QPainter& p, const QPainterPath& path, const QColor& border, const QColor& fill)
{
    QPainterPathStroker stroker;
    stroker.setWidth(2);
    stroker.setJoinStyle(Qt::MiterJoin);
    stroker.setMiterLimit(2);
    p.fillPath(path.united(stroker.createStroke(path)), border);
    p.fillPath(path, fill);
}

QPainterPath polygonPath(const QPolygonF& poly)
{
    QPainterPath path;
    path.addPolygon(poly);
    path.closeSubpath();
    return path;
}

// A disc of radius r with a one-unit border inside it.
void disc(QPainter& p, const QPointF& c, qreal r, const QColor& border, const QColor& fill)
{
    p.setPen(Qt::NoPen);
    p.setBrush(border);
    p.drawEllipse(c, r, r);
    p.setBrush(fill);
    p.drawEllipse(c, r - 1, r - 1);
}

// A line with round ends.
void strokeLine(QPainter& p, const QPointF& a, const QPointF& b, qreal width, const QColor& c)
{
    p.setPen(QPen(c, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(a, b);
    p.setPen(Qt::NoPen);
}

struct PageLook
{
    QColor border;
    QColor fill;
    QColor fold;
    QColor line;
};

const PageLook kWhitePage{kInk, kPaper, kPaperFold, kPaperLine};
const PageLook kGreyPage{kGreyBorder, kGreyPaper, kGreyPaper, kGreyLine};

// A sheet with its top right corner folded over by `fold` pixels, drawn pixel by pixel so that the
// fold's diagonal stays a clean staircase. Each line of text is given as (width, row below the top
// edge) and starts two pixels in from the left edge.
void page(QPainter& p, const QRect& r, int fold, const PageLook& look,
          std::initializer_list<QPoint> lines = {})
{
    const int left = r.left();
    const int top = r.top();
    const int right = r.left() + r.width(); // one past the last column
    const int bottom = r.top() + r.height();
    const int crease = right - fold - 1; // column of the crease; the diagonal starts there
    for (int y = top; y < bottom; ++y) {
        const int k = y - top;
        const int end = k < fold ? crease + k : right - 1; // last column of this row
        p.fillRect(QRect(left, y, end - left + 1, 1), look.fill);
        if (k < fold) {
            p.fillRect(QRect(crease, y, 1, 1), look.border);
            p.fillRect(QRect(crease + 1, y, k - 1 > 0 ? k - 1 : 0, 1), look.fold);
        }
        if (k <= fold)
            p.fillRect(QRect(end, y, 1, 1), look.border);
    }
    p.fillRect(QRect(left, top, crease - left, 1), look.border);
    p.fillRect(QRect(left, top, 1, r.height()), look.border);
    p.fillRect(QRect(left, bottom - 1, r.width(), 1), look.border);
    p.fillRect(QRect(right - 1, top + fold, 1, r.height() - fold), look.border);
    p.fillRect(QRect(crease, top + fold, fold + 1, 1), look.border);
    for (const QPoint& line : lines)
        p.fillRect(QRect(left + 2, top + line.y(), line.x(), 1), look.line);
}

// ---- media symbols, shared by the tool bar (21) and the tray (16) -----------------------------

void play(QPainter& p, int size)
{
    const QRectF r = size == kToolSize ? QRectF(6, 3, 11, 15) : QRectF(4, 2, 10, 12);
    convex(p, {r.topLeft(), QPointF(r.right(), r.center().y()), r.bottomLeft()}, kGreenDark,
           kGreen);
}

void pauseBars(QPainter& p, int size)
{
    if (size == kToolSize) {
        box(p, QRectF(5, 4, 4, 13), kAmberDark, kAmber);
        box(p, QRectF(12, 4, 4, 13), kAmberDark, kAmber);
    } else {
        box(p, QRectF(3, 2, 4, 12), kAmberDark, kAmber);
        box(p, QRectF(9, 2, 4, 12), kAmberDark, kAmber);
    }
}

void stop(QPainter& p, int size)
{
    const QRectF r = size == kToolSize ? QRectF(5, 5, 11, 11) : QRectF(3, 3, 10, 10);
    box(p, r, kRedDark, kRed);
}

// ---- tool bar pictures, 21 x 21 ----------------------------------------------------------------

void setup(QPainter& p)
{
    const QPointF c(10.5, 10.5);
    const qreal outer = 9.3;
    const qreal root = 6.8;
    QPolygonF teeth;
    for (int i = 0; i < 8; ++i) {
        const qreal a = i * 45.0;
        for (const auto& [radius, da] : {std::pair{root, -15.0}, std::pair{outer, -9.0},
                                         std::pair{outer, 9.0}, std::pair{root, 15.0}}) {
            const qreal rad = (a + da) * std::numbers::pi / 180.0;
            teeth << c + QPointF(std::cos(rad), std::sin(rad)) * radius;
        }
    }
    QPainterPath gear = polygonPath(teeth);
    QPainterPath hole;
    hole.addEllipse(c, 2.6, 2.6);
    gear = gear.subtracted(hole);
    p.setPen(QPen(kSteelDark, 1, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    p.setBrush(kSteel);
    p.drawPath(gear);
    p.setPen(QPen(kSteelLight, 1));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(c, 4.6, 4.6);
    p.setPen(Qt::NoPen);
}

// A question mark on a disc: a hook stroked from a bow, a short stem and a dot.
void help(QPainter& p)
{
    const QPointF c(10.5, 10.5);
    disc(p, c, 9.5, kBlueDark, kBlue);
    QPainterPath mark;
    const QRectF bow(7.3, 4.4, 6.4, 6.0);
    mark.arcMoveTo(bow, 165);
    mark.arcTo(bow, 165, -215);
    mark.lineTo(10.5, 11.6);
    mark.lineTo(10.5, 12.8);
    p.strokePath(mark, QPen(kPaper, 2.4, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
    p.setBrush(kPaper);
    p.drawEllipse(QPointF(10.5, 15.6), 1.45, 1.45);
}

void exitDoor(QPainter& p)
{
    box(p, QRectF(3, 2, 10, 18), kBrownDark, kDoorway);
    // The door stands open towards the viewer, so its free edge looks taller.
    convex(p, {QPointF(3, 2), QPointF(8, 1), QPointF(8, 21), QPointF(3, 20)}, kBrownDark, kBrown);
    p.fillRect(QRectF(6, 11, 1, 2), kYellowLight);
    const QPolygonF arrow{QPointF(10, 9),    QPointF(15, 9),  QPointF(15, 5.5), QPointF(19.5, 10.5),
                          QPointF(15, 15.5), QPointF(15, 12), QPointF(10, 12)};
    outlined(p, polygonPath(arrow), kRedDark, kRed);
}

// An open book: two pages with lines on a cover.
void openBook(QPainter& p, int size)
{
    if (size == kToolSize) {
        box(p, QRectF(1, 5, 19, 14), kBlueDark, kBlue);
        box(p, QRectF(2, 3, 9, 14), kInk, kPaper);
        box(p, QRectF(10, 3, 9, 14), kInk, kPaper);
        for (int y = 6; y <= 14; y += 2) {
            p.fillRect(QRectF(4, y, y == 14 ? 3 : 5, 1), kPaperLine);
            p.fillRect(QRectF(12, y, y == 10 ? 3 : 5, 1), kPaperLine);
        }
    } else {
        box(p, QRectF(0, 4, 16, 11), kBlueDark, kBlue);
        box(p, QRectF(1, 2, 7, 11), kInk, kPaper);
        box(p, QRectF(8, 2, 7, 11), kInk, kPaper);
        for (int y = 5; y <= 9; y += 2) {
            p.fillRect(QRectF(3, y, 3, 1), kPaperLine);
            p.fillRect(QRectF(10, y, 3, 1), kPaperLine);
        }
    }
}

void webUpdate(QPainter& p)
{
    const QPointF c(9.5, 9.5);
    const qreal r = 8.5;
    p.setBrush(kBlue);
    p.drawEllipse(c, r, r);
    p.save();
    QPainterPath globe;
    globe.addEllipse(c, r - 0.5, r - 0.5);
    p.setClipPath(globe);
    p.setPen(QPen(kBlueLight, 1));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(c, 3.5, r);
    p.setPen(Qt::NoPen);
    p.fillRect(QRectF(9, 1, 1, 17), kBlueLight);
    p.fillRect(QRectF(1, 9, 17, 1), kBlueLight);
    p.fillRect(QRectF(1, 5, 17, 1), kBlueLight);
    p.fillRect(QRectF(1, 13, 17, 1), kBlueLight);
    p.restore();
    p.setPen(QPen(kBlueDark, 1));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(c, r - 0.5, r - 0.5);
    p.setPen(Qt::NoPen);
    const QPolygonF arrow{QPointF(15, 10),     QPointF(18, 10), QPointF(18, 15), QPointF(20, 15),
                          QPointF(16.5, 19.5), QPointF(13, 15), QPointF(15, 15)};
    outlined(p, polygonPath(arrow), kGreenDark, kGreen);
}

void about(QPainter& p)
{
    const QPointF c(10.5, 10.5);
    disc(p, c, 9.5, kBlueDark, kBlue);
    p.setBrush(kPaper);
    p.drawEllipse(QPointF(10.5, 5.9), 1.7, 1.7);
    p.fillRect(QRectF(9, 9, 3, 8), kPaper);
}

void drawTool(QPainter& p, Tool t)
{
    switch (t) {
    case Tool::Play:
        return play(p, kToolSize);
    case Tool::Pause:
        return pauseBars(p, kToolSize);
    case Tool::Stop:
        return stop(p, kToolSize);
    case Tool::Setup:
        return setup(p);
    case Tool::Help:
        return help(p);
    case Tool::Exit:
        return exitDoor(p);
    case Tool::Browser:
        return openBook(p, kToolSize);
    case Tool::Unused7:
        return;
    case Tool::WebUpdate:
        return webUpdate(p);
    case Tool::About:
        return about(p);
    }
}

// ---- tray pictures, 16 x 16 --------------------------------------------------------------------

const QRect kTrayPage(2, 1, 12, 14);

void linedPage(QPainter& p, const PageLook& look)
{
    page(p, kTrayPage, 4, look, {{4, 3}, {8, 5}, {8, 7}, {8, 9}, {5, 11}});
}

void drawTray(QPainter& p, int index)
{
    switch (index) {
    case 0:
        return page(p, kTrayPage, 4, kWhitePage);
    case 1:
        return linedPage(p, kWhitePage);
    case 2:
        return linedPage(p, kGreyPage);
    case 3:
        return play(p, kTraySize);
    case 4:
        return pauseBars(p, kTraySize);
    case 5:
        return stop(p, kTraySize);
    default:
        return;
    }
}

// The rising page: 12 rows of page and 6 of gap make one period of 18 pixels, one per frame, so
// the next page comes in at the bottom while the last one leaves at the top.
void drawTrayFrame(QPainter& p, int frame)
{
    const int top = 2 - frame;
    for (const int y : {top, top + kTrayFrameCount}) {
        if (y + 12 > 0 && y < kTraySize)
            page(p, QRect(3, y, 10, 12), 3, kWhitePage, {{3, 2}, {6, 4}, {6, 6}, {4, 8}});
    }
}

// ---- role pictures, 16 x 16 --------------------------------------------------------------------

void eye(QPainter& p)
{
    QPainterPath lid;
    lid.moveTo(0.8, 8);
    lid.quadTo(8, 0.5, 15.2, 8);
    lid.quadTo(8, 15.5, 0.8, 8);
    p.setPen(QPen(kInk, 1));
    p.setBrush(kPaper);
    p.drawPath(lid);
    p.setPen(Qt::NoPen);
    disc(p, QPointF(8, 8), 3.6, kBlueDark, kBlue);
    p.setBrush(kInk);
    p.drawEllipse(QPointF(8, 8), 1.5, 1.5);
    p.setBrush(kPaper);
    p.drawEllipse(QPointF(9.2, 6.8), 0.8, 0.8);
}

void printer(QPainter& p)
{
    box(p, QRectF(4, 1, 8, 6), kInk, kPaper);
    box(p, QRectF(1, 5, 14, 7), kSteelDark, kSteelLight);
    p.fillRect(QRectF(2, 9, 12, 2), kSteel);
    p.fillRect(QRectF(11, 7, 2, 1), kGreen);
    box(p, QRectF(4, 9, 8, 6), kInk, kPaper);
    p.fillRect(QRectF(6, 11, 4, 1), kPaperLine);
    p.fillRect(QRectF(6, 13, 3, 1), kPaperLine);
}

void cross(QPainter& p)
{
    for (const auto& [width, colour] : {std::pair{4.6, kRedDark}, std::pair{2.6, kRed}}) {
        strokeLine(p, QPointF(3.5, 3.5), QPointF(12.5, 12.5), width, colour);
        strokeLine(p, QPointF(12.5, 3.5), QPointF(3.5, 12.5), width, colour);
    }
}

void magnifier(QPainter& p, const QPointF& c, qreal r, qreal handle)
{
    const QPointF dir(std::sqrt(0.5), std::sqrt(0.5));
    strokeLine(p, c + dir * (r - 0.5), c + dir * (r + handle), 3, kInk);
    disc(p, c, r, kSteelDark, kBlueLight);
    p.setBrush(kPaper);
    p.drawEllipse(c + QPointF(-r / 3, -r / 3), r / 4, r / 4);
}

void findNext(QPainter& p)
{
    magnifier(p, QPointF(9.5, 6), 4.5, 2.5);
    const QPolygonF arrow{QPointF(1, 11),   QPointF(4, 11), QPointF(4, 8.5), QPointF(7.5, 12),
                          QPointF(4, 15.5), QPointF(4, 13), QPointF(1, 13)};
    outlined(p, polygonPath(arrow), kGreenDark, kGreen);
}

void diskette(QPainter& p)
{
    convex(p, {QPointF(1, 1), QPointF(13, 1), QPointF(15, 3), QPointF(15, 15), QPointF(1, 15)},
           kBlueDark, kBlue);
    p.fillRect(QRectF(4, 1, 8, 5), kSteelLight);
    p.fillRect(QRectF(4, 1, 8, 1), kBlueDark);
    p.fillRect(QRectF(9, 2, 2, 3), kSteelDark);
    box(p, QRectF(3, 8, 10, 7), kBlueDark, kPaper);
    p.fillRect(QRectF(5, 10, 6, 1), kPaperLine);
    p.fillRect(QRectF(5, 12, 6, 1), kPaperLine);
}

void folder(QPainter& p, bool open)
{
    box(p, QRectF(1, 2, 6, 4), kYellowDark, open ? kYellowDeep : kYellow);
    box(p, QRectF(1, 4, 14, 10), kYellowDark, open ? kYellowDeep : kYellow);
    if (!open) {
        p.fillRect(QRectF(2, 5, 12, 1), kYellowLight);
        return;
    }
    box(p, QRectF(3, 3, 10, 6), kInk, kPaper);
    convex(p, {QPointF(4, 7), QPointF(15, 7), QPointF(13, 14), QPointF(1, 14)}, kYellowDark,
           kYellow);
}

void closedBook(QPainter& p)
{
    box(p, QRectF(3, 3, 11, 12), kInk, kPaper);
    p.fillRect(QRectF(4, 13, 9, 1), kPaperLine);
    p.fillRect(QRectF(12, 4, 1, 9), kPaperLine);
    box(p, QRectF(2, 1, 11, 12), kBlueDark, kBlue);
    p.fillRect(QRectF(3, 2, 2, 10), kBlueDark);
    p.fillRect(QRectF(6, 4, 5, 2), kPaper);
}

void letterA(QPainter& p)
{
    QPainterPath a;
    a.addPolygon(QPolygonF{QPointF(1.5, 15), QPointF(6.5, 1), QPointF(9.5, 1), QPointF(14.5, 15),
                           QPointF(11.5, 15), QPointF(10.4, 12), QPointF(5.6, 12),
                           QPointF(4.5, 15)});
    a.closeSubpath();
    a.addPolygon(QPolygonF{QPointF(6.4, 9), QPointF(8, 4.3), QPointF(9.6, 9)});
    a.closeSubpath();
    a.setFillRule(Qt::OddEvenFill);
    p.fillPath(a, kBlueDark);
}

void table(QPainter& p)
{
    box(p, QRectF(2, 2, 13, 13), kInk, kPaper);
    p.fillRect(QRectF(3, 3, 11, 3), kBlueLight);
    p.fillRect(QRectF(2, 6, 13, 1), kInk);
    p.fillRect(QRectF(2, 10, 13, 1), kInk);
    p.fillRect(QRectF(8, 2, 1, 13), kInk);
}

void drawRole(QPainter& p, Role r)
{
    switch (r) {
    case Role::View:
        return eye(p);
    case Role::Print:
        return printer(p);
    case Role::Delete:
        return cross(p);
    case Role::Find:
        return magnifier(p, QPointF(6.5, 6.5), 5, 4.5);
    case Role::FindNext:
        return findNext(p);
    case Role::PortraitPage:
        return linedPage(p, kWhitePage);
    case Role::LandscapePage:
        return page(p, QRect(1, 3, 14, 10), 3, kWhitePage, {{7, 2}, {10, 4}, {8, 6}});
    case Role::Save:
        return diskette(p);
    case Role::FolderClosed:
        return folder(p, false);
    case Role::FolderOpen:
        return folder(p, true);
    case Role::BookClosed:
        return closedBook(p);
    case Role::BookOpen:
        return openBook(p, kTraySize);
    case Role::Font:
        return letterA(p);
    case Role::Frames:
        return table(p);
    }
}

// ---- the program's icon ------------------------------------------------------------------------

// A printer putting out a report, designed on a 32 x 32 grid and drawn at `size` pixels with every
// edge rounded to a whole pixel, so that it stays sharp at sizes that are not multiples of 32.
void applicationPicture(QPainter& p, int size)
{
    const qreal f = size / 32.0;
    const int w = std::max(1, qRound(f)); // outline width
    const auto at = [f](qreal v) {
        return qRound(v * f);
    };
    const auto rect = [&at](qreal x, qreal y, qreal width, qreal height) {
        return QRect(QPoint(at(x), at(y)), QPoint(at(x + width) - 1, at(y + height) - 1));
    };
    const auto frame = [&p, w](const QRect& r, const QColor& border, const QColor& fill) {
        p.fillRect(r, border);
        p.fillRect(r.adjusted(w, w, -w, -w), fill);
    };
    // Lines of text one unit high, left out where they would run into the one above.
    int lastLine = -size;
    const auto line = [&](qreal x, qreal y, qreal width, const QColor& colour) {
        if (at(y) - lastLine < 2)
            return;
        lastLine = at(y);
        p.fillRect(QRect(at(x), at(y), at(x + width) - at(x), std::max(1, at(y + 1) - at(y))),
                   colour);
    };

    // The sheet waiting at the top.
    frame(rect(8, 2, 16, 12), kInk, kPaper);
    line(11, 5, 10, kPaperLine);
    line(11, 7, 10, kPaperLine);

    // The body: a light top, a dark seam and the front with the output slot.
    const QRect outer = rect(2, 10, 28, 15);
    const QRect inner = outer.adjusted(w, w, -w, -w);
    QPainterPath body;
    body.addRoundedRect(QRectF(outer), 3 * f, 3 * f);
    QPainterPath face;
    face.addRoundedRect(QRectF(inner), std::max(0.5, 3 * f - w), std::max(0.5, 3 * f - w));
    QPainterPath upper;
    upper.addRect(
        QRectF(QRect(QPoint(inner.left(), inner.top()), QPoint(inner.right(), at(16) - 1))));
    p.fillPath(body, kSteelDark);
    p.fillPath(face, kSteel);
    p.fillPath(face.intersected(upper), kSteelLight);
    p.fillRect(QRect(inner.left(), at(16), inner.width(), w), kSteelDark);
    if (size < 48) {
        p.fillRect(rect(24, 13, 3, 2), kGreen);
    } else {
        p.setBrush(kGreen);
        p.drawEllipse(QPointF(25.5 * f, 13.5 * f), 1.3 * f, 1.3 * f);
    }
    p.fillRect(rect(6, 19, 20, 2), kDoorway);

    // The printed report coming out.
    frame(rect(8, 20, 16, 11), kInk, kPaper);
    lastLine = -size;
    line(10, 22, 12, kBlue);
    line(10, 24, 12, kPaperLine);
    line(10, 26, 12, kPaperLine);
    line(10, 28, 7, kPaperLine);
}

constexpr std::array<int, 8> kApplicationSizes{16, 22, 24, 32, 48, 64, 128, 256};

} // namespace

// ---- public ------------------------------------------------------------------------------------

QIcon toolIcon(Tool t)
{
    static const QList<QIcon> icons = [] {
        QList<QIcon> list;
        for (int i = 0; i < kToolCount; ++i) {
            QIcon icon;
            for (int scale : {1, 2})
                icon.addPixmap(QPixmap::fromImage(
                    render(kToolSize, scale, [i](QPainter& p) { drawTool(p, Tool(i)); })));
            list << icon;
        }
        return list;
    }();
    const int i = int(t);
    return i >= 0 && i < icons.size() ? icons.at(i) : QIcon();
}

namespace {

QList<QPixmap> pixmapSet(int count, int scale, const std::function<void(QPainter&, int)>& draw)
{
    QList<QPixmap> list;
    for (int i = 0; i < count; ++i) {
        QPixmap pixmap =
            QPixmap::fromImage(render(kTraySize, scale, [&draw, i](QPainter& p) { draw(p, i); }));
        pixmap.setDevicePixelRatio(scale);
        list << pixmap;
    }
    return list;
}

} // namespace

QList<QPixmap> trayPictures(int scale)
{
    scale = std::max(scale, 1);
    static std::map<int, QList<QPixmap>> sets;
    auto it = sets.find(scale);
    if (it == sets.end())
        it = sets.emplace(scale, pixmapSet(kTrayPictureCount, scale, drawTray)).first;
    return it->second;
}

QList<QPixmap> trayAnimation(int scale)
{
    scale = std::max(scale, 1);
    static std::map<int, QList<QPixmap>> sets;
    auto it = sets.find(scale);
    if (it == sets.end())
        it = sets.emplace(scale, pixmapSet(kTrayFrameCount, scale, drawTrayFrame)).first;
    return it->second;
}

QIcon roleIcon(Role r)
{
    static const QList<QIcon> icons = [] {
        QList<QIcon> list;
        for (int i = 0; i < kRoleCount; ++i) {
            QIcon icon;
            for (int scale : {1, 2})
                icon.addPixmap(QPixmap::fromImage(
                    render(kTraySize, scale, [i](QPainter& p) { drawRole(p, Role(i)); })));
            list << icon;
        }
        return list;
    }();
    const int i = int(r);
    return i >= 0 && i < icons.size() ? icons.at(i) : QIcon();
}

QImage applicationIconImage(int size)
{
    if (size < 1)
        return {};
    // Below 22 pixels the 16-pixel printer picture reads better than the scaled-down icon.
    if (size < 22) {
        return render(size, 1, [size](QPainter& p) {
            p.scale(size / 16.0, size / 16.0);
            printer(p);
        });
    }
    return render(size, 1, [size](QPainter& p) { applicationPicture(p, size); });
}

QIcon applicationIcon()
{
    static const QIcon icon = [] {
        QIcon result;
        for (int size : kApplicationSizes)
            result.addPixmap(QPixmap::fromImage(applicationIconImage(size)));
        return result;
    }();
    return icon;
}

bool writeApplicationIconPng(const QString& path, int size)
{
    const QImage image = applicationIconImage(size);
    if (image.isNull())
        return false;
    const QFileInfo file(path);
    if (!QDir().mkpath(file.absolutePath()))
        return false;
    return image.save(file.absoluteFilePath(), "PNG");
}

} // namespace pictures
