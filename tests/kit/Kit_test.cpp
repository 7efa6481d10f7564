#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSet>
#include <QStyleOptionButton>
#include <QVBoxLayout>
#include <functional>
#include <string>
#include <utility>

#include "UiChecks.h"
#include "kit/QVAction.h"
#include "kit/QVCard.h"
#include "kit/QVFormat.h"
#include "kit/QVIcons.h"
#include "kit/QVMetric.h"
#include "kit/QVStyle.h"

namespace quorvel {

namespace {

bool hasInk(const QImage& image) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) > 0) return true;
    return false;
}

}  // namespace

TEST(QVIcons, EachSymbolHasItsThemeImageOrADrawnFormAndUnknownNamesAreReported) {
    QVIcons::installTheme();
    const QColor orange(255, 149, 0);
    QSet<QString> names;
    for (const QVIcons::Entry& e : QVIcons::table()) {
        EXPECT_FALSE(names.contains(e.symbol)) << "listed twice: " << e.symbol;
        names.insert(e.symbol);
        EXPECT_EQ(QVIcons::fromTheme(e.symbol), e.theme != nullptr) << e.symbol;
        // Drawn in the colour asked for, theme image or not.
        const QImage image =
            QVIcons::pixmap(e.symbol, 24, orange).toImage().convertToFormat(QImage::Format_ARGB32);
        int opaque = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                if (qAlpha(image.pixel(x, y)) < 255) continue;
                ++opaque;
                EXPECT_EQ(image.pixel(x, y), orange.rgb()) << e.symbol << " at " << x << "," << y;
            }
        EXPECT_GT(opaque, 0) << e.symbol;
        // The drawn form stands in everywhere the theme is missing: it must draw something too.
        QImage drawn(24, 24, QImage::Format_ARGB32_Premultiplied);
        drawn.fill(Qt::transparent);
        QPainter p(&drawn);
        QVIcons::drawSymbol(p, QRectF(0, 0, 24, 24), e.symbol, Qt::white);
        p.end();
        EXPECT_TRUE(hasInk(drawn)) << e.symbol;
    }
    // A name missing from the table draws nothing and says so.
    const QStringList warnings = warningsDuring(
        [] { EXPECT_FALSE(hasInk(QVIcons::pixmap("no.such.symbol", 24, Qt::white).toImage())); });
    EXPECT_EQ(warnings, QStringList{"No symbol named no.such.symbol"});
    EXPECT_FALSE(QVIcons::known("no.such.symbol"));
    EXPECT_TRUE(QVIcons::known("waveform"));
}

// Three symbols whose theme images read as something else (a gear, a lifebuoy, a chevron) are drawn in
// their own forms: three sliders, a question mark in a circle, an arrow with its shaft.
TEST(QVIcons, SlidersQuestionMarkAndArrowReadAsTheirNames) {
    QVIcons::installTheme();
    QWidget row;
    auto* layout = new QHBoxLayout(&row);
    const QColor ink = Qt::white;
    for (const char* symbol : {"slider.horizontal.3", "questionmark.circle", "arrow.right"}) {
        SCOPED_TRACE(symbol);
        EXPECT_FALSE(QVIcons::fromTheme(symbol));
        QImage drawn(48, 48, QImage::Format_ARGB32_Premultiplied);
        drawn.fill(Qt::transparent);
        QPainter p(&drawn);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        QVIcons::drawSymbol(p, QRectF(0, 0, 48, 48), symbol, ink);
        p.end();
        EXPECT_EQ(QVIcons::pixmap(symbol, 48, ink).toImage().convertToFormat(drawn.format()), drawn);
        layout->addWidget(QVIcons::label(symbol, 48, ink));
    }
    // The forms themselves, on the 24-unit grid scaled to 48 px: the sliders' three tracks cross the
    // whole width; the arrow's shaft runs from the left quarter to its head.
    const QImage sliders = QVIcons::pixmap("slider.horizontal.3", 48, ink).toImage();
    for (int y : {12, 24, 36}) {
        EXPECT_GT(qAlpha(sliders.pixel(8, y)), 128) << y;
        EXPECT_GT(qAlpha(sliders.pixel(40, y)), 128) << y;
    }
    const QImage arrow = QVIcons::pixmap("arrow.right", 48, ink).toImage();
    for (int x = 10; x <= 38; x += 4) EXPECT_GT(qAlpha(arrow.pixel(x, 24)), 128) << x;
    const QImage question = QVIcons::pixmap("questionmark.circle", 48, ink).toImage();
    EXPECT_GT(qAlpha(question.pixel(24, 3)), 128) << "the circle";
    EXPECT_GT(qAlpha(question.pixel(24, 34)), 128) << "the dot of the question mark";
    row.setStyleSheet(QStringLiteral("background: #1c1e21;"));
    row.resize(200, 70);
    row.show();
    QDir().mkpath(QStringLiteral(QUORVEL_TEST_OUTPUT_DIR));
    EXPECT_TRUE(
        row.grab().save(QStringLiteral(QUORVEL_TEST_OUTPUT_DIR "/symbols-sliders-question-arrow.png")));
}

