#include "browse/FileListModel.h"

#include <QApplication>
#include <QFile>
#include <QIcon>
#include <QLocale>
#include <QPalette>
#include <algorithm>

#include "browse/FileListView.h"

// ---------------------------------------------------------------------------------------------
// Rows

QVariant TFileListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const int row = index.row();
    const int column = index.column();
    switch (role) {
        case Qt::DisplayRole:
            return column == 0 ? rows[row].caption : SubItem(row, column - 1);
        case Qt::DecorationRole: {
            if (column != 0) return {};
            const QIcon icon = TSystemImageList::Instance().Icon(Image(row));
            if (!IsCut(row)) return icon;
            // A cut entry is shown dimmed until it is pasted, as file managers do.
            return QIcon(icon.pixmap(QSize(32, 32), QIcon::Disabled));
        }
        case Qt::ForegroundRole:
            if (!IsCut(row)) return {};
            return QApplication::palette().brush(QPalette::Disabled, QPalette::Text);
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(alignments[column] | Qt::AlignVCenter);
        default:
            return {};
    }
}

QVariant TFileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount) return {};
    if (role == Qt::DisplayRole) return captions[section];
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(alignments[section] | Qt::AlignVCenter);
    return {};
}

bool TFileListModel::IsCut(int row) const {
    if (cutPaths.isEmpty()) return false;
    const TListRow& r = rows[row];
    return !r.parent &&
           cutPaths.contains(r.native.isEmpty() ? QFile::encodeName(r.path) : r.native);
}

QString TFileListModel::SubItem(int row, int index) const {
    const TListRow& r = rows[row];
    switch (index) {
        case 0:
        case 1:
        case 2:
        case 3:
            MakeText(r, index);
            return r.texts[index];
        case 4:
            return r.path;
        case 5:
            return QString::fromLatin1(r.kind == rkDir    ? TFileListView::KindDir
                                       : r.kind == rkFile ? TFileListView::KindFile
                                                          : TFileListView::KindDrive);
        case 6:
            return r.kind == rkDrive ? QString() : QString::number(r.fileTime);
        default:
            return {};
    }
}

int TFileListModel::Image(int row) const {
    const TListRow& r = rows[row];
    if (r.image == -2) r.image = r.parent ? parentImage : SmallIconIndex(r.path);
    return r.image;
}

qint64 TFileListModel::SizeNumber(const TListRow& r) const {
    if (r.kind != rkFile) return 0;
    if (!format.sizeInKB) return r.size;
    return r.size > 0 && r.size < 1024 ? 1 : r.size / 1024;
}

void TFileListModel::SetColumns(const QString (&newCaptions)[ColumnCount],
                                const Qt::Alignment (&newAlignments)[ColumnCount]) {
    for (int i = 0; i < ColumnCount; ++i) {
        captions[i] = newCaptions[i];
        alignments[i] = newAlignments[i];
    }
    emit headerDataChanged(Qt::Horizontal, 0, ColumnCount - 1);
}

void TFileListModel::Arrange(const std::vector<int>& order) {
    std::vector<TListRow> sorted;
    sorted.reserve(rows.size());
    for (int old : order)
        sorted.push_back(std::move(rows[old]));
    rows.swap(sorted);
}

void TFileListModel::Reorder(const std::vector<int>& order) {
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> newRowOf(order.size());
    for (size_t i = 0; i < order.size(); ++i)
        newRowOf[order[i]] = static_cast<int>(i);
    Arrange(order);
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex& index : from)
        to.append(index.row() < static_cast<int>(newRowOf.size())
                      ? createIndex(newRowOf[index.row()], index.column())
                      : QModelIndex());
    changePersistentIndexList(from, to);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void TFileListModel::MakeText(const TListRow& r, int index) const {
    const quint8 bit = static_cast<quint8>(1u << index);
    if (r.ready & bit) return;
    r.ready |= bit;
    if (r.parent) {
        r.texts[index] = QStringLiteral(" ");
        return;
    }
    switch (index) {
        case 0:
            if (format.sizeInKB)
                r.texts[0] = SizeTextKB(
                    r.kind == rkDir ? QStringLiteral("dir") : QStringLiteral("file"), r.size);
            else
                r.texts[0] = r.kind == rkDir ? QStringLiteral(" ") : QString::number(r.size);
            break;
        case 1:
            r.texts[1] = ShellTypeName(r.path).left(79);
            break;
        case 2:
            r.texts[2] = FormatModified(r.fileTime, format.datePattern, format.timePattern);
            break;
        case 3:
            r.texts[3] = AttributeLetters(r.attributes);
            break;
    }
}

