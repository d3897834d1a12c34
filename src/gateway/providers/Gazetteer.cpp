#include "Gazetteer.h"

#include "Reasons.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QThreadPool>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <mutex>

namespace {

// Country words a person writes that are not the ISO code the files use.
QByteArray countryCode(const QByteArray& folded)
{
    static const QHash<QByteArray, QByteArray> aliases{
        {"uk", "GB"},  {"usa", "US"}, {"gbr", "GB"}, {"deu", "DE"}, {"fra", "FR"},
        {"can", "CA"}, {"aus", "AU"}, {"irl", "IE"}, {"nzl", "NZ"}, {"esp", "ES"}};
    if (const auto it = aliases.constFind(folded); it != aliases.cend()) {
        return it.value();
    }
    return folded.size() == 2 ? folded.toUpper() : QByteArray();
}

quint64 hashOf(QByteArrayView folded)
{
    // FNV-1a: the same on every run, so nothing depends on Qt's per-process hash seed.
    quint64 h = 1469598103934665603ULL;
    for (const char c : folded) {
        h = (h ^ quint8(c)) * 1099511628211ULL;
    }
    return h;
}

bool number(QByteArrayView text, double* out)
{
    text = text.trimmed();
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *out);
    return error == std::errc() && end == text.data() + text.size() && std::isfinite(*out);
}

bool usable(double latitude, double longitude)
{
    return std::abs(latitude) <= 90 && std::abs(longitude) <= 180;
}

// Splits a line into at most max fields at sep, without copying.
qsizetype split(QByteArrayView line, char sep, QByteArrayView* fields, qsizetype max)
{
    qsizetype n = 0;
    qsizetype start = 0;
    while (n < max) {
        const qsizetype end = line.indexOf(sep, start);
        fields[n++] = line.sliced(start, (end < 0 ? line.size() : end) - start);
        if (end < 0) {
            return n;
        }
        start = end + 1;
    }
    return n + 1; // more than max
}

// A CSV line's three fields; the name may be in quotation marks, with "" for one.
bool csvFields(QByteArrayView line, QByteArray* name, QByteArrayView* lat, QByteArrayView* lon)
{
    qsizetype rest = 0;
    if (line.startsWith('"')) {
        name->clear();
        qsizetype i = 1;
        for (;; ++i) {
            if (i >= line.size()) {
                return false;
            }
            if (line[i] == '"') {
                if (i + 1 < line.size() && line[i + 1] == '"') {
                    name->append('"');
                    ++i;
                    continue;
                }
                break;
            }
            name->append(line[i]);
        }
        if (i + 1 >= line.size() || line[i + 1] != ',') {
            return false;
        }
        rest = i + 2;
    } else {
        const qsizetype comma = line.indexOf(',');
        if (comma < 0) {
            return false;
        }
        *name = line.first(comma).toByteArray();
        rest = comma + 1;
    }
    QByteArrayView fields[3];
    const qsizetype n = split(line.sliced(rest), ',', fields, 3);
    if (n < 2 || n > 3) {
        return false;
    }
    *lat = fields[0];
    *lon = fields[1];
    return true;
}

enum class Kind
{
    Places,
    PostalCodes,
    Csv,
    Unknown
};

Kind kindOf(QByteArrayView line)
{
    const qsizetype tabs = line.count('\t');
    if (tabs == 18) {
        return Kind::Places;
    }
    if (tabs == 11) {
        return Kind::PostalCodes;
    }
    return tabs == 0 && line.count(',') >= 2 ? Kind::Csv : Kind::Unknown;
}

} // namespace

QByteArray GazetteerIndex::fold(QByteArrayView text)
{
    QByteArray out;
    foldInto(text, out);
    return out;
}

void GazetteerIndex::foldInto(QByteArrayView text, QByteArray& out)
{
    out.clear();
    const auto put = [&out](char c) {
        if (c == ' ') {
            if (!out.isEmpty() && !out.endsWith(' ')) {
                out.append(' ');
            }
        } else {
            out.append(c);
        }
    };
    const bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return quint8(c) < 0x80; });
    if (ascii) {
        for (const char c : text) {
            if (c >= 'A' && c <= 'Z') {
                put(char(c - 'A' + 'a'));
            } else if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
                put(c);
            } else {
                put(' ');
            }
        }
    } else {
        // Accents come apart from their letters and are dropped; folding the case makes the rest match.
        const QString decomposed = QString::fromUtf8(text).normalized(QString::NormalizationForm_KD);
        QString kept;
        kept.reserve(decomposed.size());
        for (const QChar c : decomposed) {
            if (c.isMark()) {
                continue;
            }
            kept.append(c.isLetterOrNumber() || c.isSurrogate() ? c.toCaseFolded() : QChar(u' '));
        }
        for (const char c : kept.toUtf8()) {
            put(c);
        }
    }
    if (out.endsWith(' ')) {
        out.chop(1);
    }
}

