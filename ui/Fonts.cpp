#include "ui/Fonts.h"

#include <QApplication>
#include <QFontDatabase>

namespace ue {

QString SongFamily() {
    static const QString family = [] {
        for (const QString& candidate : {QStringLiteral("宋体"), QStringLiteral("SimSun"),
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