// ---------------------------------------------------------------------------------------------
// Orders

namespace {

int Sign(int value) {
    return value < 0 ? -1 : value > 0 ? 1 : 0;
}
int Compare64(qint64 a, qint64 b) {
    return a < b ? -1 : a > b ? 1 : 0;
}

}  // namespace

QCollator FileNameCollator() {
    QCollator collator{QLocale()};
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setIgnorePunctuation(false);
    return collator;
}

namespace {

// The C and POSIX locales (LANG=C.UTF-8 on minimal systems and in containers) have no
// collation: Qt's collator then compares code points, without numbers by value, and puts "Ä"
// after "z". Names are then ordered by FallbackNameKey instead.
bool LocaleHasCollation() {
    return QLocale().language() != QLocale::C;
}

// A name as the fallback order reads it: letters without their accents, case folded ("Äpfel"
// reads as "apfel").
QString FallbackNameKey(const QString& name) {
    const QString decomposed = name.normalized(QString::NormalizationForm_D);
    QString key;
    key.reserve(decomposed.size());
    for (const QChar c : decomposed)
        if (c.category() != QChar::Mark_NonSpacing) key.append(c);
    return key.toCaseFolded();
}

// Compares two names with runs of digits by their value ("9" before "10"), everything else by
// code point.
int CompareNatural(const QString& a, const QString& b) {
    qsizetype i = 0, j = 0;
    const qsizetype n = a.size(), m = b.size();
    while (i < n && j < m) {
        if (a[i].isDigit() && b[j].isDigit() && a[i].unicode() < 0x80 && b[j].unicode() < 0x80) {
            qsizetype ei = i, ej = j;
            while (ei < n && a[ei].unicode() >= u'0' && a[ei].unicode() <= u'9')
                ++ei;
            while (ej < m && b[ej].unicode() >= u'0' && b[ej].unicode() <= u'9')
                ++ej;
            qsizetype si = i, sj = j;
            while (si + 1 < ei && a[si] == u'0')
                ++si;
            while (sj + 1 < ej && b[sj] == u'0')
                ++sj;
            // More significant digits is the larger number; else digit by digit.
            if (ei - si != ej - sj) return ei - si < ej - sj ? -1 : 1;
            for (qsizetype k = 0; k < ei - si; ++k)
                if (a[si + k] != b[sj + k]) return a[si + k] < b[sj + k] ? -1 : 1;
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j]) return a[i] < b[j] ? -1 : 1;
        ++i;
        ++j;
    }
    return i < n ? 1 : j < m ? -1 : 0;
}

// The fallback order on keys made once per name: letters alike, then accents, then case.
int CompareFallback(const QString& keyA, const QString& a, const QString& keyB, const QString& b) {
    if (const int c = CompareNatural(keyA, keyB)) return c;
    if (const int c = CompareNatural(a.toCaseFolded(), b.toCaseFolded())) return c;
    return Sign(QString::compare(a, b, Qt::CaseSensitive));
}

}  // namespace

int CompareFileNames(const QString& a, const QString& b) {
    if (!LocaleHasCollation()) return CompareFallback(FallbackNameKey(a), a, FallbackNameKey(b), b);
    if (const int c = FileNameCollator().compare(a, b)) return Sign(c);
    return Sign(QString::compare(a, b, Qt::CaseSensitive));
}