// Two drawn forms by what makes them read: the waveform's bars stand centred on the middle line, at
// their different heights; the playlist's note (drawn wherever the theme has no image) has its list.
TEST(QVIcons, WaveformBarsStandCentredAndThePlaylistNoteHasItsList) {
    const QImage waveform = QVIcons::pixmap("waveform", 48, Qt::white).toImage();
    int above = 0, below = 0;
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 48; ++x) {
            above += qAlpha(waveform.pixel(x, y)) > 128;
            below += qAlpha(waveform.pixel(x, 47 - y)) > 128;
        }
    EXPECT_GT(above, 100);
    EXPECT_NEAR(above, below, above / 10);
    QImage list(48, 48, QImage::Format_ARGB32_Premultiplied);
    list.fill(Qt::transparent);
    QPainter p(&list);
    QVIcons::drawSymbol(p, QRectF(0, 0, 48, 48), "music.note.list", Qt::white);
    p.end();
    for (int y : {10, 20, 30}) EXPECT_GT(qAlpha(list.pixel(10, y)), 128) << "list line at " << y;
}

// The read-out's value is its large line: digits stand 0.73 em high, some 20 px at 27 px (9 px at the
// body size).
// A card pieces its face together from the smallest one: on the page's background, every pixel as the
// face drawn whole gives it (to within the last step of rounding), at any size and pixel ratio.
TEST(QVCard, TheFacePiecedTogetherIsTheFaceDrawnWhole) {
    for (const auto& [size, dpr] : {std::pair{QSize(760, 300), 1.0}, std::pair{QSize(43, 44), 1.0},
                                    std::pair{QSize(301, 97), 2.0}, std::pair{QSize(40, 38), 1.0}}) {
        SCOPED_TRACE(std::to_string(size.width()) + " x " + std::to_string(size.height()) + " at " +
                     std::to_string(dpr));
        QImage pieced((QSizeF(size) * dpr).toSize(), QImage::Format_ARGB32_Premultiplied);
        pieced.setDevicePixelRatio(dpr);
        pieced.fill(QVStyle::background());
        QImage whole = pieced;
        QVCard card;
        card.resize(size);
        ASSERT_EQ(card.size(), size);
        card.render(&pieced, {}, {}, QWidget::RenderFlags());
        {
            QPainter p(&whole);
            p.setRenderHint(QPainter::Antialiasing);
            QPainterPath shape;
            shape.addRoundedRect(QRectF(0.5, 0.5, size.width() - 1, size.height() - 1), QVCard::kRadius,
                                 QVCard::kRadius);
            p.fillPath(shape, QVStyle::card());
            p.setPen(QPen(QColor::fromRgbF(1, 1, 1, 0.045f), 1));
            p.drawPath(shape);
        }
        int apart = 0;
        for (int y = 0; y < whole.height(); ++y)
            for (int x = 0; x < whole.width(); ++x) {
                const QRgb a = pieced.pixel(x, y), b = whole.pixel(x, y);
                if (std::abs(qRed(a) - qRed(b)) > 1 || std::abs(qGreen(a) - qGreen(b)) > 1 ||
                    std::abs(qBlue(a) - qBlue(b)) > 1) {
                    ++apart;
                }
            }
        EXPECT_EQ(apart, 0);
    }
}