// Keyed by its name and, when it folds to something else, its other name; the work buffers are
// kept from line to line.
void GazetteerIndex::addKeys(QByteArrayView name, QByteArrayView alsoName, quint32 place)
{
    foldInto(name, m_folded);
    if (!m_folded.isEmpty()) {
        m_keys.push_back(Key{hashOf(m_folded), place});
    }
    if (!alsoName.isEmpty() && alsoName != name) {
        foldInto(alsoName, m_alsoFolded);
        if (!m_alsoFolded.isEmpty() && m_alsoFolded != m_folded) {
            m_keys.push_back(Key{hashOf(m_alsoFolded), place});
        }
    }
}

void GazetteerIndex::add(QByteArrayView name, QByteArrayView alsoName, double latitude, double longitude,
                         QByteArrayView country, QByteArrayView admin1, quint32 population, bool postal)
{
    Place p;
    p.latitude = float(latitude);
    p.longitude = float(longitude);
    p.population = population;
    p.postal = postal;
    p.name = quint32(m_names.size());
    m_names.append(postal ? alsoName : name);
    m_names.append('\0');
    if (country.size() == 2) {
        p.country[0] = char(QChar::toUpper(uint(quint8(country[0]))));
        p.country[1] = char(QChar::toUpper(uint(quint8(country[1]))));
    }
    // Lines come grouped by division: the one before is most often the one.
    if (admin1 == m_lastAdmin) {
        p.admin1 = m_lastAdminId;
    } else if (const QByteArray code = fold(admin1); m_adminIds.contains(code)) {
        p.admin1 = m_adminIds.value(code);
        m_lastAdmin = admin1.toByteArray();
        m_lastAdminId = p.admin1;
    } else if (m_admin1.size() < 65535) {
        p.admin1 = quint16(m_admin1.size());
        m_adminIds.insert(code, p.admin1);
        m_admin1.append(code);
        m_lastAdmin = admin1.toByteArray();
        m_lastAdminId = p.admin1;
    }

    const auto place = quint32(m_places.size());
    m_places.push_back(p);
    addKeys(name, alsoName, place);
}