std::vector<int> TFileListModel::SortedOrder(int column, bool reverse) const {
    const TFileListModel* model = this;
    const std::vector<TListRow>& rows = this->rows;

    // Names compare as people read them: numbers by their value ("9" before "10") and letters
    // by the user's locale ("Ärger" before "Z"), letter case aside; names equal that way keep a
    // fixed order by their characters.
    const QCollator collator = FileNameCollator();
    // Without a collation in the locale, every name's key is made once for the whole sort.
    const bool collates = LocaleHasCollation();
    std::vector<QString> keys;
    if (!collates && column == 0) {
        keys.reserve(rows.size());
        for (const TListRow& row : rows)
            keys.push_back(FallbackNameKey(row.caption));
    }
    auto compare = [model, column, &rows, &collator, &keys](int i, int j) -> int {
        const TListRow& a = rows[i];
        const TListRow& b = rows[j];
        const bool aDir = a.kind == rkDir, bDir = b.kind == rkDir;
        if (aDir && !bDir) return -1;
        if (bDir && !aDir) return 1;
        switch (column) {
            case 0:
                if (!keys.empty())
                    return CompareFallback(keys[size_t(i)], a.caption, keys[size_t(j)], b.caption);
                if (const int c = collator.compare(a.caption, b.caption)) return Sign(c);
                return Sign(QString::compare(a.caption, b.caption, Qt::CaseSensitive));
            case 1:
                return Compare64(model->SizeNumber(a), model->SizeNumber(b));
            case 3:
                return Compare64(a.fileTime, b.fileTime);
            case 2:
            case 4:
                return QString::compare(model->SubItem(i, column - 1),
                                        model->SubItem(j, column - 1), Qt::CaseInsensitive);
        }
        return 0;
    };

    // The reversed order turns every comparison round except those with the parent row, which
    // therefore stays in front of the files that a reversed order puts first. It is placed on
    // its own so that the order stays consistent for any column.
    std::vector<int> order;
    order.reserve(rows.size());
    int parentRow = -1;
    for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
        if (rows[i].parent && parentRow < 0)
            parentRow = i;
        else
            order.push_back(i);
    }
    std::stable_sort(order.begin(), order.end(), [&](int i, int j) {
        const int c = compare(i, j);
        return reverse ? c > 0 : c < 0;
    });
    if (parentRow >= 0) {
        auto at = order.begin();
        if (!reverse)
            at = std::partition_point(order.begin(), order.end(),
                                      [&](int i) { return compare(i, parentRow) < 0; });
        order.insert(at, parentRow);
    }
    return order;
}

// ---------------------------------------------------------------------------------------------
// Modified text

QString ModifiedTextPattern(const QString& qt, bool keepAmPmAsT) {
    QString out;
    for (qsizetype i = 0; i < qt.size();) {
        const QChar c = qt.at(i);
        qsizetype n = 1;
        while (i + n < qt.size() && qt.at(i + n) == c)
            ++n;
        if (c == u'\'') {
            const qsizetype end = qt.indexOf(u'\'', i + 1);
            const qsizetype stop = end < 0 ? qt.size() : end + 1;
            out += qt.mid(i, stop - i);
            i = stop;
            continue;
        }
        if (c == u'A' || c == u'a') {
            // "AP"/"A" (upper case) and "ap"/"a" (lower case) give the 12-hour clock marker.
            qsizetype len = 1;
            if (i + 1 < qt.size() && (qt.at(i + 1) == u'P' || qt.at(i + 1) == u'p')) len = 2;
            if (keepAmPmAsT)
                out += QStringLiteral("tt");
            else
                out += c == u'A' ? QStringLiteral("AM/PM") : QStringLiteral("am/pm");
            i += len;
            continue;
        }
        if (c == u't') {
            // Time zone: not part of the patterns; drop it with the blank before it.
            while (out.endsWith(u' '))
                out.chop(1);
            i += n;
            continue;
        }
        if (c == u'H') {
            out += QString(n, u'h');
            i += n;
            continue;
        }
        out += qt.mid(i, n);
        i += n;
    }
    return out.trimmed();
}