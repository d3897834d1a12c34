#pragma once

#include <QAbstractListModel>
#include <QString>
#include <QStringList>

#include <vector>

class QTreeView;

// The locations of the main window's list, in the order they were added; duplicates allowed.
// A model over a plain vector so that a million locations stay cheap to hold and show.
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
    const QString& locationAt(int position) const;
    void removeAt(int position);
    void clear();

    void setHeaderText(const QString& text);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    std::vector<QString> m_items;
    QString m_header;
};

// Removes the view's selected location, if there is one.
void removeSelected(LocationList& list, QTreeView& view);
