#include "widgets/WorkIndicator.h"

#include "work/BackgroundWork.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QToolButton>

namespace {
constexpr int PollMs = 100;
}

WorkIndicator::WorkIndicator(QWidget* parent)
    : QWidget(parent)
    , m_label(new QLabel(this))
    , m_bar(new QProgressBar(this))
    , m_cancel(new QToolButton(this))
    , m_delay(new QTimer(this))
    , m_poll(new QTimer(this))
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    m_label->setObjectName(QStringLiteral("workText"));
    m_bar->setObjectName(QStringLiteral("workProgress"));
    m_bar->setAccessibleName(QStringLiteral("Progress"));
    m_bar->setRange(0, 1000);
    m_bar->setTextVisible(false);
    m_bar->setFixedWidth(120);
    m_cancel->setObjectName(QStringLiteral("workCancel"));
    m_cancel->setText(QStringLiteral("Cancel"));
    m_cancel->setAccessibleDescription(QStringLiteral("Stops the work; nothing is changed"));
    layout->addWidget(m_label, 1);
    layout->addWidget(m_bar);
    layout->addWidget(m_cancel);
    hide();

    m_delay->setSingleShot(true);
    m_delay->setInterval(ShowAfterMs);
    connect(m_delay, &QTimer::timeout, this, [this] {
        showProgress();
        show();
        m_poll->start();
    });
    m_poll->setInterval(PollMs);
    connect(m_poll, &QTimer::timeout, this, &WorkIndicator::showProgress);
    connect(m_cancel, &QToolButton::clicked, this, [this] {
        if (m_watched)
            m_watched->cancel();
    });
}

void WorkIndicator::watch(BackgroundWork& work, bool cancellable)
{
    connect(&work, &BackgroundWork::busyChanged, this, [this, &work, cancellable](bool busy) {
        if (busy)
            workStarted(&work, cancellable);
        else
            workEnded(&work);
    });
}

void WorkIndicator::workStarted(BackgroundWork* work, bool cancellable)
{
    m_watched = work;
    m_cancellable = cancellable;
    m_cancel->setVisible(cancellable);
    m_delay->start();
}

void WorkIndicator::workEnded(BackgroundWork* work)
{
    if (m_watched != work)
        return;
    m_watched.clear();
    m_delay->stop();
    m_poll->stop();
    hide();
}

QString WorkIndicator::text() const
{
    return m_label->text();
}

int WorkIndicator::permille() const
{
    return m_bar->maximum() == 0 ? -1 : m_bar->value();
}

void WorkIndicator::showProgress()
{
    if (!m_watched)
        return;
    m_label->setText(m_watched->doing() + QStringLiteral("\u2026"));
    const auto progress = m_watched->progress();
    const int permille = progress ? progress->permille() : -1;
    if (permille < 0) {
        m_bar->setRange(0, 0); // busy, how far not yet known
    } else {
        m_bar->setRange(0, 1000);
        m_bar->setValue(permille);
    }
}
