#pragma once

#include <QPointer>
#include <QWidget>

class BackgroundWork;
class QLabel;
class QProgressBar;
class QTimer;
class QToolButton;

// A line in the window that says what long work beside the window's thread is doing
// and how far it is: hidden while work is short (half a second), so quick commands show
// nothing; with a Cancel button for work that can stop without harm.
class WorkIndicator : public QWidget
{
    Q_OBJECT

public:
    static constexpr int ShowAfterMs = 500;

    explicit WorkIndicator(QWidget* parent = nullptr);

    // Follows this work while it runs; `cancellable` offers its Cancel button.
    void watch(BackgroundWork& work, bool cancellable);

    QString text() const;
    // 0 to 1000, or -1 while the total is not known.
    int permille() const;

private:
    void workStarted(BackgroundWork* work, bool cancellable);
    void workEnded(BackgroundWork* work);
    void showProgress();

    QLabel* m_label;
    QProgressBar* m_bar;
    QToolButton* m_cancel;
    QTimer* m_delay;
    QTimer* m_poll;
    QPointer<BackgroundWork> m_watched;
    bool m_cancellable = false;
};
