#include "ui/qt/Fonts.h"

#include <QApplication>
#include <QFontDatabase>

#include "ui/Layout.h"

namespace ue {

QString SongFamily() {
    static const QString family = [] {
        for (const QString& candidate : {QString::fromUtf8(layout::kFontFamily), QStringLiteral("SimSun"),
                                         QStringLiteral("WenQuanYi Zen Hei")}) {
            if (QFontDatabase::hasFamily(candidate)) return candidate;
        }
        return QApplication::font().family();
    }();
    return family;
}

QFont SongFont(int pixelHeight) {
    QFont font(SongFamily());
    font.setPixelSize(pixelHeight);
    return font;
}

}  // namespace ue
