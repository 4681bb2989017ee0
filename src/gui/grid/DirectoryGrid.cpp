#include "grid/DirectoryGrid.h"

#include "directory/Table.h"
#include "widgets/TextDirectionDelegate.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace {

// The narrow column at the left: an arrow marks the current record.
class IndicatorHeader : public QHeaderView
{
public:
    explicit IndicatorHeader(QWidget* parent)
        : QHeaderView(Qt::Vertical, parent)
    {
    }
    int currentRow = -1;

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override
    {
        QHeaderView::paintSection(painter, rect, logicalIndex);
        if (logicalIndex != currentRow)
            return;
        painter->save();
        painter->setClipRect(rect); // the section painting leaves an empty clip behind
        painter->setRenderHint(QPainter::Antialiasing, false);
        painter->setPen(Qt::NoPen);
        painter->setBrush(palette().color(QPalette::WindowText));
        const QPoint c = rect.center();
        painter->drawPolygon(
            QPolygon({QPoint(c.x() - 2, c.y() - 4), QPoint(c.x() + 2, c.y()), QPoint(c.x() - 2, c.y() + 4)}));
        painter->restore();
    }
};

} // namespace

DirectoryGrid::DirectoryGrid(QWidget* parent)
    : QTableView(parent)
{
    auto* indicator = new IndicatorHeader(this);
    setVerticalHeader(indicator);
    indicator->setSectionResizeMode(QHeaderView::Fixed);
    indicator->setDefaultSectionSize(RowHeight);
    indicator->setMinimumSectionSize(RowHeight);
    indicator->setFixedWidth(IndicatorWidth);
    indicator->setSectionsClickable(false);

    horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setFixedHeight(RowHeight + 1);
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int section) {
        if (m_source && section >= 0 && section < static_cast<int>(m_source->columns().size()))
            emit titleClicked(m_source->columns()[static_cast<size_t>(section)]);
    });

    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSortingEnabled(false);
    setWordWrap(false);
    setShowGrid(true);
    setCornerButtonEnabled(false);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setContextMenuPolicy(Qt::CustomContextMenu);
    // Tab leaves the grid for the window's next control; the arrows, Page Up/Down, Home
    // and End move between records.
    setTabKeyNavigation(false);
    setItemDelegate(new TextDirectionDelegate(this));
}

void DirectoryGrid::setDirectoryModel(DirectoryModel* source)
{
    m_source = source;
    setModel(source);
    for (int i = 0; i < static_cast<int>(source->columns().size()); ++i)
        setColumnWidth(i, source->columns()[static_cast<size_t>(i)].width);
    connect(&source->table(), &Table::currentRowChanged, this, &DirectoryGrid::followTable);
    followTable(source->table().currentRow());
}

void DirectoryGrid::followTable(int row)
{
    auto* indicator = static_cast<IndicatorHeader*>(verticalHeader());
    indicator->currentRow = row;
    indicator->viewport()->update();
    m_following = true;
    if (row < 0) {
        setCurrentIndex(QModelIndex());
    } else {
        const int column = currentIndex().isValid() ? currentIndex().column() : 0;
        const QModelIndex index = model()->index(row, column);
        setCurrentIndex(index);
        scrollTo(index, QAbstractItemView::EnsureVisible);
    }
    m_following = false;
}

void DirectoryGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    QTableView::currentChanged(current, previous);
    if (m_following || !m_source || !current.isValid())
        return;
    Table& table = m_source->table();
    if (current.row() != table.currentRow()) {
        try {
            table.moveTo(current.row());
        } catch (const std::exception& error) {
            // Moving saves a pending edit, which can fail: the grid stays on the table's
            // record and the window reports why.
            followTable(table.currentRow());
            emit moveFailed(QString::fromUtf8(error.what()));
        }
    }
}

void DirectoryGrid::mouseDoubleClickEvent(QMouseEvent* event)
{
    QTableView::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton)
        emit gridDoubleClicked();
}

void DirectoryGrid::keyPressEvent(QKeyEvent* event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if ((modifiers == Qt::NoModifier && event->key() == Qt::Key_Menu) ||
        (modifiers == Qt::ShiftModifier && event->key() == Qt::Key_F10)) {
        emit popupKeyPressed();
        return;
    }
    if (event->matches(QKeySequence::Copy)) {
        emit copyPressed();
        return;
    }
    if (modifiers == Qt::NoModifier && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        emit enterPressed();
        return;
    }
    if (modifiers == Qt::NoModifier && event->key() == Qt::Key_Delete) {
        emit deletePressed();
        return;
    }
    QTableView::keyPressEvent(event);
}

QRect DirectoryGrid::currentRowRect() const
{
    const QModelIndex current = currentIndex();
    if (!current.isValid() || !model())
        return {};
    const QRect first = visualRect(model()->index(current.row(), 0));
    const QRect last = visualRect(model()->index(current.row(), model()->columnCount() - 1));
    return first.united(last).intersected(viewport()->rect());
}

QPoint DirectoryGrid::popupPosition() const
{
    const QRect row = currentRowRect();
    const QPoint at = row.isEmpty() ? QPoint(0, 0) : QPoint(row.left(), row.bottom() + 1);
    return viewport()->mapToGlobal(at);
}

void DirectoryGrid::paintEvent(QPaintEvent* event)
{
    QTableView::paintEvent(event);
    // The keyboard's place: a dotted frame around the current row while the grid has the
    // focus, so the row the keys act on is told from a row merely selected.
    if (!hasFocus())
        return;
    const QRect row = currentRowRect();
    if (row.isEmpty())
        return;
    QPainter painter(viewport());
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(palette().color(QPalette::HighlightedText), 1, Qt::SolidLine));
    painter.drawRect(row.adjusted(1, 1, -2, -2));
    painter.setPen(QPen(palette().color(QPalette::Text), 1, Qt::DotLine));
    painter.drawRect(row.adjusted(1, 1, -2, -2));
}

void DirectoryGrid::focusInEvent(QFocusEvent* event)
{
    QTableView::focusInEvent(event);
    viewport()->update();
}

void DirectoryGrid::focusOutEvent(QFocusEvent* event)
{
    QTableView::focusOutEvent(event);
    viewport()->update();
}
