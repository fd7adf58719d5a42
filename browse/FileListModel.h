#pragma once
// TFileListModel: the rows of the file list and the texts of their columns, shared by the list's
// report view and its list and icon views. Folder rows keep the raw entry data and make their
// column texts on first use; the model also knows the list's orders (SortedOrder) and the Name
// order of two captions (CompareFileNames).
#include <QAbstractTableModel>
#include <QCollator>
#include <QSet>
#include <QString>
#include <vector>

#include "browse/ShellHelpers.h"

enum TRowKind : char { rkDir, rkFile, rkDrive };

// Which lazily made texts of a row are ready.
enum : quint8 { txSize = 1, txType = 2, txModified = 4, txAttr = 8, txAll = 15 };

// One row. Folder rows keep the raw entry data and make their column texts on first use (most
// rows of a long folder are never painted in report style and never at all in list style).
struct TListRow {
    QString caption;
    QString path;         // sub-item 4
    QByteArray native;    // the path's bytes, kept only when the name does not decode cleanly
    qint64 size = 0;      // bytes
    qint64 fileTime = 0;  // last write, 100-ns units since 1601 UTC
    quint32 attributes = 0;
    TRowKind kind = rkFile;
    bool parent = false;
    TDriveKind driveKind = dkUnknown;
    mutable int image = -2;  // -2: not looked up yet
    mutable quint8 ready = 0;
    mutable QString texts[4];  // sub-items 0 to 3
};

// The formats in force when the rows were filled; rows keep them until the next fill.
struct TFillFormat {
    bool sizeInKB = true;
    QString datePattern;
    QString timePattern;
};

class TFileListModel : public QAbstractTableModel {
  public:
    static constexpr int ColumnCount = 5;
    static constexpr int FolderSubItems = 7;
    static constexpr int DriveSubItems = 6;

    std::vector<TListRow> rows;
    TFillFormat format;
    int parentImage = -1;
    QString captions[ColumnCount];
    Qt::Alignment alignments[ColumnCount] = {};
    // The paths the clipboard holds as cut (without a trailing "/").
    QSet<QByteArray> cutPaths;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : static_cast<int>(rows.size());
    }
    int columnCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : ColumnCount;
    }
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override {
        if (!index.isValid()) return Qt::NoItemFlags;
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    }

    // Whether the row's entry is on the clipboard as cut.
    bool IsCut(int row) const;
    int SubItemCount(int row) const {
        return rows[row].kind == rkDrive ? DriveSubItems : FolderSubItems;
    }
    // Sub-items: 0 to 3 the visible columns 2 to 5, 4 the full path, 5 the kind tag, 6 the
    // modification sort key (folder rows only).
    QString SubItem(int row, int index) const;
    int Image(int row) const;
    // The Size column as a number, as the Size order reads it back from the text.
    qint64 SizeNumber(const TListRow& r) const;

    void SetColumns(const QString (&newCaptions)[ColumnCount],
                    const Qt::Alignment (&newAlignments)[ColumnCount]);

    void BeginFill() {
        beginResetModel();
        rows.clear();
        filteredOut.clear();
    }
    void EndFill() { endResetModel(); }

    // The rows' order by a column (0 Name, 1 Size, 2 Type, 3 Modified, 4 Attributes), folders
    // first; order[i] is the row that goes to i. A reversed order keeps the parent row in
    // front of the files it puts first.
    std::vector<int> SortedOrder(int column, bool reverse) const;
    // Puts the rows into a new order inside a fill (the model is being reset anyway).
    void Arrange(const std::vector<int>& order);
    // Puts the rows into a new order (order[i] is the old row now at i), keeping the selection
    // and the focused row on their rows.
    void Reorder(const std::vector<int>& order);

    // The rows a filter text keeps out of `rows` (FileListFilter.cpp).
    std::vector<TListRow> filteredOut;
    // Narrows the rows to the captions that hold text, letter case aside (the parent row always
    // stays): rows that no longer match move to filteredOut, and filtered-out rows that match
    // again come back at the end (the caller puts them in order). Rows leave and come back as
    // removals and insertions, so the selection and the focused row stay on theirs. Returns
    // whether rows came back.
    bool Narrow(const QString& text);

  private:
    void MakeText(const TListRow& r, int index) const;
};

// The Name order of two captions: numbers by value, letters by the user's locale, letter case
// aside (then by character code, so that no two different names compare equal).
int CompareFileNames(const QString& a, const QString& b);
// The collator of that order, for sorting many names with one.
QCollator FileNameCollator();

// A locale pattern (Qt's letters) turned into the pattern letters the Modified text uses;
// keepAmPmAsT writes the 12-hour marker as "tt".
QString ModifiedTextPattern(const QString& localePattern, bool keepAmPmAsT);
