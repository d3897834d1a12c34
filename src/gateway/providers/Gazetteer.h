#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

// Places read from a file on this computer: a GeoNames place dump (cities500.txt,
// allCountries.txt, ...: 19 tab-separated columns), a GeoNames postal-code dump (US.txt, ...: 12
// columns) or a CSV of name,lat,lon with or without a header line. The kind is told from the
// columns of the first line. Names and postal codes are matched without regard to case or
// accents.
class GazetteerIndex
{
public:
    // Reads the whole file. Null, with *problem naming the file, when it cannot be used.
    static std::shared_ptr<const GazetteerIndex> read(const QString& path, QString* problem);

    struct Place
    {
        float latitude = 0;
        float longitude = 0;
        quint32 population = 0;
        quint32 name = 0;         // where its name starts in m_names
        quint16 admin1 = 0;       // into m_admin1: first-level division code as folded text ("ma", "nir")
        char country[2] = {0, 0}; // ISO 3166 code, upper case
        bool postal = false;
    };

    qsizetype size() const { return qsizetype(m_places.size()); }
    // Each place a folded name or postal code stands for, in file order.
    template <typename Visit> void forEach(const QByteArray& folded, Visit&& visit) const
    {
        const auto [from, to] = keysOf(folded);
        for (auto it = from; it != to; ++it) {
            // A common name has thousands of places, scattered through the file: ask for the
            // ones a few keys on while this one is looked at.
#if defined(__GNUC__) || defined(__clang__)
            if (to - it > Ahead) {
                __builtin_prefetch(&m_places[(it + Ahead)->place]);
            }
#endif
            visit(m_places[it->place]);
        }
    }
    const QByteArray& admin1(const Place& p) const
    {
        return m_admin1.at(p.admin1);
    }
    QString name(const Place& p) const
    {
        return QString::fromUtf8(m_names.constData() + p.name);
    }
    QString fileName() const
    {
        return m_fileName;
    }

    // Lower case, accents dropped, anything but letters and digits one space: what names are
    // matched on.
    static QByteArray fold(QByteArrayView text);
    static void foldInto(QByteArrayView text, QByteArray& out);

private:
    struct Key
    {
        quint64 hash;
        quint32 place;
    };
    void add(QByteArrayView name, QByteArrayView alsoName, double latitude, double longitude,
             QByteArrayView country, QByteArrayView admin1, quint32 population, bool postal);
    void addKeys(QByteArrayView name, QByteArrayView alsoName, quint32 place);
    static constexpr std::ptrdiff_t Ahead = 8;
    std::pair<std::vector<Key>::const_iterator, std::vector<Key>::const_iterator>
    keysOf(const QByteArray& folded) const;

    QString m_fileName;
    std::vector<Place> m_places;
    std::vector<Key> m_keys; // sorted by hash once read
    QByteArray m_names;      // display names, each ended by a NUL
    QList<QByteArray> m_admin1;
    // While the file is read.
    QHash<QByteArray, quint16> m_adminIds;
    QByteArray m_lastAdmin;
    quint16 m_lastAdminId = 0;
    QByteArray m_folded, m_alsoFolded;
};

// What a search finds in several files: each of its rules, documented in the README.
struct GazetteerMatch
{
    bool found = false;
    double latitude = 0;
    double longitude = 0;
    QString which;     // "Londonderry, NIR, GB, population 83652, in cities500.txt"
    int namesakes = 0; // how many places matched before the most likely was chosen
};
GazetteerMatch lookUpPlace(const QList<std::shared_ptr<const GazetteerIndex>>& files, const QString& search,
                           const QString& country);

// The files of a geocoder = gazetteer:... setting, read in the background from the start and
// read again when one changes. Searches made while a file is read wait for it.
class Gazetteer : public QObject
{
    Q_OBJECT
public:
    Gazetteer(const QStringList& paths, const QString& country, QObject* parent = nullptr);
    ~Gazetteer() override;

    struct Result
    {
        int status = 200;
        QString problem; // when status is not 200
        double latitude = 0;
        double longitude = 0;
        QString which;
        int namesakes = 0;
    };
    // done is called on this object's thread, at once or when the files are read.
    void find(const QString& search, std::function<void(const Result&)> done);
    bool ready() const;

signals:
    void loaded();

private:
    struct File
    {
        QString path;
        QDateTime modified;
        qint64 size = -1;
        std::shared_ptr<const GazetteerIndex> index;
        QString problem;
        bool loading = false;
    };
    struct Shared;
    void loadIfChanged();
    void fileRead(int file, std::shared_ptr<const GazetteerIndex> index, const QString& problem);
    Result answer(const QString& search) const;

    std::vector<File> m_files;
    QString m_country;
    QElapsedTimer m_lastCheck;
    std::shared_ptr<Shared> m_shared;
    std::vector<std::pair<QString, std::function<void(const Result&)>>> m_waiting;
};