std::shared_ptr<const GazetteerIndex> GazetteerIndex::read(const QString& path, QString* problem)
{
    auto index = std::make_shared<GazetteerIndex>();
    index->m_fileName = QFileInfo(path).fileName();
    index->m_admin1.append(QByteArray());
    index->m_adminIds.insert(QByteArray(), 0);
    const auto failed = [&](const QString& what) {
        *problem = QStringLiteral("The place file \"%1\" %2").arg(index->m_fileName, what);
        return nullptr;
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return failed(QStringLiteral("cannot be read: %1").arg(file.errorString()));
    }
    Kind kind = Kind::Unknown;
    bool first = true;
    QByteArray csvName;
    const auto line = [&](QByteArrayView text) {
        if (text.endsWith('\r')) {
            text.chop(1);
        }
        if (text.isEmpty() || text.startsWith('#')) {
            return;
        }
        if (first) {
            kind = kindOf(text);
        }
        QByteArrayView f[20];
        double lat = 0, lon = 0;
        switch (kind) {
        case Kind::Places:
            if (split(text, '\t', f, 19) == 19 && number(f[4], &lat) && number(f[5], &lon) &&
                usable(lat, lon)) {
                quint32 population = 0;
                std::from_chars(f[14].data(), f[14].data() + f[14].size(), population);
                index->add(f[1], f[2], lat, lon, f[8], f[10], population, false);
            }
            break;
        case Kind::PostalCodes:
            if (split(text, '\t', f, 12) == 12 && number(f[9], &lat) && number(f[10], &lon) &&
                usable(lat, lon)) {
                index->add(f[1], f[2], lat, lon, f[0], f[4], 0, true);
                // The place a postal code belongs to is found by its name too.
            }
            break;
        case Kind::Csv:
            if (csvFields(text, &csvName, &f[0], &f[1]) && number(f[0], &lat) && number(f[1], &lon) &&
                usable(lat, lon)) {
                index->add(csvName, {}, lat, lon, {}, {}, 0, false);
            }
            break; // a first line that is not a place is the header
        case Kind::Unknown:
            break;
        }
        first = false;
    };
    // Read in large pieces rather than by line: a file of millions of lines is read in a second or two.
    QByteArray buffer;
    QByteArray chunk(4 << 20, Qt::Uninitialized);
    for (;;) {
        const qint64 n = file.read(chunk.data(), chunk.size());
        if (n < 0) {
            return failed(QStringLiteral("cannot be read: %1").arg(file.errorString()));
        }
        if (n == 0) {
            break;
        }
        buffer.append(chunk.constData(), n);
        qsizetype start = 0;
        for (qsizetype end; (end = buffer.indexOf('\n', start)) >= 0; start = end + 1) {
            line(QByteArrayView(buffer).sliced(start, end - start));
        }
        buffer.remove(0, start);
        if (kind == Kind::Unknown && !first) {
            break;
        }
    }
    if (!buffer.isEmpty()) {
        line(buffer); // the last line, without a line end
    }
    if (kind == Kind::Unknown) {
        return failed(QStringLiteral("is neither a GeoNames dump nor a CSV of name,lat,lon"));
    }
    if (index->m_places.empty()) {
        return failed(QStringLiteral("holds no places"));
    }
    // Namesakes stay in file order: ties go to the first line.
    std::sort(index->m_keys.begin(), index->m_keys.end(), [](const Key& a, const Key& b) {
        return a.hash < b.hash || (a.hash == b.hash && a.place < b.place);
    });
    index->m_places.shrink_to_fit();
    index->m_keys.shrink_to_fit();
    index->m_names.squeeze();
    index->m_adminIds.clear();
    return index;
}

std::pair<std::vector<GazetteerIndex::Key>::const_iterator, std::vector<GazetteerIndex::Key>::const_iterator>
GazetteerIndex::keysOf(const QByteArray& folded) const
{
    return std::equal_range(m_keys.cbegin(), m_keys.cend(), Key{hashOf(folded), 0},
                            [](const Key& a, const Key& b) { return a.hash < b.hash; });
}

GazetteerMatch lookUpPlace(const QList<std::shared_ptr<const GazetteerIndex>>& files, const QString& search,
                           const QString& country)
{
    GazetteerMatch out;
    const QByteArray wanted = countryCode(GazetteerIndex::fold(country.toUtf8()));
    const QList<QByteArray> words = GazetteerIndex::fold(search.toUtf8()).split(' ');
    if (words.constFirst().isEmpty()) {
        return out;
    }
    // The whole search as a name first, then with one, two or three words at the end taken as a
    // division code or a country: "Haverhill MA", "Londonderry NH USA".
    for (qsizetype qualifiers = 0; qualifiers <= std::min<qsizetype>(3, words.size() - 1); ++qualifiers) {
        const QByteArray name = words.first(words.size() - qualifiers).join(' ');
        const QList<QByteArray> rest = words.sliced(words.size() - qualifiers);
        const GazetteerIndex* bestFile = nullptr;
        const GazetteerIndex::Place* best = nullptr;
        const auto rank = [&wanted](const GazetteerIndex::Place& p) {
            const bool inCountry = !wanted.isEmpty() && QByteArrayView(p.country, 2) == wanted;
            return std::pair(inCountry, p.population);
        };
        QList<QByteArray> countries;
        for (const QByteArray& word : rest) {
            countries << countryCode(word);
        }
        int found = 0;
        for (const auto& file : files) {
            file->forEach(name, [&](const GazetteerIndex::Place& p) {
                for (qsizetype i = 0; i < rest.size(); ++i) {
                    if (rest[i] != file->admin1(p) && countries[i] != QByteArrayView(p.country, 2)) {
                        return;
                    }
                }
                ++found;
                // Ties go to the first file named, then the first line.
                if (!best || rank(p) > rank(*best)) {
                    best = &p;
                    bestFile = file.get();
                }
            });
        }
        if (best) {
            out.found = true;
            out.latitude = best->latitude;
            out.longitude = best->longitude;
            out.namesakes = found;
            QStringList parts{bestFile->name(*best)};
            if (!bestFile->admin1(*best).isEmpty()) {
                parts << QString::fromUtf8(bestFile->admin1(*best)).toUpper();
            }
            if (best->country[0]) {
                parts << QString::fromLatin1(best->country, 2);
            }
            if (best->population) {
                parts << QStringLiteral("population %1").arg(best->population);
            }
            out.which = parts.join(QStringLiteral(", ")) + QStringLiteral(", in ") + bestFile->fileName();
            return out;
        }
    }
    return out;
}

