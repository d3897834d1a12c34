#pragma once

#include <QAbstractListModel>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class QTreeView;

// The locations of the main window's list, in the order they were added; duplicates allowed.
// A model over plain arrays so that a million locations stay cheap to hold and show: the
// characters of all locations lie packed in large blocks, and each location costs a pointer
// and a length beside them, not a string object and an allocation of its own.
class LocationList : public QAbstractListModel
{
    Q_OBJECT
public:
    explicit LocationList(QObject* parent = nullptr);

    void append(const QString& location);
    // Appends many at once: one notification to the view instead of one per location.
    void appendMany(QStringList locations);
    int count() const { return static_cast<int>(m_items.size()); }
    // Position 1 is the first location. Throws PlatformError outside 1..count().
    QString locationAt(int position) const;
    void removeAt(int position);
    void clear();

    void setHeaderText(const QString& text);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    struct Item
    {
        const char16_t* text;
        qsizetype size;
    };
    // Copies the characters into the blocks; the item is not yet in the list.
    Item keep(QStringView location);
    // Packs the remaining locations afresh once removed ones take more room than they do.
    void compactIfWasteful();

    std::vector<Item> m_items;
    // Blocks never move once made, so the items can point into them.
    std::vector<std::unique_ptr<char16_t[]>> m_blocks;
    qsizetype m_blockFree = 0;  // characters left at the end of the last shared block
    char16_t* m_next = nullptr; // where the next location's characters go in that block
    qsizetype m_heldChars = 0;  // characters of the locations in the list
    qsizetype m_deadChars = 0;  // characters of removed locations still taking room
    QString m_header;
};

// Removes the view's selected location, if there is one.
void removeSelected(LocationList& list, QTreeView& view);
