#include "kit/QVIcons.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QIconEngine>
#include <QImage>
#include <QLabel>
#include <QLoggingCategory>
#include <QPainter>
#include <QPainterPath>
#include <QPixmapCache>
#include <QSet>
#include <QStandardPaths>
#include <QToolButton>
#include <QtMath>

#include "core/Logging.h"

namespace quorvel {

namespace QVIcons {

namespace {

const char* themeNameFor(const QString& symbol);

QStringList iconBases() {
    QStringList bases = QIcon::themeSearchPaths();
    bases += QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, QStringLiteral("icons"),
                                       QStandardPaths::LocateDirectory);
    bases += QStringLiteral("/usr/share/icons");
    bases.removeDuplicates();
    return bases;
}

// Adwaita ships its symbolic icons as SVG and as pre-rendered "<name>.symbolic.png" files. Qt reads
// neither without an SVG plug-in (it looks for "<name>.png"), so the PNG files are found here directly:
// one path per size, looked up once per name.
QMap<int, QString> themeFiles(const QString& name) {
    static QHash<QString, QMap<int, QString>> cache;
    auto it = cache.constFind(name);
    if (it != cache.constEnd()) return *it;
    QMap<int, QString> found;
    const QStringList fileNames{name + QStringLiteral(".symbolic.png"), name + QStringLiteral(".png")};
    for (const QString& base : iconBases()) {
        const QDir theme(base + QLatin1Char('/') + QLatin1String(kThemeName));
        if (!theme.exists()) continue;
        for (const QString& sizeDir : theme.entryList({QStringLiteral("*x*")}, QDir::Dirs)) {
            const int size = sizeDir.section(QLatin1Char('x'), 0, 0).toInt();
            if (size <= 0 || found.contains(size)) continue;
            const QDir sized(theme.filePath(sizeDir));
            for (const QString& context : sized.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
                for (const QString& file : fileNames) {
                    const QString path = sized.filePath(context + QLatin1Char('/') + file);
                    if (!found.contains(size) && QFileInfo::exists(path)) found.insert(size, path);
                }
            }
        }
    }
    cache.insert(name, found);
    return found;
}

// The theme's image of `symbol` for `pixels`, or a null image.
QImage themeImage(const QString& symbol, int pixels) {
    const char* name = themeNameFor(symbol);
    if (!name) return {};
    const QString themeName = QString::fromLatin1(name);
    const QMap<int, QString> files = themeFiles(themeName);
    if (!files.isEmpty()) {
        // The smallest image at least as large as asked for, else the largest there is.
        auto it = files.lowerBound(pixels);
        const QString path = it != files.end() ? it.value() : files.last();
        return QImage(path);
    }
    // Other installations may carry the theme in a form Qt reads itself.
    const QIcon fallback = QIcon::fromTheme(themeName);
    if (fallback.isNull()) return {};
    return fallback.pixmap(pixels, pixels).toImage();
}

QImage render(const QString& symbol, int pixels, const QColor& color) {
    QImage out(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    if (pixels <= 0) return out;
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const QImage source = themeImage(symbol, pixels);
    if (!source.isNull()) {
        const QImage scaled = source.scaled(pixels, pixels, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        p.drawImage((pixels - scaled.width()) / 2, (pixels - scaled.height()) / 2, scaled);
        // Keep the shape, take the colour.
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(out.rect(), color);
    } else {
        drawSymbol(p, QRectF(0, 0, pixels, pixels), symbol, color);
    }
    return out;
}

class SymbolEngine final : public QIconEngine {
public:
    SymbolEngine(QString symbol, QColor color) : symbol_(std::move(symbol)), color_(color) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        const int side = qMin(rect.width(), rect.height());
        const qreal dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        const QPixmap pm = make(side, mode, dpr);
        const QRectF target(rect.x() + (rect.width() - side) / 2.0, rect.y() + (rect.height() - side) / 2.0,
                            side, side);
        painter->drawPixmap(target, pm, QRectF(pm.rect()));
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override {
        return make(qMin(size.width(), size.height()), mode, 1.0);
    }
    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
        const int side = qMin(size.width(), size.height());
        return QSize(side, side);
    }
    QIconEngine* clone() const override { return new SymbolEngine(symbol_, color_); }
    QString key() const override { return QStringLiteral("QVSymbol"); }
    QString iconName() override { return symbol_; }

private:
    QPixmap make(int side, QIcon::Mode mode, qreal dpr) {
        QColor c = color_;
        if (mode == QIcon::Disabled) c.setAlphaF(c.alphaF() * 0.4f);
        const quint64 key = (quint64(side) << 32) | (quint64(mode) << 16) | quint64(qRound(dpr * 100));
        auto it = cache_.constFind(key);
        if (it != cache_.constEnd()) return *it;
        QPixmap pm = QVIcons::pixmap(symbol_, side, c, dpr);
        cache_.insert(key, pm);
        return pm;
    }

    QString symbol_;
    QColor color_;
    QHash<quint64, QPixmap> cache_;
};

// --- drawn forms, on a 24-unit grid ---

QPainterPath circlePath(double cx, double cy, double r) {
    QPainterPath p;
    p.addEllipse(QPointF(cx, cy), r, r);
    return p;
}

// Outlines put together without boolean operations: united() treats open lines as empty areas.
QPainterPath cat(std::initializer_list<QPainterPath> parts) {
    QPainterPath out;
    for (const QPainterPath& p : parts) out.addPath(p);
    out.setFillRule(Qt::WindingFill);
    return out;
}

// `outer` with `hole` cut out. Each is first merged into plain outlines, then odd-even filling leaves the
// hole open (QPainterPath::subtracted() keeps the hole's outline with the wrong winding here).
QPainterPath holed(const QPainterPath& outer, const QPainterPath& hole) {
    QPainterPath out = outer.simplified();
    out.addPath(hole.simplified());
    out.setFillRule(Qt::OddEvenFill);
    return out;
}

QPainterPath stroked(const QPainterPath& path, double width) {
    QPainterPathStroker s;
    s.setWidth(width);
    s.setCapStyle(Qt::RoundCap);
    s.setJoinStyle(Qt::RoundJoin);
    return s.createStroke(path);
}

QPainterPath polyline(std::initializer_list<QPointF> points) {
    QPainterPath p;
    bool first = true;
    for (const QPointF& pt : points) {
        if (first)
            p.moveTo(pt);
        else
            p.lineTo(pt);
        first = false;
    }
    return p;
}

QPainterPath arrowHead(QPointF tip, double angleDeg, double size = 5) {
    const double a = qDegreesToRadians(angleDeg);
    const QPointF back(-std::cos(a) * size, -std::sin(a) * size);
    const QPointF side(-std::sin(a) * size * 0.8, std::cos(a) * size * 0.8);
    return polyline({tip + back + side, tip, tip + back - side});
}

QPainterPath letterPath(const QString& letter, double cx, double cy, double height) {
    QFont f;
    f.setPixelSize(100);
    f.setBold(true);
    QPainterPath text;
    text.addText(0, 0, f, letter);
    const QRectF b = text.boundingRect();
    QTransform t;
    const double scale = height / b.height();
    t.translate(cx - b.center().x() * scale, cy - b.center().y() * scale);
    t.scale(scale, scale);
    return t.map(text);
}

QPainterPath speaker() {
    QPainterPath p = polyline({{3, 9}, {7, 9}, {12, 4.5}, {12, 19.5}, {7, 15}, {3, 15}});
    p.closeSubpath();
    return p;
}

QPainterPath waves(int count) {
    QPainterPath p;
    for (int k = 0; k < count; ++k) {
        const double r = 4 + 3.5 * k;
        QRectF box(12 - r, 12 - r, 2 * r, 2 * r);
        p.arcMoveTo(box, -40);
        p.arcTo(box, -40, 80);
    }
    return p;
}

QPainterPath bars(double cx, double cy, double width, double height) {
    static constexpr double kHeights[] = {0.3, 0.65, 1.0, 0.5, 0.8, 0.35, 0.55};
    QPainterPath p;
    const double step = width / 7.0;
    for (int i = 0; i < 7; ++i) {
        const double x = cx - width / 2 + step * (i + 0.5);
        const double h = height * kHeights[i];
        p.moveTo(x, cy - h / 2);
        p.lineTo(x, cy + h / 2);
    }
    return p;
}

QPainterPath star(double cx, double cy, double r) {
    const double w = r * 0.28;
    QPainterPath p;
    p.moveTo(cx, cy - r);
    p.quadTo(cx + w * 0.3, cy - w * 0.3, cx + r, cy);
    p.quadTo(cx + w * 0.3, cy + w * 0.3, cx, cy + r);
    p.quadTo(cx - w * 0.3, cy + w * 0.3, cx - r, cy);
    p.quadTo(cx - w * 0.3, cy - w * 0.3, cx, cy - r);
    return p;
}

constexpr double kLine = 2.0;

QPainterPath ring() { return stroked(circlePath(12, 12, 10), kLine * 0.8); }
QPainterPath cross() { return cat({polyline({{12, 4}, {12, 20}}), polyline({{4, 12}, {20, 12}})}); }

QPainterPath musicNote(bool list) {
    const double x = list ? 16 : 13;
    QPainterPath head;
    head.addEllipse(QPointF(x - 3, 18), 3.5, 2.8);
    QPainterPath p = cat({head, stroked(polyline({{x, 18}, {x, 4}, {x + 5, 6}}), kLine)});
    if (list)
        p.addPath(stroked(
            cat({polyline({{3, 5}, {10, 5}}), polyline({{3, 10}, {10, 10}}), polyline({{3, 15}, {7, 15}})}),
            kLine));
    return p;
}

QPainterPath microphone(bool filled) {
    QPainterPath capsule;
    capsule.addRoundedRect(9, 3, 6, 11, 3, 3);
    QPainterPath cradle;
    const QRectF box(6, 5, 12, 12);
    cradle.arcMoveTo(box, 180);
    cradle.arcTo(box, 180, 180);
    cradle.moveTo(12, 17);
    cradle.lineTo(12, 21);
    return cat({filled ? capsule : stroked(capsule, 1.6), stroked(cradle, 1.6)});
}

QPainterPath circularArrow() {
    QPainterPath p;
    const QRectF box(4.5, 4.5, 15, 15);
    p.arcMoveTo(box, 70);
    p.arcTo(box, 70, -320);
    return stroked(cat({p, arrowHead(p.currentPosition(), -20, 4)}), kLine);
}

// One row per symbol used anywhere in the workspace: its name, the Adwaita icon that looks like it (none
// where the drawn form is the better likeness: the waveforms, the lettered circles, the sparkles…, and
// where Adwaita's nearest icon reads as something else: its "emblem-system" is a gear, not sliders, its
// "help-browser" a lifebuoy, its "go-next" a chevron without a shaft), and
// its drawn form as one filled outline on a 24-unit grid, used wherever the theme image is missing.
struct Symbol {
    const char* name;
    const char* theme;
    QPainterPath (*draw)();
};

const Symbol kSymbols[] = {
    {"waveform", nullptr, [] { return stroked(bars(12, 12, 20, 18), 1.6); }},
    {"waveform.circle", nullptr,
     [] {
         return cat({ring(), stroked(bars(12, 12, 12, 10), 1.2)});
     }},
    {"waveform.path", nullptr,
     [] {
         QPainterPath p;
         for (int i = 0; i <= 40; ++i) {
             const double x = 2 + 20.0 * i / 40;
             const double y = 12 - 7 * std::sin(2 * M_PI * 2 * i / 40.0) * (1 - std::abs(i - 20) / 30.0);
             if (i == 0)
                 p.moveTo(x, y);
             else
                 p.lineTo(x, y);
         }
         return stroked(p, kLine);
     }},
    {"chart.xyaxis.line", nullptr,
     [] {
         return cat({stroked(polyline({{4, 3}, {4, 20}, {21, 20}}), kLine),
                     stroked(polyline({{7, 16}, {11, 10}, {14, 13}, {19, 5}}), kLine)});
     }},
    {"music.note.list", "emblem-music-symbolic", [] { return musicNote(true); }},
    {"music.note", "audio-x-generic-symbolic", [] { return musicNote(false); }},
    {"speaker.wave.2", "audio-volume-medium-symbolic",
     [] {
         return cat({speaker(), stroked(waves(2), kLine * 0.9)});
     }},
    {"speaker.wave.1.fill", "audio-volume-low-symbolic",
     [] {
         return cat({speaker(), stroked(waves(1), kLine * 0.9)});
     }},
    {"speaker.3", "audio-speakers-symbolic",
     [] {
         return cat({speaker(), stroked(waves(3), kLine * 0.8)});
     }},
    {"speaker.fill", nullptr,
     [] {
         QPainterPath p = polyline({{4, 8.5}, {9, 8.5}, {16, 3}, {16, 21}, {9, 15.5}, {4, 15.5}});
         p.closeSubpath();
         return p;
     }},
    {"airplayaudio", "audio-speakers-symbolic",
     [] {
         return cat({speaker(), stroked(waves(2), kLine * 0.9)});
     }},
    {"slider.horizontal.3", nullptr,
     [] {
         return cat({stroked(cat({polyline({{3, 6}, {21, 6}}), polyline({{3, 12}, {21, 12}}),
                                  polyline({{3, 18}, {21, 18}})}),
                             1.5),
                     circlePath(15, 6, 2.5), circlePath(8, 12, 2.5), circlePath(13, 18, 2.5)});
     }},
    {"questionmark.circle", nullptr,
     [] {
         return cat({ring(), letterPath(QStringLiteral("?"), 12, 12, 11)});
     }},
    {"info.circle", "help-about-symbolic",
     [] {
         return cat({ring(), letterPath(QStringLiteral("i"), 12, 12, 11)});
     }},
    {"exclamationmark.circle.fill", "dialog-warning-symbolic",
     [] { return holed(circlePath(12, 12, 10), letterPath(QStringLiteral("!"), 12, 12, 11)); }},
    {"play.fill", "media-playback-start-symbolic",
     [] {
         return polyline({{7, 4}, {20, 12}, {7, 20}, {7, 4}});
     }},
    {"pause.fill", "media-playback-pause-symbolic",
     [] {
         QPainterPath p;
         p.addRoundedRect(6, 4, 4, 16, 1, 1);
         p.addRoundedRect(14, 4, 4, 16, 1, 1);
         return p;
     }},
    {"stop.fill", "media-playback-stop-symbolic",
     [] {
         QPainterPath p;
         p.addRoundedRect(5, 5, 14, 14, 2.5, 2.5);
         return p;
     }},
    {"repeat", "media-playlist-repeat-symbolic", circularArrow},
    {"arrow.left.and.right", "object-flip-horizontal-symbolic",
     [] {
         return stroked(cat({polyline({{3, 12}, {21, 12}}), arrowHead({21, 12}, 0), arrowHead({3, 12}, 180)}),
                        kLine);
     }},
    {"arrow.left.arrow.right", nullptr,
     [] {
         return stroked(cat({polyline({{4, 8}, {20, 8}}), arrowHead({20, 8}, 0, 4),
                             polyline({{20, 16}, {4, 16}}), arrowHead({4, 16}, 180, 4)}),
                        kLine);
     }},
    {"arrow.right", nullptr,
     [] {
         return stroked(cat({polyline({{4, 12}, {20, 12}}), arrowHead({20, 12}, 0)}), kLine);
     }},
    {"arrow.up", "go-up-symbolic",
     [] {
         return stroked(cat({polyline({{12, 20}, {12, 4}}), arrowHead({12, 4}, -90)}), kLine);
     }},
    {"arrow.down", "go-down-symbolic",
     [] {
         return stroked(cat({polyline({{12, 4}, {12, 20}}), arrowHead({12, 20}, 90)}), kLine);
     }},
    {"arrow.clockwise", "view-refresh-symbolic", circularArrow},
    {"chevron.right", "go-next-symbolic",
     [] {
         return stroked(polyline({{9, 5}, {16, 12}, {9, 19}}), kLine);
     }},
    {"checkmark", "object-select-symbolic",
     [] {
         return stroked(polyline({{4.5, 12.5}, {9.5, 17.5}, {19.5, 6.5}}), kLine);
     }},
    {"checkmark.circle.fill", "emblem-default-symbolic",
     [] {
         return holed(circlePath(12, 12, 10),
                      stroked(polyline({{7.5, 12.5}, {10.5, 15.5}, {16.5, 8.5}}), kLine));
     }},
    {"circle", nullptr, [] { return stroked(circlePath(12, 12, 9), kLine * 0.8); }},
    {"plus", "list-add-symbolic", [] { return stroked(cross(), kLine); }},
    {"plus.circle.fill", nullptr,
     [] {
         QTransform small;
         small.translate(12, 12);
         small.scale(0.62, 0.62);
         small.translate(-12, -12);
         return holed(circlePath(12, 12, 10), stroked(small.map(cross()), kLine));
     }},
    {"ellipsis", "view-more-horizontal-symbolic",
     [] {
         return cat({circlePath(5, 12, 2), circlePath(12, 12, 2), circlePath(19, 12, 2)});
     }},
    {"magnifyingglass", "system-search-symbolic",
     [] {
         return cat({stroked(circlePath(10, 10, 6), kLine),
                     stroked(polyline({{14.5, 14.5}, {20, 20}}), kLine * 1.2)});
     }},
    {"folder", "folder-symbolic",
     [] {
         QPainterPath p = polyline({{3, 6}, {9, 6}, {11, 8}, {21, 8}, {21, 19}, {3, 19}});
         p.closeSubpath();
         return p;
     }},
    {"trash", "user-trash-symbolic",
     [] {
         QPainterPath p = polyline({{6, 8}, {18, 8}, {17, 20}, {7, 20}});
         p.closeSubpath();
         return cat(
             {p, stroked(cat({polyline({{4, 5.5}, {20, 5.5}}), polyline({{10, 3.5}, {14, 3.5}})}), kLine)});
     }},
    {"camera", "camera-photo-symbolic",
     [] {
         QPainterPath body;
         body.addRoundedRect(3, 7, 18, 13, 2.5, 2.5);
         body.addPath(polyline({{8, 7.5}, {9.5, 4.5}, {14.5, 4.5}, {16, 7.5}, {8, 7.5}}));
         body.setFillRule(Qt::WindingFill);
         return holed(body, circlePath(12, 13.5, 3.5));
     }},
    {"mic", "audio-input-microphone-symbolic", [] { return microphone(false); }},
    {"mic.fill", "audio-input-microphone-symbolic", [] { return microphone(true); }},
    {"person.wave.2", "avatar-default-symbolic",
     [] {
         QPainterPath body;
         body.addRoundedRect(3, 13, 12, 8, 4, 4);
         QPainterPath w;
         for (int k = 0; k < 2; ++k) {
             const double r = 3 + 3 * k;
             const QRectF box(14 - r, 8 - r, 2 * r, 2 * r);
             w.arcMoveTo(box, -45);
             w.arcTo(box, -45, 90);
         }
         return cat({circlePath(9, 8, 3.5), body, stroked(w, 1.6)});
     }},
    {"l.circle", nullptr,
     [] {
         return cat({ring(), letterPath(QStringLiteral("L"), 12, 12, 10)});
     }},
    {"r.circle", nullptr,
     [] {
         return cat({ring(), letterPath(QStringLiteral("R"), 12, 12, 10)});
     }},
    {"sparkle", nullptr, [] { return star(12, 12, 10); }},
    {"sparkles", nullptr,
     [] {
         return cat({star(10, 13, 8), star(19, 5, 3.5), star(19.5, 19, 2.5)});
     }},
};

// The row of `symbol`, or null for a name not in the table, which is reported once per name.
const Symbol* find(const QString& symbol) {
    static const QHash<QString, const Symbol*> index = [] {
        QHash<QString, const Symbol*> out;
        for (const Symbol& s : kSymbols) out.insert(QString::fromLatin1(s.name), &s);
        return out;
    }();
    const Symbol* found = index.value(symbol);
    if (!found) {
        static QSet<QString> reported;
        if (!reported.contains(symbol)) {
            reported.insert(symbol);
            qCWarning(logUi).noquote() << "No symbol named" << symbol;
        }
    }
    return found;
}

const char* themeNameFor(const QString& symbol) {
    const Symbol* s = find(symbol);
    return s ? s->theme : nullptr;
}

}  // namespace

std::vector<Entry> table() {
    std::vector<Entry> out;
    for (const Symbol& s : kSymbols) out.push_back({s.name, s.theme});
    return out;
}

bool known(const QString& symbol) { return find(symbol) != nullptr; }

void installTheme() {
    QIcon::setThemeSearchPaths(iconBases());
    QIcon::setThemeName(QString::fromLatin1(kThemeName));
}

QIcon icon(const QString& symbol, const QColor& color) { return QIcon(new SymbolEngine(symbol, color)); }

QPixmap pixmap(const QString& symbol, int pixels, const QColor& color, qreal dpr) {
    // Pages are built afresh each time they are shown, with the same few images: each is read from its
    // theme file and rendered once, then shared.
    const int device = qMax(0, qRound(pixels * dpr));
    const QString key = QStringLiteral("qvSymbol/%1/%2/%3/%4")
                            .arg(symbol)
                            .arg(device)
                            .arg(dpr)
                            .arg(quint64(color.rgba64()), 0, 16);
    QPixmap pm;
    if (QPixmapCache::find(key, &pm)) return pm;
    pm = QPixmap::fromImage(render(symbol, device, color));
    pm.setDevicePixelRatio(dpr);
    QPixmapCache::insert(key, pm);
    return pm;
}

bool fromTheme(const QString& symbol) { return !themeImage(symbol, 24).isNull(); }

void drawSymbol(QPainter& painter, const QRectF& box, const QString& symbol, const QColor& color) {
    const double side = qMin(box.width(), box.height());
    if (side <= 0) return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(box.center().x() - side / 2, box.center().y() - side / 2);
    painter.scale(side / 24.0, side / 24.0);
    if (const Symbol* s = find(symbol)) painter.fillPath(s->draw(), color);
    painter.restore();
}

QToolButton* button(const QString& symbol, int pixels, const QColor& color, const QString& accessibleName,
                    QWidget* parent) {
    auto* b = new QToolButton(parent);
    b->setObjectName(QStringLiteral("qvSymbolButton"));
    b->setIcon(icon(symbol, color));
    b->setIconSize(QSize(pixels, pixels));
    b->setAutoRaise(true);
    b->setCursor(Qt::PointingHandCursor);
    b->setFocusPolicy(Qt::TabFocus);
    if (!accessibleName.isEmpty()) {
        b->setAccessibleName(accessibleName);
        b->setToolTip(accessibleName);
    }
    return b;
}

QLabel* label(const QString& symbol, int pixels, const QColor& color, QWidget* parent) {
    auto* l = new QLabel(parent);
    l->setPixmap(pixmap(symbol, pixels, color, l->devicePixelRatioF()));
    l->setFixedSize(pixels, pixels);
    return l;
}

}  // namespace QVIcons

}  // namespace quorvel
