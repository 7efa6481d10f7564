#include "kit/QVStyle.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QFontDatabase>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOption>
#include <QWidget>
#include <algorithm>
#include <vector>

#include "kit/QVIcons.h"
#include "kit/QVKeyboard.h"

namespace quorvel {

namespace {

QColor rgb(double r, double g, double b, double a = 1.0) {
    return QColor::fromRgbF(float(r), float(g), float(b), float(a));
}

struct RoleSpec {
    int pixels;
    int weight;
};

// Sizes chosen so that the 840×680 minimum window holds every page comfortably with DejaVu Sans.
RoleSpec spec(QVText role) {
    switch (role) {
        case QVText::Caption2:
            return {11, QFont::Normal};
        case QVText::Caption:
            return {12, QFont::Normal};
        case QVText::Subheadline:
            return {13, QFont::Normal};
        case QVText::Callout:
            return {13, QFont::Normal};
        case QVText::Body:
            return {14, QFont::Normal};
        case QVText::Headline:
            return {14, QFont::DemiBold};
        case QVText::Title3:
            return {17, QFont::Normal};
        case QVText::Title2:
            return {20, QFont::Normal};
        case QVText::LargeTitle:
            return {28, QFont::Normal};
    }
    return {14, QFont::Normal};
}

QString css(const QColor& c) {
    return QStringLiteral("rgba(%1, %2, %3, %4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(c.alpha());
}

// Fusion, with the controls it draws from the palette in the workspace's dark look: push buttons, drop-down
// lists, text fields and check boxes get a dark fill and a frame that stands out from the cards (Fusion
// derives its frames from the window colour, which leaves them nearly invisible on a dark window). The
// focus is shown by the keyboard's focus ring (QVKeyboard), so Fusion's own focus frames are left out.
class WorkspaceStyle final : public QProxyStyle {
public:
    WorkspaceStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* p,
                       const QWidget* widget) const override {
        switch (element) {
            case PE_FrameFocusRect:
                return;
            case PE_PanelButtonCommand: {
                const bool down = option->state & (State_Sunken | State_On);
                const bool hover = (option->state & State_MouseOver) && (option->state & State_Enabled);
                shape(p, option, QColor::fromRgbF(1, 1, 1, down ? 0.16f : hover ? 0.11f : 0.07f), 6);
                return;
            }
            case PE_PanelLineEdit: {
                const auto* frame = qstyleoption_cast<const QStyleOptionFrame*>(option);
                if (frame && frame->lineWidth > 0)
                    shape(p, option, option->palette.color(QPalette::Base), 6);
                else
                    p->fillRect(option->rect, option->palette.brush(QPalette::Base));
                return;
            }
            case PE_FrameLineEdit:
                return;  // drawn with the panel
            case PE_IndicatorCheckBox: {
                const bool on = option->state & (State_On | State_NoChange);
                p->save();
                p->setRenderHint(QPainter::Antialiasing);
                if (!(option->state & State_Enabled)) p->setOpacity(0.4);
                const QRectF box = QRectF(option->rect).adjusted(1, 1, -1, -1);
                if (on) {
                    QPainterPath outline;
                    outline.addRoundedRect(box.adjusted(-0.5, -0.5, 0.5, 0.5), 4, 4);
                    p->fillPath(outline, QVStyle::accent());
                    QPainterPath tick;
                    tick.moveTo(box.left() + box.width() * 0.22, box.top() + box.height() * 0.52);
                    tick.lineTo(box.left() + box.width() * 0.42, box.top() + box.height() * 0.72);
                    tick.lineTo(box.left() + box.width() * 0.78, box.top() + box.height() * 0.3);
                    p->strokePath(tick,
                                  QPen(QVStyle::background(), 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
                } else {
                    p->setPen(QPen(QVStyle::controlFrame(), 1.5));
                    p->setBrush(option->palette.color(QPalette::Base));
                    p->drawRoundedRect(box, 4, 4);
                }
                p->restore();
                return;
            }
            case PE_IndicatorArrowUp:
            case PE_IndicatorArrowDown:
            case PE_IndicatorArrowLeft:
            case PE_IndicatorArrowRight: {
                QStyleOption copy(*option);  // Fusion's arrows read only these fields
                copy.palette = sharedPalette(option->palette);
                QProxyStyle::drawPrimitive(element, &copy, p, widget);
                return;
            }
            default:
                QProxyStyle::drawPrimitive(element, option, p, widget);
        }
    }

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* p,
                            const QWidget* widget) const override {
        if (const auto* slider = qstyleoption_cast<const QStyleOptionSlider*>(option);
            slider && control == CC_Slider) {
            QStyleOptionSlider copy(*slider);
            copy.palette = sharedPalette(option->palette);
            QProxyStyle::drawComplexControl(control, &copy, p, widget);
            return;
        }
        const auto* combo = qstyleoption_cast<const QStyleOptionComboBox*>(option);
        if (control != CC_ComboBox || !combo || combo->editable) {
            QProxyStyle::drawComplexControl(control, option, p, widget);
            return;
        }
        const bool open = option->state & State_On;
        shape(p, option, QColor::fromRgbF(1, 1, 1, open ? 0.12f : 0.07f), 6);
        // A small chevron in the arrow's place.
        const QRectF arrow = subControlRect(CC_ComboBox, combo, SC_ComboBoxArrow, widget);
        const QPointF c = arrow.center();
        p->save();
        p->setRenderHint(QPainter::Antialiasing);
        if (!(option->state & State_Enabled)) p->setOpacity(0.4);
        p->setPen(QPen(QVStyle::secondary(), 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        const QPointF chevron[] = {c + QPointF(-4, -2), c + QPointF(0, 2), c + QPointF(4, -2)};
        p->drawPolyline(chevron, 3);
        p->restore();
    }

    // The style sheet style caches what it looks up for a widget until the widget goes, but it forgets
    // only the widgets it styles, and it leaves a combo box's popup frame alone: each combo box made would
    // leave its popup's entries behind for good. With a style sheet of its own (one with no rules, so it
    // looks as before) the popup is styled, and forgotten when it goes.
    void polish(QWidget* widget) override {
        QProxyStyle::polish(widget);
        if (auto* combo = qobject_cast<QComboBox*>(widget)) {
            QWidget* popup = combo->view()->parentWidget();
            if (popup && popup != combo && popup->styleSheet().isEmpty())
                popup->setStyleSheet(QStringLiteral("*{}"));
        }
    }
    using QProxyStyle::polish;

private:
    // Fusion keeps the pictures of its arrows and sliders in the application's pixmap cache under the key
    // of the palette they were drawn with, and every widget's palette has a key of its own, even with the
    // same colours as another's (resolving one against the application's makes a copy): each page built
    // afresh would draw and keep new pictures of the same controls. Drawn with the first palette seen with
    // the same colours, equal controls share one picture. A few palettes are kept; a palette beyond those
    // is drawn with as it is.
    QPalette sharedPalette(const QPalette& palette) const {
        constexpr std::size_t kKept = 32;
        auto known = std::find(palettes_.begin(), palettes_.end(), palette);
        if (known == palettes_.end()) {
            if (palettes_.size() < kKept) palettes_.push_back(palette);
            return palette;
        }
        QPalette shared = *known;
        shared.setCurrentColorGroup(palette.currentColorGroup());
        return shared;
    }

    mutable std::vector<QPalette> palettes_;  // main thread only, as painting is

    // A rounded control face: `fill` inside a 1 px frame in QVStyle::controlFrame(), dimmed while disabled.
    static void shape(QPainter* p, const QStyleOption* option, const QColor& fill, double radius) {
        p->save();
        p->setRenderHint(QPainter::Antialiasing);
        if (!(option->state & State_Enabled)) p->setOpacity(0.4);
        const QRectF box = QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5);
        p->setPen(QPen(QVStyle::controlFrame(), 1));
        p->setBrush(fill);
        p->drawRoundedRect(box, radius, radius);
        p->restore();
    }
};

}  // namespace

namespace QVStyle {

// Function-local statics: built once on first use under the compiler's initialisation guard.
const QColor& accent() {
    static const QColor c = rgb(0.67, 0.94, 0.49);
    return c;
}
const QColor& background() {
    static const QColor c = rgb(0.055, 0.065, 0.075);
    return c;
}
const QColor& card() {
    static const QColor c = rgb(0.105, 0.12, 0.135);
    return c;
}
const QColor& primary() {
    static const QColor c = rgb(0.9, 0.9, 0.92);
    return c;
}
const QColor& secondary() {
    static const QColor c = rgb(0.56, 0.57, 0.6);
    return c;
}
const QColor& controlFrame() {
    static const QColor c = rgb(0.47, 0.49, 0.52);
    return c;
}

QFont font(QVText role, int weight) {
    const RoleSpec s = spec(role);
    QFont f = QApplication::font();
    f.setPixelSize(s.pixels);
    f.setWeight(QFont::Weight(weight >= 0 ? weight : s.weight));
    return f;
}

QFont sizedFont(int pixelSize, QFont::Weight weight) {
    QFont f = QApplication::font();
    f.setPixelSize(pixelSize);
    f.setWeight(weight);
    return f;
}

QFont monospaceFont(QVText role) {
    QFont f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    f.setPixelSize(spec(role).pixels);
    return f;
}

void setText(QWidget* widget, QVText role, const QColor& color, int weight) {
    widget->setFont(font(role, weight));
    QPalette p = widget->palette();
    p.setColor(QPalette::WindowText, color);
    p.setColor(QPalette::Text, color);
    p.setColor(QPalette::ButtonText, color);
    widget->setPalette(p);
}

QString styleSheet() {
    const QColor track = rgb(1, 1, 1, 0.0);
    const QColor handle = rgb(1, 1, 1, 0.18);
    const QColor handleHover = rgb(1, 1, 1, 0.3);
    QString s;
    s += QStringLiteral(
             "QScrollArea, QScrollArea > QWidget > QWidget { background: transparent; border: none; }\n"
             "QScrollBar:vertical { background: %1; width: 10px; margin: 2px; }\n"
             "QScrollBar::handle:vertical { background: %2; border-radius: 3px; min-height: 24px; }\n"
             "QScrollBar::handle:vertical:hover { background: %3; }\n"
             "QScrollBar:horizontal { background: %1; height: 10px; margin: 2px; }\n"
             "QScrollBar::handle:horizontal { background: %2; border-radius: 3px; min-width: 24px; }\n"
             "QScrollBar::handle:horizontal:hover { background: %3; }\n"
             "QScrollBar::add-line, QScrollBar::sub-line { width: 0; height: 0; }\n"
             "QScrollBar::add-page, QScrollBar::sub-page { background: none; }\n")
             .arg(css(track), css(handle), css(handleHover));
    s += QStringLiteral(
             "QLineEdit#qvNumberField { background: transparent; border: none; padding: 0; color: %1; }\n"
             "QToolButton#qvSymbolButton { background: transparent; border: none; padding: 0; }\n"
             "QToolButton#qvSymbolButton:pressed { background: rgba(255, 255, 255, 20); border-radius: 6px; "
             "}\n"
             "QToolTip { background: %2; color: %1; border: 1px solid %3; padding: 4px; }\n"
             "QMenu { background: %2; color: %1; border: 1px solid %3; padding: 4px; }\n"
             "QMenu::item { padding: 5px 18px 5px 10px; border-radius: 5px; }\n"
             "QMenu::item:selected { background: %4; color: %5; }\n"
             "QMenu::item:disabled { color: %6; }\n"
             "QMenu::separator { height: 1px; background: %3; margin: 4px 6px; }\n")
             .arg(css(primary()), css(card()), css(rgb(1, 1, 1, 0.1)), css(accent()), css(background()),
                  css(secondary()));
    return s;
}

void apply() {
    QApplication::setStyle(new WorkspaceStyle);

    QPalette p;
    const QColor text = primary();
    const QColor dim = secondary();
    const QColor base = rgb(0.08, 0.09, 0.1);
    const QColor button = rgb(0.15, 0.165, 0.18);
    p.setColor(QPalette::Window, background());
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, card());
    p.setColor(QPalette::ToolTipBase, card());
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, dim);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, button);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::white);
    p.setColor(QPalette::Light, rgb(0.25, 0.27, 0.29));
    p.setColor(QPalette::Midlight, rgb(0.2, 0.22, 0.24));
    p.setColor(QPalette::Mid, rgb(0.12, 0.13, 0.15));
    p.setColor(QPalette::Dark, rgb(0.03, 0.035, 0.04));
    p.setColor(QPalette::Shadow, Qt::black);
    p.setColor(QPalette::Highlight, accent());
    p.setColor(QPalette::HighlightedText, background());
    p.setColor(QPalette::Link, accent());
    p.setColor(QPalette::LinkVisited, accent().darker(130));
    const QColor disabledText = rgb(0.9, 0.9, 0.92, 0.35);
    p.setColor(QPalette::Disabled, QPalette::WindowText, disabledText);
    p.setColor(QPalette::Disabled, QPalette::Text, disabledText);
    p.setColor(QPalette::Disabled, QPalette::ButtonText, disabledText);
    p.setColor(QPalette::Disabled, QPalette::Highlight, rgb(0.3, 0.32, 0.34));
    QApplication::setPalette(p);

    QVIcons::installTheme();
    qApp->setStyleSheet(styleSheet());
    QVKeyboard::install();
}

}  // namespace QVStyle

}  // namespace quorvel