TEST(QVMetric, TheValueStandsAtItsOwnLargeSize) {
    QVStyle::apply();
    QVMetric metric("88.8 ms", "Delay");
    metric.resize(300, metric.sizeHint().height());
    metric.show();
    QImage image(metric.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    metric.render(&image, {}, {}, QWidget::DrawChildren);
    const QRect value = metric.layout()->itemAt(0)->geometry();
    int top = value.bottom(), bottom = value.top();
    for (int y = value.top(); y <= value.bottom(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) > 128) {
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    EXPECT_GE(bottom - top + 1, 16);
}

// A new title, symbol or emphasis repaints it; the one it has does not. (Its presses run on every page.)
TEST(QVAction, RepaintsForAChangeOnlyAndStandsAtLeastItsMinimumHeight) {
    QVAction action("Start mic", "mic.fill", true, [] {});
    action.resize(300, 48);
    action.show();
    EXPECT_GE(action.sizeHint().height(), QVAction::kMinHeight);
    struct Paints : QObject {
        int count = 0;
        bool eventFilter(QObject*, QEvent* e) override { return e->type() == QEvent::Paint && ++count < 0; }
    } paints;
    QApplication::processEvents();
    action.installEventFilter(&paints);
    const std::function<void()> changes[] = {[&] { action.setTitle("Stop"); },
                                             [&] { action.setIconName("stop.fill"); },
                                             [&] { action.setProminent(false); }};
    for (const auto& change : changes) {
        for (int twice = 0; twice < 2; ++twice) {
            const int before = paints.count;
            change();
            QApplication::processEvents();
            EXPECT_EQ(paints.count > before, twice == 0) << paints.count;
        }
    }
    EXPECT_EQ(action.accessibleName(), "Stop");
}

// Sample blocks rendered for review: a page with every block, and a plot with its axis.
TEST(QVStyle, ControlsFollowTheDarkLookWithFramesAt3To1AgainstTheCards) {
    QVStyle::apply();
    QWidget card;
    QPalette palette = card.palette();
    palette.setColor(QPalette::Window, QVStyle::card());
    card.setPalette(palette);
    card.setAutoFillBackground(true);
    auto* column = new QVBoxLayout(&card);
    auto* check = new QCheckBox(qvLiteral("Loop this section"));
    auto* list = new QComboBox;
    list->addItems({"System default", "Interface"});
    auto* button = new QPushButton(qvLiteral("Create"));
    auto* field = new QLineEdit("Doors");
    for (QWidget* w : std::initializer_list<QWidget*>{check, list, button, field}) column->addWidget(w);
    card.resize(300, 200);
    card.show();
    QApplication::processEvents();
    const QImage image = card.grab().toImage();
    // The strongest contrast against the card on a control's left edge (the check box: its indicator).
    const auto frame = [&](QWidget* w, QRect area) {
        double best = 1;
        area.translate(w->pos());
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                best = std::max(best, contrast(image.pixelColor(x, y), QVStyle::card()));
        return best;
    };
    QStyleOptionButton option;
    option.initFrom(check);
    const QRect indicator = check->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, check);
    EXPECT_GE(frame(check, indicator), 3.0) << "unchecked check box";
    for (QWidget* w : std::initializer_list<QWidget*>{list, button, field}) {
        EXPECT_GE(frame(w, QRect(0, w->height() / 2 - 2, 3, 4)), 3.0) << w->metaObject()->className();
        // A dark face, not the toolkit's light grey: the middle of the control is close to the card.
        EXPECT_LT(
            contrast(image.pixelColor(w->pos() + QPoint(w->width() - 30, w->height() / 2)), QVStyle::card()),
            1.5)
            << w->metaObject()->className();
    }
}

}  // namespace quorvel
