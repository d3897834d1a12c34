#include "locations/LocationList.h"

#include "platform/PlatformError.h"

#include <QItemSelectionModel>
#include <QTreeView>

#include <algorithm>

LocationList::LocationList(QObject* parent) : QAbstractListModel(parent) {}

void LocationList::append(const QString& location)
{
    const int row = count();
    beginInsertRows(QModelIndex(), row, row);
    m_items.push_back(location);
    endInsertRows();
}

void LocationList::appendMany(QStringList locations)
{
    if (locations.isEmpty())
        return;
    const int first = count();
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(locations.size()) - 1);
    // Geometric growth: reserving the exact size on every batch would copy the whole list each time.
    const size_t needed = m_items.size() + static_cast<size_t>(locations.size());
    if (needed > m_items.capacity())
        m_items.reserve(std::max(needed, 2 * m_items.capacity()));
    for (QString& location : locations)
        m_items.push_back(std::move(location));
    endInsertRows();
}

const QString& LocationList::locationAt(int position) const
{
    if (position < 1 || position > count())
        throw PlatformError(QStringLiteral("Index out of bounds: there is no location %1 in the list of %2")
                                .arg(position)
                                .arg(count()));
    return m_items[static_cast<size_t>(position - 1)];
}

void LocationList::removeAt(int position)
{
    if (position < 1 || position > count())
        return;
    beginRemoveRows(QModelIndex(), position - 1, position - 1);
    m_items.erase(m_items.begin() + (position - 1));
    endRemoveRows();
}

void LocationList::clear()
{
    beginResetModel();
    std::vector<QString>().swap(m_items);
    endResetModel();
}

void LocationList::setHeaderText(const QString& text)
{
    m_header = text;
    emit headerDataChanged(Qt::Horizontal, 0, 0);
}

int LocationList::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : count();
}

QVariant LocationList::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= count())
        return {};
    if (role == Qt::DisplayRole) {
        // The view lays out all the text it is given; a location of a whole file's length
        // (a list without line ends) would freeze the window while it is drawn.
        constexpr qsizetype Shown = 4096;
        const QString& item = m_items[static_cast<size_t>(index.row())];
        return item.size() <= Shown ? item : item.left(Shown);
    }
    return {};
}

QVariant LocationList::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && section == 0 && role == Qt::DisplayRole)
        return m_header;
    return {};
}

void removeSelected(LocationList& list, QTreeView& view)
{
    if (list.count() == 0 || !view.selectionModel())
        return;
    const QModelIndexList selected = view.selectionModel()->selectedRows();
    if (selected.isEmpty())
        return;
    list.removeAt(selected.first().row() + 1);
}