// What the loading threads and the gazetteer share: the gazetteer may be gone when a file is read.
struct Gazetteer::Shared
{
    std::mutex mutex;
    Gazetteer* owner = nullptr; // cleared by the gazetteer as it goes, on its own thread
};

Gazetteer::Gazetteer(const QStringList& paths, const QString& country, QObject* parent)
    : QObject(parent), m_country(country), m_shared(std::make_shared<Shared>())
{
    m_shared->owner = this;
    for (const QString& path : paths) {
        m_files.push_back(File{path, {}, -1, nullptr, {}, false});
    }
    loadIfChanged();
}

Gazetteer::~Gazetteer()
{
    const std::lock_guard lock(m_shared->mutex);
    m_shared->owner = nullptr;
}

bool Gazetteer::ready() const
{
    return std::none_of(m_files.begin(), m_files.end(),
                        [](const File& f) { return f.loading && !f.index && f.problem.isEmpty(); });
}

void Gazetteer::loadIfChanged()
{
    m_lastCheck.start();
    for (int i = 0; i < int(m_files.size()); ++i) {
        File& f = m_files[size_t(i)];
        const QFileInfo info(f.path);
        if (f.loading || (info.lastModified() == f.modified && info.size() == f.size)) {
            continue;
        }
        f.modified = info.lastModified();
        f.size = info.size();
        f.loading = true;
        // The last usable index keeps answering while a changed file is read again.
        QThreadPool::globalInstance()->start([shared = std::weak_ptr<Shared>(m_shared), path = f.path, i] {
            QString problem;
            std::shared_ptr<const GazetteerIndex> index = GazetteerIndex::read(path, &problem);
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [shared, index, problem, i] {
                    if (const auto s = shared.lock(); s && s->owner) {
                        s->owner->fileRead(i, index, problem);
                    }
                },
                Qt::QueuedConnection);
        });
    }
}

void Gazetteer::fileRead(int file, std::shared_ptr<const GazetteerIndex> index, const QString& problem)
{
    File& f = m_files[size_t(file)];
    f.loading = false;
    f.problem = problem;
    if (index) {
        f.index = std::move(index);
    }
    if (!problem.isEmpty()) {
        qWarning("%s", qPrintable(problem));
    } else {
        qInfo("read %lld places from %s", static_cast<long long>(f.index->size()), qPrintable(f.path));
    }
    if (!ready()) {
        return;
    }
    for (auto& [search, done] : std::exchange(m_waiting, {})) {
        done(answer(search));
    }
    emit loaded();
}

void Gazetteer::find(const QString& search, std::function<void(const Result&)> done)
{
    if (!m_lastCheck.isValid() || m_lastCheck.hasExpired(1000)) {
        loadIfChanged();
    }
    if (!ready()) {
        m_waiting.emplace_back(search, std::move(done));
        return;
    }
    done(answer(search));
}

Gazetteer::Result Gazetteer::answer(const QString& search) const
{
    QList<std::shared_ptr<const GazetteerIndex>> files;
    QStringList names;
    Result out;
    for (const File& f : m_files) {
        names << QStringLiteral("\"%1\"").arg(QFileInfo(f.path).fileName());
        if (f.index) {
            files.append(f.index);
        } else if (out.problem.isEmpty()) {
            out.problem = f.problem;
        }
    }
    const GazetteerMatch match = lookUpPlace(files, search, m_country);
    if (match.found) {
        out.problem.clear();
        out.latitude = match.latitude;
        out.longitude = match.longitude;
        out.which = match.which;
        out.namesakes = match.namesakes;
        return out;
    }
    if (!out.problem.isEmpty()) {
        out.status = 503;
        return out;
    }
    out.status = 404;
    out.problem = QStringLiteral("No place found for %1 in %2")
                      .arg(Reasons::quoted(search), names.join(QStringLiteral(", ")));
    return out;
}
