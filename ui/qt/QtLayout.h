// The layout table's values in Qt's types, and placing a widget by its entry.
#pragma once

#include <QColor>
#include <QPalette>
#include <QRect>
#include <QString>
#include <QWidget>

#include "ui/Layout.h"
#include "ui/qt/Fonts.h"

namespace ue {

inline QString ToQString(const char8_t* text) { return QString::fromUtf8(text); }
inline QColor ToQColor(layout::Rgb rgb) { return QColor(rgb.r, rgb.g, rgb.b); }
inline QRect ToQRect(layout::Rect rect) { return QRect(rect.left, rect.top, rect.width, rect.height); }

// The caption bar of a window by its entry: a title, the close button only
// where the entry has one (never minimise or maximise), and on top of other
// windows where the entry says so.
inline Qt::WindowFlags CaptionFlags(const layout::Form& form) {
    Qt::WindowFlags flags = Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (form.closeButton) flags |= Qt::WindowCloseButtonHint;
    if (form.staysOnTop) flags |= Qt::WindowStaysOnTopHint;
    return flags;
}

// Gives `widget` the entry's object name, font, text colour and placement;
// a widget sized to its text is moved and then sized. Texts are set by the
// caller, as each kind of widget takes its text differently.
inline void ApplyLayout(QWidget* widget, const layout::Control& entry) {
    widget->setObjectName(QString::fromLatin1(entry.name));
    widget->setFont(SongFont(entry.fontPixels));
    if (entry.colour) {
        QPalette palette = widget->palette();
        palette.setColor(QPalette::WindowText, ToQColor(*entry.colour));
        widget->setPalette(palette);
    }
    if (entry.place.SizedToText()) {
        widget->move(entry.place.left, entry.place.top);
        widget->adjustSize();
    } else {
        widget->setGeometry(ToQRect(entry.place));
    }
    if (!entry.visible) widget->hide();
}

}  // namespace ue
