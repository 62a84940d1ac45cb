#include "ui/qt/Info.h"

#include <QApplication>
#include <QKeyEvent>
#include <QScreen>

#include "core/MessageTable.h"
#include "ui/UserInterfaceRules.h"
#include "ui/qt/Fonts.h"
#include "ui/qt/QtLayout.h"

namespace ue {

TFrmInfo::TFrmInfo(QWidget* parent)
    : QDialog(parent,
              Qt::Dialog | CaptionFlags(layout::FrmInfo.form) | Qt::MSWindowsFixedSizeDialogHint) {
    const layout::FrmInfoLayout& table = layout::FrmInfo;
    setObjectName(QString::fromLatin1(table.form.name));
    setWindowTitle(ToQString(table.form.caption));
    setFixedSize(table.form.width, table.form.height);
    setFont(SongFont(table.form.fontPixels));

    Button1 = new QPushButton(ToQString(table.Button1.text), this);
    ApplyLayout(Button1, table.Button1);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, [this] { done(kContinue); });

    Button2 = new QPushButton(ToQString(table.Button2.text), this);
    ApplyLayout(Button2, table.Button2);
    connect(Button2, &QPushButton::clicked, this, &TFrmInfo::Button2Click);

    lbl1 = new QLabel(this);
    lbl1->setWordWrap(true);
    lbl1->setTextFormat(Qt::PlainText);
    lbl1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    ApplyLayout(lbl1, table.lbl1);

    const layout::HolderListLayout& holders = layout::FrmInfoHolders;
    lblHolders = new QLabel(QString::fromStdString(Message(MessageId::HoldersCaption)), this);
    ApplyLayout(lblHolders, holders.lblHolders);
    lstHolders = new QListWidget(this);
    ApplyLayout(lstHolders, holders.lstHolders);
    lstHolders->setSelectionMode(QAbstractItemView::NoSelection);
    lstHolders->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lstHolders->setUniformItemSizes(true);
    lstHolders->setAccessibleName(QString::fromStdString(Message(MessageId::HoldersCaption)));
    lblHolders->setBuddy(lstHolders);

    setTabOrder(Button1, Button2);
    setTabOrder(Button2, lstHolders);
}

void TFrmInfo::ShowHolders(const std::vector<RunningProgram>& holders) {
    lstHolders->clear();
    for (const RunningProgram& program : holders) {
        auto* row = new QListWidgetItem(QString::fromStdString(DescribeProgram(program)), lstHolders);
        row->setSizeHint(QSize(0, layout::FrmInfoHolders.rowHeight));
    }
    const int count = static_cast<int>(holders.size());
    const int growth = layout::FrmInfoGrowth(count);
    lblHolders->setVisible(growth > 0);
    lstHolders->setVisible(growth > 0);
    lstHolders->setGeometry(ToQRect(layout::HolderListPlace(count)));
    for (auto [button, entry] : {std::pair{Button1, &layout::FrmInfo.Button1},
                                 std::pair{Button2, &layout::FrmInfo.Button2}}) {
        button->move(entry->place.left, entry->place.top + growth);
    }
    setFixedSize(layout::FrmInfo.form.width, layout::FrmInfo.form.height + growth);
}

void TFrmInfo::ShowFileInUseDialog(const std::string& message,
                                   const std::vector<RunningProgram>& holders) {
    // The messages break lines with CR LF; the label breaks on LF alone.
    QString text = QString::fromStdString(message);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    lbl1->setText(text);
    ShowHolders(holders);

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    Button1->setFocus();
    FinishFileInUseDialog(exec(), [] { QCoreApplication::exit(0); });
}

void TFrmInfo::Button2Click() { AbortInstallation(); }

void TFrmInfo::reject() { done(kAbort); }

void TFrmInfo::keyPressEvent(QKeyEvent* event) {
    // Esc presses "中止安装", as a cancel button does; QDialog would reject.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        Button2->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace ue
