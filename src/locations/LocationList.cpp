#include "locations/LocationList.h"

#include "platform/PlatformError.h"

#include <QItemSelectionModel>
#include <QTreeView>

#include <algorithm>
#include <utility>

namespace {

// 2 MiB blocks: few enough for a million locations, small enough that the last one's unused
// end does not matter. A location longer than a sixteenth of one gets a block of its own, so
// starting a new block wastes little of the old one.
constexpr qsizetype BlockChars = qsizetype(1) << 20;
constexpr qsizetype OwnBlockChars = BlockChars / 16;

} // namespace

LocationList::LocationList(QObject* parent) : QAbstractListModel(parent) {}

LocationList::Item LocationList::keep(QStringView location)
{
    const qsizetype size = location.size();
    if (size == 0)
        return {nullptr, 0};
    char16_t* to;
    if (size >= OwnBlockChars) {
        m_blocks.push_back(std::make_unique_for_overwrite<char16_t[]>(static_cast<size_t>(size)));
        // The shared block stays the last one to fill, even though it is no longer last in m_blocks.
        to = m_blocks.back().get();
    } else {
        if (size > m_blockFree) {
            m_blocks.push_back(std::make_unique_for_overwrite<char16_t[]>(static_cast<size_t>(BlockChars)));
            m_next = m_blocks.back().get();
            m_blockFree = BlockChars;
        }
        to = m_next;
        m_next += size;
        m_blockFree -= size;
    }
    std::copy_n(location.utf16(), size, to);
    m_heldChars += size;
    return {to, size};
}

void LocationList::append(const QString& location)
{
    const int row = count();
    const Item item = keep(location);
    beginInsertRows(QModelIndex(), row, row);
    m_items.push_back(item);
    endInsertRows();
}

void LocationList::appendMany(QStringList locations)
{
    if (locations.isEmpty())
        return;
    const int first = count();
    // Geometric growth: reserving the exact size on every batch would copy the whole list each time.
    const size_t needed = m_items.size() + static_cast<size_t>(locations.size());
    if (needed > m_items.capacity())
        m_items.reserve(std::max(needed, 2 * m_items.capacity()));
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(locations.size()) - 1);
    for (QString& location : locations)
        m_items.push_back(keep(std::exchange(location, QString())));
    endInsertRows();
}

QString LocationList::locationAt(int position) const
{
    if (position < 1 || position > count())
        throw PlatformError(QStringLiteral("Index out of bounds: there is no location %1 in the list of %2")
                                .arg(position)
                                .arg(count()));
    const Item& item = m_items[static_cast<size_t>(position - 1)];
    return QString::fromUtf16(item.text, item.size);
}

void LocationList::removeAt(int position)
{
    if (position < 1 || position > count())
        return;
    beginRemoveRows(QModelIndex(), position - 1, position - 1);
    const auto it = m_items.begin() + (position - 1);
    m_heldChars -= it->size;
    m_deadChars += it->size;
    m_items.erase(it);
    endRemoveRows();
    compactIfWasteful();
}

void LocationList::compactIfWasteful()
{
    if (m_deadChars < BlockChars || m_deadChars < m_heldChars)
        return;
    // The model's contents do not change, only where they are kept.
    std::vector<std::unique_ptr<char16_t[]>> old;
    old.swap(m_blocks);
    m_blockFree = 0;
    m_next = nullptr;
    m_heldChars = 0;
    m_deadChars = 0;
    for (Item& item : m_items)
        item = keep(QStringView(item.text, item.size));
}

void LocationList::clear()
{
    beginResetModel();
    std::vector<Item>().swap(m_items);
    std::vector<std::unique_ptr<char16_t[]>>().swap(m_blocks);
    m_blockFree = 0;
    m_next = nullptr;
    m_heldChars = 0;
    m_deadChars = 0;
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
        const Item& item = m_items[static_cast<size_t>(index.row())];
        return QString::fromUtf16(item.text, std::min(item.size, Shown));
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
