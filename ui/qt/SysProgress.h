// FrmProgress: the processing window "正在处理..." with a gauge, a hint and a
// cancel button. Created hidden; nothing in a run shows it.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

namespace ue {

class TFrmProgress : public QWidget {
    Q_OBJECT
public:
    explicit TFrmProgress(QWidget* parent = nullptr);

    // The gauge's value, kept within 0..100.
    int Gauge() const { return ProgressBar->value(); }
    void SetGauge(int value);

    void FormShow();
    void TimerTimer();
    void Button1Click();

    QLabel* LabelInfo;
    QLabel* LabelTitle;
    QTimer* Timer;
    QPushButton* Button1;
    QProgressBar* ProgressBar;
    QLineEdit* edtTimes;

protected:
    void showEvent(QShowEvent* event) override;
};

}  // namespace ue
